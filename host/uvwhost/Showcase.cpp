#include "uvwhost/Showcase.h"

#include "uvwhost/Label.h"

#include <algorithm>

namespace uvwhost {

bool renderShowcase(Image& image,
                    const std::function<bool(const ShowcaseScene&, Image&, int)>& renderTile) {
    const auto& scenes = showcaseScenes();
    const int columns = 4;
    const int rows = (int(scenes.size()) + columns - 1) / columns;
    const int tileWidth = std::max(1, image.width / columns);
    const int tileHeight = std::max(1, image.height / rows);
    // Labels grow with the tile, at least one font pixel per image pixel.
    const int scale = std::max(1, tileWidth / 160);
    // One tile image for all: every render writes each of its pixels, and fresh pages for each
    // tile would cost more page faults than a tile's setup.
    Image tile(tileWidth, tileHeight);
    for (int i = 0; i < int(scenes.size()); ++i) {
        if (!renderTile(scenes[std::size_t(i)], tile, i)) {
            return false;
        }
        drawLabel(tile, 2 * scale, 2 * scale, scenes[std::size_t(i)].pluginType, scale);
        const int left = (i % columns) * tileWidth;
        const int top = (i / columns) * tileHeight;
        for (int y = 0; y < tileHeight && top + y < image.height; ++y) {
            for (int x = 0; x < tileWidth && left + x < image.width; ++x) {
                const std::size_t from =
                    (std::size_t(y) * std::size_t(tileWidth) + std::size_t(x)) * 3;
                const std::size_t to =
                    (std::size_t(top + y) * std::size_t(image.width) + std::size_t(left + x)) * 3;
                for (int k = 0; k < 3; ++k) {
                    image.rgb[to + std::size_t(k)] = tile.rgb[from + std::size_t(k)];
                    image.uvw[to + std::size_t(k)] = tile.uvw[from + std::size_t(k)];
                }
            }
        }
    }
    return true;
}

} // namespace uvwhost
