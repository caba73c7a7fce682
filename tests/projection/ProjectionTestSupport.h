// What the projection tests share: a UVWGenProjection driven the way a renderer drives it, a
// small plugin graph around one TexMultiProjection, and comparisons.
#pragma once

#include "kivo/ShadingContext.h"
#include "kivo/VectorMath.h"
#include "projection/TexMultiProjection.h"
#include "projection/UVWGenProjection.h"
#include "scene/Cameras.h"
#include "scene/LinkedTextures.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace projtest {

using KUtils::AColor;
using KUtils::PluginBase;
using KUtils::Transform;
using KUtils::Vector3d;
using KUtils::Vector4f;

// The one descriptor of a plugin type.
template <class Desc>
Desc& descriptor() {
    static Desc desc;
    return desc;
}

// A uniform scale s with an offset.
inline Transform scaled(float s, const Vector3d& offs) {
    return Transform{{{s, 0, 0, 0}, {0, s, 0, 0}, {0, 0, s, 0}}, offs};
}

inline void setParam(PluginBase* plugin, const char* name, const KUtils::ParamValue& value) {
    EXPECT_TRUE(KUtils::setParamValue(*KUtils::paramListOf(plugin), name, value)) << name;
}

inline void expectVec(const Vector4f& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

inline void expectColor(const AColor& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

class Projection {
public:
    Projection() : plugin(descriptor<KUtils::UVWGenProjectionDesc>().newPlugin(nullptr)) {}
    ~Projection() { descriptor<KUtils::UVWGenProjectionDesc>().deletePlugin(plugin); }
    Projection(const Projection&) = delete;
    Projection& operator=(const Projection&) = delete;

    void set(const char* name, const KUtils::ParamValue& value) { setParam(plugin, name, value); }

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
    void start(kivohost::RenderSession& session) {
        startRender(session);
        startFrame(session);
    }

    KUtils::UVWTransform transformAt(const KUtils::ShadingContext& sc, int* valid = nullptr) {
        KUtils::UVWTransform tm;
        const int flag = uvwgen().evalUVWTransform(sc, tm);
        if (valid) {
            *valid = flag;
        }
        return tm;
    }
    Vector4f uvwAt(const KUtils::ShadingContext& sc) {
        Vector4f uvw;
        uvwgen().evalUVW(sc, uvw);
        return uvw;
    }

    PluginBase* plugin;
};

// Plugins created by their descriptors, deleted newest first.
class Graph {
public:
    Graph() = default;
    ~Graph() {
        for (auto it = plugins.rbegin(); it != plugins.rend(); ++it) {
            it->first->deletePlugin(it->second);
        }
    }
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;

    PluginBase* create(KUtils::PluginDesc& desc) {
        PluginBase* plugin = desc.newPlugin(nullptr);
        plugins.emplace_back(&desc, plugin);
        return plugin;
    }

    std::vector<std::pair<KUtils::PluginDesc*, PluginBase*>> plugins;
};

// A plugin graph around one TexMultiProjection.
class MultiScene : public Graph {
public:
    MultiScene() : multi(create(descriptor<KUtils::TexMultiProjectionDesc>())) {}

    void setList(PluginBase* plugin, const char* name,
                 const std::vector<KUtils::ParamValue>& elements) {
        EXPECT_TRUE(KUtils::setParamList(*KUtils::paramListOf(plugin), name, elements)) << name;
    }

    // A UVWGenProjection of the type centred at centre: uvw_transform maps world to projection
    // space, so with an identity matrix its offset is -centre.
    PluginBase* projection(const Vector3d& centre, int type = 2) {
        PluginBase* p = create(descriptor<KUtils::UVWGenProjectionDesc>());
        setParam(p, "uvw_transform", Transform{{}, {-centre.x, -centre.y, -centre.z}});
        setParam(p, "type", type);
        return p;
    }
    // A host texture of a constant colour, driven by uvwgen when one is given.
    kivohost::LinkedTexture* linked(const AColor& color, PluginBase* uvwgen = nullptr) {
        auto* t = static_cast<kivohost::LinkedTexture*>(
            create(descriptor<kivohost::LinkedTextureDesc>()));
        setParam(t, "color", color);
        if (uvwgen) {
            setParam(t, "uvwgen", uvwgen);
        }
        return t;
    }

    // prepareRender (first frame only) and frameBegin of the host textures, then of the
    // TexMultiProjection.
    void beginFrame() {
        for (auto& [desc, plugin] : plugins) {
            if (desc == &descriptor<kivohost::LinkedTextureDesc>()) {
                kivo(plugin).frameBegin(&session.renderer);
            }
        }
        if (!prepared) {
            kivo(multi).prepareRender(&session.renderer);
            prepared = true;
        }
        kivo(multi).frameBegin(&session.renderer);
    }

    KUtils::TextureInterface& texture() {
        return *static_cast<KUtils::TextureInterface*>(multi->getInterface(KUtils::EXT_TEXTURE));
    }
    static KUtils::KivoPluginInterface& kivo(PluginBase* plugin) {
        return *static_cast<KUtils::KivoPluginInterface*>(
            plugin->getInterface(KUtils::EXT_KIVO_PLUGIN));
    }

    // A context of render thread 0 at point with normal, under the given stamp.
    KUtils::ShadingContext context(const Vector4f& point, const Vector4f& normal,
                                   std::uint32_t stamp = 1) {
        KUtils::ShadingContext sc;
        sc.renderer = &session.renderer;
        sc.threadData.threadIndex = 0;
        sc.evalStamp = stamp;
        sc.evalSlot = 0;
        sc.shadingPoint = point;
        sc.surfacePoint = point;
        sc.normal = normal;
        return sc;
    }
    AColor eval(const KUtils::ShadingContext& sc) {
        AColor c;
        texture().evalColor(c, sc);
        return c;
    }

    kivohost::RenderSession session;
    PluginBase* multi;
    bool prepared = false;
};

} // namespace projtest
