// What every UVW generator owes a renderer, checked over every plugin type and mode in its
// working scene: the three evaluation operations agree with one another where the generator
// defines them to; derivatives and transform columns match central differences of evalUVW
// (points where the difference quotient is not smooth, seams and poles, are skipped); the
// uvw_coords output gives the uvw; finite contexts give finite results, and evaluation
// allocates nothing once the frame has begun; and the GPU description is written for the
// descriptor kind only.
#include "kivo/VectorMath.h"
#include "sdk/HostRuntime.h"
#include "tests/support/PluginScenes.h"
#include "uvwhost/ParamSettings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace KUtils;
using namespace reliability;
using uvwhost::Json;

namespace {

// The property tests' modes (tests/reliability/modes.jsonl, which describes the fields).
enum class Move { None, Surface, Point, Direction, Screen };
enum class Apply { None, Offset, AtPoint };
// The enumerator of E whose name in `names` the field gives (the first when it is absent).
template <class E, std::size_t N>
E enumerator(const Json& j, const char* key, const char* const (&names)[N]) {
    const std::string name = j.value(key, names[0]);
    return E(std::find(names, names + N, name) - names);
}

struct Mode {
    std::string type, name;
    Json params;
    Move move;
    std::array<float, 2> fd, diff;
    float grad;
    Apply apply;
    bool sameUVW, objectSpace;
};

std::vector<Mode> allModes() {
    std::vector<Mode> modes;
    std::ifstream in(PROPERTY_MODES_FILE);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const Json j = Json::parse(line);
        modes.push_back(
            {j.at("type"), j.value("name", ""), j.value("params", Json::object()),
             enumerator<Move>(j, "move", {"none", "surface", "point", "direction", "screen"}),
             j.value("fd", std::array<float, 2>{}), j.value("diff", std::array<float, 2>{}),
             j.value("grad", 0.0f), enumerator<Apply>(j, "apply", {"none", "offset", "atPoint"}),
             j.value("sameUVW", true), j.value("objectSpace", false)});
    }
    return modes;
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
    return (testing::Message() << "(" << v.x << ", " << v.y << ", " << v.z << ")").GetString();
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
        // "@TYPE" connects a new instance of a library type.
        const uvwhost::PluginResolver create = [&](const std::string& type) {
            return scene->create(named(type));
        };
        for (const auto& [name, value] : m.params.items()) {
            const auto setting = uvwhost::readNamedSetting(
                uvwhost::paramDefsOf(*named(m.type).getParamListDesc()), m.type, name, value);
            ASSERT_TRUE(setting) << setting.error();
            ASSERT_EQ(uvwhost::applyParamSetting(scene->params(), *setting, create), "");
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
        const std::string at = m.type + " " + m.name + ", context " + std::to_string(i);
        if (m.sameUVW) {
            EXPECT_EQ(e.derivsValid, e.uvwValid) << at;
            EXPECT_TRUE(near(e.derivs[0], e.uvw))
                << at << ": " << text(e.derivs[0]) << " vs " << text(e.uvw);
        }
        if (eval->uvwCoords) {
            EXPECT_TRUE(near(e.texVector, e.uvw)) << at << ": uvw_coords " << text(e.texVector);
        }
        if (m.apply != Apply::None) {
            const Vector4f applied =
                m.apply == Apply::Offset
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
            EXPECT_TRUE(finiteEvaluation(e)) << "context " << i << ": " << describeEvaluation(e);
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
    std::string name = info.param.type + (info.param.name.empty() ? "" : "_") + info.param.name;
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
