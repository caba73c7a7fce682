#include "uvwhost/Renderer.h"

#include "kivo/VectorMath.h"
#include "scene/ScenePlugins.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <system_error>
#include <thread>

namespace uvwhost {

using namespace KUtils;

namespace {

Vector4f reflect(const Vector4f& d, const Vector4f& n) {
    return d - n * (2.0f * dot3(d, n));
}

// Counts the evaluations of one render thread; 0 is never handed out.
class StampCounter {
public:
    std::uint32_t next() {
        if (++stamp == 0) {
            stamp = 1;
        }
        return stamp;
    }

private:
    std::uint32_t stamp = 0;
};

} // namespace

// One render thread's shading state: its context, shade data, instance answers and stamps.
class Shader {
public:
    Shader(const RenderWorld& world, KivoRenderer* renderer, int threadIndex)
        : world(world), sc(&world.geometry()) {
        sc.renderer = renderer;
        sc.threadData.threadIndex = threadIndex;
        // Every channel a hit may fill exists before the render, so that shading never adds
        // one. Shapes answer their analytic channel on all of them.
        for (int k = 0; k <= world.channelCount(); ++k) {
            shadeData.channels[k] = {};
        }
        const KivoFrameData& frame = *renderer->frameData;
        origin = {float(frame.sceneOrigin.x), float(frame.sceneOrigin.y),
                  float(frame.sceneOrigin.z), 0.0f};
    }

    // The colour seen through image position (x, y); the first texture lookup of the first
    // sample of a pixel gives its UVW.
    AColor sample(float x, float y, float time) {
        const kivohost::CameraRay ray = world.camera(time).ray(x, y);
        sc.imageX = x;
        sc.imageY = y;
        sc.time = time;
        sc.rayOrigin = ray.origin - origin;
        sc.rayDir = ray.direction;
        sc.dDdx = ray.dDdx;
        sc.dDdy = ray.dDdy;
        sc.screenFrameAxis = world.camera().forward();

        SurfaceHit hit;
        if (!world.trace(ray.origin, ray.direction, 1e-4f, 1e30f, hit)) {
            return background(ray.direction, ray.dDdx, ray.dDdy);
        }
        const RenderObject* object = hit.object;
        // Ray differentials carried to the surface's plane: the position change per pixel.
        const Vector4f& n = hit.faceNormal;
        const float dn = dot3(ray.direction, n);
        auto transfer = [&](const Vector4f& dD) {
            const Vector4f dP = dD * hit.shape.t;
            return dn != 0.0f ? dP - ray.direction * (dot3(dP, n) / dn) : dP;
        };
        // The side is the geometric one; the shading normal turns with it.
        const bool back = dn > 0.0f;
        atSurface(hit, back, transfer(ray.dDdx), transfer(ray.dDdy));
        if (object->reflect) {
            // A mirror: the lookup follows the reflected direction and its differentials.
            sc.rayDir = reflect(ray.direction, sc.normal);
            sc.dDdx = reflect(ray.dDdx, sc.normal);
            sc.dDdy = reflect(ray.dDdy, sc.normal);
        }
        const AColor c = evaluate(*object->texture);
        return object->reflect || !object->lit ? c : lit(c, hit.shape.point, back ? -n : n);
    }

    // The colour of `texture` at a surface point seen head-on from its front, as a bake sees
    // it: no camera ray, the position change per step of the baked image's x and y given.
    AColor bake(TextureInterface& texture, const SurfaceHit& hit, float x, float y,
                const Vector4f& dPdx, const Vector4f& dPdy) {
        sc.imageX = x;
        sc.imageY = y;
        sc.time = 0.0f;
        sc.rayDir = -hit.faceNormal;
        sc.rayOrigin = hit.shape.point - origin + hit.faceNormal;
        sc.dDdx = {};
        sc.dDdy = {};
        sc.screenFrameAxis = sc.rayDir;
        atSurface(hit, false, dPdx, dPdy);
        return evaluate(texture);
    }

    // The distance from the camera centre to the surface seen at (x, y), 0 for none.
    float depth(float x, float y) const {
        const kivohost::CameraRay ray = world.camera().ray(x, y);
        SurfaceHit hit;
        return world.trace(ray.origin, ray.direction, 1e-4f, 1e30f, hit) ? hit.shape.t : 0.0f;
    }

