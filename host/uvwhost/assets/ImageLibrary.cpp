// Images through the image-file module, loaded on first use. It lies beside the SDK runtime
// (libkivo_host), in a folder of the program's run path, so the name alone finds it; it stays
// loaded until the program ends.
#include "uvwhost/Assets.h"

#include <dlfcn.h>

namespace uvwhost {

namespace {

constexpr const char* MODULE_NAME = "libuvwhost_images.so";

struct LoadedCodec {
    const ImageCodec* codec = nullptr;
    std::string error; // why there is no codec
};

LoadedCodec loadCodec() {
    void* module = dlopen(MODULE_NAME, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        return {nullptr, std::string("the image-file module cannot be loaded: ") + dlerror()};
    }
    auto* entry = reinterpret_cast<const ImageCodec* (*)()>(dlsym(module, "uvwhostImageCodec"));
    if (!entry) {
        return {nullptr,
                std::string("the image-file module ") + MODULE_NAME + " has no uvwhostImageCodec"};
    }
    return {entry(), {}};
}

const LoadedCodec& imageCodec() {
    static const LoadedCodec loaded = loadCodec();
    return loaded;
}

} // namespace

Parsed<std::shared_ptr<const kivohost::MipImage>> loadImage(const std::string& path) {
    using Result = Parsed<std::shared_ptr<const kivohost::MipImage>>;
    if (std::string error = unreadableFile("image", path); !error.empty()) {
        return Result::failure(error);
    }
    const LoadedCodec& loaded = imageCodec();
    if (!loaded.codec) {
        return Result::failure("cannot read the image file \"" + path + "\": " + loaded.error);
    }
    DecodedImage image;
    if (std::string error = loaded.codec->read(path, image); !error.empty()) {
        return Result::failure(error);
    }
    return std::shared_ptr<const kivohost::MipImage>(
        std::make_shared<kivohost::MipImage>(image.width, image.height, std::move(image.rgba)));
}

std::string writeImageFile(const std::string& path, const EncodedImage& image) {
    const LoadedCodec& loaded = imageCodec();
    return loaded.codec ? loaded.codec->write(path, image)
                        : "cannot write " + path + ": " + loaded.error;
}

} // namespace uvwhost
