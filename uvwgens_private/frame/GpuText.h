// Conventions of the GPU description text: one keyword, a blank, the values, a line end.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/Types.h"

namespace KUtils {

// Coordinate sources of the "map_channel" line that are not mesh channels: the device code
// reads the shaded point in object space, or in world space.
inline constexpr int GPU_MAP_CHANNEL_OBJECT = -3;
inline constexpr int GPU_MAP_CHANNEL_WORLD = -5;

// Only this kind of request is answered, compared byte for byte.
bool isMaterialDescriptor(const char* kind);

// A float as the GPU text writes it with "%f": the device reads no "nan" or "inf", so a NaN
// is written as 0 and an infinity as the largest float of its sign.
double gpuValue(float value);

// "<keyword> c0.x,c0.y,c0.z,c1.x,c1.y,c1.z,c2.x,c2.y,c2.z,o.x,o.y,o.z\n" with "%f" values.
// keyword already ends in its blank, e.g. "uvw_transform ".
void writeTransformLine(ShaderSource& source, const char* keyword, const UVWTransform& tm);

} // namespace KUtils
