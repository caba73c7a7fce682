// What the image-file module (libuvwhost_images, OpenImageIO behind it) offers uvwhost. The
// module is loaded on the first image read or written: OpenImageIO brings some 250 shared
// libraries, whose loading costs every start of the program about 0.2 s, and most commands
// (list, params, eval, a PNG render) read and write no image through it.
#pragma once

#include <string>
#include <vector>

namespace uvwhost {

// Linear RGBA, four floats a pixel, rows from the top.
struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;
};

// What the module writes. 8-bit PNG needs no module: uvwhost writes it itself.
enum class ImageFormat {
    PNG16,  // 16-bit colour sRGB-encoded, alpha linear and not premultiplied
    OpenEXR // float, zip-compressed
};

// Pixels already encoded as the file stores them, channels interleaved, rows from the top.
struct EncodedImage {
    ImageFormat format = ImageFormat::OpenEXR;
    int width = 0;
    int height = 0;
    int channels = 0; // 3: R, G, B; 4: R, G, B, A; 1: Y
    const void* pixels = nullptr;
};

struct ImageCodec {
    // Empty on success, else the reason naming the file; "-" writes to standard output.
    std::string (*write)(const std::string& path, const EncodedImage& image);
    // Empty on success, else the reason naming the file and what was expected.
    std::string (*read)(const std::string& path, DecodedImage& image);
};

} // namespace uvwhost

// The module's one export, looked up by this name.
extern "C" const uvwhost::ImageCodec* uvwhostImageCodec();
