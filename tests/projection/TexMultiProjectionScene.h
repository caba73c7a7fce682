// A small plugin graph around one TexMultiProjection, driven as a renderer drives it: plugins
// created by their descriptors, given parameters, prepared for the frame, evaluated through
// the interfaces they answer, and deleted at the end.
#pragma once

#include "frame/ShadingContext.h"
#include "projection/TexMultiProjection.h"
#include "projection/UVWGenProjection.h"
#include "scene/Cameras.h"
#include "scene/LinkedTextures.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace multitest {

using KUtils::AColor;
using KUtils::PluginBase;
using KUtils::Vector3d;
using KUtils::Vector4f;

inline KUtils::TexMultiProjectionDesc& multiDesc() {
    static KUtils::TexMultiProjectionDesc desc;
    return desc;
}
inline KUtils::UVWGenProjectionDesc& projectionDesc() {
    static KUtils::UVWGenProjectionDesc desc;
    return desc;
}
inline kivohost::LinkedTextureDesc& linkedDesc() {
    static kivohost::LinkedTextureDesc desc;
    return desc;
}
inline kivohost::RenderViewDesc& renderViewDesc() {
    static kivohost::RenderViewDesc desc;
    return desc;
}

// A transform with the identity matrix placed at offset.
inline KUtils::Transform placedAt(const Vector3d& offset) {
    return KUtils::Transform{KUtils::Matrix3x3f{}, offset};
}

inline void expectColor(const AColor& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

class Scene {
public:
    Scene() : multi(create(multiDesc())) {}
    ~Scene() {
        for (auto it = plugins.rbegin(); it != plugins.rend(); ++it) {
            it->first->deletePlugin(it->second);
        }
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    PluginBase* create(KUtils::PluginDesc& desc) {
        PluginBase* plugin = desc.newPlugin(nullptr);
        plugins.emplace_back(&desc, plugin);
        return plugin;
    }
    void set(PluginBase* plugin, const char* name, const KUtils::ParamValue& value) {
        EXPECT_TRUE(KUtils::setParamValue(*KUtils::paramListOf(plugin), name, value)) << name;
    }
    void setList(PluginBase* plugin, const char* name,
                 const std::vector<KUtils::ParamValue>& elements) {
        EXPECT_TRUE(KUtils::setParamList(*KUtils::paramListOf(plugin), name, elements)) << name;
    }

    // A UVWGenProjection of the type whose uvw_transform is placed at the absolute offset.
    PluginBase* projection(const Vector3d& offset, int type = 2) {
        PluginBase* p = create(projectionDesc());
        set(p, "uvw_transform", placedAt(offset));
        set(p, "type", type);
        return p;
    }
    // A host texture of a constant colour, driven by uvwgen when one is given.
    kivohost::LinkedTexture* linked(const AColor& color, PluginBase* uvwgen = nullptr) {
        auto* t = static_cast<kivohost::LinkedTexture*>(create(linkedDesc()));
        set(t, "color", color);
        if (uvwgen) {
            set(t, "uvwgen", uvwgen);
        }
        return t;
    }

    // prepareRender (first frame only) and frameBegin of the host textures, then of the
    // TexMultiProjection.
    void beginFrame() {
        for (auto& [desc, plugin] : plugins) {
            if (desc == &linkedDesc()) {
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

    // A context of render thread 0 at point with normal.
    KUtils::ShadingContext context(const Vector4f& point, const Vector4f& normal) {
        KUtils::ShadingContext sc;
        sc.renderer = &session.renderer;
        sc.threadData.threadIndex = 0;
        sc.evalStamp = 1;
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
    std::vector<std::pair<KUtils::PluginDesc*, PluginBase*>> plugins;
    PluginBase* multi;
    bool prepared = false;
};

} // namespace multitest
