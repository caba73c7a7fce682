// Runs uvwhost in-process against the built library, with its streams captured.
#pragma once

#include "uvwhost/Commands.h"
#include "uvwhost/JsonValues.h"

#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

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

private:
    std::filesystem::path path;
};

// The plugin types of a full library, in enumeration order (the reverse of registration).
inline const std::vector<std::string>& allPluginTypes() {
    static const std::vector<std::string> names = {
        "UVWGenProjection", "TexMultiProjection", "UVWGenPlanarWorld", "UVWGenObject",
        "UVWGenExplicit",   "UVWGenEnvironment",  "UVWGenChannel",     "UVWGenOstrel"};
    return names;
}

} // namespace uvwhost::test
