// Finite values far from 1 (tiny and huge placement sizes, directions scaled by them, far
// points, huge transform entries) where a single-precision square or product underflows or
// overflows: the results keep the guarantees their functions state, and no generator reports
// a non-finite result (the bad-input sweep checks that over every plugin type). (Zero, infinite
// and NaN axes are the ostrel tests' concern.)
#include "kivo/VectorMath.h"
#include "ostrel/OstrelMath.h"
#include "projection/ProjectionMapping.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"
#include "tests/support/Plugin.h"
#include "tests/support/PluginScenes.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <utility>

using namespace KUtils;

using testsupport::expectXYZ;

TEST(ExtremeMagnitudes, UnitOrZeroOfAnyFiniteNonzeroLengthIsAUnitVector) {
    // Squares that vanish (1e-30^2) or overflow (3e30^2) still give the direction.
    expectXYZ(unitOrZero({1e-30f, 0.0f, 0.0f, 0.0f}), 1.0f, 0.0f, 0.0f);
    // Denormal components (3 and 4 times 2^-140).
    expectXYZ(unitOrZero({0.0f, -std::ldexp(3.0f, -140), std::ldexp(4.0f, -140), 0.0f}), 0.0f,
              -0.6f, 0.8f);
    expectXYZ(unitOrZero({3e30f, 4e30f, 0.0f, 0.0f}), 0.6f, 0.8f, 0.0f);
    expectXYZ(unitOrZero({std::numeric_limits<float>::max(), 0.0f, 0.0f, 0.0f}), 1.0f, 0.0f, 0.0f);
    // In range it is v / |v| exactly as before.
    EXPECT_EQ(unitOrZero({1.0f, 2.0f, 2.0f, 0.0f}).y, 2.0f / 3.0f);
}

TEST(ExtremeMagnitudes, OstrelBasisStaysUnitForHugeSizes) {
    for (float size : {1e22f, 1e30f, 1e38f}) {
        reliability::Scene scene(reliability::named("UVWGenOstrel"));
        // No random size or angle.
        for (const auto& [name, value] : {std::pair{"size_x", size},
                                          {"angle_z", 30.0f},
                                          {"size_x2", 0.0f},
                                          {"angle_z2", 0.0f}}) {
            setParamValue(scene.params(), name, value);
        }
        scene.prepareRender();
        scene.beginFrame();
        const reliability::Evaluation e =
            reliability::Evaluator(scene.subject()).evaluate(scene.context(0), nullptr);
        ASSERT_EQ(e.basisValid, 1);
        // The x axis of the placement turned 30 degrees about z, whatever its scale.
        expectXYZ(e.basis[0], 0.8660254f, 0.5f, 0.0f);
        expectXYZ(e.basis[1], -0.5f, 0.8660254f, 0.0f);
    }
}

TEST(ExtremeMagnitudes, ProjectionsOfFarPointsWithFiniteResultsAreFinite) {
    // At (2e19, 2e19, 2e19) the single-precision squares overflow; the distances (3.5e19) and
    // angles do not.
    const Vector4f far{2e19f, 2e19f, 2e19f, 0.0f};
    for (const UVWTransform& t : {mapSpherical(far, 3.1415927f, 1.5707964f),
                                  mapCylindrical(far, 3.1415927f), mapCubic(far)}) {
        for (const Vector4f& v : {t.c0, t.c1, t.c2, t.o}) {
            EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z));
        }
        EXPECT_GT(t.o.z, 2.8e19f);
    }
}
