// Images through OpenImageIO.
#include "uvwhost/Assets.h"

#include <OpenImageIO/imageio.h>
#include <cmath>

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

} // namespace

Parsed<std::shared_ptr<const kivohost::MipImage>> loadImage(const std::string& path) {
    using Result = Parsed<std::shared_ptr<const kivohost::MipImage>>;
    if (std::string error = unreadableFile("image", path); !error.empty()) {
        return Result::failure(error);
    }
    auto in = OIIO::ImageInput::open(path);
    const std::string expected = "the image file \"" + path +
                                 "\": expected an image in a format uvwhost reads (JPEG, PNG, "
                                 "TIFF, OpenEXR, ...): ";
    if (!in) {
        return Result::failure(expected + OIIO::geterror());
    }
    const OIIO::ImageSpec& header = in->spec();
    const long long pixels = (long long)header.width * header.height;
    if (header.width < 1 || header.height < 1 || header.nchannels < 1 ||
        pixels > MAX_IMAGE_PIXELS) {
        return Result::failure("the image file \"" + path + "\": expected 1 to " +
                               std::to_string(MAX_IMAGE_PIXELS) + " pixels with channels, got " +
                               std::to_string(header.width) + "x" + std::to_string(header.height) +
                               " with " + std::to_string(header.nchannels) + " channels");
    }
    const int channels = header.nchannels;
    std::vector<float> raw(std::size_t(pixels) * std::size_t(channels));
    if (!in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, raw.data())) {
        return Result::failure("the image file \"" + path +
                               "\": cannot read its pixels: " + in->geterror());
    }
    const bool linear = isLinear(header);
    std::vector<float> rgba(std::size_t(pixels) * 4);
    for (std::size_t i = 0; i < std::size_t(pixels); ++i) {
        const float* p = &raw[i * std::size_t(channels)];
        const bool grey = channels < 3;
        float c[4] = {p[0], grey ? p[0] : p[1], grey ? p[0] : p[2], 1.0f};
        if (channels == 2 || channels >= 4) {
            c[3] = p[channels == 2 ? 1 : 3];
        }
        for (int k = 0; k < 3; ++k) {
            rgba[i * 4 + std::size_t(k)] = linear ? c[k] : srgbToLinear(c[k]);
        }
        rgba[i * 4 + 3] = c[3];
    }
    return std::shared_ptr<const kivohost::MipImage>(
        std::make_shared<kivohost::MipImage>(header.width, header.height, std::move(rgba)));
}

} // namespace uvwhost
