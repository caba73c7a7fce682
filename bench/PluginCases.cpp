// The configurations measured for each plugin type: realistic parameters (rotations, scales,
// wrapping) rather than defaults, so that no branch is taken for free. Where a subsystem keeps
// its mapping math in free functions, a case also carries that math called directly.
#include "FloorMappings.h"
#include "Harness.h"
#include "channel/UVWGenChannel.h"
#include "channel/UVWGenPlanarWorld.h"
#include "environment/EnvMapping.h"
#include "environment/UVWGenEnvironment.h"
#include "frame/ScreenSpace.h"
#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"
#include "ostrel/UVWGenOstrel.h"
#include "projection/ImageProjection.h"
#include "projection/ProjectionMapping.h"
#include "projection/TexMultiProjection.h"
#include "projection/UVWGenProjection.h"
#include "scene/ScenePlugins.h"
#include "spatial/UVWGenExplicit.h"
#include "spatial/UVWGenObject.h"

#include <cmath>
#include <cstring>
#include <optional>

namespace bench {

using namespace KUtils;

namespace {

const std::vector<Op> kUVWGenOps = {Op::UVW, Op::Derivs, Op::Transform};

const Vector4f kTiltedAxis{0.48f, 0.6f, 0.64f, 0.0f};

Case& uvwgenCase(Bench& bench, const PluginInstance& plugin, std::string name, Flavour flavour,
                 std::vector<Op> ops = kUVWGenOps) {
    Case& c = bench.addCase(std::move(name), flavour, std::move(ops));
    c.uvwgen = plugin.iface<UVWGenInterface>(EXT_UVWGEN);
    return c;
}

// The host's texture plugin of the given name (the scene's own texture nodes).
PluginDesc& sceneTexture(const char* name) {
    for (KivoPluginDesc* desc : kivohost::scenePluginDescs()) {
        if (std::strcmp(desc->getName(), name) == 0) {
            return *desc;
        }
    }
    std::abort();
}

// ---- Environment ------------------------------------------------------------------------------

struct EnvironmentMath {
    Matrix3x3f rotation;
    GroundPlane ground;
    bool groundOn = false;
    int type = ENV_MAPPING_UNKNOWN;
    UVWTransform transform;
    int wrap[3] = {1, 0, 0};
    int crop[3] = {0, 0, 0};
    int width = 0;
    int height = 0;
};

int environmentUVW(const EnvironmentMath& m, const ShadingContext& sc, Vector4f& uvw) {
    if (m.type == ENV_MAPPING_SCREEN) {
        uvw = screenUVW(sc.imageX, sc.imageY, m.width, m.height);
    } else {
        const DirectionPipeline pipeline{m.rotation, m.groundOn ? &m.ground : nullptr, sc.rayOrigin,
                                         m.type};
        uvw = mapThroughPipeline(pipeline, sc.rayDir);
    }
    return finishUVW(UVWTail{m.transform, m.wrap, m.crop}, uvw);
}

// ---- Projection -------------------------------------------------------------------------------

struct ProjectionMath {
    int type = PROJ_PLANAR;
    UVWTransform working;
    UVWTransform texTransform;
    float uAngle = kPi;
    float vAngle = kHalfPi;
    Vector4f sceneOrigin;
};

int projectionUVW(const ProjectionMath& m, const ShadingContext& sc, Vector4f& uvw) {
    const Vector4f p = applyPoint(m.working, sc.shadingPoint + m.sceneOrigin);
    const Vector4f local =
        mapProjectionPoint(m.type, p, applyLinear(m.working, sc.normal), m.uAngle, m.vAngle);
    uvw = applyPoint(m.texTransform, local);
    return 1;
}

struct PerspectiveMath {
    const KivoCamera* camera = nullptr;
    ProjectionImage image;
    ImagePlacement placement;
    UVWTransform working;
    UVWTransform texTransform;
};

int perspectiveUVW(const PerspectiveMath& m, const ShadingContext& sc, Vector4f& uvw) {
    const Vector4f& p = sc.shadingPoint;
    Vector2f s;
    if (!m.camera->mapToScreen(sc, p, s)) {
        uvw = Vector4f{};
        return 0;
    }
    const ScreenDifferences d = screenDifferences(
        [&](const Vector4f& q, Vector2f& sq) { return m.camera->mapToScreen(sc, q, sq); }, p, s,
        sc.dPdx, sc.dPdy);
    const UVWTransform local =
        imageProjection(m.image, m.placement, s, d.dx, d.dy, sc.dPdx, sc.dPdy, sc.auxNormal);
    uvw = finishProjectionPoint(local, m.texTransform);
    return 1;
}

// ---- Ostrel -----------------------------------------------------------------------------------

struct OstrelPlacementMath {
    OstrelMapping mapping;
    UVWTransform fixed;
    bool randomized = false;
    Placement base;
    Placement amplitude;
    bool xyzLock = false;
    int randMat = 0;
    int randObj = 0;
    int seed = 1;
    OstrelScreen screen;
};

int ostrelUVW(const OstrelPlacementMath& m, const ShadingContext& sc, Vector4f& uvw) {
    uvw = Vector4f{};
    const UVWTransform t = m.randomized
                               ? randomPlacement(m.base, m.amplitude, m.xyzLock,
                                                 variationSeed(sc, m.randMat, m.randObj, m.seed))
                               : m.fixed;
    return coordinateStep(sc, t, m.mapping, m.screen, uvw);
}

// Sets <name>_x, _y and _z (each followed by suffix) to the lanes of v.
void setAxes(PluginInstance& plugin, const char* name, const char* suffix, const Vector4f& v) {
    const float lanes[] = {v.x, v.y, v.z};
    for (int k = 0; k < 3; ++k) {
        const std::string param = std::string(name) + "_" + char('x' + k) + suffix;
        plugin.set(param.c_str(), lanes[k]);
    }
}

// User angles in degrees to the radians the placement works in (the renderer's conversion).
float radians(float degrees) {
    return float(double(degrees) * 0.0174532925);
}

} // namespace

void addChannelCases(Bench& bench) {
    static UVWGenChannelDesc channelDesc;
    static UVWGenPlanarWorldDesc planarDesc;
    const Transform uvwTransform{rotation({0, 0, 1, 0}, 0.5f, 2.0f), {0.25, 0.5, 0.0}};
    for (bool provider : {true, false}) {
        PluginInstance& plugin = bench.create(channelDesc);
        plugin.set("uvw_channel", 1);
        plugin.set("uvw_transform", uvwTransform);
        plugin.set("wrap_u", 1);
        plugin.set("wrap_v", 1);
        plugin.start();
        Case& c = uvwgenCase(bench, plugin, provider ? "channel/provider" : "channel/shade_data",
                             {provider, true});
        c.cached = true;
        c.cacheTarget = Target::CacheHit;
    }
    PluginInstance& planar = bench.create(planarDesc);
    planar.set("uvw_transform", Transform{rotation(kTiltedAxis, 0.7f, 0.1f), {0.5, 0.5, 0.0}});
    planar.set("wrap_u", 1);
    planar.set("wrap_v", 1);
    planar.start();
    Case& c = uvwgenCase(bench, planar, "planar_world", {});
    c.cached = true;
    c.cacheTarget = Target::CacheHit;
}

void addSpatialCases(Bench& bench) {
    static UVWGenObjectDesc objectDesc;
    static UVWGenExplicitDesc explicitDesc;
    PluginInstance& object = bench.create(objectDesc);
    object.set("uvw_transform", Transform{rotation(kTiltedAxis, 1.1f, 0.25f), {0.5, -0.25, 1.0}});
    object.set("duvw_scale", 0.5f);
    object.start();
    uvwgenCase(bench, object, "object/object_space", {true, true});
    uvwgenCase(bench, object, "object/no_object_space", {true, false});

    // The inputs are the scene's own texture nodes, reading the shading point.
    PluginInstance& colour = bench.create(sceneTexture("TexUVW"));
    colour.start();
    PluginInstance* floats[3];
    for (int k = 0; k < 3; ++k) {
        floats[k] = &bench.create(sceneTexture("TexUVW"));
        floats[k]->set("component", k);
        floats[k]->start();
    }
    PluginInstance& byColour = bench.create(explicitDesc);
    byColour.set("uvw", colour.plugin());
    byColour.start();
    uvwgenCase(bench, byColour, "explicit/color", {});
    PluginInstance& separate = bench.create(explicitDesc);
    separate.set("u", floats[0]->plugin());
    separate.set("v", floats[1]->plugin());
    separate.set("w", floats[2]->plugin());
    separate.set("useSeparateParams", 1);
    separate.start();
    uvwgenCase(bench, separate, "explicit/separate", {});
}

void addEnvironmentCases(Bench& bench) {
    static UVWGenEnvironmentDesc desc;
    struct Mode {
        const char* name;
        const char* mappingType;
        bool ground;
        // The floor of the mapping, if it has one.
        std::optional<floor::Env> floor;
    };
    const Mode modes[] = {
        {"angular", "angular", false, floor::Env::Angular},
        {"cubic", "cubic", false, {}},
        {"spherical", "spherical", false, floor::Env::Spherical},
        {"mirror_ball", "mirror_ball", false, floor::Env::MirrorBall},
        {"screen", "screen", false, {}},
        {"max_spherical", "max_spherical", false, floor::Env::MaxSpherical},
        {"spherical_kivo", "spherical_kivo", false, floor::Env::SphericalKivo},
        {"max_cylindrical", "max_cylindrical", false, {}},
        {"max_shrink_wrap", "max_shrink_wrap", false, {}},
        {"spherical_ground", "spherical", true, {}},
    };
    const KivoFrameData& frame = *bench.scene.renderer().frameData;
    const Vector3d& origin = frame.sceneOrigin;
    // The ground two units below the scene origin (the plugin takes it absolute).
    const Vector4f groundOffset{0.0f, 0.0f, -2.0f, 0.0f};
    const Vector3d groundAt{origin.x, origin.y, origin.z + groundOffset.z};
    const Transform uvwTransform{Matrix3x3f{}, {0.1, 0.0, 0.0}};
    for (const Mode& mode : modes) {
        EnvironmentMath math;
        math.rotation = rotation(kTiltedAxis, 0.4f, 1.0f);
        math.transform = toUVWTransform(uvwTransform);
        math.type = findEnvMappingType(mode.mappingType);
        math.groundOn = mode.ground;
        math.ground = {groundOffset, upAxisFrom(nullptr), 50.0f};
        math.width = frame.imageWidth;
        math.height = frame.imageHeight;

        PluginInstance& plugin = bench.create(desc);
        plugin.set("mapping_type", std::string(mode.mappingType));
        plugin.set("uvw_matrix", math.rotation);
        plugin.set("uvw_transform", uvwTransform);
        plugin.set("wrap_u", 1);
        if (mode.ground) {
            plugin.set("ground_on", 1);
            plugin.set("ground_position",
                       Vector4f{float(groundAt.x), float(groundAt.y), float(groundAt.z), 0.0f});
            plugin.set("ground_radius", 50.0f);
        }
        plugin.start();
        Case& c = uvwgenCase(bench, plugin, std::string("environment/") + mode.name, {});
        if (mode.floor) {
            const floor::EnvState state{*mode.floor, math.rotation, math.transform};
            c.floor = std::make_unique<FloorPath>(
                floorPath<floor::EnvState, floor::envValue, floor::envDerivs>(state));
        }
        c.direct = std::make_unique<DirectPath>(
            directPath<EnvironmentMath, environmentUVW>(std::move(math)));
    }
}

void addProjectionCases(Bench& bench) {
    static UVWGenProjectionDesc desc;
    struct Mode {
        const char* name;
        int type;
        std::optional<floor::Proj> floor;
    };
    const Mode modes[] = {
        {"planar", PROJ_PLANAR, floor::Proj::Planar},
        {"spherical", PROJ_SPHERICAL, floor::Proj::Spherical},
        {"cylindrical", PROJ_CYLINDRICAL, floor::Proj::Cylindrical},
        {"ball", PROJ_BALL, {}},
        {"cubic", PROJ_CUBIC, {}},
        {"triplanar", PROJ_TRIPLANAR, {}},
        {"quor_cubic", PROJ_QUOR_CUBIC, {}},
        {"quor_box", PROJ_QUOR_BOX, {}},
    };
    const Vector3d& origin = bench.scene.renderer().frameData->sceneOrigin;
    // The projection's space: a tenth of the world, centred where the points lie.
    const float scale = 0.1f;
    const Matrix3x3f m = rotation(kTiltedAxis, 0.3f, scale);
    const Vector4f centre = applyLinear(m, {float(origin.x), float(origin.y), float(origin.z), 0});
    const Transform working{m, {-centre.x, -centre.y, -centre.z}};
    for (const Mode& mode : modes) {
        PluginInstance& plugin = bench.create(desc);
        plugin.set("type", mode.type);
        plugin.set("uvw_transform", working);
        plugin.start();
        Case& c = uvwgenCase(bench, plugin, std::string("projection/") + mode.name, {});
        ProjectionMath math;
        math.type = mode.type;
        math.working = toUVWTransform(working);
        math.sceneOrigin = {float(origin.x), float(origin.y), float(origin.z), 0.0f};
        if (mode.floor) {
            const floor::ProjState state{*mode.floor, math.working, math.sceneOrigin};
            c.floor = std::make_unique<FloorPath>(
                floorPath<floor::ProjState, floor::projValue, floor::projDerivs>(state));
        }
        c.direct = std::make_unique<DirectPath>(
            directPath<ProjectionMath, projectionUVW>(std::move(math)));
    }

    // The render camera's image projected back onto the scene.
    PluginInstance& plugin = bench.create(desc);
    plugin.set("type", int(PROJ_PERSPECTIVE));
    plugin.start();
    Case& c = uvwgenCase(bench, plugin, "projection/perspective", {});
    const KivoFrameData& frame = *bench.scene.renderer().frameData;
    PerspectiveMath math;
    math.camera = &bench.scene.camera();
    math.image = {frame.overscanLeft, frame.overscanWidth, frame.overscanTop, frame.overscanHeight,
                  frame.imageWidth,   frame.imageHeight,   frame.pixelAspect};
    const Vector2f inverse = inverseImageSize(false, math.image);
    math.placement.invWidth = inverse.x;
    math.placement.invHeight = inverse.y;
    c.direct =
        std::make_unique<DirectPath>(directPath<PerspectiveMath, perspectiveUVW>(std::move(math)));
}

void addMultiProjectionCases(Bench& bench) {
    static TexMultiProjectionDesc desc;
    static UVWGenProjectionDesc projectionDesc;
    const Vector3d& origin = bench.scene.renderer().frameData->sceneOrigin;
    for (int count : {2, 8}) {
        // Cameras on a circle around the points, each with a checker projected from it and a
        // recorded depth.
        std::vector<ParamValue> colors, depths;
        for (int i = 0; i < count; ++i) {
            const float angle = 6.2831853f * float(i) / float(count);
            PluginInstance& projection = bench.create(projectionDesc);
            projection.set("type", int(PROJ_SPHERICAL));
            projection.set("uvw_transform",
                           Transform{Matrix3x3f{},
                                     {origin.x + 20.0 * std::cos(angle),
                                      origin.y + 20.0 * std::sin(angle), origin.z}});
            projection.start();
            PluginInstance& color = bench.create(sceneTexture("TexChecker"));
            color.set("uvwgen", projection.plugin());
            color.start();
            PluginInstance& depth = bench.create(sceneTexture("TexConstant"));
            depth.set("color", AColor{18.0f, 18.0f, 18.0f, 1.0f});
            depth.start();
            colors.emplace_back(color.plugin());
            depths.emplace_back(depth.plugin());
        }
        PluginInstance& multi = bench.create(desc);
        multi.setList("color_textures", colors);
        multi.setList("zdepth_textures", depths);
        multi.start();
        Case& c = bench.addCase("multi_projection/" + std::to_string(count), {}, {Op::Color});
        c.texture = multi.iface<TextureInterface>(EXT_TEXTURE);
        c.cached = true;
        c.growsOnFirstUse = true;
    }
}

void addOstrelCases(Bench& bench) {
    static UVWGenOstrelDesc desc;
    struct Source {
        const char* name;
        int map;
    };
    const Source sources[] = {{"channel_centred", OSTREL_CHANNEL_CENTRED},
                              {"channel", OSTREL_CHANNEL},
                              {"object", OSTREL_OBJECT},
                              {"world", OSTREL_WORLD},
                              {"screen", OSTREL_SCREEN}};
    for (const Source& source : sources) {
        for (bool random : {false, true}) {
            OstrelPlacementMath math;
            math.mapping.map = source.map;
            math.mapping.channel = 1;
            math.mapping.tile[0] = TILE_REPEAT;
            math.mapping.tile[1] = TILE_MIRROR;
            math.mapping.tile[2] = TILE_NONE;
            math.mapping.filtering = 1.5f;
            const KivoFrameData& frame = *bench.scene.renderer().frameData;
            math.screen = {frame.imageWidth, frame.imageHeight};
            math.base = {
                {0.1f, 0.2f, 0.3f, 0.0f}, {10.0f, 20.0f, 30.0f, 0.0f}, {0.5f, 2.0f, 1.5f, 0.0f}};
            if (random) {
                math.amplitude = {{0.5f, 0.5f, 0.5f, 0.0f},
                                  {15.0f, 0.0f, 45.0f, 0.0f},
                                  {0.25f, 0.25f, 0.25f, 0.0f}};
                math.randomized = true;
                math.randMat = 1;
                math.randObj = 1;
                math.seed = 7;
            }

            PluginInstance& plugin = bench.create(desc);
            setAxes(plugin, "offset", "", math.base.offset);
            setAxes(plugin, "size", "", math.base.sizes);
            setAxes(plugin, "angle", "", math.base.angles);
            setAxes(plugin, "offset", "2", math.amplitude.offset);
            setAxes(plugin, "size", "2", math.amplitude.sizes);
            setAxes(plugin, "angle", "2", math.amplitude.angles);
            for (int k = 0; k < 3; ++k) {
                plugin.set((std::string("tile_") + char('x' + k)).c_str(), math.mapping.tile[k]);
            }
            plugin.set("rand_mat", math.randMat);
            plugin.set("rand_obj", math.randObj);
            plugin.set("seed", math.seed);
            plugin.set("map", math.mapping.map);
            plugin.set("channel", math.mapping.channel);
            plugin.set("filtering", math.mapping.filtering);
            plugin.start();

            for (Vector4f* a : {&math.base.angles, &math.amplitude.angles}) {
                *a = {radians(a->x), radians(a->y), radians(a->z), 0.0f};
            }
            math.fixed = static_cast<UVWGenOstrel*>(plugin.plugin())->getPlacementTm();
            Case& c = uvwgenCase(bench, plugin,
                                 std::string("ostrel/") + source.name + (random ? "/random" : ""),
                                 {true, true}, {Op::UVW, Op::Derivs, Op::Transform, Op::Basis});
            c.ostrel = plugin.iface<UVWGenOstrelInterface>(EXT_UVWGEN_OSTREL);
            c.direct = std::make_unique<DirectPath>(
                directPath<OstrelPlacementMath, ostrelUVW>(std::move(math)));
        }
    }
}

} // namespace bench
