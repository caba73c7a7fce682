#include "BenchScene.h"

#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"

#include <cmath>
#include <random>

namespace bench {

using KUtils::Matrix3x3f;
using KUtils::ShadingContext;
using KUtils::UVWTransform;
using KUtils::Vector4f;

namespace {

constexpr int kMeshes = 8;
constexpr int kInstances = 4;
constexpr int kImageWidth = 640;
constexpr int kImageHeight = 480;
// Horizontal field of view of 90 degrees: half the image width per unit of depth.
constexpr float kFocal = 0.5f * float(kImageWidth);
// A quarter of the points are hit by secondary rays (reflections, shadows, GI) starting
// anywhere and going anywhere; the rest by camera rays.
constexpr float kSecondaryShare = 0.25f;
// A tenth of the points are seen from behind their normal.
constexpr float kBackSideShare = 0.1f;

// Every vector the scene normalises has a direction.
Vector4f normalized(const Vector4f& v) {
    return *KUtils::unitDirection(v);
}

class Draws {
public:
    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
    int index(int count) { return std::uniform_int_distribution<int>(0, count - 1)(rng); }
    // A uniformly distributed unit direction.
    Vector4f direction() {
        const float z = uniform(-1.0f, 1.0f);
        const float phi = uniform(0.0f, 6.2831853f);
        const float r = std::sqrt(std::max(0.0f, 1.0f - z * z));
        return {r * std::cos(phi), r * std::sin(phi), z, 0.0f};
    }
    Vector4f point(float extent) {
        return {uniform(-extent, extent), uniform(-extent, extent), uniform(-extent, extent), 0};
    }

private:
    std::mt19937 rng{20240611u};
};

// Some unit vector perpendicular to n.
Vector4f tangentOf(const Vector4f& n) {
    const Vector4f helper = std::fabs(n.x) < 0.9f ? Vector4f{1, 0, 0, 0} : Vector4f{0, 1, 0, 0};
    return normalized(KUtils::cross3(n, helper));
}

// A rotation about a random axis with a scale and an offset.
UVWTransform placement(Draws& draws, float scale, float extent) {
    const Vector4f axis = draws.direction();
    const Matrix3x3f r = rotation(axis, draws.uniform(0.0f, 6.2831853f), scale);
    return {r.c0, r.c1, r.c2, draws.point(extent)};
}

kivohost::MeshShadeData meshData(Draws& draws, bool provider, int index) {
    kivohost::MeshShadeData mesh;
    mesh.provider = provider;
    for (int channel = 0; channel < 3; ++channel) {
        kivohost::MapChannel& ch = mesh.channels[channel];
        ch.uvw = {draws.uniform(-2.0f, 2.0f), draws.uniform(-2.0f, 2.0f), draws.uniform(0, 1), 0};
        const UVWTransform b = placement(draws, draws.uniform(0.2f, 3.0f), 0.0f);
        ch.basis[0] = b.c0;
        ch.basis[1] = b.c1;
        ch.basis[2] = b.c2;
    }
    mesh.ids = kivohost::ShadeIds{std::uint32_t(index * 7 + 1), std::uint32_t(index * 13 + 5), 1};
    return mesh;
}

} // namespace

Matrix3x3f rotation(const Vector4f& axis, float angle, float scale) {
    const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    const float x = axis.x, y = axis.y, z = axis.z;
    Matrix3x3f m;
    m.c0 = Vector4f{t * x * x + c, t * x * y + s * z, t * x * z - s * y, 0.0f} * scale;
    m.c1 = Vector4f{t * x * y - s * z, t * y * y + c, t * y * z + s * x, 0.0f} * scale;
    m.c2 = Vector4f{t * x * z + s * y, t * y * z - s * x, t * z * z + c, 0.0f} * scale;
    return m;
}

BenchScene::BenchScene() {
    session.sequence.numThreads = kRenderThreads;
    session.frame.imageWidth = kImageWidth;
    session.frame.imageHeight = kImageHeight;
    session.frame.overscanWidth = float(kImageWidth);
    session.frame.overscanHeight = float(kImageHeight);
    session.frame.fov = KUtils::kHalfPi;
    session.frame.sceneOrigin = {120.0, -35.0, 8.0};
    cameraSampler = KUtils::newDefaultCameraSampler(0, 0, nullptr);
    cameraSampler->initCamera(&session.renderer, session.sequence, session.frame);
    session.sequence.camera = cameraSampler;

    Draws draws;
    for (int i = 0; i < kMeshes; ++i) {
        providerMeshes.push_back(meshData(draws, true, i));
        plainMeshes.push_back(providerMeshes.back());
        plainMeshes.back().provider = false;
    }
    spaceInstances.resize(kInstances);
    bareInstances.resize(kInstances);
    for (kivohost::ShadedInstance& instance : spaceInstances) {
        instance.objectSpace = placement(draws, draws.uniform(0.5f, 2.0f), 10.0f);
    }

    base.resize(kContextCount);
    meshOf.resize(kContextCount);
    instanceOf.resize(kContextCount);
    for (int i = 0; i < kContextCount; ++i) {
        ShadingContext& sc = base[std::size_t(i)];
        sc.renderer = &session.renderer;
        sc.imageX = draws.uniform(0.0f, float(kImageWidth));
        sc.imageY = draws.uniform(0.0f, float(kImageHeight));
        if (draws.uniform(0.0f, 1.0f) < kSecondaryShare) {
            sc.rayOrigin = draws.point(20.0f);
            sc.rayDir = draws.direction();
        } else {
            sc.rayOrigin = {};
            sc.rayDir = normalized({(sc.imageX - 0.5f * kImageWidth) / kFocal,
                                    (0.5f * kImageHeight - sc.imageY) / kFocal, -1.0f, 0.0f});
        }
        const float depth = draws.uniform(1.5f, 30.0f);
        sc.shadingPoint = sc.rayOrigin + sc.rayDir * depth;

        // A normal facing the ray, or (on the back side) facing away from it.
        Vector4f n = draws.direction();
        const bool back = draws.uniform(0.0f, 1.0f) < kBackSideShare;
        if ((KUtils::dot3(n, sc.rayDir) < 0.0f) == back) {
            n = -n;
        }
        sc.normal = n;
        sc.auxNormal = n;
        sc.backSide = back ? 1 : 0;
        // The surface point before bump: a little below the shading point.
        sc.surfacePoint = sc.shadingPoint - n * draws.uniform(0.0f, 0.01f);

        // The footprint of one pixel at that depth, in the tangent plane.
        const float footprint = depth / kFocal;
        const Vector4f tx = tangentOf(n);
        const Vector4f ty = KUtils::cross3(n, tx);
        sc.dPdx = tx * (footprint * draws.uniform(0.5f, 2.0f));
        sc.dPdy = ty * (footprint * draws.uniform(0.5f, 2.0f));
        const Vector4f dx = tangentOf(sc.rayDir);
        sc.dDdx = dx * (1.0f / kFocal);
        sc.dDdy = KUtils::cross3(sc.rayDir, dx) * (1.0f / kFocal);

        sc.time = draws.uniform(0.0f, 1.0f);
        sc.evalSlot = draws.index(4);
        sc.evalStamp = 1;
        meshOf[std::size_t(i)] = std::size_t(draws.index(kMeshes));
        instanceOf[std::size_t(i)] = std::size_t(draws.index(kInstances));
    }
}

BenchScene::~BenchScene() {
    session.sequence.camera = nullptr;
    KUtils::deleteDefaultCameraSampler(cameraSampler);
}

std::vector<ShadingContext> BenchScene::contexts(const Flavour& flavour, int threadIndex) const {
    std::vector<ShadingContext> result = base;
    const auto& meshes = flavour.channelProvider ? providerMeshes : plainMeshes;
    const auto& instances = flavour.objectSpace ? spaceInstances : bareInstances;
    for (std::size_t i = 0; i < result.size(); ++i) {
        result[i].threadData.threadIndex = threadIndex;
        result[i].shadeData = &meshes[meshOf[i]];
        result[i].shadeInstance = &instances[instanceOf[i]];
    }
    return result;
}

} // namespace bench
