// The built-in showcase: one small scene per plugin type (sphere, plane, box and background
// textured through that plugin), rendered as tiles of one image, each labelled with the
// plugin's name.
#pragma once

#include "uvwhost/Catalog.h"
#include "uvwhost/Commands.h"
#include "uvwhost/Renderer.h"

#include <functional>
#include <vector>

namespace uvwhost {

struct ShowcaseScene {
    const char* pluginType;
    const char* sceneJson;
};

// In the library's enumeration order.
const std::vector<ShowcaseScene>& showcaseScenes();

// Tiles in rows of four over the whole image. `renderTile` renders one scene into a tile
// image of the size given (it reports its own errors and returns false on one).
bool renderShowcase(
    Image& image,
    const std::function<bool(const ShowcaseScene& scene, Image& tile, int index)>& renderTile);

} // namespace uvwhost
