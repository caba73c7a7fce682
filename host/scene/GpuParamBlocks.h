// The GPU code generator's collection of parameter blocks: one block per owner plugin, given
// an id when added, readable back byte for byte. Removals are counted.
#pragma once

#include "kivo/HostSdk.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace kivohost {

class GpuParamBlocks final : public KUtils::ParamBlockRegistry {
public:
    // Copies the block; an owner that adds again replaces its block and gets a new id.
    // Ids count from 0 in order of addition.
    KUtils::ParamBlockEntry* addParamBlock(const KUtils::PluginBase* owner, const void* block,
                                           int size, int flags) override;
    void commitParamBlock(const KUtils::PluginBase* owner) override;
    void removeParamBlock(const KUtils::PluginBase* owner) override;

    struct Block {
        KUtils::ParamBlockEntry entry;
        std::vector<std::uint8_t> bytes;
        int flags = 0;
        bool committed = false;
    };
    // The owner's block, or null.
    const Block* find(const KUtils::PluginBase* owner) const;
    std::size_t size() const { return blocks.size(); }

    int additions = 0;
    int removals = 0;

private:
    // Entries stay at stable addresses while they are registered.
    std::map<const KUtils::PluginBase*, std::unique_ptr<Block>> blocks;
    int nextId = 0;
};

} // namespace kivohost
