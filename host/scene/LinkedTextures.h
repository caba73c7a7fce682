// A host colour texture that is a node of the plugin graph, as the textures of a scene's
// shading network are: a constant colour (`color`) with the plugins it is connected to as
// parameters, a UVW generator (`uvwgen`), one texture (`input`) and a list of textures
// (`inputs`). It evaluates none of them; a plugin that walks the graph below a texture finds
// them. It counts its evaluations (safe from many render threads).
#pragma once

#include "kivo/PluginDescriptor.h"
#include "kivo/ShadingContext.h"

#include <atomic>
#include <cstdint>

namespace kivohost {

inline constexpr KUtils::InterfaceID TEX_LINKED_ID = 0x7F4B0010;

class LinkedTexture final : public KUtils::KivoTexture {
public:
    explicit LinkedTexture(KUtils::KivoPluginDesc* desc) : KivoTexture(desc) {}

    // Reads `color` at the frame's time.
    void frameBegin(KUtils::KivoRenderer* renderer) override;

    void evalColor(KUtils::AColor& result, const KUtils::ShadingContext& sc) override;
    // [color, color].
    void getColorRange(KUtils::AColor& minimum, KUtils::AColor& maximum) override;

    // Evaluations since construction or the last reset.
    std::uint64_t evaluations() const { return count.load(std::memory_order_relaxed); }
    void resetEvaluations() { count.store(0, std::memory_order_relaxed); }

private:
    KUtils::AColor color;
    std::atomic<std::uint64_t> count{0};
};

// Registered as "TexLinked".
class LinkedTextureDesc final : public KUtils::PluginDescOf<LinkedTexture> {
public:
    LinkedTextureDesc();
};

} // namespace kivohost
