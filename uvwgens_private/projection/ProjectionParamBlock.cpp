#include "projection/ProjectionParamBlock.h"

#include <bit>
#include <cstddef>

namespace KUtils {

namespace {

void putWord(ProjectionParamBlock& block, std::size_t offset, std::uint32_t word) {
    for (std::size_t i = 0; i < 4; ++i) {
        block[offset + i] = std::uint8_t(word >> (8 * i));
    }
}

void putInt(ProjectionParamBlock& block, std::size_t offset, int value) {
    putWord(block, offset, std::bit_cast<std::uint32_t>(std::int32_t(value)));
}

void putFloat(ProjectionParamBlock& block, std::size_t offset, float value) {
    putWord(block, offset, std::bit_cast<std::uint32_t>(value));
}

void putColumn(ProjectionParamBlock& block, std::size_t offset, float x, float y, float z) {
    putFloat(block, offset, x);
    putFloat(block, offset + 4, y);
    putFloat(block, offset + 8, z);
    putFloat(block, offset + 12, 0.0f);
}

} // namespace

ProjectionParamBlock packProjectionParamBlock(const ProjectionBlockValues& values) {
    ProjectionParamBlock block{};
    putInt(block, 0, values.type);
    putInt(block, 4, values.fitType);
    putFloat(block, 8, values.filmGateW);
    putFloat(block, 12, values.filmGateH);
    putInt(block, 16, values.cameraView ? 1 : 0);
    putInt(block, 20, values.objectSpace);
    putFloat(block, 40, values.fov);
    const Matrix3x3f& m = values.matrix;
    putColumn(block, 48, m.c1.x, m.c1.y, m.c1.z);
    putColumn(block, 64, m.c0.x, m.c0.y, m.c0.z);
    if (values.cameraView) {
        putColumn(block, 80, -m.c2.x, -m.c2.y, -m.c2.z);
    } else {
        putColumn(block, 80, m.c2.x, m.c2.y, m.c2.z);
    }
    putColumn(block, 96, values.translation.x, values.translation.y, values.translation.z);
    putFloat(block, 112, values.zoom);
    return block;
}

void readCameraView(ProjectionBlockValues& values, PluginBase& cameraView) {
    values.cameraView = true;
    auto* kivo = static_cast<KivoPluginInterface*>(cameraView.getInterface(EXT_KIVO_PLUGIN));
    if (!kivo) {
        return;
    }
    if (KivoParameter* transform = kivo->getParameter("transform")) {
        const Transform t = transform->getTransform(0, 0.0);
        values.matrix = t.m;
        values.translation = {float(t.offs.x), float(t.offs.y), float(t.offs.z), 0.0f};
    }
    if (KivoParameter* fov = kivo->getParameter("fov")) {
        values.fov = fov->getFloat(0, 0.0);
    }
    if (KivoParameter* zoom = kivo->getParameter("zoom")) {
        values.zoom = zoom->getFloat(0, 0.0);
    }
}

void ProjectionBlockRegistration::add(PluginBase* plugin, ParamBlockRegistry& to,
                                      const ProjectionParamBlock& block) {
    registry = &to;
    const ParamBlockEntry* entry =
        registry->addParamBlock(plugin, block.data(), PROJECTION_PARAM_BLOCK_SIZE, 0);
    registry->commitParamBlock(plugin);
    blockId = entry ? entry->blockId : -1;
    registered = true;
}

void ProjectionBlockRegistration::release(PluginBase* plugin) {
    if (registry) {
        registry->removeParamBlock(plugin);
        registry = nullptr;
    }
    blockId = -1;
    registered = false;
}

} // namespace KUtils
