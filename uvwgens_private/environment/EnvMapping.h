// Environment mapping as free functions: ray directions to UVW for the nine mapping types,
// the motion-blurred direction rotation, the ground projection of the lower hemisphere, the
// common UVW tail (transform, crop, wrap) and the screen-space mapping. All arithmetic is
// single precision unless a function says otherwise.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/Types.h"

namespace KUtils {

// Mapping numbers; the position of the name in the mapping_type table.
enum EnvMappingType : int {
    ENV_MAPPING_UNKNOWN = -1,
    ENV_MAPPING_ANGULAR = 0,
    ENV_MAPPING_CUBIC = 1,
    ENV_MAPPING_SPHERICAL = 2,
    ENV_MAPPING_MIRROR_BALL = 3,
    ENV_MAPPING_SCREEN = 4,
    ENV_MAPPING_MAX_SPHERICAL = 5,
    ENV_MAPPING_SPHERICAL_KIVO = 6,
    ENV_MAPPING_MAX_CYLINDRICAL = 7,
    ENV_MAPPING_MAX_SHRINK_WRAP = 8,
};

// The mapping number of a name, compared byte for byte; ENV_MAPPING_UNKNOWN for any other
// text and for null.
int findEnvMappingType(const char* name);

// The scene's up direction as a unit vector: the host's answer divided by its length, or
// (0, 0, 1) when there is no answer or the answer has no finite direction (zero, NaN, inf).
Vector4f upAxisFrom(const UpDirectionRecord* up);

// The finite ground disc the lower hemisphere is projected onto. position is relative to the
// scene origin, up is unit length, radius is the height of the projection centre above the
// ground plane.
struct GroundPlane {
    Vector4f position;
    Vector4f up;
    float radius = 0.0f;
};

// The direction seen from the lifted projection centre to where the ray from origin along d
// meets the ground plane, blended toward d near the horizon; d (normalised) when the ray does
// not go down to the plane.
Vector4f groundProject(const GroundPlane& ground, const Vector4f& rayOrigin, const Vector4f& d);

// (u, v, 0) of direction e for a mapping number. Screen and unknown types give (0, 1, 0).
Vector4f mapDirection(int type, const Vector4f& e);

// What one shading call maps every direction through: the rotation, the optional ground
// projection (null: off) and the mapping type.
struct DirectionPipeline {
    Matrix3x3f rotation;
    const GroundPlane* ground = nullptr;
    Vector4f rayOrigin;
    int type = ENV_MAPPING_UNKNOWN;
};

// (u, v, 0) of direction d through the pipeline: ground projection in scene space, then the
// rotation, then the mapping.
Vector4f mapThroughPipeline(const DirectionPipeline& pipeline, const Vector4f& d);

// out[0] maps d, out[1..4] map d - dDdx, d + dDdx, d - dDdy, d + dDdy, each bit for bit as
// mapThroughPipeline would; the four offsets share the rotation and normalisation work.
void mapDifferentials(const DirectionPipeline& pipeline, const Vector4f& d, const Vector4f& dDdx,
                      const Vector4f& dDdy, Vector4f out[5]);

// Per-coordinate settings of the UVW tail.
struct UVWTail {
    UVWTransform transform;
    const int* wrapMode = nullptr; // three entries: 1 wrap, 2 mirror tile, other: none
    const int* cropFlag = nullptr; // three entries: nonzero crops to [0, 1]
};

// Applies the transform, then per coordinate the crop test (on the unwrapped value) and the
// wrap; the fourth lane becomes w. Returns 1, or 0 when a crop test fails (uvw is written in
// both cases).
int finishUVW(const UVWTail& tail, Vector4f& uvw);

// True for the types whose u jumps by 1 across a seam (2, 5, 6).
bool hasUSeam(int type);

// pu moved by a whole period so that it lies nearest mu (ties keep pu).
float seamCorrected(float mu, float pu);

// The screen frame of a shading point: the position differentials along screen x and y and
// the frame's third axis.
struct ScreenFrame {
    Vector4f dPdx;
    Vector4f dPdy;
    Vector4f axis;
    int width = 1;
    int height = 1;
};

// The local map from a point offset to screen UVW, passed through the UVW transform: the
// inverse of the frame (columns dPdx, -dPdy, axis; in double, zero when singular) scaled to
// image units, with the screen uvw as offset. Columns are scaled by duvwScale when it is not
// 1.
UVWTransform screenTransform(const UVWTransform& uvwTransform, const ScreenFrame& frame,
                             const Vector4f& screenUvw, float duvwScale);

} // namespace KUtils
