// The UVW generator whose coordinates are the absolute world position of the shaded point,
// through the shared chain of UVWGenBase. It has no parameters of its own.
#pragma once

#include "channel/UVWGenBase.h"
#include "kivo/PluginDescriptor.h"

#include <optional>

namespace KUtils {

class UVWGenPlanarWorld final : public UVWGenBase, public RTTexInterface {
public:
    explicit UVWGenPlanarWorld(KivoPluginDesc* desc) : UVWGenBase(desc) {}

    PluginInterface* getInterface(InterfaceID id) override;
    PluginBase* getPlugin() override { return this; }

    // The base's frame set-up, then this frame's scene origin.
    void frameBegin(KivoRenderer* renderer) override;

    // Identity columns; the offset is the shaded point in absolute world space. Always 1.
    int evalLocalTransform(const ShadingContext& sc, UVWTransform& tm) override;

    // No parameter-list test; the output "uvw_baked" leaves out the map_channel line.
    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     ShaderSource& source, GPUDataRecord& gpuData) override;

private:
    // The frame's scene origin in floats, added to points relative to it; unset without frame
    // data.
    std::optional<Vector4f> sceneOrigin;
};

class UVWGenPlanarWorldDesc final : public PluginDescOf<UVWGenPlanarWorld> {
public:
    UVWGenPlanarWorldDesc();
};

} // namespace KUtils
