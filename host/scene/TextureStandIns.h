// Host-side textures with known answers, as a scene's texture nodes would give them: colour
// textures (EXT_TEXTURE) and float textures (EXT_TEXTURE_FLOAT), constant or computed from the
// shading context. Each counts its evaluations (safe from many render threads) and describes
// itself to the GPU renderer (EXT_RTTEX) with a text of its own, so a test can tell which
// textures were evaluated and where their text landed in a plugin's description.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kivohost {

// "color r g b a\n" with "%f" values.
std::string colorLine(const KUtils::AColor& color);

// What the colour and float textures share: the evaluation count and the GPU description.
class TextureRecord {
public:
    explicit TextureRecord(std::string gpuText) : gpuText(std::move(gpuText)) {}

    // Evaluations since construction or the last reset.
    std::uint64_t evaluations() const { return count.load(std::memory_order_relaxed); }
    void resetEvaluations() { count.store(0, std::memory_order_relaxed); }

    // The text appended for every GPU request.
    const std::string& rtText() const { return gpuText; }
    // The output names of the GPU requests so far, in order.
    const std::vector<std::string>& rtRequests() const { return requests; }
    // When set, every GPU request also writes it to the record's objectSpaceFlag (a texture
    // whose device code reads object-space coordinates).
    std::optional<int> objectSpaceFlag;

protected:
    void countEvaluation() { count.fetch_add(1, std::memory_order_relaxed); }
    // Appends the text whatever the kind; 1.
    int emit(const char* outputName, KUtils::ShaderSource& source, KUtils::GPUDataRecord& gpuData);

private:
    std::atomic<std::uint64_t> count{0};
    std::string gpuText;
    std::vector<std::string> requests;
};

class ColorTexture final : public KUtils::KivoTexture,
                           public KUtils::RTTexInterface,
                           public TextureRecord {
public:
    using Function = std::function<KUtils::AColor(const KUtils::ShadingContext&)>;

    // A constant colour: range [color, color], GPU text colorLine(color).
    explicit ColorTexture(const KUtils::AColor& color);
    // A colour computed from the context (the function must be safe to call concurrently),
    // with the range and GPU text given.
    ColorTexture(Function function, const KUtils::AColor& minimum, const KUtils::AColor& maximum,
                 std::string gpuText);

    KUtils::PluginInterface* getInterface(KUtils::InterfaceID id) override;
    KUtils::PluginBase* getPlugin() override { return this; }

    void evalColor(KUtils::AColor& result, const KUtils::ShadingContext& sc) override;
    void getColorRange(KUtils::AColor& minimum, KUtils::AColor& maximum) override;
    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     KUtils::ShaderSource& source, KUtils::GPUDataRecord& gpuData) override;

private:
    Function function;
    KUtils::AColor minimum;
    KUtils::AColor maximum;
};

class FloatTexture final : public KUtils::KivoPlugin,
                           public KUtils::TextureFloatInterface,
                           public KUtils::RTTexInterface,
                           public TextureRecord {
public:
    using Function = std::function<float(const KUtils::ShadingContext&)>;

    // A constant value: GPU text colorLine(value, value, value, 1).
    explicit FloatTexture(float value);
    // A value computed from the context (safe to call concurrently), with the GPU text given.
    FloatTexture(Function function, std::string gpuText);

    KUtils::PluginInterface* getInterface(KUtils::InterfaceID id) override;
    KUtils::PluginBase* getPlugin() override { return this; }

    float evalFloat(const KUtils::ShadingContext& sc) override;
    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     KUtils::ShaderSource& source, KUtils::GPUDataRecord& gpuData) override;

private:
    Function function;
};

} // namespace kivohost
