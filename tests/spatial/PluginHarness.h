// One plugin instance driven as a renderer drives it: created by its descriptor, given
// parameters, prepared for a frame, queried for interfaces by id, deleted at the end.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/ShadingContext.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <gtest/gtest.h>
#include <string>

namespace spatialtest {

// Exact comparison of the x, y, z lanes (the fourth carries no meaning unless stated).
inline void expectXYZ(const KUtils::Vector4f& v, float x, float y, float z) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

// The text one emitRTSource call for the given kind writes, checking the call's result.
inline std::string gpuText(KUtils::RTTexInterface& rt, const char* kind, KUtils::GPUDataRecord& gpu,
                           int expected) {
    KUtils::ShaderSource source;
    EXPECT_EQ(rt.emitRTSource("", "uvw", kind, source, gpu), expected) << (kind ? kind : "null");
    return source.text();
}

// uvw_transform: columns (2,0,0), (0,3,0), (1,0,4), offset (10,20,30).
inline KUtils::Transform userTransform() {
    return KUtils::Transform{KUtils::Matrix3x3f{{2, 0, 0, 0}, {0, 3, 0, 0}, {1, 0, 4, 4}},
                             {10, 20, 30}};
}

// Everything one context yields from the three operations of one generator, each of which
// must report the point valid.
struct Result {
    KUtils::Vector4f uvw;
    KUtils::Vector4f derivs[3];
    KUtils::UVWTransform tm;
};
inline Result evaluate(KUtils::UVWGenInterface& gen, const KUtils::ShadingContext& sc) {
    Result r;
    EXPECT_EQ(gen.evalUVW(sc, r.uvw), 1);
    EXPECT_EQ(gen.evalUVWDerivs(sc, r.derivs), 1);
    EXPECT_EQ(gen.evalUVWTransform(sc, r.tm), 1);
    return r;
}

class PluginHarness {
public:
    explicit PluginHarness(KUtils::PluginDesc& desc)
        : desc(desc), plugin(desc.newPlugin(nullptr)) {}
    ~PluginHarness() { desc.deletePlugin(plugin); }
    PluginHarness(const PluginHarness&) = delete;
    PluginHarness& operator=(const PluginHarness&) = delete;

    void set(const char* name, const KUtils::ParamValue& value) {
        EXPECT_TRUE(KUtils::setParamValue(*KUtils::paramListOf(plugin), name, value)) << name;
    }
    void beginFrame() {
        auto* kivo = static_cast<KUtils::KivoPluginInterface*>(
            plugin->getInterface(KUtils::EXT_KIVO_PLUGIN));
        kivo->prepareRender(&session.renderer);
        kivo->frameBegin(&session.renderer);
    }
    KUtils::UVWGenInterface& uvwGen() {
        return *static_cast<KUtils::UVWGenInterface*>(plugin->getInterface(KUtils::EXT_UVWGEN));
    }
    KUtils::RTTexInterface& rtTex() {
        return *static_cast<KUtils::RTTexInterface*>(plugin->getInterface(KUtils::EXT_RTTEX));
    }

    // A context of render thread 0 for the first evaluation.
    KUtils::ShadingContext context() {
        KUtils::ShadingContext sc;
        sc.renderer = &session.renderer;
        sc.threadData.threadIndex = 0;
        sc.evalStamp = 1;
        return sc;
    }

    KUtils::PluginDesc& desc;
    KUtils::PluginBase* plugin;
    kivohost::RenderSession session;
};

} // namespace spatialtest
