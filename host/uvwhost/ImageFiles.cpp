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

#if defined(UVWHOST_HAVE_LIBPNG)
#include <png.h>
#else
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#endif

#if defined(UVWHOST_HAVE_OPENEXR)
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#endif

namespace uvwhost {

namespace {

std::uint8_t toSRGB(float linear) {
    const float c = std::clamp(std::isfinite(linear) ? linear : 0.0f, 0.0f, 1.0f);
    const float s = c <= 0.0031308f ? 12.92f * c : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
    return static_cast<std::uint8_t>(std::lround(s * 255.0f));
}

} // namespace

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
    std::vector<std::uint8_t> rows(std::size_t(image.width) * std::size_t(image.height) * 3);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = toSRGB(image.rgb[i]);
    }
#if !defined(UVWHOST_HAVE_LIBPNG)
    // stb's writer (builds where libpng does not): same pixels, its own compression.
    const auto write = [](void* context, void* data, int size) {
        std::fwrite(data, 1, std::size_t(size), static_cast<FILE*>(context));
    };
    if (!stbi_write_png_to_func(write, file.get(), image.width, image.height, 3, rows.data(),
                                image.width * 3) ||
        std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        return "cannot write " + path + ": write error";
    }
    return {};
#else
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return "cannot write " + path + ": out of memory";
    }
    std::vector<png_bytep> pointers(std::size_t(image.height));
    for (int y = 0; y < image.height; ++y) {
        pointers[std::size_t(y)] = rows.data() + std::size_t(y) * std::size_t(image.width) * 3;
    }
    // libpng reports errors by longjmp; nothing here owns resources across it but the
    // structures destroyed below.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return "cannot write " + path + ": write error";
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    // zlib's fastest level: the showcase is compressed in about 60% of the default level's
    // time (a serial step after the render threads), for a file about 15% larger.
    png_set_compression_level(png, 1);
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0) {
        return "cannot write " + path + ": write error";
    }
    return {};
#endif
}

std::string writeExr(int width, int height, const std::vector<float>& pixels, int channels,
                     const std::string& path) {
#if defined(UVWHOST_HAVE_OPENEXR)
    try {
        Imf::Header header(width, height);
        const char* names[3] = {"R", "G", "B"};
        const char* grey[1] = {"Y"};
        const char* const* used = channels == 1 ? grey : names;
        for (int k = 0; k < channels; ++k) {
            header.channels().insert(used[k], Imf::Channel(Imf::FLOAT));
        }
        Imf::OutputFile file(path.c_str(), header);
        Imf::FrameBuffer buffer;
        const std::size_t pixel = sizeof(float) * std::size_t(channels);
        for (int k = 0; k < channels; ++k) {
            buffer.insert(used[k],
                          Imf::Slice(Imf::FLOAT,
                                     reinterpret_cast<char*>(const_cast<float*>(pixels.data() + k)),
                                     pixel, pixel * std::size_t(width)));
        }
        file.setFrameBuffer(buffer);
        file.writePixels(height);
    } catch (const std::exception& e) {
        return "cannot write " + path + ": " + e.what();
    }
    return {};
#else
    (void)width, (void)height, (void)pixels, (void)channels;
    return "cannot write " + path + ": this uvwhost was built without OpenEXR";
#endif
}

} // namespace uvwhost
