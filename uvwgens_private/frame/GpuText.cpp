#include "frame/GpuText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace KUtils {

bool isMaterialDescriptor(const char* kind) {
    return kind && std::strcmp(kind, "MaterialDescriptor") == 0;
}

double gpuValue(float value) {
    if (std::isnan(value)) {
        return 0.0;
    }
    return double(
        std::clamp(value, -std::numeric_limits<float>::max(), std::numeric_limits<float>::max()));
}

void writeTransformLine(ShaderSource& source, const char* keyword, const UVWTransform& tm) {
    source.append(keyword);
    source.printf("%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f\n", gpuValue(tm.c0.x), gpuValue(tm.c0.y),
                  gpuValue(tm.c0.z), gpuValue(tm.c1.x), gpuValue(tm.c1.y), gpuValue(tm.c1.z),
                  gpuValue(tm.c2.x), gpuValue(tm.c2.y), gpuValue(tm.c2.z), gpuValue(tm.o.x),
                  gpuValue(tm.o.y), gpuValue(tm.o.z));
}

} // namespace KUtils
