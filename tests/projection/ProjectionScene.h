// The plugin graph the projection suites share: a render session whose 640 x 480 camera (once
// useCamera is called) sits at the scene origin looking down -z with a 90 degree horizontal field
// of view, so that a point (x, y, z) in front maps to pixel (320 + 320 x / -z, 240 - 320 y / -z);
// UVWGenProjection instances centred where a test wants them, host textures, camera views.
#pragma once

#include "projection/UVWGenProjection.h"
#include "scene/Cameras.h"
#include "scene/LinkedTextures.h"
#include "tests/support/Plugin.h"

#include <vector>

namespace testsupport {

class ProjectionScene : public Graph {
public:
    ProjectionScene() { session.frame.fov = 1.5707964f; }
    ~ProjectionScene() {
        if (camera) {
            deleteDefaultCameraSampler(camera);
        }
    }

    void useCamera() {
        camera = newDefaultCameraSampler(0, 0, nullptr);
        camera->initCamera(&session.renderer, session.sequence, session.frame);
        session.sequence.camera = camera;
    }
    static Vector2f pixel(const Vector4f& p) {
        return {320.0f + 320.0f * p.x / -p.z, 240.0f - 320.0f * p.y / -p.z};
    }

    static void setList(PluginBase* plugin, const char* name,
                        const std::vector<ParamValue>& elements) {
        EXPECT_TRUE(setParamList(*paramListOf(plugin), name, elements)) << name;
    }
    // A UVWGenProjection of the type centred at centre: uvw_transform maps world to projection
    // space, so with an identity matrix its offset is -centre.
    PluginBase* projection(const Vector3d& centre, int type = 2) {
        PluginBase* p = create(descriptor<UVWGenProjectionDesc>());
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
    PluginBase* view(const Transform& transform, float fov = 1.5707964f) {
        PluginBase* v = create(descriptor<kivohost::RenderViewDesc>());
        setParam(v, "transform", transform);
        setParam(v, "fov", fov);
        return v;
    }

    // A context of thread 0 at p facing +z, one hundredth of a unit per screen step.
    ShadingContext context(const Vector4f& p, const Vector4f& normal = {0, 0, 1, 0}) {
        ShadingContext sc = contextAt(session, p);
        sc.normal = sc.auxNormal = normal;
        sc.dPdx = {0.01f, 0, 0, 0};
        sc.dPdy = {0, 0.01f, 0, 0};
        return sc;
    }

    kivohost::RenderSession session;
    KivoCamera* camera = nullptr;
};

} // namespace testsupport
