#include "uvwhost/BakeCommand.h"

#include "uvwhost/ImageFiles.h"
#include "uvwhost/Limits.h"
#include "uvwhost/RenderCommand.h"
#include "uvwhost/UVRaster.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <limits>
#include <ostream>
#include <thread>

namespace uvwhost {

namespace {

using KUtils::AColor;
using KUtils::Vector4f;

// Texels per side of the square tiles the threads take in turn.
constexpr int BAKE_TILE = 32;
// Dilation passes: each grows the islands by one texel.
constexpr int MAX_PADDING = 1024;

Parsed<int> countArgument(const std::string& option, const std::string& text, int low, int high) {
    const auto number = parseJson(text);
    if (!number || !number->is_number_integer() || *number < low || *number > high) {
        return Parsed<int>::failure(option + ": expected an integer from " + std::to_string(low) +
                                    " to " + std::to_string(high) + ", got " +
                                    quoteInput(text, '\''));
    }
    return number->get<int>();
}

std::string lowerExtension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// The baked texels: linear colour and alpha, and which texels a triangle covers.
struct Texels {
    Texels(int width, int height)
        : width(width), height(height), rgba(std::size_t(width) * std::size_t(height) * 4),
          covered(rgba.size() / 4) {}
    int width, height;
    std::vector<float> rgba;
    std::vector<std::uint8_t> covered;
};

// Grows the covered texels into the uncovered ones by `padding` texels: each pass gives every
// empty texel next to a filled one the mean colour of its filled neighbours (all eight), read
// from the previous pass, so the result does not depend on the visiting order. The grown
// texels keep alpha 0.
void dilate(Texels& t, int padding) {
    std::vector<std::uint8_t> filled = t.covered;
    for (int pass = 0; pass < padding; ++pass) {
        std::vector<std::uint8_t> next = filled;
        bool grew = false;
        for (int y = 0; y < t.height; ++y) {
            for (int x = 0; x < t.width; ++x) {
                const std::size_t at = std::size_t(y) * std::size_t(t.width) + std::size_t(x);
                if (filled[at]) {
                    continue;
                }
                float sum[3] = {0.0f, 0.0f, 0.0f};
                int n = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= t.width || ny >= t.height) {
                            continue;
                        }
                        const std::size_t from =
                            std::size_t(ny) * std::size_t(t.width) + std::size_t(nx);
                        if (filled[from]) {
                            for (int k = 0; k < 3; ++k) {
                                sum[k] += t.rgba[from * 4 + std::size_t(k)];
                            }
                            ++n;
                        }
                    }
                }
                if (n > 0) {
                    for (int k = 0; k < 3; ++k) {
                        t.rgba[at * 4 + std::size_t(k)] = sum[k] / float(n);
                    }
                    next[at] = 1;
                    grew = true;
                }
            }
        }
        // The colours read in this pass were only those filled before it.
        filled.swap(next);
        if (!grew) {
            break;
        }
    }
}

} // namespace

