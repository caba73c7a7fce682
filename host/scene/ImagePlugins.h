// Images in rendered scenes. The host reads a file into linear RGBA floats (the decoding lives
// in uvwhost) and hands the pixels to a BitmapBuffer before the render; plugins then see:
//   BitmapBuffer  "file": the image; answers EXT_BITMAP_SIZE with its pixel size, which is
//                 what a camera projection's fit to the bitmap reads;
//   TexBitmap     the image of its "bitmap" looked up at the UVW of its "uvwgen" (u right, v up,
//                 (0, 0) the bottom left corner), filtered over the UVW derivatives' footprint
//                 through a mip pyramid; "tile" repeats the image beyond [0, 1), else the
//                 "default_color" is seen there.
#pragma once

#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"

#include <memory>
#include <string>
#include <vector>

namespace kivohost {

inline constexpr KUtils::InterfaceID BITMAP_BUFFER_ID = 0x7F4B0005;
inline constexpr KUtils::InterfaceID TEX_BITMAP_ID = 0x7F4B0006;

// Linear RGBA pixels, rows from the top, with box-filtered levels down to 1x1.
class MipImage {
public:
    // rgba holds width * height * 4 floats; width and height are at least 1.
    MipImage(int width, int height, std::vector<float> rgba);

    int width() const { return levels.front().width; }
    int height() const { return levels.front().height; }
    // The full-size image: linear RGBA, rows from the top.
    const std::vector<float>& pixels() const { return levels.front().rgba; }
    // The colour at (u, v) averaged over a footprint `width` UV units across (0: one pixel of
    // the full image); outside [0, 1) it repeats when `tile`, else `outside` is returned.
    KUtils::AColor lookup(float u, float v, float footprint, bool tile,
                          const KUtils::AColor& outside) const;

private:
    struct Level {
        int width, height;
        std::vector<float> rgba;
    };
    KUtils::AColor bilinear(const Level& level, float u, float v, bool tile) const;
    std::vector<Level> levels;
};

class BitmapBuffer final : public KUtils::KivoPlugin, public KUtils::BitmapSizeInterface {
public:
    explicit BitmapBuffer(KUtils::KivoPluginDesc* desc);

    KUtils::PluginInterface* getInterface(KUtils::InterfaceID id) override;
    KUtils::PluginBase* getPlugin() override { return this; }
    // 0 x 0 until pixels are set.
    void getSize(int& width, int& height) override;

    // The "file" parameter as set.
    std::string file();
    void setPixels(std::shared_ptr<const MipImage> image) { pixels = std::move(image); }
    const MipImage* image() const { return pixels.get(); }

private:
    std::shared_ptr<const MipImage> pixels;
};

// The descriptor of BitmapBuffer (a static object).
KUtils::KivoPluginDesc* bitmapBufferDesc();

} // namespace kivohost
