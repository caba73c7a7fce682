#include "scene/ImagePlugins.h"

#include "kivo/FloatMath.h"
#include "kivo/PluginDescriptor.h"

#include <algorithm>
#include <cmath>

namespace kivohost {

using namespace KUtils;

MipImage::MipImage(int width, int height, std::vector<float> rgba) {
    levels.push_back({width, height, std::move(rgba)});
    // Each level halves the previous one (rounding up), averaging up to 2x2 pixels.
    while (levels.back().width > 1 || levels.back().height > 1) {
        const Level& fine = levels.back();
        Level coarse{(fine.width + 1) / 2, (fine.height + 1) / 2, {}};
        coarse.rgba.resize(std::size_t(coarse.width) * std::size_t(coarse.height) * 4);
        for (int y = 0; y < coarse.height; ++y) {
            for (int x = 0; x < coarse.width; ++x) {
                const int x0 = 2 * x, x1 = std::min(2 * x + 1, fine.width - 1);
                const int y0 = 2 * y, y1 = std::min(2 * y + 1, fine.height - 1);
                for (int c = 0; c < 4; ++c) {
                    auto at = [&](int px, int py) {
                        return fine
                            .rgba[(std::size_t(py) * std::size_t(fine.width) + std::size_t(px)) *
                                      4 +
                                  std::size_t(c)];
                    };
                    coarse.rgba[(std::size_t(y) * std::size_t(coarse.width) + std::size_t(x)) * 4 +
                                std::size_t(c)] =
                        0.25f * (at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1));
                }
            }
        }
        levels.push_back(std::move(coarse));
    }
}

AColor MipImage::bilinear(const Level& level, float u, float v, bool tile) const {
    // Pixel centres at (i + 0.5) / width; v up, rows from the top.
    const float fx = u * float(level.width) - 0.5f;
    const float fy = (1.0f - v) * float(level.height) - 0.5f;
    const float x0f = truncFloor(fx), y0f = truncFloor(fy);
    const float ax = fx - x0f, ay = fy - y0f;
    auto wrap = [tile](float i, int n) {
        const float m =
            tile ? i - float(n) * truncFloor(i / float(n)) : std::clamp(i, 0.0f, float(n - 1));
        return std::clamp(int(m), 0, n - 1);
    };
    const int xs[2] = {wrap(x0f, level.width), wrap(x0f + 1.0f, level.width)};
    const int ys[2] = {wrap(y0f, level.height), wrap(y0f + 1.0f, level.height)};
    const float wx[2] = {1.0f - ax, ax}, wy[2] = {1.0f - ay, ay};
    float sum[4] = {0, 0, 0, 0};
    for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) {
            const float* p =
                &level.rgba[(std::size_t(ys[j]) * std::size_t(level.width) + std::size_t(xs[i])) *
                            4];
            for (int c = 0; c < 4; ++c) {
                sum[c] += wx[i] * wy[j] * p[c];
            }
        }
    }
    return {sum[0], sum[1], sum[2], sum[3]};
}

AColor MipImage::lookup(float u, float v, float footprint, bool tile, const AColor& outside) const {
    if (!std::isfinite(u) || !std::isfinite(v) ||
        (!tile && (u < 0.0f || u >= 1.0f || v < 0.0f || v >= 1.0f))) {
        return outside;
    }
    if (tile) {
        // Into [0, 1) first, so that far-away tiles keep their float precision.
        u -= truncFloor(u);
        v -= truncFloor(v);
    }
    // The level whose pixels are about as wide as the footprint, blended with the next.
    const float pixels =
        std::isfinite(footprint) ? footprint * float(std::max(width(), height())) : float(1 << 30);
    const float lod = pixels > 1.0f ? std::min(std::log2(pixels), float(levels.size() - 1)) : 0.0f;
    const int fine = int(lod);
    const float blend = lod - float(fine);
    const AColor a = bilinear(levels[std::size_t(fine)], u, v, tile);
    if (blend <= 0.0f || std::size_t(fine) + 1 >= levels.size()) {
        return a;
    }
    const AColor b = bilinear(levels[std::size_t(fine) + 1], u, v, tile);
    const float g = 1.0f - blend;
    return {a.r * g + b.r * blend, a.g * g + b.g * blend, a.b * g + b.b * blend,
            a.a * g + b.a * blend};
}

BitmapBuffer::BitmapBuffer(KivoPluginDesc* desc) : KivoPlugin(desc) {}

PluginInterface* BitmapBuffer::getInterface(InterfaceID id) {
    if (id == EXT_BITMAP_SIZE) {
        return static_cast<BitmapSizeInterface*>(this);
    }
    return KivoPlugin::getInterface(id);
}

void BitmapBuffer::getSize(int& width, int& height) {
    width = pixels ? pixels->width() : 0;
    height = pixels ? pixels->height() : 0;
}

std::string BitmapBuffer::file() {
    KivoParameterList* list = getParamList();
    KivoParameter* p = list ? list->getParam("file") : nullptr;
    const char* value = p ? p->getString(0, 0.0) : nullptr;
    return value ? value : "";
}

namespace {

inline constexpr InterfaceID BITMAP_BUFFER_INTERFACES[] = {EXT_KIVO_PLUGIN, EXT_BITMAP_SIZE, 0};

class BitmapBufferDesc final : public PluginDescOf<BitmapBuffer> {
public:
    BitmapBufferDesc()
        : PluginDescOf("BitmapBuffer", BITMAP_BUFFER_ID,
                       "An image file read into linear colour (JPEG, PNG, TIFF, OpenEXR)",
                       BITMAP_BUFFER_INTERFACES) {
        paramDescs().addParamString("file", "", -1,
                                    "Path of the image; relative paths start at the scene "
                                    "file's folder",
                                    "");
        publishParams();
    }
};

} // namespace

KivoPluginDesc* bitmapBufferDesc() {
    static BitmapBufferDesc desc;
    return &desc;
}

} // namespace kivohost
