// What every UVW generator owes a renderer, checked over every plugin type and mode in its
// working scene: the three evaluation operations agree with one another where the generator
// defines them to; derivatives and transform columns match central differences of evalUVW
// (points where the difference quotient is not smooth, seams and poles, are skipped); the
// uvw_coords output gives the uvw; finite contexts give finite results, and evaluation
// allocates nothing once the frame has begun; and the GPU description is written for the
// descriptor kind only.
#include "channel/UVWGenPlanarWorld.h"
#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"
#include "sdk/HostRuntime.h"
#include "tests/support/PluginScenes.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace KUtils;
using namespace reliability;

namespace {

// How a context moves one screen step along x (axis 0) or y (axis 1).
// Surface moves the shading point off the surface point; Point moves both (for generators
// whose raw offset is the shaded point itself, where a move off the surface would count twice).
enum class Move { None, Surface, Point, Direction, Screen };

using Setup = std::function<void(Scene&)>;

struct Mode {
    const char* type;
    std::string name;
    Setup setup;
    Move move;
    // derivs[1 + a] = fd[a] × the difference quotient along axis a (0: not compared).
    std::array<float, 2> fd;
    // derivs[1 + a] = diff[a] × the transform's columns applied to dPdx / dPdy (0: not compared).
    std::array<float, 2> diff;
    // Transform column k = grad × the difference quotient along world axis k (0: not compared).
    float grad;
    // The transform reproduces the uvw of evalUVWDerivs with its valid flag: as its offset, or
    // applied to shadingPoint − surfacePoint.
    enum Apply { NoApply, Offset, AtPoint } apply;
    bool sameUVW = true;      // evalUVWDerivs gives evalUVW's uvw and valid flag
    bool objectSpace = false; // contexts carry the instance with an object space, else none
};

Setup setting(std::vector<std::pair<const char*, ParamValue>> values) {
    return [values](Scene& s) {
        for (const auto& [name, value] : values) {
            Scene::set(s.subject(), name, value);
        }
    };
}

Mode mode(const char* type, std::string name, Setup setup, Move move, std::array<float, 2> fd,
          std::array<float, 2> diff, float grad, Mode::Apply apply, bool sameUVW = true,
          bool objectSpace = false) {
    return {type, std::move(name), std::move(setup), move,       fd, diff,
            grad, apply,           sameUVW,          objectSpace};
}

std::vector<Mode> allModes() {
    // The world position in the offset, where the scene's wrap would fold it, its coverage scale
    // it and its crop on w reject it; duvw_scale 1.5 scales the columns.
    const Setup flat =
        setting({{"crop_w", 0}, {"wrap_u", 0}, {"wrap_v", 0}, {"coverage", Vector4f{1, 1, 1, 0}}});
    const Setup planarInput = [flat](Scene& s) {
        static UVWGenPlanarWorldDesc planar;
        Scene::set(s.subject(), "uvwgen", s.create(planar));
        flat(s);
    };
    std::vector<Mode> modes = {
        mode("UVWGenChannel", "", {}, Move::Surface, {1, 1}, {1, 1}, 1, Mode::AtPoint),
        mode("UVWGenPlanarWorld", "", flat, Move::Point, {1.5f, 1.5f}, {1, 1}, 1.5f, Mode::AtPoint),
        mode("UVWGenChannel", "planar world input", planarInput, Move::Point, {1.5f, 1.5f}, {1, 1},
             1.5f, Mode::AtPoint),
        // duvw_scale 2: it scales the derivatives, and the columns only in object space.
        mode("UVWGenObject", "world", {}, Move::Surface, {2, 2}, {2, 2}, 1, Mode::NoApply),
        mode("UVWGenObject", "object space", {}, Move::Surface, {2, 2}, {1, 1}, 2, Mode::Offset,
             true, true),
        // Screen: v falls with imageY while the y derivative is positive.
        mode("UVWGenEnvironment", "screen",
             setting({{"mapping_type", std::string("screen")}, {"wrap_u", 0}, {"crop_v", 0}}),
             Move::Screen, {1.25f, -1.25f}, {1, -1}, 0, Mode::Offset),
        mode("UVWGenProjection", "camera",
             setting({{"fittype", 0}, {"uvw_transform", Transform{}}, {"nsamples", 1}}),
             Move::Surface, {1, 1}, {1, 1}, 0, Mode::Offset),
    };
    for (int separate : {0, 1}) {
        modes.push_back(mode("UVWGenExplicit", "separate " + std::to_string(separate),
                             setting({{"useSeparateParams", separate}}), Move::None, {}, {}, 0,
                             Mode::Offset));
    }
    // The full difference over ±dDdx, times duvw_scale 1.25.
    for (const char* mapping : {"angular", "cubic", "spherical", "mirror_ball", "max_spherical",
                                "spherical_kivo", "max_cylindrical", "max_shrink_wrap"}) {
        modes.push_back(mode("UVWGenEnvironment", mapping,
                             setting({{"mapping_type", std::string(mapping)}}), Move::Direction,
                             {2.5f, 2.5f}, {}, 0, Mode::NoApply));
    }
    // In world space, and in object space with other angles (the contexts' instance then has
    // an object space).
    for (int type : {0, 1, 2, 3, 4, 5, 6, 9, 10}) {
        for (bool object : {false, true}) {
            modes.push_back(mode("UVWGenProjection",
                                 "type " + std::to_string(type) + (object ? " object space" : ""),
                                 setting({{"type", type},
                                          {"object_space", object},
                                          {"u_angle", object ? 2.5f : kPi},
                                          {"v_angle", object ? 1.1f : kPi / 2}}),
                                 Move::Surface, {1, 1}, {1, 1}, 1, Mode::Offset, true, object));
        }
    }
    // Placement without size and angle, so that the unmapped derivatives of maps 2 to 4 are
    // those of the coordinates, times filtering 0.5. Map 1 tiles only in evalUVWDerivs.
    for (int map = 0; map <= 4; ++map) {
        const Move moves[] = {Move::None, Move::None, Move::Surface, Move::Surface, Move::Screen};
        const float fd = map >= 2 ? 0.5f : 0.0f;
        modes.push_back(mode("UVWGenOstrel", "map " + std::to_string(map),
                             setting({{"map", map},
                                      {"size_x", 1.0f},
                                      {"angle_z", 0.0f},
                                      {"size_x2", 0.0f},
                                      {"angle_z2", 0.0f}}),
                             moves[map], {fd, map == 4 ? -fd : fd}, {}, 0, Mode::Offset, map != 1,
                             map == 2));
    }
    return modes;
}

bool finite(const Vector4f& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

// x, y, z within an absolute 2e-5 plus 2% of the larger vector's largest lane (a difference
// quotient of coordinates far from 0 carries their rounding into every lane alike).
bool near(const Vector4f& a, const Vector4f& b) {
    const auto size = [](const Vector4f& v) {
        return std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    };
    const float tol = 2e-5f + 0.02f * std::max(size(a), size(b));
    return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol &&
           std::fabs(a.z - b.z) <= tol;
}

std::string text(const Vector4f& v) {
    std::ostringstream out;
    out << "(" << v.x << ", " << v.y << ", " << v.z << ")";
    return out.str();
}

// Moves the shaded point by `by`, and the surface point with it when `both`.
void movePoint(ShadingContext& c, const Vector4f& by, bool both) {
    c.shadingPoint = c.shadingPoint + by;
    if (both) {
        c.surfacePoint = c.surfacePoint + by;
    }
}

Vector4f columnsTimes(const UVWTransform& t, const Vector4f& v) {
    return t.c0 * v.x + t.c1 * v.y + t.c2 * v.z;
}

class Properties : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        const Mode& m = GetParam();
        scene = std::make_unique<Scene>(named(m.type));
        if (m.setup) {
            m.setup(*scene);
        }
        eval = std::make_unique<Evaluator>(scene->subject());
        scene->prepareRender();
        scene->beginFrame();
    }

