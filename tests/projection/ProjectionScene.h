// The plugin graphs the projection suites share: a scene file beside the tests read through
// uvwhost's scene reader against the projection plugins, the host's plugins and its linked
// texture (a graph node that counts its evaluations), its instances found by name. The render
// session's 640 x 480 camera (once useCamera is called) sits at the scene origin looking down
// -z with a 90 degree horizontal field of view, so that a point (x, y, z) in front maps to pixel
// (320 + 320 x / -z, 240 - 320 y / -z).
#pragma once

#include "projection/TexMultiProjection.h"
#include "projection/UVWGenProjection.h"
#include "scene/Bitmap.h"
#include "scene/Cameras.h"
#include "scene/LinkedTextures.h"
#include "tests/rows/PluginRows.h"
#include "tests/support/Plugin.h"
#include "uvwhost/ContextLine.h"
#include "uvwhost/Evaluation.h"
#include "uvwhost/SceneFile.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

class ProjectionScene {
public:
    // The instances of the file in ROWS_DIR, if one is named (its frame settings are
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

    // The scene document of a file in ROWS_DIR, and its instances read against the
    // projection plugins, the host's plugins and its linked texture.
    static uvwhost::SceneDocument document(const std::string& file) {
        auto doc = uvwhost::loadSceneDocument(std::string(ROWS_DIR) + "/" + file);
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

// The cases of a file in ROWS_DIR against the instances of a scene file, each case
// in a session of its own (at least `count` cases):
//   "instance" evaluated at the context "at" (the fields of a uvwhost eval context line; evalStamp
//   1 unless given), or at each of a list of them in order, after prepareRender and frameBegin,
//   with the frame settings "frame" (a scene file's frame fields);
//   "camera": the host's default camera at the scene origin, looking down -z over 90 degrees;
//   "cameraMotion": that camera moving by the vector over the shutter interval (with
//   "cameraMotionBlur" 1 unless given); "bitmap": [width, height] of a bitmap given as the
//   instance's "bitmap". "expect" is part of what uvwhost eval prints (uvw, valid, derivs,
//   transform; color, and for a texture "range": its colour range [low, high]) for the last
//   context: every number given is checked within 1e-5 of the larger
//   of 1 and its value, null is not checked; "evaluations": how often the named linked textures
//   were evaluated.
inline void expectCases(const std::string& sceneFile, const std::string& casesFile,
                        std::size_t count) {
    const uvwhost::SceneDocument doc = ProjectionScene::document(sceneFile);
    const std::vector<uvwhost::ScenePlugin> plugins = ProjectionScene::plugins(doc);
    std::ifstream file(std::string(ROWS_DIR) + "/" + casesFile);
    const auto cases = uvwhost::parseJson(std::string(std::istreambuf_iterator<char>(file), {}));
    ASSERT_TRUE(cases) << cases.error();
    ASSERT_GE((*cases)["cases"].size(), count);
    for (const uvwhost::Json& c : (*cases)["cases"]) {
        SCOPED_TRACE(c["what"].get<std::string>());
        const std::vector<int> size = c.value("bitmap", std::vector<int>{0, 0});
        kivohost::Bitmap bitmap(size[0], size[1]);
        kivohost::LinearCameraMotion motion(
            *uvwhost::readVector(c.value("cameraMotion", uvwhost::Json::array({0, 0, 0})), ""));
        ProjectionScene scene;
        scene.instantiate(doc, plugins);
        const auto frame =
            uvwhost::readFrameSettings(c.value("frame", uvwhost::Json::object()), "frame");
        ASSERT_TRUE(frame) << frame.error();
        scene.host.applyFrame(*frame);
        if (c.value("camera", false)) {
            scene.useCamera();
        }
        if (c.contains("cameraMotion")) {
            scene.session.sequence.cameraMotion = &motion;
            scene.session.sequence.cameraMotionBlur = c.value("cameraMotionBlur", 1);
        }
        PluginBase* subject = scene[c["instance"].get<std::string>()];
        if (size[0] > 0) {
            setParam(subject, "bitmap", static_cast<PluginBase*>(&bitmap));
        }
        scene.host.prepareRender();
        scene.host.beginFrame();
        // One context, or several evaluated in order in the same frame.
        const uvwhost::Json at = c["at"].is_array() ? c["at"] : uvwhost::Json::array({c["at"]});
        uvwhost::Json result;
        for (const uvwhost::Json& context : at) {
            const auto request = uvwhost::readContext(context);
            ASSERT_TRUE(request) << request.error();
            ShadingContext sc;
            uvwhost::fillContext(*request, 0, sc);
            sc.renderer = &scene.session.renderer;
            result = uvwhost::evaluate(uvwhost::EvalTarget::of(subject), sc);
        }
        // A texture's colour range too, as [low, high], each end starting from a value no case
        // gives so that an end left unwritten shows.
        if (auto* texture = static_cast<TextureInterface*>(subject->getInterface(EXT_TEXTURE))) {
            AColor low{5, 5, 5, 5}, high = low;
            texture->getColorRange(low, high);
            result["range"] =
                uvwhost::Json::array({uvwhost::colorJson(low), uvwhost::colorJson(high)});
        }
        EXPECT_EQ(rows::difference(c["expect"], result, 1e-5), "");
        const uvwhost::Json counts = c.value("evaluations", uvwhost::Json::object());
        for (const auto& [name, evaluations] : counts.items()) {
            EXPECT_EQ(scene.linked(name)->evaluations(), evaluations.get<std::uint64_t>()) << name;
        }
    }
}

} // namespace testsupport
