// The plugin graphs the projection suites share: a scene file beside the tests read through
// uvwhost's scene reader against the projection plugins, the host's plugins and its linked
// texture (a graph node that counts its evaluations), its instances found by name. The render
// session's 640 x 480 camera (once useCamera is called) sits at the scene origin looking down
// -z with a 90 degree horizontal field of view, so that a point (x, y, z) in front maps to pixel
// (320 + 320 x / -z, 240 - 320 y / -z).
#pragma once

#include "projection/TexMultiProjection.h"
#include "projection/UVWGenProjection.h"
#include "scene/Cameras.h"
#include "scene/LinkedTextures.h"
#include "tests/support/Plugin.h"
#include "uvwhost/SceneFile.h"

#include <string>
#include <vector>

namespace testsupport {

class ProjectionScene {
public:
    // The instances of the file in PROJECTION_DATA_DIR, if one is named (its frame settings are
    // not applied: a test sets what it needs).
    explicit ProjectionScene(const std::string& file = "") {
        session.frame.fov = 1.5707964f;
        if (!file.empty()) {
            const uvwhost::SceneDocument doc = document(file);
            instantiate(doc, plugins(doc));
        }
    }
    ~ProjectionScene() {
        if (camera) {
            deleteDefaultCameraSampler(camera);
        }
    }

    PluginBase* operator[](const std::string& name) {
        uvwhost::PluginInstance* instance = host.find(name);
        EXPECT_TRUE(instance) << name;
        return instance ? instance->plugin : nullptr;
    }
    kivohost::LinkedTexture* linked(const std::string& name) {
        return static_cast<kivohost::LinkedTexture*>((*this)[name]);
    }
    static void setList(PluginBase* plugin, const char* name,
                        const std::vector<ParamValue>& elements) {
        EXPECT_TRUE(setParamList(*paramListOf(plugin), name, elements)) << name;
    }

    void useCamera() {
        camera = newDefaultCameraSampler(0, 0, nullptr);
        camera->initCamera(&session.renderer, session.sequence, session.frame);
        session.sequence.camera = camera;
    }
    static Vector2f pixel(const Vector4f& p) {
        return {320.0f + 320.0f * p.x / -p.z, 240.0f - 320.0f * p.y / -p.z};
    }

    // A context of thread 0 at p facing +z, one hundredth of a unit per screen step.
    ShadingContext context(const Vector4f& p, const Vector4f& normal = {0, 0, 1, 0}) {
        ShadingContext sc = contextAt(session, p);
        sc.normal = sc.auxNormal = normal;
        sc.dPdx = {0.01f, 0, 0, 0};
        sc.dPdy = {0, 0.01f, 0, 0};
        return sc;
    }

    uvwhost::PluginSession host;
    kivohost::RenderSession& session = host.render();
    KivoCamera* camera = nullptr;

    // The scene document of a file in PROJECTION_DATA_DIR, and its instances read against the
    // projection plugins, the host's plugins and its linked texture.
    static uvwhost::SceneDocument document(const std::string& file) {
        auto doc = uvwhost::loadSceneDocument(std::string(PROJECTION_DATA_DIR) + "/" + file);
        EXPECT_TRUE(doc) << doc.error();
        return doc ? *doc : uvwhost::SceneDocument{};
    }
    static std::vector<uvwhost::ScenePlugin> plugins(const uvwhost::SceneDocument& doc) {
        const uvwhost::Catalog catalog({&descriptor<UVWGenProjectionDesc>(),
                                        &descriptor<TexMultiProjectionDesc>(),
                                        &descriptor<kivohost::LinkedTextureDesc>()});
        auto plugins = uvwhost::readScenePlugins(doc, catalog);
        EXPECT_TRUE(plugins) << plugins.error();
        return plugins ? *plugins : std::vector<uvwhost::ScenePlugin>{};
    }
    void instantiate(const uvwhost::SceneDocument& doc,
                     const std::vector<uvwhost::ScenePlugin>& plugins) {
        EXPECT_EQ(uvwhost::instantiateScenePlugins(doc, plugins, host), "");
    }
};

} // namespace testsupport
