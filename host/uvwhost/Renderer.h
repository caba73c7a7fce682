// Renders a scene document through its plugin instances: primary rays from the camera, the
// nearest shape's texture evaluated at the hit (or the environment for a miss), lit by one
// directional light with shadows. Render threads each have their own threadIndex and count
// their own never-zero evalStamp, one per shading evaluation.
#pragma once

#include "kivo/PluginModel.h"
#include "scene/SceneCamera.h"
#include "scene/SceneShapes.h"
#include "scene/ShadeStandIns.h"
#include "scene/VisibilityRays.h"
#include "uvwhost/PluginSession.h"
#include "uvwhost/SceneFile.h"

#include <atomic>
#include <functional>
#include <vector>

namespace uvwhost {

struct Image {
    Image(int width, int height)
        : width(width), height(height), rgb(std::size_t(width) * std::size_t(height) * 3),
          uvw(rgb.size()) {}
    int width;
    int height;
    // Linear colour, three floats a pixel, rows from the top.
    std::vector<float> rgb;
    // The UVW of each pixel's first texture lookup (zero where none was made).
    std::vector<float> uvw;
};

struct RenderObject {
    kivohost::Shape shape;
    KUtils::TextureInterface* texture = nullptr;
    kivohost::ShadedInstance instance;
    kivohost::ShadeIds ids;
    bool reflect = false;
};

// The world of a document whose instances exist in `session` (the texture interfaces are
// looked up there). Errors name the instance that is not a texture.
class RenderWorld {
public:
    static Parsed<RenderWorld> build(const SceneDocument& doc, PluginSession& session, int width,
                                     int height);

    const kivohost::SceneCamera& camera() const { return view; }
    // The nearest hit along the ray, or null.
    const RenderObject* trace(const KUtils::Vector4f& origin, const KUtils::Vector4f& dir,
                              float tMin, float tMax, kivohost::ShapeHit& hit) const;
    const std::vector<RenderObject>& objects() const { return all; }
    KUtils::TextureInterface* environment() const { return env; }
    const KUtils::AColor& background() const { return plain; }
    bool hasBackground() const { return hasPlain; }
    const kivohost::SceneGeometry& geometry() const { return occluders; }
    int samples() const { return perAxis; }

private:
    RenderWorld(const kivohost::SceneCamera& camera) : view(camera) {}

    kivohost::SceneCamera view;
    std::vector<RenderObject> all;
    KUtils::TextureInterface* env = nullptr;
    KUtils::AColor plain;
    bool hasPlain = false;
    kivohost::SceneGeometry occluders;
    int perAxis = 2;
};

// Renders rows on `threads` threads (threadIndex 0 .. threads-1); `progress` is called on
// the calling thread about ten times a second with the fraction done. Returns the number of
// threads the system let it start; the rows are rendered all the same (by the calling thread
// when none started).
int renderImage(const RenderWorld& world, KUtils::KivoRenderer* renderer, int threads, Image& image,
                const std::function<void(double)>& progress);

} // namespace uvwhost
