#include "frame/LibDesc.h"

#include "kivo/PluginDescriptor.h"

#include <algorithm>
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

// Newest first, stopping where the callback says; the nodes are freed with the library
// description and the count stays.
TEST(LibDesc, EnumeratesNewestFirstStopsWhereTheCallbackSaysAndFreesItsNodes) {
    PluginDescList list;
    DummyDesc a("A", 1, "", UVWGEN_DESC_INTERFACES), b("B", 2, "", UVWGEN_DESC_INTERFACES),
        c("C", 3, "", UVWGEN_DESC_INTERFACES);
    {
        LibDesc lib(list);
        EXPECT_EQ(lib.enumeratePluginDescs(nullptr), 0u);
        list.add(&a);
        list.add(&b);
        list.add(&c);
        EXPECT_EQ(lib.enumeratePluginDescs(nullptr), 3u);
        for (int limit : {1, 2, 100}) {
            Recorder recorder(limit);
            EXPECT_EQ(lib.enumeratePluginDescs(&recorder), std::size_t(std::min(limit, 3)));
            const std::vector<PluginDesc*> all = {&c, &b, &a};
            EXPECT_EQ(recorder.seen,
                      std::vector<PluginDesc*>(all.begin(), all.begin() + std::min(limit, 3)));
        }
    }
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.count, 3u);
}
