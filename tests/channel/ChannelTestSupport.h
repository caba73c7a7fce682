// Shared pieces of the channel tests: instances created through their descriptors, render
// sessions, shading contexts and vector comparisons.
#pragma once

#include "channel/UVWGenBase.h"
#include "channel/UVWGenChannel.h"
#include "channel/UVWGenPlanarWorld.h"
#include "kivo/PluginDescriptor.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>

namespace channeltest {

using namespace KUtils;

// An instance created by its descriptor as a host creates it, deleted at scope end.
class Instance {
public:
    explicit Instance(PluginDesc& desc) : desc(desc), plugin(desc.newPlugin(nullptr)) {}
    ~Instance() { desc.deletePlugin(plugin); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    PluginBase* get() const { return plugin; }
    KivoParameterList& params() const { return *paramListOf(plugin); }
    void set(const char* name, const ParamValue& value) const {
        ASSERT_TRUE(setParamValue(params(), name, value)) << name;
    }

    KivoPluginInterface& lifecycle() const {
        return *static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN));
    }
    UVWGenInterface& uvw() const {
        return *static_cast<UVWGenInterface*>(plugin->getInterface(EXT_UVWGEN));
    }
    RTTexInterface& rt() const {
        return *static_cast<RTTexInterface*>(plugin->getInterface(EXT_RTTEX));
    }
    TextureVectorInterface& uvwCoords() const {
        return *static_cast<TextureVectorInterface*>(outputParamOf(params(), "uvw_coords"));
    }

    // prepareRender, then frameBegin, as a renderer starts its first frame.
    void start(kivohost::RenderSession& session) const {
        lifecycle().prepareRender(&session.renderer);
        lifecycle().frameBegin(&session.renderer);
    }
    // Another frameBegin: the parameters set since are taken.
    void restart(kivohost::RenderSession& session) const {
        lifecycle().frameBegin(&session.renderer);
    }
    void stop(kivohost::RenderSession& session) const {
        lifecycle().finishFrame(&session.renderer);
        lifecycle().finishRender(&session.renderer);
    }

private:
    PluginDesc& desc;
    PluginBase* plugin;
};

// A context on the surface point p, evaluated by thread 0 with the given stamp.
inline ShadingContext contextAt(kivohost::RenderSession& session, const Vector4f& p,
                                std::uint32_t stamp = 1) {
    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.threadData.threadIndex = 0;
    sc.evalStamp = stamp;
    sc.shadingPoint = p;
    sc.surfacePoint = p;
    return sc;
}

inline Transform translation(double x, double y, double z) {
    return {{}, {x, y, z}};
}

inline UVWTransform uvwTranslation(float x, float y, float z) {
    UVWTransform t;
    t.o = {x, y, z, z};
    return t;
}

// The text one emitRTSource call writes, checking the call's result.
inline std::string gpuText(RTTexInterface& rt, const char* output, GPUDataRecord& record,
                           const char* kind = "MaterialDescriptor", int expected = 1) {
    ShaderSource source;
    EXPECT_EQ(rt.emitRTSource(output, "uvw", kind, source, record), expected) << kind;
    return source.text();
}

#define EXPECT_XYZ(v, ex, ey, ez)                                                                  \
    do {                                                                                           \
        const ::KUtils::Vector4f v_ = (v);                                                         \
        EXPECT_FLOAT_EQ(v_.x, (ex));                                                               \
        EXPECT_FLOAT_EQ(v_.y, (ey));                                                               \
        EXPECT_FLOAT_EQ(v_.z, (ez));                                                               \
    } while (0)

#define EXPECT_VEC4(v, ex, ey, ez, ew)                                                             \
    do {                                                                                           \
        const ::KUtils::Vector4f v4_ = (v);                                                        \
        EXPECT_XYZ(v4_, ex, ey, ez);                                                               \
        EXPECT_FLOAT_EQ(v4_.w, (ew));                                                              \
    } while (0)

// Every lane of the four columns, exactly.
inline bool sameTransform(const UVWTransform& a, const UVWTransform& b) {
    const auto same = [](const Vector4f& p, const Vector4f& q) {
        return p.x == q.x && p.y == q.y && p.z == q.z && p.w == q.w;
    };
    return same(a.c0, b.c0) && same(a.c1, b.c1) && same(a.c2, b.c2) && same(a.o, b.o);
}

// A generator on UVWGenBase whose raw transform the test sets: it shows the base chain on a
// known input. It counts its raw evaluations (from any thread).
class FixedGen final : public UVWGenBase {
public:
    explicit FixedGen(KivoPluginDesc* desc) : UVWGenBase(desc) {}

    int evalLocalTransform(const ShadingContext&, UVWTransform& tm) override {
        calls.fetch_add(1, std::memory_order_relaxed);
        if (succeeds) {
            tm = raw;
        }
        return succeeds;
    }

    UVWTransform raw;
    int succeeds = 1;
    std::atomic<int> calls{0};
};

class FixedGenDesc final : public PluginDescOf<FixedGen> {
public:
    explicit FixedGenDesc(int worldSpace)
        : PluginDescOf("FixedGen", 1, "test generator", UVWGEN_DESC_INTERFACES) {
        registerUVWGenBaseParams(paramDescs(), worldSpace);
        publishParams();
    }
};

inline FixedGenDesc& fixedGenDesc() {
    static FixedGenDesc desc(0);
    return desc;
}

inline UVWGenChannelDesc& channelDesc() {
    static UVWGenChannelDesc desc;
    return desc;
}

inline UVWGenPlanarWorldDesc& planarWorldDesc() {
    static UVWGenPlanarWorldDesc desc;
    return desc;
}

inline FixedGen& fixedGen(const Instance& instance) {
    return *static_cast<FixedGen*>(instance.get());
}

} // namespace channeltest
