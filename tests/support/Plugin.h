// One plugin instance driven as a renderer drives it: created by its descriptor, given
// parameters, prepared for a render and a frame (with the render settings when it takes them),
// queried for interfaces by id, deleted at scope end; and the comparisons the tests share.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace testsupport {

using namespace KUtils;

// The one descriptor of a plugin type.
template <class Desc>
Desc& descriptor() {
    static Desc desc;
    return desc;
}

inline void setParam(PluginBase* plugin, const char* name, const ParamValue& value) {
    EXPECT_TRUE(setParamValue(*paramListOf(plugin), name, value)) << name;
}

class Instance {
public:
    explicit Instance(PluginDesc& desc) : desc(&desc), plugin(desc.newPlugin(nullptr)) {}
    // An instance another owner creates and deletes (a scene's session).
    explicit Instance(PluginBase* plugin) : plugin(plugin) {}
    ~Instance() {
        if (desc) {
            desc->deletePlugin(plugin);
        }
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    PluginBase* get() const { return plugin; }
    KivoParameterList& params() const { return *paramListOf(plugin); }
    void set(const char* name, const ParamValue& value) const { setParam(plugin, name, value); }

    template <class Interface>
    Interface* as(InterfaceID id) const {
        return static_cast<Interface*>(plugin->getInterface(id));
    }
    KivoPluginInterface& lifecycle() const { return *as<KivoPluginInterface>(EXT_KIVO_PLUGIN); }
    UVWGenInterface& uvw() const { return *as<UVWGenInterface>(EXT_UVWGEN); }
    RTTexInterface& rt() const { return *as<RTTexInterface>(EXT_RTTEX); }
    TextureVectorInterface& uvwCoords() const {
        return *static_cast<TextureVectorInterface*>(outputParamOf(params(), "uvw_coords"));
    }

    // prepareRender, then the sequence data; the frame data, then frameBegin: a renderer's
    // order before the first evaluation of a frame.
    void prepare(kivohost::RenderSession& session) const {
        lifecycle().prepareRender(&session.renderer);
        if (auto* settings = as<RenderSettingsInterface>(EXT_RENDER_SETTINGS)) {
            settings->updateSequenceData(session.sequence);
        }
    }
    void begin(kivohost::RenderSession& session) const {
        if (auto* settings = as<RenderSettingsInterface>(EXT_RENDER_SETTINGS)) {
            settings->updateFrameData(session.frame);
        }
        lifecycle().frameBegin(&session.renderer);
    }
    void start(kivohost::RenderSession& session) const {
        prepare(session);
        begin(session);
    }
    void stop(kivohost::RenderSession& session) const {
        lifecycle().finishFrame(&session.renderer);
        lifecycle().finishRender(&session.renderer);
    }

    Vector4f uvwAt(const ShadingContext& sc, int* valid = nullptr) const {
        Vector4f out;
        const int flag = uvw().evalUVW(sc, out);
        if (valid) {
            *valid = flag;
        }
        return out;
    }
    UVWTransform transformAt(const ShadingContext& sc, int* valid = nullptr) const {
        UVWTransform tm;
        const int flag = uvw().evalUVWTransform(sc, tm);
        if (valid) {
            *valid = flag;
        }
        return tm;
    }

private:
    PluginDesc* desc = nullptr;
    PluginBase* plugin;
};

// A context of render thread 0 at the surface point p, under the given stamp.
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

// The text one emitRTSource call writes, checking the call's result.
inline std::string gpuText(RTTexInterface& rt, const char* output, GPUDataRecord& record,
                           const char* kind = "MaterialDescriptor", int expected = 1) {
    ShaderSource source;
    EXPECT_EQ(rt.emitRTSource(output, "uvw", kind, source, record), expected)
        << (kind ? kind : "null");
    return source.text();
}

// The x, y, z lanes within tol (the fourth carries no meaning unless a test says so).
inline void expectXYZ(const Vector4f& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

inline void expectXYZW(const Vector4f& v, float x, float y, float z, float w) {
    expectXYZ(v, x, y, z);
    EXPECT_NEAR(v.w, w, 1e-6f);
}

// Every lane of the four columns, exactly.
inline bool sameTransform(const UVWTransform& a, const UVWTransform& b) {
    const auto same = [](const Vector4f& p, const Vector4f& q) {
        return p.x == q.x && p.y == q.y && p.z == q.z && p.w == q.w;
    };
    return same(a.c0, b.c0) && same(a.c1, b.c1) && same(a.c2, b.c2) && same(a.o, b.o);
}

// A uniform scale s with an offset.
inline Transform scaled(float s, const Vector3d& offs) {
    return Transform{{{s, 0, 0, 0}, {0, s, 0, 0}, {0, 0, s, 0}}, offs};
}

inline Transform translation(double x, double y, double z) {
    return {{}, {x, y, z}};
}

inline UVWTransform uvwTranslation(float x, float y, float z) {
    UVWTransform t;
    t.o = {x, y, z, z};
    return t;
}

} // namespace testsupport
