#include "scene/GpuParamBlocks.h"

namespace kivohost {

using namespace KUtils;

ParamBlockEntry* GpuParamBlocks::addParamBlock(const PluginBase* owner, const void* block, int size,
                                               int flags) {
    auto added = std::make_unique<Block>();
    added->entry.blockId = nextId++;
    if (block && size > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(block);
        added->bytes.assign(bytes, bytes + size);
    }
    added->flags = flags;
    ++additions;
    std::unique_ptr<Block>& slot = blocks[owner];
    slot = std::move(added);
    return &slot->entry;
}

void GpuParamBlocks::commitParamBlock(const PluginBase* owner) {
    const auto found = blocks.find(owner);
    if (found != blocks.end()) {
        found->second->committed = true;
    }
}

void GpuParamBlocks::removeParamBlock(const PluginBase* owner) {
    ++removals;
    blocks.erase(owner);
}

const GpuParamBlocks::Block* GpuParamBlocks::find(const PluginBase* owner) const {
    const auto found = blocks.find(owner);
    return found != blocks.end() ? found->second.get() : nullptr;
}

} // namespace kivohost
