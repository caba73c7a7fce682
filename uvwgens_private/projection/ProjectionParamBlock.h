// The fixed-layout parameter block that the GPU code of a projection reads by id: 116 bytes,
// little-endian, 32-bit ints and floats.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/PluginModel.h"
#include "kivo/Types.h"

#include <array>
#include <cstdint>

namespace KUtils {

inline constexpr int PROJECTION_PARAM_BLOCK_SIZE = 116;

using ProjectionParamBlock = std::array<std::uint8_t, PROJECTION_PARAM_BLOCK_SIZE>;

struct ProjectionBlockValues {
    int type = 1;
    int fitType = 0;
    float filmGateW = 1.0f;
    float filmGateH = 1.0f;
    // A camera view supplies the matrix, translation, field of view and zoom; its third
    // column is stored negated (the view looks down -z).
    bool cameraView = false;
    int objectSpace = 0;
    float fov = 0.0f;
    Matrix3x3f matrix;
    Vector4f translation;
    float zoom = 1.0f;
};

// Offsets: 0 type, 4 fitType, 8 and 12 film gate, 16 camera view flag, 20 object space,
// 40 fov, 48 column 1, 64 column 0, 80 column 2, 96 translation (each three floats and a
// zero), 112 zoom; bytes 24..39 and 44..47 are zero.
ProjectionParamBlock packProjectionParamBlock(const ProjectionBlockValues& values);

// Takes the camera view's matrix and translation (its "transform"), "fov" and "zoom" at time
// 0 into values and sets its flag; a parameter the plugin lacks leaves its default.
void readCameraView(ProjectionBlockValues& values, PluginBase& cameraView);

// A projection's block with the host's GPU parameter-block registry: registered at the first
// emission that offers a registry, held until release (the frame's end or destruction).
class ProjectionBlockRegistration {
public:
    // Registers the block of values() for plugin when gpuData offers a registry and nothing is
    // registered yet; returns the id to print (-1 when nothing was ever registered).
    template <class Values>
    int idFor(PluginBase* plugin, const GPUDataRecord& gpuData, Values&& values) {
        if (gpuData.paramBlockRegistry && !registered) {
            add(plugin, *gpuData.paramBlockRegistry, packProjectionParamBlock(values()));
        }
        return blockId;
    }
    // Removes the block from the registry that holds it, if any.
    void release(PluginBase* plugin);

private:
    void add(PluginBase* plugin, ParamBlockRegistry& to, const ProjectionParamBlock& block);

    ParamBlockRegistry* registry = nullptr;
    int blockId = -1;
    bool registered = false;
};

} // namespace KUtils
