#include "scene/TextureStandIns.h"

#include <cstdio>

namespace kivohost {

using namespace KUtils;

std::string colorLine(const AColor& color) {
    char line[160];
    std::snprintf(line, sizeof line, "color %f %f %f %f\n", double(color.r), double(color.g),
                  double(color.b), double(color.a));
    return line;
}

int TextureRecord::emit(const char* outputName, ShaderSource& source, GPUDataRecord& gpuData) {
    requests.emplace_back(outputName ? outputName : "");
    source.append(gpuText.c_str());
    if (objectSpaceFlag) {
        gpuData.objectSpaceFlag = *objectSpaceFlag;
    }
    return 1;
}

// ---- ColorTexture ---------------------------------------------------------------------------

ColorTexture::ColorTexture(const AColor& color)
    : KivoTexture(nullptr), TextureRecord(colorLine(color)),
      function([color](const ShadingContext&) { return color; }), minimum(color), maximum(color) {}

ColorTexture::ColorTexture(Function function, const AColor& minimum, const AColor& maximum,
                           std::string gpuText)
    : KivoTexture(nullptr), TextureRecord(std::move(gpuText)), function(std::move(function)),
      minimum(minimum), maximum(maximum) {}

PluginInterface* ColorTexture::getInterface(InterfaceID id) {
    if (id == EXT_RTTEX) {
        return static_cast<RTTexInterface*>(this);
    }
    return KivoTexture::getInterface(id);
}

void ColorTexture::evalColor(AColor& result, const ShadingContext& sc) {
    countEvaluation();
    result = function(sc);
}

void ColorTexture::getColorRange(AColor& min, AColor& max) {
    min = minimum;
    max = maximum;
}

int ColorTexture::emitRTSource(const char* outputName, const char*, const char*,
                               ShaderSource& source, GPUDataRecord& gpuData) {
    return emit(outputName, source, gpuData);
}

// ---- FloatTexture ---------------------------------------------------------------------------

FloatTexture::FloatTexture(float value)
    : KivoPlugin(nullptr), TextureRecord(colorLine({value, value, value, 1.0f})),
      function([value](const ShadingContext&) { return value; }) {}

FloatTexture::FloatTexture(Function function, std::string gpuText)
    : KivoPlugin(nullptr), TextureRecord(std::move(gpuText)), function(std::move(function)) {}

PluginInterface* FloatTexture::getInterface(InterfaceID id) {
    if (id == EXT_TEXTURE_FLOAT) {
        return static_cast<TextureFloatInterface*>(this);
    }
    if (id == EXT_RTTEX) {
        return static_cast<RTTexInterface*>(this);
    }
    return KivoPlugin::getInterface(id);
}

float FloatTexture::evalFloat(const ShadingContext& sc) {
    countEvaluation();
    return function(sc);
}

int FloatTexture::emitRTSource(const char* outputName, const char*, const char*,
                               ShaderSource& source, GPUDataRecord& gpuData) {
    return emit(outputName, source, gpuData);
}

} // namespace kivohost
