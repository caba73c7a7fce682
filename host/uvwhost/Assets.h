// Assets that scene files name: meshes and images read from files, and the ray casting over
// the meshes. Builds without the asset libraries (the Windows build) answer every load with
// an error that says so.
#pragma once

#include "kivo/Types.h"
#include "scene/ImagePlugins.h"
#include "scene/Mesh.h"
#include "uvwhost/Parsed.h"
#include "uvwhost/assets/ImageCodec.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace uvwhost {

// Empty when `path` names a regular file that opens, else "cannot read the <kind> file ...: why"
// (the libraries' own messages for a missing file do not say why; devices and pipes could be
// read without end).
inline std::string unreadableFile(const char* kind, const std::string& path) {
    const std::string what = std::string("cannot read the ") + kind + " file \"" + path + "\": ";
    if (!std::ifstream(path, std::ios::binary)) {
        return what + std::strerror(errno);
    }
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored) ? std::string()
                                                           : what + "expected a regular file";
}

// Triangulated, with smooth vertex normals where the file has none, node transforms applied,
// every part of the file in one mesh. Errors name the file and what was expected: a readable
// file in a supported format, with triangles and at least one UV set in every part.
Parsed<kivohost::TriangleMesh> loadMesh(const std::string& path);

// Linear RGBA: 8- and 16-bit files and files marked sRGB are decoded from sRGB, float and
// half files are taken as linear; one channel is grey, two are grey and alpha.
Parsed<std::shared_ptr<const kivohost::MipImage>> loadImage(const std::string& path);
// Writes pixels the caller has encoded. Empty on success, else the reason naming the file;
// "-" is standard output.
std::string writeImageFile(const std::string& path, const EncodedImage& image);

// Rays against placed meshes. Distances are in units of the direction's length.
class MeshTracer {
public:
    struct Hit {
        float t = 0.0f;
        unsigned mesh = 0;
        unsigned triangle = 0;
        float b1 = 0.0f, b2 = 0.0f;
    };

    // The meshes stay owned by the caller and must outlive the tracer.
    static Parsed<std::unique_ptr<MeshTracer>>
    build(const std::vector<const kivohost::PlacedMesh*>& meshes);
    ~MeshTracer();

    // The nearest hit with t in (tMin, tMax).
    bool intersect(const KUtils::Vector4f& origin, const KUtils::Vector4f& direction, float tMin,
                   float tMax, Hit& hit) const;
    bool occluded(const KUtils::Vector4f& origin, const KUtils::Vector4f& direction, float tMin,
                  float tMax) const;

    struct Impl;

private:
    explicit MeshTracer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

} // namespace uvwhost
