// Writing rendered images: 8-bit sRGB PNG of the colour, float OpenEXR of the UVW.
#pragma once

#include "uvwhost/Renderer.h"

#include <string>

namespace uvwhost {

// Returns an empty string, else the reason naming the file.
std::string writePNG(const Image& image, const std::string& path);
// Three float channels R, G, B holding u, v, w.
std::string writeUVWExr(const Image& image, const std::string& path);

} // namespace uvwhost
