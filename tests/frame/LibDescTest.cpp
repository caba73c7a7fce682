#include "frame/LibDesc.h"

#include "kivo/PluginDescriptor.h"

#include <gtest/gtest.h>
#include <vector>

using namespace KUtils;

namespace {

class Dummy : public KivoPlugin {
public:
    explicit Dummy(KivoPluginDesc* desc) : KivoPlugin(desc) {}
};

using DummyDesc = PluginDescOf<Dummy>;

// Records every descriptor and stops after `limit` of them.
class Recorder final : public PluginDescCallback {
public:
    explicit Recorder(int limit) : limit(limit) {}
    int visit(PluginDesc* desc) override {
        seen.push_back(desc);
        return int(seen.size()) < limit;
    }
    int limit;
    std::vector<PluginDesc*> seen;
};

} // namespace

TEST(LibDesc, EnumeratesNewestFirstAndStopsWhereTheCallbackSays) {
    PluginDescList list;
    LibDesc lib(list);
    DummyDesc a("A", 1, "", UVWGEN_DESC_INTERFACES), b("B", 2, "", UVWGEN_DESC_INTERFACES),
        c("C", 3, "", UVWGEN_DESC_INTERFACES);

    Recorder none(100);
    EXPECT_EQ(lib.enumeratePluginDescs(&none), 0u);
    EXPECT_TRUE(none.seen.empty());

    list.add(&a);
    list.add(&b);
    list.add(&c);
    EXPECT_EQ(lib.enumeratePluginDescs(nullptr), 3u);

    Recorder all(100);
    EXPECT_EQ(lib.enumeratePluginDescs(&all), 3u);
    EXPECT_EQ(all.seen, (std::vector<PluginDesc*>{&c, &b, &a}));

    Recorder first(1);
    EXPECT_EQ(lib.enumeratePluginDescs(&first), 1u);
    EXPECT_EQ(first.seen, std::vector<PluginDesc*>{&c});

    Recorder two(2);
    EXPECT_EQ(lib.enumeratePluginDescs(&two), 2u);
}

TEST(LibDesc, DestructionFreesTheNodesAndKeepsTheCount) {
    PluginDescList list;
    DummyDesc a("A", 1, "", UVWGEN_DESC_INTERFACES);
    {
        LibDesc lib(list);
        list.add(&a);
        list.add(&a);
    }
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.count, 2u);
}