    void resetProbe() { sc.resetProbe(); }
    bool probed() const { return sc.hasProbe(); }
    const Vector4f& probe() const { return sc.probe(); }

private:
    // The surface part of the context: points, normals on the side seen, differentials,
    // channels and the instance's answers.
    void atSurface(const SurfaceHit& hit, bool back, const Vector4f& dPdx, const Vector4f& dPdy) {
        const Vector4f& n = hit.faceNormal;
        sc.shadingPoint = hit.shape.point - origin;
        sc.surfacePoint = sc.shadingPoint;
        sc.normal = back ? -hit.shape.normal : hit.shape.normal;
        sc.auxNormal = back ? -n : n;
        sc.backSide = back ? 1 : 0;
        sc.dPdx = dPdx;
        sc.dPdy = dPdy;
        fillChannels(hit);
        shadeData.ids = hit.object->ids;
        instance.objectSpace = hit.object->objectSpace;
        instance.referencePoint = hit.shape.point;
        instance.scenePoint = sc.shadingPoint;
    }

    AColor evaluate(TextureInterface& texture) {
        sc.shadeData = &shadeData;
        sc.shadeInstance = &instance;
        sc.evalStamp = stamps.next();
        AColor c;
        texture.evalColor(c, sc);
        sc.shadeData = nullptr;
        sc.shadeInstance = nullptr;
        return c;
    }

    // Shapes: their analytic channel on every channel. Meshes: UV set k on map channel k + 1,
    // channel 0 the same as channel 1, channels beyond the mesh's sets unlisted (uvw 0 and the
    // identity basis).
    void fillChannels(const SurfaceHit& hit) {
        for (auto& [index, channel] : shadeData.channels) {
            if (!hit.object->mesh) {
                channel.uvw = hit.shape.uvw;
                for (int k = 0; k < 3; ++k) {
                    channel.basis[k] = hit.shape.basis[k];
                }
                continue;
            }
            const std::size_t set = index > 0 ? std::size_t(index - 1) : 0;
            if (set < hit.object->mesh->channelCount()) {
                hit.object->mesh->channel(hit.mesh.triangle, hit.mesh.b1, hit.mesh.b2, set,
                                          channel.uvw, channel.basis);
            } else {
                channel = kivohost::MapChannel{};
            }
        }
    }

    AColor background(const Vector4f& dir, const Vector4f& dDdx, const Vector4f& dDdy) {
        if (TextureInterface* env = world.environment()) {
            sc.shadingPoint = sc.rayOrigin + dir * 1e3f;
            sc.surfacePoint = sc.shadingPoint;
            sc.normal = -dir;
            sc.auxNormal = -dir;
            sc.dPdx = dDdx * 1e3f;
            sc.dPdy = dDdy * 1e3f;
            sc.backSide = 0;
            sc.evalStamp = stamps.next();
            AColor c;
            env->evalColor(c, sc);
            return c;
        }
        if (world.hasBackground()) {
            return world.background();
        }
        // A plain sky: light above the horizon, darker towards the zenith.
        const float up = std::clamp(dir.z, -1.0f, 1.0f);
        const float f = up > 0.0f ? up : 0.0f;
        return {0.62f - 0.3f * f, 0.68f - 0.25f * f, 0.78f - 0.1f * f, 1.0f};
    }

    // One directional light from the upper left behind the camera, with shadows, over an
    // ambient term. `n` is the geometric normal on the side seen.
    AColor lit(const AColor& c, const Vector4f& point, const Vector4f& n) const {
        static const Vector4f light = *unitDirection(Vector4f{-0.45f, -0.6f, 0.75f, 0.0f});
        float diffuse = std::max(0.0f, dot3(n, light));
        SurfaceHit shadow;
        if (diffuse > 0.0f && world.trace(point + n * 1e-3f, light, 1e-4f, 1e30f, shadow)) {
            diffuse = 0.0f;
        }
        const float k = 0.35f + 0.65f * diffuse;
        return {c.r * k, c.g * k, c.b * k, c.a};
    }

