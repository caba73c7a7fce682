#include "uvwhost/ImageFiles.h"

#include <algorithm>
#include <cmath>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#if defined(UVWHOST_HAVE_ASSETS)
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#else
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#endif

namespace uvwhost {

namespace {

std::uint8_t toSRGB(float linear) {
    return static_cast<std::uint8_t>(std::lround(displayValue(linear) * 255.0f));
}

} // namespace

float displayValue(float linear) {
    const float c = std::clamp(std::isfinite(linear) ? linear : 0.0f, 0.0f, 1.0f);
    return c <= 0.0031308f ? 12.92f * c : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
}

std::string checkWritable(const std::string& path) {
    if (path == "-") {
        return {};
    }
    std::error_code ignored;
    const bool existed = std::filesystem::exists(path, ignored);
    // Opened for appending: an existing file keeps its contents.
    FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) {
        return "cannot write " + path + ": " + std::strerror(errno);
    }
    std::fclose(file);
    if (!existed) {
        std::filesystem::remove(path, ignored);
    }
    return {};
}

#if defined(UVWHOST_HAVE_ASSETS)
namespace {

// Writes `format` ("png", "openexr") through OpenImageIO into the file whatever its name, or
// into memory and then to standard output.
std::string writeImage(const std::string& path, const char* format, const OIIO::ImageSpec& header,
                       const void* pixels, OIIO::TypeDesc type) {
    const bool toStdout = path == "-";
    auto out = OIIO::ImageOutput::create(format);
    if (!out) {
        return "cannot write " + path + ": " + OIIO::geterror();
    }
    std::vector<unsigned char> memory;
    OIIO::Filesystem::IOVecOutput proxy(memory);
    if (toStdout && !out->set_ioproxy(&proxy)) {
        return "cannot write " + path + ": " + out->geterror();
    }
    if (!out->open(path, header) || !out->write_image(type, pixels) || !out->close()) {
        return "cannot write " + path + ": " + out->geterror();
    }
    if (toStdout && (std::fwrite(memory.data(), 1, memory.size(), stdout) != memory.size() ||
                     std::fflush(stdout) != 0)) {
        return "cannot write " + path + ": write error";
    }
    return {};
}

} // namespace
#endif

std::string writePNG(const Image& image, const std::string& path) {
    std::vector<std::uint8_t> rows(std::size_t(image.width) * std::size_t(image.height) * 3);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = toSRGB(image.rgb[i]);
    }
#if defined(UVWHOST_HAVE_ASSETS)
    OIIO::ImageSpec header(image.width, image.height, 3, OIIO::TypeDesc::UINT8);
    header.attribute("oiio:ColorSpace", "sRGB");
    // zlib's fastest level: the showcase is compressed in about half the default level's
    // time (a serial step after the render threads), for a larger file.
    header.attribute("png:compressionLevel", 1);
    return writeImage(path, "png", header, rows.data(), OIIO::TypeDesc::UINT8);
#else
    // stb's writer where OpenImageIO is not available.
    const bool toStdout = path == "-";
#if defined(_WIN32)
    if (toStdout) {
        _setmode(_fileno(stdout), _O_BINARY);
    }
#endif
    std::unique_ptr<FILE, int (*)(FILE*)> file(toStdout ? stdout : std::fopen(path.c_str(), "wb"),
                                               toStdout ? [](FILE*) { return 0; } : &std::fclose);
    if (!file) {
        return "cannot write " + path;
    }
    const auto write = [](void* context, void* data, int size) {
        std::fwrite(data, 1, std::size_t(size), static_cast<FILE*>(context));
    };
    if (!stbi_write_png_to_func(write, file.get(), image.width, image.height, 3, rows.data(),
                                image.width * 3) ||
        std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        return "cannot write " + path + ": write error";
    }
    return {};
#endif
}

std::string writeExr(int width, int height, const std::vector<float>& pixels, int channels,
                     const std::string& path) {
#if defined(UVWHOST_HAVE_ASSETS)
    OIIO::ImageSpec header(width, height, channels, OIIO::TypeDesc::FLOAT);
    if (channels == 1) {
        header.channelnames = {"Y"};
    }
    header.attribute("compression", "zip");
    return writeImage(path, "openexr", header, pixels.data(), OIIO::TypeDesc::FLOAT);
#else
    (void)width, (void)height, (void)pixels, (void)channels;
    return "cannot write " + path + ": this uvwhost was built without OpenEXR";
#endif
}

std::string writeRGBA(int width, int height, const std::vector<float>& rgba, ImageEncoding encoding,
                      const std::string& path) {
#if defined(UVWHOST_HAVE_ASSETS)
    if (encoding == ImageEncoding::Float) {
        OIIO::ImageSpec header(width, height, 4, OIIO::TypeDesc::FLOAT);
        header.attribute("compression", "zip");
        return writeImage(path, "openexr", header, rgba.data(), OIIO::TypeDesc::FLOAT);
    }
    const bool wide = encoding == ImageEncoding::PNG16;
    const OIIO::TypeDesc type = wide ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
    const float scale = wide ? 65535.0f : 255.0f;
    std::vector<std::uint16_t> values(rgba.size());
    for (std::size_t i = 0; i < rgba.size(); ++i) {
        // Colour sRGB-encoded, alpha linear.
        const float v = i % 4 == 3 ? std::clamp(std::isfinite(rgba[i]) ? rgba[i] : 0.0f, 0.0f, 1.0f)
                                   : displayValue(rgba[i]);
        values[i] = std::uint16_t(std::lround(v * scale));
    }
    std::vector<std::uint8_t> narrow(wide ? 0 : values.size());
    std::transform(values.begin(), values.begin() + std::ptrdiff_t(narrow.size()), narrow.begin(),
                   [](std::uint16_t v) { return std::uint8_t(v); });
    OIIO::ImageSpec header(width, height, 4, type);
    header.attribute("oiio:ColorSpace", "sRGB");
    // The colour of uncovered texels is kept as it is, not divided by their zero alpha.
    header.attribute("oiio:UnassociatedAlpha", 1);
    return writeImage(path, "png", header,
                      wide ? static_cast<const void*>(values.data()) : narrow.data(), type);
#else
    (void)width, (void)height, (void)rgba, (void)encoding;
    return "cannot write " + path + ": this uvwhost was built without OpenImageIO";
#endif
}

} // namespace uvwhost
