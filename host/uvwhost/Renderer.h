// Renders a scene document through its plugin instances: primary rays from the camera, the
// nearest shape's or mesh's texture evaluated at the hit (or the environment for a miss), lit
// by one directional light with shadows. Meshes are cast against through MeshTracer; every
// object also blocks the visibility rays plugins ask for. Render threads each have their own
// threadIndex and count their own never-zero evalStamp, one per shading evaluation.
#pragma once

#include "kivo/PluginModel.h"
#include "scene/Cameras.h"
#include "scene/Mesh.h"
#include "scene/SceneCamera.h"
#include "scene/SceneShapes.h"
#include "scene/ShadeStandIns.h"
#include "scene/VisibilityRays.h"
#include "uvwhost/Assets.h"
#include "uvwhost/PluginSession.h"
#include "uvwhost/SceneFile.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace uvwhost {

struct Image {
    Image(int width, int height)
        : width(width), height(height), rgb(std::size_t(width) * std::size_t(height) * 3),
          uvw(rgb.size()), depth(std::size_t(width) * std::size_t(height)) {}
    int width;
    int height;
    // Linear colour, three floats a pixel, rows from the top.
    std::vector<float> rgb;
    // The UVW of each pixel's first texture lookup (zero where none was made).
    std::vector<float> uvw;
    // Distance from the camera centre to the surface seen through each pixel's centre (0 where
    // the ray meets nothing).
    std::vector<float> depth;
};

// A shape or a mesh with its texture. Mesh instances answer object space, reference point and
// scene point as shapes do.
struct RenderObject {
    std::optional<kivohost::Shape> shape;
    // Owned by the world.
    const kivohost::PlacedMesh* mesh = nullptr;
    KUtils::TextureInterface* texture = nullptr;
    // World (relative to the scene origin) to object space.
    KUtils::UVWTransform objectSpace;
    kivohost::ShadeIds ids;
    bool reflect = false;
    bool lit = true;
};

// The nearest surface along a ray. For meshes `shape` holds t, the point and the interpolated
// normal, `mesh` the triangle and barycentrics; faceNormal is the geometric normal.
struct SurfaceHit {
    const RenderObject* object = nullptr;
    kivohost::ShapeHit shape;
    MeshTracer::Hit mesh;
    KUtils::Vector4f faceNormal;
};

// The world of a document whose instances exist in `session` (the texture interfaces are
// looked up there). Errors name the instance that is not a texture, the camera that does not exist,
// or the asset file that cannot be used.
class RenderWorld final : public kivohost::RayBlocker {
public:
    // `cameraName` empty: the document's first camera.
    static Parsed<std::unique_ptr<RenderWorld>> build(const SceneDocument& doc,
                                                      PluginSession& session, int width, int height,
                                                      const std::string& cameraName);
    RenderWorld(const RenderWorld&) = delete;
    RenderWorld& operator=(const RenderWorld&) = delete;

    const kivohost::SceneCamera& camera() const { return view; }
    // The camera at `time` (0 to 1 over the shutter): moved by the camera's motion.
    kivohost::SceneCamera camera(float time) const;
    // The camera's motion as plugins see it through the sequence data.
    const kivohost::LinearCameraMotion& cameraMotion() const { return motion; }
    // The camera's frame settings: pixel aspect and overscan.
    const CameraEntry& cameraEntry() const { return cameraSettings; }
    // The nearest hit along the ray (world space), or false.
    bool trace(const KUtils::Vector4f& origin, const KUtils::Vector4f& dir, float tMin, float tMax,
               SurfaceHit& hit) const;
    // Visibility rays: origin relative to the scene origin.
    bool blocks(const KUtils::Vector4f& origin, const KUtils::Vector4f& segment, float tMin,
                float tMax) const override;
    // Map channels a mesh hit may fill (1 + the most UV sets of any mesh).
    int channelCount() const { return channels; }
    const std::vector<RenderObject>& objects() const { return all; }
    KUtils::TextureInterface* environment() const { return env; }
    const KUtils::AColor& background() const { return plain; }
    bool hasBackground() const { return hasPlain; }
    const kivohost::SceneGeometry& geometry() const { return occluders; }
    int samples() const { return perAxis; }

private:
    RenderWorld(const kivohost::SceneCamera& camera, const CameraEntry& entry, int width,
                int height)
        : view(camera), cameraSettings(entry), motion(entry.motion), width(width), height(height) {}

    kivohost::SceneCamera view;
    CameraEntry cameraSettings;
    kivohost::LinearCameraMotion motion;
    int width, height;
    std::vector<RenderObject> all;
    std::vector<std::unique_ptr<kivohost::PlacedMesh>> meshes;
    // The object of each mesh, by mesh index.
    std::vector<const RenderObject*> meshObjects;
    std::unique_ptr<MeshTracer> tracer;
    KUtils::Vector4f sceneOrigin;
    int channels = 2;
    KUtils::TextureInterface* env = nullptr;
    KUtils::AColor plain;
    bool hasPlain = false;
    kivohost::SceneGeometry occluders;
    int perAxis = 2;
};

class Shader;

// One thread's shading state outside a render, for baking: `threadIndex` is the thread's,
// every evaluation gets its own never-zero evalStamp.
class SurfaceShader {
public:
    SurfaceShader(const RenderWorld& world, KUtils::KivoRenderer* renderer, int threadIndex);
    ~SurfaceShader();
    SurfaceShader(const SurfaceShader&) = delete;
    SurfaceShader& operator=(const SurfaceShader&) = delete;

    // `texture` at the hit seen head-on from its front side (the view ray runs against the face
    // normal); (x, y) is the position in the baked image, dPdx and dPdy the surface point's
    // change per pixel of it.
    KUtils::AColor evaluate(KUtils::TextureInterface& texture, const SurfaceHit& hit, float x,
                            float y, const KUtils::Vector4f& dPdx, const KUtils::Vector4f& dPdy);

private:
    std::unique_ptr<Shader> shader;
};

// The texture interface of the session's instance `name`; the error starts with `what`.
Parsed<KUtils::TextureInterface*> findTexture(PluginSession& session, const std::string& name,
                                              const std::string& what);

// Runs work(threadIndex) on `threads` threads (threadIndex 0 .. threads-1) and waits for them;
// `progress` is called on the calling thread every 20 ms with done() until that reaches 1.
// Returns the number of threads the system let it start; with none, the calling thread runs
// work(0).
int runOnThreads(int threads, const std::function<void(int)>& work,
                 const std::function<double()>& done, const std::function<void(double)>& progress);

// Renders rows on `threads` threads (threadIndex 0 .. threads-1); `progress` is called on
// the calling thread about ten times a second with the fraction done. Returns the number of
// threads the system let it start; the rows are rendered all the same (by the calling thread
// when none started).
int renderImage(const RenderWorld& world, KUtils::KivoRenderer* renderer, int threads, Image& image,
                const std::function<void(double)>& progress);

} // namespace uvwhost
