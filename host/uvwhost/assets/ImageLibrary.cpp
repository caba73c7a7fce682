// Images through the image-file module, loaded on first use from beside the SDK runtime
// (libkivo_host): a path of its own, not the program's run path, which sanitizer runtimes
// that intercept the loader do not consult. It stays loaded until the program ends.
#include "sdk/SharedModule.h"
#include "uvwhost/Assets.h"

#include <filesystem>

namespace uvwhost {

namespace {

struct LoadedCodec {
    const ImageCodec* codec = nullptr;
    std::string error; // why there is no codec
};

LoadedCodec loadCodec() {
    const std::string path = (std::filesystem::path(kivohost::runtimeFolder()) /
                              kivohost::moduleFileName("uvwhost_images"))
                                 .string();
    std::string why;
    void* module = kivohost::loadModule(path, why);
    if (!module) {
        return {nullptr, "the image-file module cannot be loaded: " + why};
    }
    auto* entry = reinterpret_cast<const ImageCodec* (*)()>(
        kivohost::moduleSymbol(module, "uvwhostImageCodec"));
    if (!entry) {
        return {nullptr, "the image-file module " + path + " has no uvwhostImageCodec"};
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
