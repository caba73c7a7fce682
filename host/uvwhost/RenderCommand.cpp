#include "uvwhost/RenderCommand.h"

#include "kivo/VectorMath.h"
#include "uvwhost/ImageFiles.h"
#include "uvwhost/Limits.h"
#include "uvwhost/Renderer.h"
#include "uvwhost/SceneFile.h"
#include "uvwhost/Showcase.h"

#include <algorithm>
#include <chrono>
#include <ostream>
#include <thread>

namespace uvwhost {

Parsed<int> positiveArgument(const std::string& option, const std::string& text, int limit) {
    const auto number = parseJson(text);
    auto value = number ? readCount(*number, option, limit) : Parsed<int>::failure("");
    if (!value) {
        return Parsed<int>::failure(option + ": expected an integer from 1 to " +
                                    std::to_string(limit) + ", got " + quoteInput(text, '\''));
    }
    return value;
}

Progress::Progress(std::ostream& err, bool enabled, std::string what)
    : err(err), enabled(enabled), what(std::move(what)), start(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    if (drawn) {
        err << "\r\033[K" << std::flush;
    }
}

void Progress::update(double fraction) {
    if (!enabled || std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
        return;
    }
    const int width = 40;
    const int filled = std::clamp(int(fraction * width), 0, width);
    err << "\r" << what << " [" << std::string(std::size_t(filled), '#')
        << std::string(std::size_t(width - filled), '.') << "] " << int(fraction * 100.0) << "%"
        << std::flush;
    drawn = true;
}

bool runFrame(const SceneDocument& doc, const Catalog& catalog, int threads,
              const std::string& cameraName, int width, int height, const std::string& command,
              Streams s, const FrameWork& work) {
    PluginSession session;
    std::string error = instantiateScenePlugins(doc, catalog, session);
    if (!error.empty()) {
        s.err << "uvwhost: " << command << ": " << error << "\n";
        return false;
    }
    auto built = RenderWorld::build(doc, session, width, height, cameraName);
    if (!built) {
        s.err << "uvwhost: " << command << ": " << built.error() << "\n";
        return false;
    }
    const RenderWorld& world = **built;
    FrameSettings frame = doc.frame;
    frame.imageWidth = width;
    frame.imageHeight = height;
    frame.threads = threads;
    // The camera's pixel aspect and overscan, unless the frame settings give their own.
    const CameraEntry& camera = world.cameraEntry();
    if (camera.pixelAspect != 1.0f) {
        frame.pixelAspect = camera.pixelAspect;
    }
    if (camera.overscan > 0.0f) {
        frame.overscanLeft = -camera.overscan * float(width);
        frame.overscanTop = -camera.overscan * float(height);
        frame.overscanWidth = (1.0f + 2.0f * camera.overscan) * float(width);
        frame.overscanHeight = (1.0f + 2.0f * camera.overscan) * float(height);
    }
    session.applyFrame(frame);
    world.camera().describe(session.render().frame);
    // The render's camera, handed to plugins through the sequence data as a renderer does.
    const std::unique_ptr<KUtils::KivoCamera, void (*)(KUtils::KivoCamera*)> renderCamera(
        KUtils::newDefaultCameraSampler(0, 0, nullptr), &KUtils::deleteDefaultCameraSampler);
    kivohost::RenderSession& render = session.render();
    renderCamera->initCamera(&render.renderer, render.sequence, render.frame);
    render.sequence.camera = renderCamera.get();
    render.sequence.cameraType = 0;
    // A moving camera blurs what its own projections see too.
    const bool moving =
        render.sequence.motionBlur && KUtils::dot3(camera.motion, camera.motion) > 0;
    render.sequence.cameraMotion = moving ? &world.cameraMotion() : nullptr;
    render.sequence.cameraMotionBlur = moving ? 1 : 0;
    session.prepareRender();
    session.beginFrame();
    const Parsed<int> started = work(world, session);
    if (!started) {
        s.err << "uvwhost: " << command << ": " << started.error() << "\n";
    } else if (*started < threads) {
        s.err << "uvwhost: " << command << ": could start only " << *started << " of " << threads
              << " threads; ran with " << std::max(*started, 1) << "\n";
    }
    session.endFrame();
    session.finishRender();
    render.sequence.camera = nullptr;
    render.sequence.cameraMotion = nullptr;
    for (const std::string& line : session.render().log.lines()) {
        s.err << line << (line.ends_with("\n") ? "" : "\n");
    }
    return bool(started);
}

namespace {

// Renders one scene document into `image` (its size overrides the document's).
bool renderDocument(const SceneDocument& doc, const Catalog& catalog, int threads,
                    const std::string& cameraName, Image& image, Streams s, Progress& progress,
                    double done, double share) {
    return runFrame(doc, catalog, threads, cameraName, image.width, image.height, "render", s,
                    [&](const RenderWorld& world, PluginSession& session) -> Parsed<int> {
                        return renderImage(
                            world, session.renderer(), threads, image,
                            [&](double fraction) { progress.update(done + share * fraction); });
                    });
}

} // namespace

Parsed<RenderOptions> readRenderOptions(const std::vector<std::string>& args) {
    RenderOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--quiet") {
            o.quiet = true;
            continue;
        }
        if (a != "--scene" && a != "-o" && a != "--width" && a != "--height" && a != "--threads" &&
            a != "--aov-uvw" && a != "--aov-depth" && a != "--camera") {
            return Parsed<RenderOptions>::failure("unexpected argument '" + a + "'");
        }
        if (i + 1 >= args.size()) {
            return Parsed<RenderOptions>::failure(a + ": expected a value after it");
        }
        const std::string& v = args[++i];
        if (a == "--scene") {
            o.scene = v;
        } else if (a == "-o") {
            o.output = v;
        } else if (a == "--aov-uvw") {
            o.aovUVW = v;
        } else if (a == "--aov-depth") {
            o.aovDepth = v;
        } else if (a == "--camera") {
            o.camera = v;
        } else {
            auto n = positiveArgument(a, v, a == "--threads" ? MAX_THREADS : MAX_IMAGE_SIDE);
            if (!n) {
                return Parsed<RenderOptions>::failure(n.error());
            }
            (a == "--width" ? o.width : a == "--height" ? o.height : o.threads) = *n;
        }
    }
    return o;
}

