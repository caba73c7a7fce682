#include "projection/ProjectionSearch.h"

#include "kivo/VectorMath.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace KUtils {

namespace {

// The type whose transform places a projection centre.
constexpr const char* PROJECTION_TYPE_NAME = "UVWGenProjection";
// The projection type that projects through a camera view.
constexpr int PERSPECTIVE_TYPE = 8;

KivoPluginInterface* kivoInterfaceOf(PluginBase* plugin) {
    return plugin ? static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN))
                  : nullptr;
}

bool isProjection(const KivoPluginInterface& kivo) {
    KivoPluginDesc* desc = kivo.getKivoPluginDesc();
    const char* name = desc ? desc->getName() : nullptr;
    return name && std::strcmp(name, PROJECTION_TYPE_NAME) == 0;
}

// The world point that p -> M p + o maps to the origin, -M^-1 o, in double; the offset itself
// when M is singular (nothing better is known, and it was the centre before).
Vector3d projectionOrigin(const Transform& tm) {
    double inv[3][3];
    if (!inverse3x3(tm.m.c0, tm.m.c1, tm.m.c2, DetExpansion::FirstRow, inv)) {
        return tm.offs;
    }
    const double o[3] = {tm.offs.x, tm.offs.y, tm.offs.z};
    double c[3];
    for (int r = 0; r < 3; ++r) {
        c[r] = -(inv[r][0] * o[0] + inv[r][1] * o[1] + inv[r][2] * o[2]);
    }
    return {c[0], c[1], c[2]};
}

} // namespace

bool projectionTransform(KivoPluginInterface& projection, double t, const Vector3d& sceneOrigin,
                         UVWTransform& result) {
    KivoParameter* placement = nullptr;
    KivoParameter* type = projection.getParameter("type");
    const bool perspective = type && type->getInt(0, t) == PERSPECTIVE_TYPE;
    if (perspective) {
        KivoParameter* view = projection.getParameter("camera_view");
        KivoPluginInterface* camera = view ? kivoInterfaceOf(view->getPlugin(0, t)) : nullptr;
        if (!camera) {
            return false;
        }
        placement = camera->getParameter("transform");
    } else {
        placement = projection.getParameter("uvw_transform");
    }
    if (!placement) {
        return false;
    }
    const Transform tm = placement->getTransform(0, t);
    // A camera's transform is placed at the camera, its offset the centre. Every other type
    // uses uvw_transform as the map from world to projection space, p -> M p + o, whose offset
    // is -M c: the centre c is the point mapped to the projection origin.
    const Vector3d centre = perspective ? tm.offs : projectionOrigin(tm);
    const Vector3d offset{centre.x - sceneOrigin.x, centre.y - sceneOrigin.y,
                          centre.z - sceneOrigin.z};
    result = toUVWTransform(tm.m, offset);
    return true;
}

bool ProjectionSearch::find(PluginBase* root, UVWTransform& result) {
    visited.clear();
    pending.clear();
    if (root) {
        pending.push_back(root);
    }
    // Taking the last queued plugin first, with each plugin's inputs queued in reverse,
    // visits the graph in the order of a recursive depth-first search.
    while (!pending.empty()) {
        PluginBase* plugin = pending.back();
        pending.pop_back();
        KivoPluginInterface* kivo = kivoInterfaceOf(plugin);
        if (!kivo || !markVisited(plugin)) {
            continue;
        }
        if (isProjection(*kivo)) {
            if (projectionTransform(*kivo, time, sceneOrigin, result)) {
                return true;
            }
            continue;
        }
        if (KivoParameterList* list = kivo->getParamList()) {
            queueInputs(*list);
        }
    }
    return false;
}

bool ProjectionSearch::markVisited(const PluginBase* plugin) {
    const auto at =
        std::lower_bound(visited.begin(), visited.end(), plugin, std::less<const PluginBase*>());
    if (at != visited.end() && *at == plugin) {
        return false;
    }
    visited.insert(at, plugin);
    return true;
}

void ProjectionSearch::queueInputs(KivoParameterList& list) {
    for (int i = list.getNumParams() - 1; i >= 0; --i) {
        const KivoParameter* param = list.getParam(i);
        if (!param) {
            continue;
        }
        // A single value or a list of one is searched through its first element.
        const int count = std::max(param->getCount(time), 1);
        for (int j = count - 1; j >= 0; --j) {
            if (PluginBase* input = param->getPlugin(j, time)) {
                pending.push_back(input);
            }
        }
    }
}

} // namespace KUtils
