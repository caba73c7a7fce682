#include "frame/LibDesc.h"

#include "kivo/HostSdk.h"

namespace KUtils {

void PluginDescList::add(PluginDesc* desc) {
    auto* node = static_cast<Node*>(vmalloc(sizeof(Node)));
    if (!node) {
        return;
    }
    ++count;
    node->desc = desc;
    node->next = head;
    head = node;
}

LibDesc::~LibDesc() {
    while (list.head) {
        PluginDescList::Node* node = list.head;
        list.head = node->next;
        vfree(node);
    }
}

std::uint32_t LibDesc::enumeratePluginDescs(PluginDescCallback* callback) {
    if (!callback) {
        return list.count;
    }
    std::uint32_t handedOut = 0;
    for (PluginDescList::Node* node = list.head; node; node = node->next) {
        ++handedOut;
        if (!callback->visit(node->desc)) {
            break;
        }
    }
    return handedOut;
}

} // namespace KUtils
