// `uvwhost bake`: a texture of a scene evaluated over a mesh object's UV layout, as a renderer
// would shade each surface point, into an image: the object's UV set rasterised into texels
// (conservatively at triangle edges), supersampled, islands grown into the empty texels around
// them, the coverage (or the texture's alpha) in alpha.
#pragma once

#include "uvwhost/Catalog.h"
#include "uvwhost/Commands.h"
#include "uvwhost/Parsed.h"

#include <optional>
#include <string>
#include <vector>

namespace uvwhost {

struct BakeOptions {
    std::string scene;
    // The object's "name" in the scene file.
    std::string object;
    // The texture instance's name.
    std::string texture;
    // Map channel: 1 is the mesh's first UV set.
    int channel = 1;
    int width = 1024;
    int height = 1024;
    // Uncovered texels filled from the islands' edges, this many texels out.
    int padding = 4;
    // Samples per texel along each axis (the texel takes its square).
    int samples = 1;
    // Unset: one per hardware thread.
    std::optional<int> threads;
    // .png (8 bits unless `bits` is 16) or .exr (float).
    std::string output;
    int bits = 8;
    // Alpha: false the coverage (1 where a triangle overlaps the texel, else 0), true the
    // texture's own alpha where covered (0 elsewhere).
    bool textureAlpha = false;
    bool quiet = false;
};

Parsed<BakeOptions> readBakeOptions(const std::vector<std::string>& args);
int runBake(const BakeOptions& options, const Catalog& catalog, Streams streams);

} // namespace uvwhost
