// `uvwhost render`: a scene file, or the built-in showcase of every plugin type, rendered
// through the library into a PNG (and optionally the UVW and the depth of each pixel into
// OpenEXR files).
#pragma once

#include "uvwhost/Catalog.h"
#include "uvwhost/Commands.h"
#include "uvwhost/Parsed.h"

#include <optional>
#include <string>
#include <vector>

namespace uvwhost {

struct RenderOptions {
    std::optional<std::string> scene;
    std::string output = "render.png";
    std::optional<int> width;
    std::optional<int> height;
    // Unset: one per hardware thread.
    std::optional<int> threads;
    std::optional<std::string> aovUVW;
    // One float channel: the distance from the camera centre per pixel.
    std::optional<std::string> aovDepth;
    // Empty: the scene's first camera.
    std::string camera;
    bool quiet = false;
};

Parsed<RenderOptions> readRenderOptions(const std::vector<std::string>& args);
int runRender(const RenderOptions& options, const Catalog& catalog, Streams streams);

} // namespace uvwhost
