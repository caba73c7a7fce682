// `uvwhost render`: a scene file, or the built-in showcase of every plugin type, rendered
// through the library into a PNG (and optionally the UVW and the depth of each pixel into
// OpenEXR files).
#pragma once

#include "uvwhost/Catalog.h"
#include "uvwhost/Commands.h"
#include "uvwhost/Parsed.h"
#include "uvwhost/Renderer.h"

#include <chrono>
#include <functional>
#include <iosfwd>
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

// A count option's value, from 1 to `limit`; the error names the option.
Parsed<int> positiveArgument(const std::string& option, const std::string& text, int limit);

// A progress bar on the terminal, drawn once the work has run for about a second.
class Progress {
public:
    Progress(std::ostream& err, bool enabled, std::string what);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void update(double fraction);

private:
    std::ostream& err;
    bool enabled;
    std::string what;
    std::chrono::steady_clock::time_point start;
    bool drawn = false;
};

// Work inside a frame: gives the number of threads it could start, or an error.
using FrameWork = std::function<Parsed<int>(const RenderWorld&, PluginSession&)>;

// Creates the document's instances in a fresh session, builds its world for an image of that
// size seen from `cameraName` (empty: the first camera), and runs `work` inside one frame, the
// instances driven as a renderer drives them. Errors and the plugins' log go to s.err as
// "uvwhost: <command>: ..."; false when the work did not run or failed.
bool runFrame(const SceneDocument& doc, const Catalog& catalog, int threads,
              const std::string& cameraName, int width, int height, const std::string& command,
              Streams s, const FrameWork& work);

Parsed<RenderOptions> readRenderOptions(const std::vector<std::string>& args);
int runRender(const RenderOptions& options, const Catalog& catalog, Streams streams);

} // namespace uvwhost
