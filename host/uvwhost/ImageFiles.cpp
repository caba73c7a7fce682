#include "uvwhost/ImageFiles.h"

#include "uvwhost/Assets.h"

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

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace uvwhost {

namespace {

std::uint8_t toSRGB(float linear) {
    return static_cast<std::uint8_t>(std::lround(displayValue(linear) * 255.0f));
}

// 8-bit PNG through stb's writer, which every build has: writing a render's picture loads no
// image-file module. RGBA is stored as given (PNG alpha is never premultiplied).
std::string writePNG8(const std::string& path, int width, int height, int channels,
                      const std::uint8_t* pixels) {
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
    if (!stbi_write_png_to_func(write, file.get(), width, height, channels, pixels,
                                width * channels) ||
        std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        return "cannot write " + path + ": write error";
    }
    return {};
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

std::string writePNG(const Image& image, const std::string& path) {
    std::vector<std::uint8_t> rows(std::size_t(image.width) * std::size_t(image.height) * 3);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = toSRGB(image.rgb[i]);
    }
    return writePNG8(path, image.width, image.height, 3, rows.data());
}

std::string writeExr(int width, int height, const std::vector<float>& pixels, int channels,
                     const std::string& path) {
    return writeImageFile(path, {ImageFormat::OpenEXR, width, height, channels, pixels.data()});
}

std::string writeRGBA(int width, int height, const std::vector<float>& rgba, ImageEncoding encoding,
                      const std::string& path) {
    if (encoding == ImageEncoding::Float) {
        return writeImageFile(path, {ImageFormat::OpenEXR, width, height, 4, rgba.data()});
    }
    const bool wide = encoding == ImageEncoding::PNG16;
    const float scale = wide ? 65535.0f : 255.0f;
    std::vector<std::uint16_t> values(rgba.size());
    for (std::size_t i = 0; i < rgba.size(); ++i) {
        // Colour sRGB-encoded, alpha linear.
        const float v = i % 4 == 3 ? std::clamp(std::isfinite(rgba[i]) ? rgba[i] : 0.0f, 0.0f, 1.0f)
                                   : displayValue(rgba[i]);
        values[i] = std::uint16_t(std::lround(v * scale));
    }
    if (wide) {
        return writeImageFile(path, {ImageFormat::PNG16, width, height, 4, values.data()});
    }
    const std::vector<std::uint8_t> narrow(values.begin(), values.end());
    return writePNG8(path, width, height, 4, narrow.data());
}

} // namespace uvwhost
