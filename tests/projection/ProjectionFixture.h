// A UVWGenProjection instance driven the way a renderer drives it, and the host-side pieces
// the projection tests share.
#pragma once

#include "frame/VectorMath.h"
#include "projection/UVWGenProjection.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <gtest/gtest.h>

namespace projtest {

inline KUtils::UVWGenProjectionDesc& projectionDesc() {
    static KUtils::UVWGenProjectionDesc desc;
    return desc;
}

class Projection {
public:
    Projection() : plugin(projectionDesc().newPlugin(nullptr)) {}
    ~Projection() { projectionDesc().deletePlugin(plugin); }
    Projection(const Projection&) = delete;
    Projection& operator=(const Projection&) = delete;

    void set(const char* name, const KUtils::ParamValue& value) {
        ASSERT_TRUE(KUtils::setParamValue(*KUtils::paramListOf(plugin), name, value)) << name;
    }

    KUtils::KivoPluginInterface& kivo() {
        return *static_cast<KUtils::KivoPluginInterface*>(
            plugin->getInterface(KUtils::EXT_KIVO_PLUGIN));
    }
    KUtils::UVWGenInterface& uvwgen() {
        return *static_cast<KUtils::UVWGenInterface*>(plugin->getInterface(KUtils::EXT_UVWGEN));
    }
    KUtils::RenderSettingsInterface& settings() {
        return *static_cast<KUtils::RenderSettingsInterface*>(
            plugin->getInterface(KUtils::EXT_RENDER_SETTINGS));
    }
    KUtils::RTTexInterface& rttex() {
        return *static_cast<KUtils::RTTexInterface*>(plugin->getInterface(KUtils::EXT_RTTEX));
    }

    // The host's calls before the first evaluation of a frame, in its order.
    void startRender(kivohost::RenderSession& session) {
        kivo().prepareRender(&session.renderer);
        settings().updateSequenceData(session.sequence);
    }
    void startFrame(kivohost::RenderSession& session) {
        settings().updateFrameData(session.frame);
        kivo().frameBegin(&session.renderer);
    }

    KUtils::UVWTransform transformAt(const KUtils::ShadingContext& sc, int* valid = nullptr) {
        KUtils::UVWTransform tm;
        const int flag = uvwgen().evalUVWTransform(sc, tm);
        if (valid) {
            *valid = flag;
        }
        return tm;
    }
    KUtils::Vector4f uvwAt(const KUtils::ShadingContext& sc) {
        KUtils::Vector4f uvw;
        uvwgen().evalUVW(sc, uvw);
        return uvw;
    }

    KUtils::PluginBase* plugin;
};

inline KUtils::Transform makeTransform(const KUtils::Vector4f& c0, const KUtils::Vector4f& c1,
                                       const KUtils::Vector4f& c2, const KUtils::Vector3d& offs) {
    KUtils::Transform t;
    t.m.c0 = c0;
    t.m.c1 = c1;
    t.m.c2 = c2;
    t.offs = offs;
    return t;
}

inline void expectVec(const KUtils::Vector4f& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

inline void expectZero(const KUtils::UVWTransform& t) {
    for (const KUtils::Vector4f* v : {&t.c0, &t.c1, &t.c2, &t.o}) {
        EXPECT_EQ(v->x, 0.0f);
        EXPECT_EQ(v->y, 0.0f);
        EXPECT_EQ(v->z, 0.0f);
        EXPECT_EQ(v->w, 0.0f);
    }
}

} // namespace projtest