int runRender(const RenderOptions& o, const Catalog& catalog, Streams s) {
    const int threads =
        o.threads.value_or(std::clamp(int(std::thread::hardware_concurrency()), 1, MAX_THREADS));
    // Outputs that cannot be written are found before the render, not after it.
    for (const std::string* path :
         {&o.output, o.aovUVW ? &*o.aovUVW : nullptr, o.aovDepth ? &*o.aovDepth : nullptr}) {
        if (path) {
            if (std::string error = checkWritable(*path); !error.empty()) {
                s.err << "uvwhost: render: " << error << "\n";
                return EXIT_BAD_INPUT;
            }
        }
    }
    if (!o.camera.empty() && !o.scene) {
        s.err << "uvwhost: render: --camera: expected a --scene whose camera it names\n";
        return EXIT_BAD_INPUT;
    }
    std::optional<SceneDocument> doc;
    if (o.scene) {
        auto loaded = loadSceneDocument(*o.scene);
        if (!loaded) {
            s.err << "uvwhost: render: " << loaded.error() << "\n";
            return EXIT_BAD_INPUT;
        }
        doc = std::move(*loaded);
    }
    const int width = o.width.value_or(doc ? doc->width : 1280);
    const int height = o.height.value_or(doc ? doc->height : 640);
    Image image(width, height);
    Progress progress(s.err, s.errIsTerminal && !o.quiet, o.scene ? *o.scene : "showcase");
    bool rendered = false;
    if (doc) {
        rendered = renderDocument(*doc, catalog, threads, o.camera, image, s, progress, 0.0, 1.0);
    } else {
        // Every tile's scene is checked before the first is rendered.
        std::vector<SceneDocument> tiles;
        for (const ShowcaseScene& scene : showcaseScenes()) {
            auto parsed =
                parseSceneDocument(scene.sceneJson, std::string("showcase ") + scene.pluginType);
            if (!parsed) {
                s.err << "uvwhost: render: " << parsed.error() << "\n";
                return EXIT_BAD_INPUT;
            }
            tiles.push_back(std::move(*parsed));
        }
        const double share = 1.0 / double(tiles.size());
        rendered = renderShowcase(image, [&](const ShowcaseScene&, Image& tile, int index) {
            return renderDocument(tiles[std::size_t(index)], catalog, threads, {}, tile, s,
                                  progress, share * index, share);
        });
    }
    if (!rendered) {
        return EXIT_BAD_INPUT;
    }
    std::string error = writePNG(image, o.output);
    if (error.empty() && o.aovUVW) {
        error = writeExr(image.width, image.height, image.uvw, 3, *o.aovUVW);
    }
    if (error.empty() && o.aovDepth) {
        error = writeExr(image.width, image.height, image.depth, 1, *o.aovDepth);
    }
    if (!error.empty()) {
        s.err << "uvwhost: render: " << error << "\n";
        return EXIT_PARTIAL;
    }
    if (!o.quiet) {
        s.err << "uvwhost: wrote " << (o.output == "-" ? "the image to stdout" : o.output) << " ("
              << width << "x" << height << ")" << (o.aovUVW ? " and " + *o.aovUVW : std::string())
              << (o.aovDepth ? " and " + *o.aovDepth : std::string()) << "\n";
    }
    return EXIT_OK;
}

} // namespace uvwhost
