// One plugin instance driven as a renderer drives it: created by its descriptor, given
// parameters, prepared for a frame, queried for interfaces by id, deleted at the end.
#pragma once

#include "frame/HostSdk.h"
#include "frame/ShadingContext.h"
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
        auto* kivo = iface<KUtils::KivoPluginInterface>(KUtils::EXT_KIVO_PLUGIN);
        kivo->prepareRender(&session.renderer);
        kivo->frameBegin(&session.renderer);
    }
    template <class Interface>
    Interface* iface(KUtils::InterfaceID id) {
        return static_cast<Interface*>(plugin->getInterface(id));
    }
    KUtils::UVWGenInterface& uvwGen() {
        return *iface<KUtils::UVWGenInterface>(KUtils::EXT_UVWGEN);
    }
    KUtils::RTTexInterface& rtTex() { return *iface<KUtils::RTTexInterface>(KUtils::EXT_RTTEX); }

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
