#include "uvwhost/RenderCommand.h"

#include <ostream>

namespace uvwhost {

Parsed<RenderOptions> readRenderOptions(const std::vector<std::string>&) {
    return RenderOptions{};
}

int runRender(const RenderOptions&, const Catalog&, Streams streams) {
    streams.err << "uvwhost: render is not available yet\n";
    return EXIT_BAD_INPUT;
}

} // namespace uvwhost
