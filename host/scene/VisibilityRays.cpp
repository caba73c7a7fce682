#include "scene/VisibilityRays.h"

#include "kivo/VectorMath.h"

#include <cmath>

namespace kivohost {

using namespace KUtils;

float SceneGeometry::firstHit(const Vector4f& origin, const Vector4f& segment, float tStart,
                              float tEnd) const {
    const float lo = tStart + margin, hi = tEnd - margin;
    float best = -1.0f;
    auto consider = [&](float t) {
        if (t > lo && t < hi && (best < 0.0f || t < best)) {
            best = t;
        }
    };
    for (const Sphere& s : spheres) {
        // |origin + t segment - centre|^2 = radius^2
        const Vector4f d = origin - s.centre;
        const float a = dot3(segment, segment);
        const float b = 2.0f * dot3(d, segment);
        const float c = dot3(d, d) - s.radius * s.radius;
        const float disc = b * b - 4.0f * a * c;
        if (a == 0.0f || disc < 0.0f) {
            continue;
        }
        const float root = std::sqrt(disc);
        consider((-b - root) / (2.0f * a));
        consider((-b + root) / (2.0f * a));
    }
    for (const Plane& p : planes) {
        const float along = dot3(p.normal, segment);
        if (along != 0.0f) {
            consider((p.offset - dot3(p.normal, origin)) / along);
        }
    }
    return best;
}

bool SceneGeometry::blocks(const Vector4f& origin, const Vector4f& segment, float tStart,
                           float tEnd) const {
    return firstHit(origin, segment, tStart, tEnd) >= 0.0f ||
           (blocker && blocker->blocks(origin, segment, tStart + margin, tEnd - margin));
}

KivoRayContext* TracingShadingContext::newRayContext(int kind, const AColor& weight, int depth,
                                                     const Vector4f* direction) const {
    ++record.requests;
    record.kind = kind;
    record.weight = weight;
    record.depth = depth;
    record.directionArg = direction;
    ray.context = this;
    ray.owner = &ray;
    return &ray;
}

int TracingShadingContext::Ray::traceRay(KivoRayContext& traced, KivoHitRecord& hit, int flags) {
    RayRecord& r = context->record;
    ++r.traces;
    r.origin = traced.origin;
    r.segment = traced.segment;
    r.direction = traced.direction;
    r.tStart = traced.tStart;
    r.tEnd = traced.tEnd;
    r.hit = hit;
    r.flags = flags;
    const SceneGeometry* geometry = context->geometry;
    r.result =
        geometry && geometry->blocks(traced.origin, traced.segment, traced.tStart, traced.tEnd) ? 1
                                                                                                : 0;
    return r.result;
}

void TracingShadingContext::Ray::releaseRay() {
    ++context->record.releases;
}

} // namespace kivohost
