// Runs uvwhost in-process against the built library, with its streams captured.
#pragma once

#include "uvwhost/Commands.h"
#include "uvwhost/JsonValues.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#endif
#include <vector>
#if defined(UVWHOST_HAVE_ASSETS)
#include <OpenImageIO/imageio.h>
#endif

namespace uvwhost::test {

struct Run {
    int status = -1;
    std::string out;
    std::string err;

    // stdout as one JSON document.
    Json json() const { return Json::parse(out); }
    // stdout as JSON lines.
    std::vector<Json> lines() const {
        std::vector<Json> result;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            result.push_back(Json::parse(line));
        }
        return result;
    }
};

inline Run run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--lib", UVWGENS_MODULE_PATH});
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    Run r;
    r.status = runCommandLine(args, {in, out, err, false});
    r.out = out.str();
    r.err = err.str();
    return r;
}

// The built uvwhost program run as a user runs it (no --lib), its standard output read as
// bytes. The exit status is the program's own, or -1 when it did not exit normally.
inline Run runProgram(const std::string& args) {
    const std::string program = std::filesystem::path(UVWHOST_PATH).make_preferred().string();
#if defined(_WIN32)
    FILE* pipe = _popen((program + " " + args).c_str(), "rb");
#else
    FILE* pipe = popen((program + " " + args).c_str(), "r");
#endif
    Run r;
    if (!pipe) {
        return r;
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) {
        r.out.append(buffer, n);
    }
#if defined(_WIN32)
    r.status = _pclose(pipe);
#else
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return r;
}

// A directory of its own for one test process, removed with everything in it.
class TempDir {
public:
    TempDir()
        : path(std::filesystem::temp_directory_path() /
               ("uvwhost-test-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
    // Writes `text` into the file `name` and returns its path.
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }

private:
    std::filesystem::path path;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Renders the scene `text` (written to scene.json in `dir`) quietly on two threads.
inline Run renderScene(const TempDir& dir, const std::string& text,
                       std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"render",    "--scene", dir.write("scene.json", text),
                                     "--threads", "2",       "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
}

#if defined(UVWHOST_HAVE_ASSETS)
// The pixels of an image file as floats, `channels` a pixel; its width into `width`.
inline std::vector<float> readPixels(const std::string& path, int channels, int* width = nullptr) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        return {};
    }
    if (width) {
        *width = in->spec().width;
    }
    std::vector<float> pixels(std::size_t(in->spec().width * in->spec().height * channels));
    in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, pixels.data());
    return pixels;
}
#endif

// The plugin types of a full library, in enumeration order (the reverse of registration).
inline const std::vector<std::string>& allPluginTypes() {
    static const std::vector<std::string> names = {
        "UVWGenProjection", "TexMultiProjection", "UVWGenPlanarWorld", "UVWGenObject",
        "UVWGenExplicit",   "UVWGenEnvironment",  "UVWGenChannel",     "UVWGenOstrel"};
    return names;
}

} // namespace uvwhost::test
