// The fixed-layout parameter block that the GPU code of a projection reads by id: 116 bytes,
// little-endian, 32-bit ints and floats.
#pragma once

#include "kivo/Types.h"

#include <array>
#include <cstdint>

namespace KUtils {

inline constexpr int PROJECTION_PARAM_BLOCK_SIZE = 116;

using ProjectionParamBlock = std::array<std::uint8_t, PROJECTION_PARAM_BLOCK_SIZE>;

struct ProjectionBlockValues {
    int type = 1;
    int fitType = 0;
    float filmGateW = 1.0f;
    float filmGateH = 1.0f;
    // A camera view supplies the matrix, translation, field of view and zoom; its third
    // column is stored negated (the view looks down -z).
    bool cameraView = false;
    int objectSpace = 0;
    float fov = 0.0f;
    Matrix3x3f matrix;
    Vector4f translation;
    float zoom = 1.0f;
};

// Offsets: 0 type, 4 fitType, 8 and 12 film gate, 16 camera view flag, 20 object space,
// 40 fov, 48 column 1, 64 column 0, 80 column 2, 96 translation (each three floats and a
// zero), 112 zoom; bytes 24..39 and 44..47 are zero.
ProjectionParamBlock packProjectionParamBlock(const ProjectionBlockValues& values);

} // namespace KUtils
