#include "frame/GpuText.h"

#include <cstring>

namespace KUtils {

bool isMaterialDescriptor(const char* kind) {
    return kind && std::strcmp(kind, "MaterialDescriptor") == 0;
}

void writeTransformLine(ShaderSource& source, const char* keyword, const UVWTransform& tm) {
    source.append(keyword);
    source.printf("%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f\n", double(tm.c0.x), double(tm.c0.y),
                  double(tm.c0.z), double(tm.c1.x), double(tm.c1.y), double(tm.c1.z),
                  double(tm.c2.x), double(tm.c2.y), double(tm.c2.z), double(tm.o.x), double(tm.o.y),
                  double(tm.o.z));
}

} // namespace KUtils
