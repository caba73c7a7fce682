// A host-side texture-transform node (EXT_TEXTURE_TRANSFORM), as a scene's animated placement
// node would give it: a constant transform or one computed from the shading context (for
// example moving with the context's time). It counts its evaluations, safely from many render
// threads, so a test can tell how often a generator asked for it.
#pragma once

#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace kivohost {

class TransformTexture final : public KUtils::KivoPlugin, public KUtils::TextureTransformInterface {
public:
    using Function = std::function<KUtils::UVWTransform(const KUtils::ShadingContext&)>;

    explicit TransformTexture(const KUtils::UVWTransform& transform);
    // A transform computed from the context; the function must be safe to call concurrently.
    explicit TransformTexture(Function function);

    KUtils::PluginInterface* getInterface(KUtils::InterfaceID id) override;
    KUtils::PluginBase* getPlugin() override { return this; }

    void evalTransform(KUtils::UVWTransform& result, const KUtils::ShadingContext& sc) override;

    // Evaluations since construction.
    std::uint64_t evaluations() const { return count.load(std::memory_order_relaxed); }

private:
    Function function;
    std::atomic<std::uint64_t> count{0};
};

} // namespace kivohost
