// Finding the projection behind a texture: the first UVWGenProjection met depth first through
// the plugin graph below it (a plugin's parameters in index order, list elements in order),
// and the transform that places that projection in the scene. Each plugin is searched at most
// once, so a graph with cycles is searched in finite time; in a graph without cycles the
// result is the same as that of an unguarded depth-first search, since a plugin reached a
// second time has already been searched without success.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/Types.h"

#include <vector>

namespace KUtils {

// The transform of a UVWGenProjection at time t: for type 8 the "transform" of its
// "camera_view", whose offset is the camera position; for any other type (or no "type") its
// "uvw_transform" M, o with the offset replaced by the projection centre -M^-1 o (o itself when
// M is singular). The centre is taken relative to sceneOrigin in double precision, then
// rounded to single. False when the parameter to read (or the camera view with its
// parameters) is missing.
bool projectionTransform(KivoPluginInterface& projection, double t, const Vector3d& sceneOrigin,
                         UVWTransform& result);

// Searches plugin graphs for projections. One object serves many searches (each forgets what
// the previous one visited), so that its work lists are allocated once per frame.
class ProjectionSearch {
public:
    ProjectionSearch(double time, const Vector3d& sceneOrigin)
        : time(time), sceneOrigin(sceneOrigin) {}

    // The transform of the first projection found from root (which may be a projection
    // itself); false when there is none, or root is null.
    bool find(PluginBase* root, UVWTransform& result);

private:
    // True the first time a plugin is seen in this search.
    bool markVisited(const PluginBase* plugin);
    // Queues the plugins connected to the parameters of list so that they are taken in index
    // order, each list element in order.
    void queueInputs(KivoParameterList& list);

    double time;
    Vector3d sceneOrigin;
    // Sorted.
    std::vector<const PluginBase*> visited;
    // Plugins still to search, the next one last.
    std::vector<PluginBase*> pending;
};

} // namespace KUtils
