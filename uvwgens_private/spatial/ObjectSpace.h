// The shaded instance's mapping into the object's own space, asked for afresh at each use.
#pragma once

#include "kivo/ShadingContext.h"

namespace KUtils {

// Null when there is no shaded instance or it has no object-space mapping.
inline const ObjectSpaceInterface* objectSpaceOf(const ShadingContext& sc) {
    if (!sc.shadeInstance) {
        return nullptr;
    }
    return static_cast<const ObjectSpaceInterface*>(
        sc.shadeInstance->getInterface(EXT_OBJECT_SPACE));
}

} // namespace KUtils
