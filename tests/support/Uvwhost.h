// Runs uvwhost in-process against the built library, with its streams captured.
#pragma once

#include "uvwhost/Commands.h"
#include "uvwhost/JsonValues.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <set>
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
};

inline Run run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--lib", UVWGENS_MODULE_PATH});
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status = runCommandLine(args, {in, out, err, false});
    return {status, out.str(), err.str()};
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
    // Empties the directory.
    void clear() const {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    // The names of what the directory holds.
    std::set<std::string> names() const {
        std::set<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            result.insert(entry.path().filename().string());
        }
        return result;
    }
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

// A command line and what it must give back (the case files of tests/uvwhost/cases, or built
// in code where the input is generated). In every text "$DIR/" stands for the case's own empty
// directory, "$EXAMPLES/" for the example scenes, "$CASES/" for the case files' folder, "$LIB"
// for the plugin library and "$HOST_LIB" for a library without the plugin entry.
struct Case {
    std::string where;                            // "file:line name", named by every failure
    std::vector<std::vector<std::string>> before; // run first, each must succeed
    std::vector<std::string> args;
    std::string input;                                      // stdin
    std::vector<std::pair<std::string, std::string>> files; // name, text: written into $DIR first
    int status = 0;
    // A stream with neither an exact text nor texts it has must be empty.
    std::optional<std::string> out, err;
    std::vector<std::string> outHas, errHas;
    // Pixels of images in $DIR, their first channels each within 1e-4.
    struct Pixel {
        std::string file;
        int x, y;
        std::vector<float> values;
    };
    std::vector<Pixel> pixels;
};

// Runs `c` in `dir` (emptied first) and checks everything it expects, and what holds for every
// command: echoed input is escaped and cut, and a refused command (status 2) wrote nothing.
inline void check(const Case& c, const TempDir& dir) {
    SCOPED_TRACE(c.where);
    dir.clear();
    const auto expand = [&](std::string text) {
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"$DIR/", dir.file("")},
                                       {"$EXAMPLES/", std::string(UVWHOST_EXAMPLES_DIR) + "/"},
                                       {"$CASES/", std::string(UVWHOST_CASES_DIR) + "/"},
                                       {"$LIB", UVWGENS_MODULE_PATH},
                                       {"$HOST_LIB", KIVO_HOST_PATH}}) {
            for (auto at = text.find(from); at != std::string::npos;
                 at = text.find(from, at + to.size())) {
                text.replace(at, from.size(), to);
            }
        }
        return text;
    };
    std::set<std::string> inputs;
    for (const auto& [name, text] : c.files) {
        dir.write(name, expand(text));
        inputs.insert(name);
    }
    const auto runExpanded = [&](const std::vector<std::string>& line, const std::string& input) {
        std::vector<std::string> args;
        for (const std::string& a : line) {
            args.push_back(expand(a));
        }
        return run(args, expand(input));
    };
    for (const auto& line : c.before) {
        const Run r = runExpanded(line, "");
        EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    }
    const Run r = runExpanded(c.args, c.input);
    EXPECT_EQ(r.status, c.status) << r.err.substr(0, 2000);
    const auto expectStream = [&](const char* name, const std::string& text,
                                  const std::optional<std::string>& exact,
                                  const std::vector<std::string>& has) {
        if (exact || has.empty()) {
            EXPECT_EQ(text, expand(exact.value_or(""))) << name;
        }
        for (const std::string& part : has) {
            EXPECT_NE(text.find(expand(part)), std::string::npos)
                << name << " has no " << part << ":\n"
                << text.substr(0, 2000);
        }
    };
    expectStream("stdout", r.out, c.out, c.outHas);
    expectStream("stderr", r.err, c.err, c.errHas);
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    EXPECT_LT(r.err.size(), 4000u);
    if (c.status == EXIT_BAD_INPUT) {
        EXPECT_EQ(dir.names(), inputs);
    }
#if defined(UVWHOST_HAVE_ASSETS)
    for (const Case::Pixel& p : c.pixels) {
        auto in = OIIO::ImageInput::open(dir.file(p.file));
        ASSERT_TRUE(in) << p.file;
        const OIIO::ImageSpec& spec = in->spec();
        ASSERT_TRUE(std::min(p.x, p.y) >= 0 && p.x < spec.width && p.y < spec.height) << p.file;
        const std::size_t n = p.values.size();
        std::vector<float> image(std::size_t(spec.width * spec.height) * n);
        ASSERT_TRUE(in->read_image(0, 0, 0, int(n), OIIO::TypeDesc::FLOAT, image.data()));
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_NEAR(image[std::size_t(p.y * spec.width + p.x) * n + k], p.values[k], 1e-4f)
                << p.file << " (" << p.x << ", " << p.y << ") channel " << k;
        }
    }
#endif
}

} // namespace uvwhost::test