Parsed<BakeOptions> readBakeOptions(const std::vector<std::string>& args) {
    using Result = Parsed<BakeOptions>;
    BakeOptions o;
    bool hasScene = false, hasObject = false, hasTexture = false, hasOutput = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--quiet") {
            o.quiet = true;
            continue;
        }
        static const char* const valued[] = {"--scene", "--object",  "--texture", "--channel",
                                             "--size",  "--padding", "--samples", "--threads",
                                             "--bits",  "--alpha",   "-o"};
        if (std::none_of(std::begin(valued), std::end(valued),
                         [&](const char* name) { return a == name; })) {
            return Result::failure("unexpected argument '" + a + "'");
        }
        if (i + 1 >= args.size()) {
            return Result::failure(a + ": expected a value after it");
        }
        const std::string& v = args[++i];
        Parsed<int> n = 0;
        if (a == "--scene") {
            o.scene = v, hasScene = true;
        } else if (a == "--object") {
            o.object = v, hasObject = true;
        } else if (a == "--texture") {
            o.texture = v.starts_with("@") ? v.substr(1) : v, hasTexture = true;
        } else if (a == "-o") {
            o.output = v, hasOutput = true;
        } else if (a == "--size") {
            const std::size_t x = v.find('x');
            const std::string w = v.substr(0, x);
            const std::string h = x == std::string::npos ? w : v.substr(x + 1);
            auto width = positiveArgument(a, w, MAX_IMAGE_SIDE);
            auto height = positiveArgument(a, h, MAX_IMAGE_SIDE);
            if (!width || !height || w.empty() || h.empty()) {
                return Result::failure(a + ": expected W or WxH, each from 1 to " +
                                       std::to_string(MAX_IMAGE_SIDE) + ", got " +
                                       quoteInput(v, '\''));
            }
            o.width = *width;
            o.height = *height;
        } else if (a == "--alpha") {
            if (v != "coverage" && v != "texture") {
                return Result::failure(a + ": expected coverage or texture, got " +
                                       quoteInput(v, '\''));
            }
            o.textureAlpha = v == "texture";
        } else if (a == "--bits") {
            if (v != "8" && v != "16") {
                return Result::failure(a + ": expected 8 or 16, got " + quoteInput(v, '\''));
            }
            o.bits = v == "8" ? 8 : 16;
        } else if (a == "--padding") {
            n = countArgument(a, v, 0, MAX_PADDING);
            o.padding = n ? *n : 0;
        } else {
            n = positiveArgument(a, v,
                                 a == "--threads"   ? MAX_THREADS
                                 : a == "--samples" ? MAX_SAMPLES_PER_AXIS
                                                    : std::numeric_limits<int>::max());
            if (n && a == "--threads") {
                o.threads = *n;
            } else if (n) {
                (a == "--samples" ? o.samples : o.channel) = *n;
            }
        }
        if (!n) {
            return Result::failure(n.error());
        }
    }
    for (const auto& [given, name] :
         {std::pair{hasScene, "--scene FILE"}, std::pair{hasObject, "--object NAME"},
          std::pair{hasTexture, "--texture NAME"}, std::pair{hasOutput, "-o out.png|out.exr"}}) {
        if (!given) {
            return Result::failure(std::string("expected ") + name);
        }
    }
    const std::string ext = lowerExtension(o.output);
    if (ext != ".png" && ext != ".exr") {
        return Result::failure("-o: expected a file name ending in .png or .exr, got " +
                               quoteInput(o.output, '\''));
    }
    if (ext == ".exr" && o.bits != 8) {
        return Result::failure("--bits: OpenEXR output is always float; --bits is for PNG");
    }
    return o;
}

