// Writing rendered images: 8-bit sRGB PNG of the colour, float OpenEXR of the UVW and depth.
#pragma once

#include "uvwhost/Renderer.h"

#include <string>

namespace uvwhost {

// A linear value as an 8-bit display shows it: clamped to [0, 1] (non-finite values are 0) and
// sRGB-encoded.
float displayValue(float linear);
// An empty string when the file can be written (it is left as it was), else the reason. "-"
// is standard output.
std::string checkWritable(const std::string& path);
// Returns an empty string, else the reason naming the file. The path "-" writes to standard
// output.
std::string writePNG(const Image& image, const std::string& path);
// Float channels, `channels` floats a pixel, rows from the top: three are R, G, B (the UVW
// output: u, v, w), one is Y (the depth output).
std::string writeExr(int width, int height, const std::vector<float>& pixels, int channels,
                     const std::string& path);

enum class ImageEncoding { PNG8, PNG16, Float };
// Linear RGBA, four floats a pixel, rows from the top: PNG as sRGB colour with linear alpha
// (not premultiplied), or float OpenEXR.
std::string writeRGBA(int width, int height, const std::vector<float>& rgba, ImageEncoding encoding,
                      const std::string& path);

} // namespace uvwhost
