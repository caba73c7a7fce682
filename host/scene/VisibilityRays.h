// Visibility rays against simple host geometry (spheres and planes, and whatever a RayBlocker
// adds: the reference host's whole scene), and a shading context that hands them out. A ray tests
// the segment origin + t * segment for t between tStart and tEnd, less a small margin at both ends
// so that a ray leaving a surface or arriving at the camera does not hit what it starts or ends on.
#pragma once

#include "kivo/ShadingContext.h"

#include <vector>

namespace kivohost {

struct Sphere {
    KUtils::Vector4f centre;
    float radius = 1.0f;
};

// The points x with dot(normal, x) = offset.
struct Plane {
    KUtils::Vector4f normal{0.0f, 0.0f, 1.0f, 0.0f};
    float offset = 0.0f;
};

// Whatever else blocks visibility rays (a renderer's full scene).
class RayBlocker {
public:
    // Whether anything lies on origin + t * segment for t in (tMin, tMax).
    virtual bool blocks(const KUtils::Vector4f& origin, const KUtils::Vector4f& segment, float tMin,
                        float tMax) const = 0;

protected:
    ~RayBlocker() = default;
};

class SceneGeometry {
public:
    // The segment parameter of the first hit within (tStart, tEnd) less the margin, or a
    // negative value when nothing is hit.
    float firstHit(const KUtils::Vector4f& origin, const KUtils::Vector4f& segment, float tStart,
                   float tEnd) const;

    // Whether the spheres, the planes or the blocker lie within (tStart, tEnd) less the margin.
    bool blocks(const KUtils::Vector4f& origin, const KUtils::Vector4f& segment, float tStart,
                float tEnd) const;

    std::vector<Sphere> spheres;
    std::vector<Plane> planes;
    const RayBlocker* blocker = nullptr;
    // Margin in units of the segment parameter.
    float margin = 1e-4f;
};

// A shading context whose visibility rays trace against geometry (none: nothing is ever hit).
// It keeps one ray, handed out again after each release, and records what the plugin asked
// and set, for tests.
class TracingShadingContext : public KUtils::ShadingContext {
public:
    explicit TracingShadingContext(const SceneGeometry* geometry = nullptr) : geometry(geometry) {}

    KUtils::KivoRayContext* newRayContext(int kind, const KUtils::AColor& weight, int depth,
                                          const KUtils::Vector4f* direction) const override;

    struct RayRecord {
        int requests = 0;
        int traces = 0;
        int releases = 0;
        // Arguments of the last request.
        int kind = -1;
        KUtils::AColor weight;
        int depth = -1;
        const KUtils::Vector4f* directionArg = nullptr;
        // The ray and hit record as the last trace received them, and its result.
        KUtils::Vector4f origin, segment, direction;
        float tStart = 0.0f, tEnd = 0.0f;
        KUtils::KivoHitRecord hit{};
        int flags = -1;
        int result = 0;
    };
    const RayRecord& rays() const { return record; }

    const SceneGeometry* geometry;

private:
    class Ray final : public KUtils::KivoRayContext, public KUtils::KivoRayOwner {
    public:
        int traceRay(KUtils::KivoRayContext& ray, KUtils::KivoHitRecord& hit, int flags) override;
        void releaseRay() override;
        const TracingShadingContext* context = nullptr;
    };

    mutable Ray ray;
    mutable RayRecord record;
};

} // namespace kivohost