    const RenderWorld& world;
    kivohost::ProbedShadingContext sc;
    kivohost::MeshShadeData shadeData;
    kivohost::ShadedInstance instance;
    Vector4f origin;
    StampCounter stamps;
};

SurfaceShader::SurfaceShader(const RenderWorld& world, KivoRenderer* renderer, int threadIndex)
    : shader(std::make_unique<Shader>(world, renderer, threadIndex)) {}

SurfaceShader::~SurfaceShader() = default;

AColor SurfaceShader::evaluate(TextureInterface& texture, const SurfaceHit& hit, float x, float y,
                               const Vector4f& dPdx, const Vector4f& dPdy) {
    return shader->bake(texture, hit, x, y, dPdx, dPdy);
}

Parsed<TextureInterface*> findTexture(PluginSession& session, const std::string& name,
                                      const std::string& what) {
    PluginInstance* instance = session.find(name);
    auto* texture =
        instance ? static_cast<TextureInterface*>(instance->plugin->getInterface(EXT_TEXTURE))
                 : nullptr;
    if (!texture) {
        return Parsed<TextureInterface*>::failure(what + " \"" + name +
                                                  "\" is not a texture (EXT_TEXTURE)");
    }
    return texture;
}

Parsed<std::unique_ptr<RenderWorld>> RenderWorld::build(const SceneDocument& doc,
                                                        PluginSession& session, int width,
                                                        int height, const std::string& cameraName) {
    using Result = Parsed<std::unique_ptr<RenderWorld>>;
    auto c = selectCamera(doc, cameraName);
    if (!c) {
        return Result::failure(c.error());
    }
    std::unique_ptr<RenderWorld> world(new RenderWorld(
        kivohost::SceneCamera(c->position, c->target, c->up, c->horizontalFov(width, height), width,
                              height, c->pixelAspect),
        *c, width, height));
    world->perAxis = doc.samples;
    const Vector3d& o = doc.frame.sceneOrigin;
    world->sceneOrigin = {float(o.x), float(o.y), float(o.z), 0.0f};
    world->occluders.blocker = world.get();
    auto textureOf = [&](const std::string& name, const std::string& what) {
        return findTexture(session, name, doc.source + ": " + what);
    };
    std::map<std::string, kivohost::TriangleMesh> files;
    world->all.reserve(doc.objects.size());
    for (std::size_t i = 0; i < doc.objects.size(); ++i) {
        const ObjectEntry& entry = doc.objects[i];
        auto texture = textureOf(entry.texture, "the texture");
        if (!texture) {
            return Result::failure(texture.error());
        }
        RenderObject object;
        object.texture = *texture;
        object.ids = {entry.material, entry.object, 1};
        object.reflect = entry.reflect;
        object.lit = entry.lit;
        const kivohost::Placement placement{entry.center, entry.rotation,
                                            entry.mesh ? entry.scale : Vector4f{1, 1, 1, 0}};
        if (entry.mesh) {
            const std::string path = assetPath(doc, entry.file);
            auto found = files.find(path);
            if (found == files.end()) {
                auto loaded = loadMesh(path);
                if (!loaded) {
                    return Result::failure(doc.source + " \"objects\"[" + std::to_string(i) +
                                           "]: " + loaded.error());
                }
                found = files.emplace(path, std::move(*loaded)).first;
            }
            world->meshes.push_back(
                std::make_unique<kivohost::PlacedMesh>(found->second, placement));
            object.mesh = world->meshes.back().get();
            world->channels = std::max(world->channels, int(object.mesh->channelCount()));
        } else {
            object.shape.emplace(entry.shape, entry.center, entry.size, entry.rotation);
        }
        // Object space is taken of points relative to the scene origin.
        UVWTransform space = object.shape ? object.shape->objectSpace() : placement.objectSpace();
        space.o = space.o + applyLinear(space, world->sceneOrigin);
        object.objectSpace = space;
        world->all.push_back(object);
    }
    std::vector<const kivohost::PlacedMesh*> placed;
    for (const RenderObject& object : world->all) {
        if (object.mesh) {
            placed.push_back(object.mesh);
            world->meshObjects.push_back(&object);
        }
    }
    if (!placed.empty()) {
        auto tracer = MeshTracer::build(placed);
        if (!tracer) {
            return Result::failure(doc.source + ": " + tracer.error());
        }
        world->tracer = std::move(*tracer);
    }
    if (!doc.environment.empty()) {
        auto env = textureOf(doc.environment, "the environment");
        if (!env) {
            return Result::failure(env.error());
        }
        world->env = *env;
    }
    if (doc.background) {
        world->plain = *doc.background;
        world->hasPlain = true;
    }
    return world;
}

kivohost::SceneCamera RenderWorld::camera(float time) const {
    const CameraEntry& c = cameraSettings;
    if (time == 0.0f || dot3(c.motion, c.motion) == 0.0f) {
        return view;
    }
    const Vector4f move = c.motion * time;
    return kivohost::SceneCamera(c.position + move, c.target + move, c.up,
                                 c.horizontalFov(width, height), width, height, c.pixelAspect);
}

bool RenderWorld::trace(const Vector4f& origin, const Vector4f& dir, float tMin, float tMax,
                        SurfaceHit& hit) const {
    hit.object = nullptr;
    for (const RenderObject& object : all) {
        kivohost::ShapeHit h;
        if (object.shape && object.shape->intersect(origin, dir, tMin, tMax, h)) {
            tMax = h.t;
            hit.shape = h;
            hit.faceNormal = h.normal;
            hit.object = &object;
        }
    }
    MeshTracer::Hit m;
    if (tracer && tracer->intersect(origin, dir, tMin, tMax, m)) {
        const RenderObject* object = meshObjects[m.mesh];
        const kivohost::PlacedMesh::Surface s = object->mesh->surface(m.triangle, m.b1, m.b2);
        hit.object = object;
        hit.mesh = m;
        hit.shape.t = m.t;
        hit.shape.point = s.point;
        hit.shape.normal = s.normal;
        hit.faceNormal = s.faceNormal;
    }
    return hit.object != nullptr;
}

bool RenderWorld::blocks(const Vector4f& origin, const Vector4f& segment, float tMin,
                         float tMax) const {
    const Vector4f from = origin + sceneOrigin;
    for (const RenderObject& object : all) {
        kivohost::ShapeHit h;
        if (object.shape && object.shape->intersect(from, segment, tMin, tMax, h)) {
            return true;
        }
    }
    return tracer && tracer->occluded(from, segment, tMin, tMax);
}

int renderImage(const RenderWorld& world, KivoRenderer* renderer, int threads, Image& image,
                const std::function<void(double)>& progress) {
    std::atomic<int> nextRow{0};
    std::atomic<int> rowsDone{0};
    const int n = world.samples();
    // Samples per pixel, in a type the square of any int fits.
    const long long samples = (long long)n * n;
    const bool blur = renderer->sequenceData && renderer->sequenceData->motionBlur;
    auto work = [&](int threadIndex) {
        Shader shader(world, renderer, threadIndex);
        for (int y; (y = nextRow.fetch_add(1)) < image.height;) {
            for (int x = 0; x < image.width; ++x) {
                float sum[3] = {0.0f, 0.0f, 0.0f};
                shader.resetProbe();
                for (long long s = 0; s < samples; ++s) {
                    const float sx = float(x) + (float(s % n) + 0.5f) / float(n);
                    const float sy = float(y) + (float(s / n) + 0.5f) / float(n);
                    const float time = blur ? (float(s) + 0.5f) / float(samples) : 0.0f;
                    const AColor c = shader.sample(sx, sy, time);
                    sum[0] += c.r;
                    sum[1] += c.g;
                    sum[2] += c.b;
                }
                const std::size_t at =
                    (std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * 3;
                for (int k = 0; k < 3; ++k) {
                    image.rgb[at + std::size_t(k)] = sum[k] / float(samples);
                }
                image.depth[at / 3] = shader.depth(float(x) + 0.5f, float(y) + 0.5f);
                // Written for every pixel, so an image can be rendered into again.
                const Vector4f probe = shader.probed() ? shader.probe() : Vector4f{};
                image.uvw[at] = probe.x;
                image.uvw[at + 1] = probe.y;
                image.uvw[at + 2] = probe.z;
            }
            rowsDone.fetch_add(1);
        }
    };
    return runOnThreads(
        threads, work, [&] { return double(rowsDone.load()) / image.height; }, progress);
}

int runOnThreads(int threads, const std::function<void(int)>& work,
                 const std::function<double()>& done, const std::function<void(double)>& progress) {
    std::vector<std::thread> pool;
    try {
        for (int i = 0; i < threads; ++i) {
            pool.emplace_back(work, i);
        }
    } catch (const std::system_error&) {
        // The system has no more threads to give: those started share the work.
    }
    if (pool.empty()) {
        work(0);
    }
    // Without a progress report the threads are simply joined; with one, the bar is redrawn
    // every 20 ms (a coarser poll would make short runs wait for it).
    for (double fraction; progress && (fraction = done()) < 1.0;) {
        progress(fraction);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::thread& t : pool) {
        t.join();
    }
    if (progress) {
        progress(1.0);
    }
    return int(pool.size());
}

} // namespace uvwhost
