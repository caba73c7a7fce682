// Builds without the asset libraries: every load is an error saying so, and no mesh can reach
// the tracer.
#include "uvwhost/Assets.h"

namespace uvwhost {

namespace {

const std::string unavailable = "this uvwhost was built without mesh and image files";

} // namespace

Parsed<kivohost::TriangleMesh> loadMesh(const std::string& path) {
    return Parsed<kivohost::TriangleMesh>::failure("cannot read the mesh file \"" + path +
                                                   "\": " + unavailable);
}

Parsed<std::shared_ptr<const kivohost::MipImage>> loadImage(const std::string& path) {
    return Parsed<std::shared_ptr<const kivohost::MipImage>>::failure(
        "cannot read the image file \"" + path + "\": " + unavailable);
}

std::string writeImageFile(const std::string& path, const EncodedImage& image) {
    return "cannot write " + path + ": this uvwhost was built without " +
           (image.format == ImageFormat::OpenEXR ? "OpenEXR" : "OpenImageIO");
}

struct MeshTracer::Impl {};

MeshTracer::MeshTracer(std::unique_ptr<Impl> impl) : impl(std::move(impl)) {}
MeshTracer::~MeshTracer() = default;

Parsed<std::unique_ptr<MeshTracer>>
MeshTracer::build(const std::vector<const kivohost::PlacedMesh*>&) {
    return std::unique_ptr<MeshTracer>(new MeshTracer(std::make_unique<Impl>()));
}

bool MeshTracer::intersect(const KUtils::Vector4f&, const KUtils::Vector4f&, float, float,
                           Hit&) const {
    return false;
}

bool MeshTracer::occluded(const KUtils::Vector4f&, const KUtils::Vector4f&, float, float) const {
    return false;
}

} // namespace uvwhost
