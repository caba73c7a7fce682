// The common UVW generator: the UVW of one mapping channel of the shaded mesh (or of a
// connected UVW generator) through the shared chain of UVWGenBase. In double-sided mode the
// back side of a surface reads the next channel.
#pragma once

#include "channel/UVWGenBase.h"
#include "kivo/PluginDescriptor.h"

#include <cstdint>

namespace KUtils {

class UVWGenChannel final : public UVWGenBase,
                            public RTTexInterface,
                            public UVWGenChannelInterface {
public:
    explicit UVWGenChannel(KivoPluginDesc* desc);

    PluginInterface* getInterface(InterfaceID id) override;
    PluginBase* getPlugin() override { return this; }

    void frameBegin(KivoRenderer* renderer) override;

    int evalLocalTransform(const ShadingContext& sc, UVWTransform& tm) override;
    // The provider's transform of uvw_channel as set (no double-sided choice); 0 without one.
    int evalChannelTransform(const ShadingContext& sc, ChannelProviderInterface* provider,
                             UVWTransform& tm, int providerArgument) override;

    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     ShaderSource& source, GPUDataRecord& gpuData) override;

    // tex_transform after this frame's uvw_transform, without wrap, crop, coverage or scale.
    UVWTransform* getStaticTransform(UVWTransform& result) override;
    int getMapChannel() override { return uvwChannel; }
    // Byte 0: crop u, v, w and wrap u in two bits each from the low end; byte 1: wrap v, w.
    std::uint8_t* getWrapCropFlags(std::uint8_t flags[4]) override;

private:
    int uvwChannel = 1;
    int doubleSided = 0;
    PluginBase* uvwgenPlugin = nullptr;
    // The UVW interface of uvwgenPlugin, resolved each frame.
    UVWGenInterface* inputGen = nullptr;
};

class UVWGenChannelDesc final : public PluginDescOf<UVWGenChannel> {
public:
    UVWGenChannelDesc();
};

} // namespace KUtils
