// UVWGenPlanarWorld: its evaluations and GPU texts are the rows beside this file.
#include "channel/UVWGenPlanarWorld.h"

#include "tests/rows/PluginRows.h"
#include "tests/support/Plugin.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

TEST(UVWGenPlanarWorld, Rows) {
    rows::runRows(ROWS_DIR, "UVWGenPlanarWorld", {&descriptor<UVWGenPlanarWorldDesc>()});
}

// No parameter list is needed for the text: the defaults.
TEST(UVWGenPlanarWorld, GpuTextWithoutParameters) {
    UVWGenPlanarWorld bare(nullptr);
    GPUDataRecord record;
    EXPECT_EQ(gpuText(bare, nullptr, record),
              "uvw_transform 1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,"
              "0.000000,1.000000,0.000000,0.000000,0.000000\n"
              "wrap 0,0,0\ncrop 0,0,0\nmap_channel -5\n");
}

} // namespace
