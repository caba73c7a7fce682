#include "uvwhost/Renderer.h"

#include "kivo/VectorMath.h"
#include "scene/ScenePlugins.h"

#include <algorithm>
#include <chrono>
#include <cmath>
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

// One render thread's shading state: its context, shade data and stamps.
class Shader {
public:
    Shader(const RenderWorld& world, KivoRenderer* renderer, int threadIndex)
        : world(world), sc(&world.geometry()) {
        sc.renderer = renderer;
        sc.threadData.threadIndex = threadIndex;
        // The analytic channel answers as channels 0 and 1 (the defaults of the generators).
        shadeData.channels[0] = {};
        shadeData.channels[1] = {};
        const KivoFrameData& frame = *renderer->frameData;
        origin = {float(frame.sceneOrigin.x), float(frame.sceneOrigin.y),
                  float(frame.sceneOrigin.z), 0.0f};
    }

    // The colour seen through image position (x, y); the first texture lookup of the first
    // sample of a pixel gives its UVW.
    AColor sample(float x, float y, float time) {
        const kivohost::CameraRay ray = world.camera().ray(x, y);
        sc.imageX = x;
        sc.imageY = y;
        sc.time = time;
        sc.rayOrigin = ray.origin - origin;
        sc.rayDir = ray.direction;
        sc.dDdx = ray.dDdx;
        sc.dDdy = ray.dDdy;
        sc.screenFrameAxis = world.camera().forward();

        kivohost::ShapeHit hit;
        const RenderObject* object = world.trace(ray.origin, ray.direction, 1e-4f, 1e30f, hit);
        if (!object) {
            return background(ray.direction, ray.dDdx, ray.dDdy);
        }
        // Ray differentials carried to the surface: the position change per pixel.
        const Vector4f& n = hit.normal;
        const float dn = dot3(ray.direction, n);
        auto transfer = [&](const Vector4f& dD) {
            const Vector4f dP = dD * hit.t;
            return dn != 0.0f ? dP - ray.direction * (dot3(dP, n) / dn) : dP;
        };
        const bool back = dn > 0.0f;
        const Vector4f facing = back ? -n : n;
        sc.shadingPoint = hit.point - origin;
        sc.surfacePoint = sc.shadingPoint;
        sc.normal = facing;
        sc.auxNormal = facing;
        sc.backSide = back ? 1 : 0;
        sc.dPdx = transfer(ray.dDdx);
        sc.dPdy = transfer(ray.dDdy);
        for (auto& [index, channel] : shadeData.channels) {
            channel.uvw = hit.uvw;
            for (int k = 0; k < 3; ++k) {
                channel.basis[k] = hit.basis[k];
            }
        }
        shadeData.ids = object->ids;
        sc.shadeData = &shadeData;
        sc.shadeInstance = &object->instance;
        if (object->reflect) {
            // A mirror: the lookup follows the reflected direction and its differentials.
            sc.rayDir = reflect(ray.direction, facing);
            sc.dDdx = reflect(ray.dDdx, facing);
            sc.dDdy = reflect(ray.dDdy, facing);
        }
        sc.evalStamp = stamps.next();
        AColor c;
        object->texture->evalColor(c, sc);
        sc.shadeData = nullptr;
        sc.shadeInstance = nullptr;
        return object->reflect ? c : lit(c, hit.point, facing);
    }

    void resetProbe() { sc.resetProbe(); }
    bool probed() const { return sc.hasProbe(); }
    const Vector4f& probe() const { return sc.probe(); }

private:
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
    // ambient term.
    AColor lit(const AColor& c, const Vector4f& point, const Vector4f& n) const {
        static const Vector4f light = *unitDirection(Vector4f{-0.45f, -0.6f, 0.75f, 0.0f});
        float diffuse = std::max(0.0f, dot3(n, light));
        kivohost::ShapeHit shadow;
        if (diffuse > 0.0f && world.trace(point + n * 1e-3f, light, 1e-4f, 1e30f, shadow)) {
            diffuse = 0.0f;
        }
        const float k = 0.35f + 0.65f * diffuse;
        return {c.r * k, c.g * k, c.b * k, c.a};
    }