    // The scene's context with the mode's instance, and a normal whose dominant axis and sign
    // change with the index (the scene's normals all lean on +z).
    kivohost::TracingShadingContext context(int i) const {
        kivohost::TracingShadingContext sc = scene->context(i);
        sc.shadeInstance = GetParam().objectSpace ? &scene->objectOnly : nullptr;
        const float sign = i % 2 ? -1.0f : 1.0f;
        const Vector4f normals[] = {{1, 0.3f, 0.2f, 0}, {0.2f, 1, -0.3f, 0}, {-0.3f, 0.2f, 1, 0}};
        sc.normal = *unitDirection(normals[i / 2 % 3] * sign);
        return sc;
    }

    // Every evaluation with a stamp of its own, so that no cached result answers it.
    Evaluation evaluate(const ShadingContext& sc) {
        ShadingContext fresh = sc;
        fresh.evalStamp = ++stamp;
        return eval->evaluate(fresh, nullptr);
    }

    // The difference quotient of evalUVW at sc moved by ±t along `along`: none when an end is
    // invalid.
    bool quotient(const ShadingContext& sc,
                  const std::function<void(ShadingContext&, float)>& along, float t,
                  Vector4f& out) {
        ShadingContext plus = sc, minus = sc;
        along(plus, t);
        along(minus, -t);
        const Evaluation p = evaluate(plus), q = evaluate(minus);
        out = (p.uvw - q.uvw) * (0.5f / t);
        return p.uvwValid == 1 && q.uvwValid == 1;
    }