int runBake(const BakeOptions& o, const Catalog& catalog, Streams s) {
    auto fail = [&](const std::string& error) {
        s.err << "uvwhost: bake: " << error << "\n";
        return EXIT_BAD_INPUT;
    };
    if (std::string error = checkWritable(o.output); !error.empty()) {
        return fail(error);
    }
    auto doc = loadSceneDocument(o.scene);
    if (!doc) {
        return fail(doc.error());
    }
    std::vector<std::size_t> named;
    std::string names;
    for (std::size_t i = 0; i < doc->objects.size(); ++i) {
        const std::string& name = doc->objects[i].name;
        if (name == o.object) {
            named.push_back(i);
        }
        if (!name.empty()) {
            names += (names.empty() ? "" : ", ") + quoteInput(name);
        }
    }
    if (named.size() != 1) {
        return fail(doc->source + ": --object " + quoteInput(o.object) +
                    (named.empty() ? ": no object of that name; the named objects: " +
                                         (names.empty() ? std::string("none") : names)
                                   : ": more than one object has that name"));
    }
    const std::size_t objectIndex = named.front();
    if (!doc->objects[objectIndex].mesh) {
        return fail(doc->source + ": --object " + quoteInput(o.object) +
                    ": expected a mesh (only meshes have UV sets), got a shape");
    }
    const int threads =
        o.threads.value_or(std::clamp(int(std::thread::hardware_concurrency()), 1, MAX_THREADS));
    Texels texels(o.width, o.height);
    Progress progress(s.err, s.errIsTerminal && !o.quiet, "bake " + o.output);
    const bool baked = runFrame(
        *doc, catalog, threads, {}, doc->width, doc->height, "bake", s,
        [&](const RenderWorld& world, PluginSession& session) -> Parsed<int> {
            if (!session.find(o.texture)) {
                return Parsed<int>::failure(doc->source + ": --texture " + quoteInput(o.texture) +
                                            ": the scene has no instance of that name");
            }
            auto texture = findTexture(session, o.texture, doc->source + ": --texture");
            if (!texture) {
                return Parsed<int>::failure(texture.error());
            }
            const RenderObject& object = world.objects()[objectIndex];
            const kivohost::PlacedMesh& mesh = *object.mesh;
            if (std::size_t(o.channel) > mesh.channelCount()) {
                return Parsed<int>::failure(doc->source + ": --channel " +
                                            std::to_string(o.channel) + ": the object " +
                                            quoteInput(o.object) + " has map channels 1 to " +
                                            std::to_string(mesh.channelCount()));
            }
            const std::size_t set = std::size_t(o.channel - 1);
            const UVRaster raster(mesh.world().uvs[set], mesh.world().triangles, o.width, o.height);
            const int tilesX = (o.width + BAKE_TILE - 1) / BAKE_TILE;
            const int tiles = tilesX * ((o.height + BAKE_TILE - 1) / BAKE_TILE);
            std::atomic<int> next{0}, done{0};
            const int n = o.samples;
            auto work = [&](int threadIndex) {
                SurfaceShader shader(world, session.renderer(), threadIndex);
                SurfaceHit hit;
                hit.object = &object;
                for (int tile; (tile = next.fetch_add(1)) < tiles;) {
                    const int x0 = tile % tilesX * BAKE_TILE, y0 = tile / tilesX * BAKE_TILE;
                    for (int y = y0; y < std::min(y0 + BAKE_TILE, o.height); ++y) {
                        for (int x = x0; x < std::min(x0 + BAKE_TILE, o.width); ++x) {
                            float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
                            bool covered = true;
                            for (int k = 0; k < n * n && covered; ++k) {
                                const double sx = x + (k % n + 0.5) / n;
                                const double sy = y + (k / n + 0.5) / n;
                                const auto spot = raster.find(x, y, sx, sy);
                                covered = spot.has_value();
                                if (!covered) {
                                    break;
                                }
                                const auto surface =
                                    mesh.surface(spot->triangle, spot->b1, spot->b2);
                                hit.mesh = {0.0f, 0, spot->triangle, spot->b1, spot->b2};
                                hit.shape.point = surface.point;
                                hit.shape.normal = surface.normal;
                                hit.faceNormal = surface.faceNormal;
                                // The texel footprint through the triangle's UV Jacobian: x runs
                                // along +u, y (rows down) along -v.
                                Vector4f uvw, basis[3];
                                mesh.channel(spot->triangle, spot->b1, spot->b2, set, uvw, basis);
                                const AColor c =
                                    shader.evaluate(**texture, hit, float(sx), float(sy),
                                                    basis[0] * (1.0f / float(o.width)),
                                                    basis[1] * (-1.0f / float(o.height)));
                                sum[0] += c.r;
                                sum[1] += c.g;
                                sum[2] += c.b;
                                sum[3] += c.a;
                            }
                            const std::size_t at =
                                (std::size_t(y) * std::size_t(o.width) + std::size_t(x)) * 4;
                            if (!o.textureAlpha) {
                                sum[3] = float(n * n);
                            }
                            for (int k = 0; k < 4; ++k) {
                                texels.rgba[at + std::size_t(k)] =
                                    covered ? sum[k] / float(n * n) : 0.0f;
                            }
                            texels.covered[at / 4] = covered ? 1 : 0;
                        }
                    }
                    done.fetch_add(1);
                }
            };
            return runOnThreads(
                threads, work, [&] { return double(done.load()) / tiles; },
                [&](double fraction) { progress.update(fraction); });
        });
    if (!baked) {
        return EXIT_BAD_INPUT;
    }
    dilate(texels, o.padding);
    const ImageEncoding encoding = lowerExtension(o.output) == ".exr" ? ImageEncoding::Float
                                   : o.bits == 16                     ? ImageEncoding::PNG16
                                                                      : ImageEncoding::PNG8;
    if (std::string error = writeRGBA(o.width, o.height, texels.rgba, encoding, o.output);
        !error.empty()) {
        s.err << "uvwhost: bake: " << error << "\n";
        return EXIT_PARTIAL;
    }
    if (!o.quiet) {
        const auto covered = std::count(texels.covered.begin(), texels.covered.end(), 1);
        s.err << "uvwhost: wrote " << o.output << " (" << o.width << "x" << o.height << ", "
              << covered << " texels covered)\n";
    }
    return EXIT_OK;
}

} // namespace uvwhost
