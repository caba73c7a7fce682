// UVW generator of the procedural-noise textures: source coordinates (mapping channel, object
// or world position, screen position) placed by an offset, a size and three rotation angles,
// optionally varied at random per material and object, and tiled per axis for the channel
// sources.
#pragma once

#include "frame/GpuUVWGen.h"
#include "frame/NoInline.h"
#include "kivo/PluginDescriptor.h"
#include "kivo/UVWGenOstrelInterface.h"
#include "ostrel/OstrelMath.h"
#include "ostrel/OstrelSteps.h"

namespace KUtils {

class UVWGenOstrel : public GpuUVWGen, public UVWGenOstrelInterface {
public:
    explicit UVWGenOstrel(KivoPluginDesc* desc);

    // EXT_RTTEX, EXT_UVWGEN_OSTREL, EXT_UVWGEN, EXT_KIVO_PLUGIN, then the interface list.
    PluginInterface* getInterface(InterfaceID id) override;
    PluginBase* getPlugin() override { return this; }

    void frameBegin(KivoRenderer* renderer) override;

    int evalUVW(const ShadingContext& sc, Vector4f& uvw) override;
    int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) override;
    int evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) override;
    int evalUVWBasis(const ShadingContext& sc, Vector4f& uvw, Vector4f basis[3]) override;

    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     ShaderSource& source, GPUDataRecord& gpuData) override;

    // Prepared by frameBegin.
    const UVWTransform& getPlacementTm() const { return placementTm; }
    bool isRandomized() const { return randomized; }

private:
    // Calls step with this call's placement: placementTm itself (by reference: copying its
    // 64 bytes on every call costs as much as the cheapest mappings), or the surface's own
    // random variation.
    template <typename Step>
    int withPlacement(const ShadingContext& sc, const Step& step) const;
    // The variation's placement drawn for the surface, then the step: out of line, so that the
    // fixed placement's path saves no registers for it.
    template <typename Step>
    UVWGENS_NOINLINE int withRandomPlacement(const ShadingContext& sc, const Step& step) const;

    // Parameter caches, angles in degrees as the user gives them.
    Placement paramBase{{}, {}, {1.0f, 1.0f, 1.0f, 0.0f}};
    Placement paramAmplitude;
    int xyzLock = 0;
    int seed = 1;
    int randMat = 0;
    int randObj = 0;
    // Registered and cached only: particles do not vary the placement.
    int randPar = 0;
    OstrelMapping mapping;

    // This frame's placement and amplitudes, angles in radians.
    Placement base{{}, {}, {1.0f, 1.0f, 1.0f, 0.0f}};
    Placement amplitude;
    UVWTransform placementTm;
    Vector4f unitAxes[3] = {
        {1.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f, 0.0f}};
    bool randomized = false;
    // The image the screen source places on.
    OstrelScreen screen;
};

class UVWGenOstrelDesc : public PluginDescOf<UVWGenOstrel> {
public:
    UVWGenOstrelDesc();
};

} // namespace KUtils
