// The image-file module: reading and writing through OpenImageIO.
#include "uvwhost/assets/ImageCodec.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <cmath>
#include <cstdio>

namespace uvwhost {

namespace {

// Bound on the pixels of one image: 64 M pixels are 1 GB of linear RGBA floats.
constexpr long long MAX_IMAGE_PIXELS = 64LL << 20;

float srgbToLinear(float s) {
    return s <= 0.04045f ? s / 12.92f : std::pow((s + 0.055f) / 1.055f, 2.4f);
}

bool isLinear(const OIIO::ImageSpec& header) {
    const std::string space = header.get_string_attribute("oiio:ColorSpace");
    if (OIIO::Strutil::iequals(space, "sRGB")) {
        return false;
    }
    if (OIIO::Strutil::iequals(space, "Linear") || OIIO::Strutil::iequals(space, "scene_linear") ||
        OIIO::Strutil::iequals(space, "lin_srgb")) {
        return true;
    }
    // Unmarked: integer files hold display (sRGB) values, float files scene-linear ones.
    return header.format.is_floating_point();
}

std::string read(const std::string& path, DecodedImage& image) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        return "the image file \"" + path +
               "\": expected an image in a format uvwhost reads (JPEG, PNG, TIFF, OpenEXR, "
               "...): " +
               OIIO::geterror();
    }
    const OIIO::ImageSpec& header = in->spec();
    const long long pixels = (long long)header.width * header.height;
    if (header.width < 1 || header.height < 1 || header.nchannels < 1 ||
        pixels > MAX_IMAGE_PIXELS) {
        return "the image file \"" + path + "\": expected 1 to " +
               std::to_string(MAX_IMAGE_PIXELS) + " pixels with channels, got " +
               std::to_string(header.width) + "x" + std::to_string(header.height) + " with " +
               std::to_string(header.nchannels) + " channels";
    }
    const int channels = header.nchannels;
    std::vector<float> raw(std::size_t(pixels) * std::size_t(channels));
    if (!in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, raw.data())) {
        return "the image file \"" + path + "\": cannot read its pixels: " + in->geterror();
    }
    const bool linear = isLinear(header);
    image.width = header.width;
    image.height = header.height;
    image.rgba.assign(std::size_t(pixels) * 4, 0.0f);
    for (std::size_t i = 0; i < std::size_t(pixels); ++i) {
        const float* p = &raw[i * std::size_t(channels)];
        const bool grey = channels < 3;
        float c[4] = {p[0], grey ? p[0] : p[1], grey ? p[0] : p[2], 1.0f};
        if (channels == 2 || channels >= 4) {
            c[3] = p[channels == 2 ? 1 : 3];
        }
        for (int k = 0; k < 3; ++k) {
            image.rgba[i * 4 + std::size_t(k)] = linear ? c[k] : srgbToLinear(c[k]);
        }
        image.rgba[i * 4 + 3] = c[3];
    }
    return {};
}

// Writes into the file whatever its name, or into memory and then to standard output.
std::string write(const std::string& path, const EncodedImage& image) {
    const bool png = image.format == ImageFormat::PNG16;
    const OIIO::TypeDesc type = png ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::FLOAT;
    OIIO::ImageSpec header(image.width, image.height, image.channels, type);
    if (png) {
        header.attribute("oiio:ColorSpace", "sRGB");
        // The colour of uncovered texels is kept as it is, not divided by their zero alpha.
        header.attribute("oiio:UnassociatedAlpha", 1);
    } else {
        header.attribute("compression", "zip");
    }
    if (image.channels == 1) {
        header.channelnames = {"Y"};
    }
    const bool toStdout = path == "-";
    auto out = OIIO::ImageOutput::create(png ? "png" : "openexr");
    if (!out) {
        return "cannot write " + path + ": " + OIIO::geterror();
    }
    std::vector<unsigned char> memory;
    OIIO::Filesystem::IOVecOutput proxy(memory);
    if (toStdout && !out->set_ioproxy(&proxy)) {
        return "cannot write " + path + ": " + out->geterror();
    }
    if (!out->open(path, header) || !out->write_image(type, image.pixels) || !out->close()) {
        return "cannot write " + path + ": " + out->geterror();
    }
    if (toStdout && (std::fwrite(memory.data(), 1, memory.size(), stdout) != memory.size() ||
                     std::fflush(stdout) != 0)) {
        return "cannot write " + path + ": write error";
    }
    return {};
}

} // namespace

} // namespace uvwhost

extern "C" __attribute__((visibility("default"))) const uvwhost::ImageCodec* uvwhostImageCodec() {
    static const uvwhost::ImageCodec codec{&uvwhost::write, &uvwhost::read};
    return &codec;
}
