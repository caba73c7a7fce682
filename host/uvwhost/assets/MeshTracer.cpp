// Ray casting through Embree: one scene holding every placed mesh, geometry id = mesh index.
#include "uvwhost/Assets.h"

#include <embree3/rtcore.h>
#include <limits>

namespace uvwhost {

using namespace KUtils;

struct MeshTracer::Impl {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    ~Impl() {
        if (scene) {
            rtcReleaseScene(scene);
        }
        if (device) {
            rtcReleaseDevice(device);
        }
    }
};

MeshTracer::MeshTracer(std::unique_ptr<Impl> impl) : impl(std::move(impl)) {}
MeshTracer::~MeshTracer() = default;

Parsed<std::unique_ptr<MeshTracer>>
MeshTracer::build(const std::vector<const kivohost::PlacedMesh*>& meshes) {
    auto impl = std::make_unique<Impl>();
    impl->device = rtcNewDevice(nullptr);
    if (!impl->device) {
        return Parsed<std::unique_ptr<MeshTracer>>::failure(
            "cannot start the ray casting of meshes (error " +
            std::to_string(int(rtcGetDeviceError(nullptr))) + ")");
    }
    impl->scene = rtcNewScene(impl->device);
    for (const kivohost::PlacedMesh* placed : meshes) {
        const kivohost::TriangleMesh& mesh = placed->world();
        RTCGeometry geometry = rtcNewGeometry(impl->device, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* vertices = static_cast<float*>(
            rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                    3 * sizeof(float), mesh.positions.size()));
        auto* indices = static_cast<unsigned*>(
            rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                    3 * sizeof(unsigned), mesh.triangles.size()));
        if (!vertices || !indices) {
            rtcReleaseGeometry(geometry);
            return Parsed<std::unique_ptr<MeshTracer>>::failure(
                "cannot hold the meshes for ray casting: out of memory");
        }
        for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
            vertices[3 * i] = mesh.positions[i].x;
            vertices[3 * i + 1] = mesh.positions[i].y;
            vertices[3 * i + 2] = mesh.positions[i].z;
        }
        for (std::size_t i = 0; i < mesh.triangles.size(); ++i) {
            for (std::size_t k = 0; k < 3; ++k) {
                indices[3 * i + k] = mesh.triangles[i][k];
            }
        }
        rtcCommitGeometry(geometry);
        rtcAttachGeometry(impl->scene, geometry);
        rtcReleaseGeometry(geometry);
    }
    rtcCommitScene(impl->scene);
    return std::unique_ptr<MeshTracer>(new MeshTracer(std::move(impl)));
}

namespace {

void setRay(RTCRay& ray, const Vector4f& o, const Vector4f& d, float tMin, float tMax) {
    ray.org_x = o.x;
    ray.org_y = o.y;
    ray.org_z = o.z;
    ray.dir_x = d.x;
    ray.dir_y = d.y;
    ray.dir_z = d.z;
    ray.tnear = tMin;
    ray.tfar = tMax;
    ray.time = 0.0f;
    ray.mask = std::numeric_limits<unsigned>::max();
    ray.id = 0;
    ray.flags = 0;
}

} // namespace

bool MeshTracer::intersect(const Vector4f& origin, const Vector4f& direction, float tMin,
                           float tMax, Hit& hit) const {
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRayHit rayHit;
    setRay(rayHit.ray, origin, direction, tMin, tMax);
    rayHit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rayHit.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(impl->scene, &context, &rayHit);
    // Embree's interval is closed at tnear; the host's is open.
    if (rayHit.hit.geomID == RTC_INVALID_GEOMETRY_ID || !(rayHit.ray.tfar > tMin)) {
        return false;
    }
    hit = {rayHit.ray.tfar, rayHit.hit.geomID, rayHit.hit.primID, rayHit.hit.u, rayHit.hit.v};
    return true;
}

bool MeshTracer::occluded(const Vector4f& origin, const Vector4f& direction, float tMin,
                          float tMax) const {
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRay ray;
    setRay(ray, origin, direction, tMin, tMax);
    rtcOccluded1(impl->scene, &context, &ray);
    // A blocked ray has tfar set to -inf.
    return ray.tfar < 0.0f;
}

} // namespace uvwhost