    const RenderWorld& world;
    kivohost::ProbedShadingContext sc;
    kivohost::MeshShadeData shadeData;
    Vector4f origin;
    StampCounter stamps;
};

} // namespace

Parsed<RenderWorld> RenderWorld::build(const SceneDocument& doc, PluginSession& session, int width,
                                       int height) {
    const CameraEntry& c = doc.camera;
    RenderWorld world(kivohost::SceneCamera(c.position, c.target, c.up, c.fov, width, height));
    world.perAxis = doc.samples;
    auto textureOf = [&](const std::string& name,
                         const std::string& what) -> Parsed<TextureInterface*> {
        PluginInstance* instance = session.find(name);
        auto* texture =
            instance ? static_cast<TextureInterface*>(instance->plugin->getInterface(EXT_TEXTURE))
                     : nullptr;
        if (!texture) {
            return Parsed<TextureInterface*>::failure(doc.source + ": " + what + " \"" + name +
                                                      "\" is not a texture (EXT_TEXTURE)");
        }
        return texture;
    };
    for (const ObjectEntry& entry : doc.objects) {
        auto texture = textureOf(entry.texture, "the texture");
        if (!texture) {
            return Parsed<RenderWorld>::failure(texture.error());
        }
        RenderObject object{kivohost::Shape(entry.shape, entry.center, entry.size, entry.rotation),
                            *texture,
                            {},
                            {entry.material, entry.object, 1},
                            entry.reflect};
        UVWTransform space = object.shape.objectSpace();
        // Object space is taken of points relative to the scene origin.
        const Vector3d& o = doc.frame.sceneOrigin;
        space.o = space.o + applyLinear(space, Vector4f{float(o.x), float(o.y), float(o.z), 0.0f});
        object.instance.objectSpace = space;
        world.all.push_back(std::move(object));
        // Spheres and unbounded planes also block the projections' visibility rays.
        if (entry.shape == kivohost::ShapeKind::Sphere) {
            world.occluders.spheres.push_back(
                {Vector4f{entry.center.x - float(o.x), entry.center.y - float(o.y),
                          entry.center.z - float(o.z), 0.0f},
                 entry.size.x});
        }
    }
    if (!doc.environment.empty()) {
        auto env = textureOf(doc.environment, "the environment");
        if (!env) {
            return Parsed<RenderWorld>::failure(env.error());
        }
        world.env = *env;
    }
    if (doc.background) {
        world.plain = *doc.background;
        world.hasPlain = true;
    }
    return world;
}

const RenderObject* RenderWorld::trace(const Vector4f& origin, const Vector4f& dir, float tMin,
                                       float tMax, kivohost::ShapeHit& hit) const {
    const RenderObject* nearest = nullptr;
    for (const RenderObject& object : all) {
        kivohost::ShapeHit h;
        if (object.shape.intersect(origin, dir, tMin, tMax, h)) {
            tMax = h.t;
            hit = h;
            nearest = &object;
        }
    }
    return nearest;
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
                // Written for every pixel, so an image can be rendered into again.
                const Vector4f probe = shader.probed() ? shader.probe() : Vector4f{};
                image.uvw[at] = probe.x;
                image.uvw[at + 1] = probe.y;
                image.uvw[at + 2] = probe.z;
            }
            rowsDone.fetch_add(1);
        }
    };
    std::vector<std::thread> pool;
    try {
        for (int i = 0; i < threads; ++i) {
            pool.emplace_back(work, i);
        }
    } catch (const std::system_error&) {
        // The system has no more threads to give: those started share the rows.
    }
    if (pool.empty()) {
        work(0);
    }
    // Without a progress report the threads are simply joined; with one, the bar is redrawn
    // every 20 ms (a coarser poll would make short renders wait for it).
    while (progress && rowsDone.load() < image.height) {
        progress(double(rowsDone.load()) / image.height);
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
