// Screen-space UVW of a pixel position, shared by the generators that map the image itself.
#pragma once

#include "kivo/Types.h"

namespace KUtils {

// (imageX / width, 1 - imageY / height, 0), divisions and subtraction in double. A zero size
// divides by zero here; each caller states what an empty image gives.
// Inline: built out of line, the returned vector goes through a stack slot whose reload
// stalls on store forwarding, which costs more than the arithmetic.
inline Vector4f screenUVW(float imageX, float imageY, int width, int height) {
    return {float(double(imageX) / double(width)), float(1.0 - double(imageY) / double(height)),
            0.0f, 0.0f};
}

} // namespace KUtils
