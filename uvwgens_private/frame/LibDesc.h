// The library's descriptor (what getLibDesc returns) and the list of plugin descriptors that
// register themselves while the library loads.
#pragma once

#include "kivo/PluginLibDesc.h"

#include <cstdint>
#include <utility>

namespace KUtils {

// Singly linked, newest first. Constant-initialised, so registration may run before or
// after the library descriptor's construction.
struct PluginDescList {
    struct Node {
        PluginDesc* desc;
        Node* next;
    };
    Node* head = nullptr;
    std::uint32_t count = 0;

    // Prepends desc (the node comes from the host allocator; null on failure is not added).
    void add(PluginDesc* desc);
};

class LibDesc : public PluginLibDesc {
public:
    explicit LibDesc(PluginDescList& list) : list(list) {}
    // Frees every node; the count is left as it was.
    ~LibDesc() override;

    const char* getCategory() override { return "UVW Generators"; }
    const char* getLibraryDescription() override { return "Kivo UVW Generators"; }
    std::uint32_t enumeratePluginDescs(PluginDescCallback* callback) override;

private:
    PluginDescList& list;
};

// Registers a statically constructed descriptor with the library's list on construction.
template <class Desc>
struct RegisteredPluginDesc {
    template <class... Args>
    explicit RegisteredPluginDesc(PluginDescList& list, Args&&... args)
        : desc(std::forward<Args>(args)...) {
        list.add(&desc);
    }
    Desc desc;
};

} // namespace KUtils
