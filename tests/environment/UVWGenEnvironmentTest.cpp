// UVWGenEnvironment driven as a renderer drives it: its evaluations, GPU texts and messages are
// the rows beside this file; here what a row cannot say.
#include "environment/UVWGenEnvironment.h"

#include "tests/rows/PluginRows.h"
#include "tests/support/Plugin.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace testsupport;

TEST(UVWGenEnvironment, Rows) {
    rows::runRows(ROWS_DIR, "UVWGenEnvironment", {&descriptor<UVWGenEnvironmentDesc>()});
}

// Without a message log an unknown name is still resolved, silently; a null output name is
// described like any output other than "parameters".
TEST(UVWGenEnvironment, NoMessageLogAndNullOutputName) {
    kivohost::RenderSession session;
    Instance h{descriptor<UVWGenEnvironmentDesc>()};
    session.sequence.messageLog = nullptr;
    h.set("mapping_type", std::string("cubic "));
    h.set("wrap_u", 1);
    h.start(session);
    GPUDataRecord gpu;
    EXPECT_EQ(gpuText(h.rt(), "parameters", gpu).rfind("env_mapping -1\n", 0), 0u);
    gpu.objectSpaceFlag = 1;
    EXPECT_EQ(gpuText(h.rt(), nullptr, gpu), "wrap 1,0,0\ncrop 0,0,0\n");
    EXPECT_EQ(gpu.objectSpaceFlag, 0);
    EXPECT_TRUE(session.log.lines().empty());
    h.stop(session);
}

} // namespace