    // Compares `actual` with factor × the central difference along `along`, unless the
    // quotients over a step and half of it differ (a seam or kink inside the step). Counts the
    // comparisons made.
    void expectQuotient(const ShadingContext& sc,
                        const std::function<void(ShadingContext&, float)>& along, float step,
                        float factor, const Vector4f& actual, const std::string& what) {
        Vector4f whole, half;
        if (!quotient(sc, along, step, whole) || !quotient(sc, along, 0.5f * step, half) ||
            !near(whole, half)) {
            return;
        }
        ++compared;
        EXPECT_TRUE(near(actual, whole * factor))
            << what << ": " << text(actual) << ", difference quotient × " << factor << " "
            << text(whole * factor);
    }

    std::unique_ptr<Scene> scene;
    std::unique_ptr<Evaluator> eval;
    std::uint32_t stamp = 0;
    int compared = 0;
};

TEST_P(Properties, OperationsAgreeAndMatchDifferences) {
    const Mode& m = GetParam();
    const auto screenStep = [&](int axis) -> std::function<void(ShadingContext&, float)> {
        switch (m.move) {
        case Move::Surface:
        case Move::Point:
            return [axis, &m](ShadingContext& c, float t) {
                movePoint(c, (axis ? c.dPdy : c.dPdx) * t, m.move == Move::Point);
            };
        case Move::Direction:
            return [axis](ShadingContext& c, float t) {
                c.rayDir = c.rayDir + (axis ? c.dDdy : c.dDdx) * t;
            };
        case Move::Screen:
            return [axis](ShadingContext& c, float t) { (axis ? c.imageY : c.imageX) += t; };
        case Move::None:
            break;
        }
        return {};
    };
    int valid = 0;
    for (int i = 0; i < Scene::kContextCount; ++i) {
        const kivohost::TracingShadingContext sc = context(i);
        const Evaluation e = evaluate(sc);
        const std::string at =
            std::string(m.type) + " " + m.name + ", context " + std::to_string(i);
        if (m.sameUVW) {
            EXPECT_EQ(e.derivsValid, e.uvwValid) << at;
            EXPECT_TRUE(near(e.derivs[0], e.uvw))
                << at << ": " << text(e.derivs[0]) << " vs " << text(e.uvw);
        }
        if (eval->uvwCoords) {
            EXPECT_TRUE(near(e.texVector, e.uvw)) << at << ": uvw_coords " << text(e.texVector);
        }
        if (m.apply != Mode::NoApply) {
            const Vector4f applied =
                m.apply == Mode::Offset
                    ? e.transform.o
                    : columnsTimes(e.transform, sc.shadingPoint - sc.surfacePoint) + e.transform.o;
            EXPECT_EQ(e.transformValid, e.derivsValid) << at;
            EXPECT_TRUE(near(applied, e.derivs[0]))
                << at << ": transform gives " << text(applied) << ", uvw " << text(e.derivs[0]);
        }
        if (e.derivsValid != 1) {
            continue;
        }
        ++valid;
        for (int axis = 0; axis < 2; ++axis) {
            const Vector4f& d = e.derivs[1 + axis];
            const std::string along = at + (axis ? ", along y" : ", along x");
            if (m.diff[axis] != 0.0f) {
                const Vector4f mapped = columnsTimes(e.transform, axis ? sc.dPdy : sc.dPdx);
                EXPECT_TRUE(near(d, mapped * m.diff[axis]))
                    << along << ": derivative " << text(d) << ", transform columns give "
                    << text(mapped);
            }
            if (m.fd[axis] != 0.0f) {
                expectQuotient(sc, screenStep(axis), 1.0f, m.fd[axis], d, along + " derivative");
            }
        }
        if (m.grad != 0.0f) {
            const Vector4f* columns[] = {&e.transform.c0, &e.transform.c1, &e.transform.c2};
            for (int k = 0; k < 3; ++k) {
                const auto axis = [k, &m](ShadingContext& c, float t) {
                    Vector4f by{};
                    (k == 0 ? by.x : k == 1 ? by.y : by.z) = t;
                    movePoint(c, by, m.move == Move::Point);
                };
                expectQuotient(sc, axis, 0.01f, m.grad, *columns[k],
                               at + ", transform column " + std::to_string(k));
            }
        }
    }
    // Enough of the scene's points are valid and smooth for the comparisons to mean something.
    EXPECT_GE(valid, Scene::kContextCount / 3);
    if (m.fd[0] != 0.0f || m.grad != 0.0f) {
        EXPECT_GE(compared, valid / 2) << "comparisons made";
    }
}

