// Finite values far from 1 (tiny and huge placement sizes, directions scaled by them) where a
// single-precision square underflows or overflows: the results keep the guarantees their
// functions state. (Zero, infinite and NaN axes are the ostrel tests' concern.)
#include "kivo/VectorMath.h"
#include "ostrel/OstrelMath.h"
#include "ostrel/UVWGenOstrel.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace KUtils;

namespace {

void expectVector(const Vector4f& v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

} // namespace

TEST(ExtremeMagnitudes, UnitOrZeroOfAnyFiniteNonzeroLengthIsAUnitVector) {
    // Squares that vanish (1e-30^2) or overflow (3e30^2) still give the direction.
    expectVector(unitOrZero({1e-30f, 0.0f, 0.0f, 0.0f}), 1.0f, 0.0f, 0.0f);
    // Denormal components (3 and 4 times 2^-140).
    expectVector(unitOrZero({0.0f, -std::ldexp(3.0f, -140), std::ldexp(4.0f, -140), 0.0f}), 0.0f,
                 -0.6f, 0.8f);
    expectVector(unitOrZero({3e30f, 4e30f, 0.0f, 0.0f}), 0.6f, 0.8f, 0.0f);
    expectVector(unitOrZero({std::numeric_limits<float>::max(), 0.0f, 0.0f, 0.0f}), 1.0f, 0.0f,
                 0.0f);
    // In range it is v / |v| exactly as before.
    EXPECT_EQ(unitOrZero({1.0f, 2.0f, 2.0f, 0.0f}).y, 2.0f / 3.0f);
}

TEST(ExtremeMagnitudes, OstrelBasisStaysUnitForHugeSizes) {
    static UVWGenOstrelDesc desc;
    for (float size : {1e22f, 1e30f, 1e38f}) {
        PluginBase* plugin = desc.newPlugin(nullptr);
        ASSERT_TRUE(setParamValue(*paramListOf(plugin), "size_x", size));
        ASSERT_TRUE(setParamValue(*paramListOf(plugin), "angle_z", 30.0f));
        kivohost::RenderSession session;
        auto* kivo = static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN));
        kivo->prepareRender(&session.renderer);
        kivo->frameBegin(&session.renderer);
        ShadingContext sc;
        sc.renderer = &session.renderer;
        Vector4f uvw, basis[3];
        auto* ostrel = static_cast<UVWGenOstrelInterface*>(plugin->getInterface(EXT_UVWGEN_OSTREL));
        ASSERT_EQ(ostrel->evalUVWBasis(sc, uvw, basis), 1);
        // The x axis of the placement turned 30 degrees about z, whatever its scale.
        expectVector(basis[0], 0.8660254f, 0.5f, 0.0f);
        expectVector(basis[1], -0.5f, 0.8660254f, 0.0f);
        kivo->finishFrame(&session.renderer);
        kivo->finishRender(&session.renderer);
        desc.deletePlugin(plugin);
    }
}