// Finite contexts, degenerate ones included, give finite results, and evaluation allocates nothing
// once the frame has begun (the first pass may still meet a refresh that runs at the frame's first
// evaluation).
TEST_P(Properties, FiniteResultsWithoutAllocating) {
    // The scene's contexts, and each with zero directions and differentials.
    std::vector<kivohost::TracingShadingContext> contexts;
    for (int i = 0; i < 2 * Scene::kContextCount; ++i) {
        contexts.push_back(scene->context(i / 2));
        if (i % 2) {
            ShadingContext& sc = contexts.back();
            sc.rayDir = sc.dDdx = sc.dDdy = sc.normal = sc.dPdx = sc.dPdy = Vector4f{};
        }
    }
    for (int pass = 0; pass < 2; ++pass) {
        const std::size_t before = kivohost::allocationCount();
        for (std::size_t i = 0; i < contexts.size(); ++i) {
            const Evaluation e = evaluate(contexts[i]);
            for (const Vector4f& v : {e.uvw, e.derivs[0], e.derivs[1], e.derivs[2], e.transform.c0,
                                      e.transform.c1, e.transform.c2, e.transform.o, e.texVector}) {
                EXPECT_TRUE(finite(v)) << "context " << i << ": " << text(v);
            }
        }
        if (pass == 1) {
            EXPECT_EQ(kivohost::allocationCount(), before) << "allocations while evaluating";
        }
    }
}

void PrintTo(const Mode& m, std::ostream* out) {
    *out << m.type << " " << m.name;
}

std::string modeName(const ::testing::TestParamInfo<Mode>& info) {
    std::string name =
        std::string(info.param.type) + (info.param.name.empty() ? "" : "_") + info.param.name;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(AllGenerators, Properties, ::testing::ValuesIn(allModes()), modeName);

// Every type answers the exact descriptor kind only (the projection's text does not depend on
// it): any other kind writes nothing and leaves the record alone.
TEST(GpuText, OtherKindsWriteNothing) {
    for (KivoPluginDesc* type : libraryPluginTypes()) {
        Scene scene(*type);
        const Evaluator eval(scene.subject());
        if (!eval.rtTex || std::string(type->getName()) == "UVWGenProjection") {
            continue;
        }
        scene.prepareRender();
        scene.beginFrame();
        for (const char* kind :
             {"materialDescriptor", "MaterialDescriptor ", "", static_cast<const char*>(nullptr)}) {
            ShaderSource source;
            GPUDataRecord gpu;
            gpu.renderer = &scene.session.renderer;
            gpu.objectSpaceFlag = 7;
            EXPECT_EQ(eval.rtTex->emitRTSource("uvw", "gen", kind, source, gpu), 0)
                << type->getName() << " " << (kind ? kind : "null");
            EXPECT_EQ(source.size(), 0u) << type->getName();
            EXPECT_EQ(gpu.objectSpaceFlag, 7) << type->getName();
        }
    }
}

} // namespace
