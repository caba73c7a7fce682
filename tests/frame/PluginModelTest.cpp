#include "kivo/PluginDescriptor.h"
#include "kivo/ShadingContext.h"
#include "sdk/HostRuntime.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace KUtils;

namespace {

class TestTexture;
using TestTextureDesc = PluginDescOf<TestTexture>;

class TestTexture : public KivoTexture {
public:
    explicit TestTexture(KivoPluginDesc* desc) : KivoTexture(desc) {}
    PluginBase* getPlugin() override { return this; }
    void evalColor(AColor& result, const ShadingContext&) override { result = {1, 2, 3, 4}; }
    void getColorRange(AColor& minimum, AColor& maximum) override { minimum = maximum = {}; }
};

// An extra interface a plugin can carry in its interface list; counts its releases.
class ExtraInterface : public PluginInterface {
public:
    ExtraInterface(PluginBase* owner, InterfaceID id) : owner(owner), id(id) {}
    InterfaceID getInterfaceID() override { return id; }
    PluginBase* getPlugin() override { return owner; }
    void release() override { ++releases; }
    PluginBase* owner;
    InterfaceID id;
    int releases = 0;
};

// A descriptor without parameter descriptors.
TestTextureDesc& textureDesc() {
    static TestTextureDesc desc("TestTexture", 42, "A test texture", TEXTURE_DESC_INTERFACES);
    return desc;
}

} // namespace

TEST(PluginModel, InterfaceQueriesAnswerOwnPartsThenTheList) {
    PluginBase* instance = textureDesc().newPlugin(nullptr);
    ASSERT_NE(instance, nullptr);
    PluginInterface* texture = instance->getInterface(EXT_TEXTURE);
    ASSERT_NE(texture, nullptr);
    EXPECT_STREQ(texture->getInterfaceName(), "EXT_TEXTURE");
    AColor c;
    static_cast<TextureInterface*>(texture)->evalColor(c, ShadingContext{});
    EXPECT_EQ(c.b, 3.0f);
    EXPECT_EQ(instance->getInterface(EXT_UVWGEN), nullptr);

    // The list answers ids the plugin's own parts do not, newest first.
    ExtraInterface first(instance, 7), second(instance, 7), other(instance, 8);
    ExtraInterface stranger(instance, 9), owned(instance, 10);
    EXPECT_EQ(instance->addInterface(&first, 0), 1);
    EXPECT_EQ(instance->addInterface(&second, 0), 1);
    EXPECT_EQ(instance->addInterface(&other, 0), 1);
    EXPECT_EQ(instance->getInterface(7), &second);
    EXPECT_EQ(instance->getInterface(8), &other);
    // Removing an interface that is not listed changes nothing; removal unlinks without
    // releasing.
    EXPECT_EQ(instance->removeInterface(&stranger), 0);
    EXPECT_EQ(instance->removeInterface(&second), 1);
    EXPECT_EQ(second.releases, 0);
    EXPECT_EQ(instance->getInterface(7), &first);
    EXPECT_EQ(instance->removeInterface(&first), 1);
    EXPECT_EQ(instance->getInterface(7), nullptr);
    // Destroying the plugin releases only the interfaces it owns.
    instance->addInterface(&owned, 1);
    textureDesc().deletePlugin(instance);
    EXPECT_EQ(owned.releases, 1);
    EXPECT_EQ(other.releases, 0);
    textureDesc().deletePlugin(nullptr); // ignored
}

TEST(PluginModel, NamesParametersAndHostAreOptional) {
    auto* instance = static_cast<TestTexture*>(textureDesc().newPlugin(nullptr));
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->getPluginName(), nullptr);
    char name[] = "first";
    instance->setPluginName(name);
    std::strcpy(name, "xxxxx"); // the name is copied
    EXPECT_STREQ(instance->getPluginName(), "first");
    instance->setPluginName(nullptr);
    EXPECT_EQ(instance->getPluginName(), nullptr);
    EXPECT_STREQ(instance->getTypeName(), "TestTexture");
    // No parameter descriptors: the instance has no list and parameter access reports absence.
    auto* kivo = static_cast<KivoPluginInterface*>(instance->getInterface(EXT_KIVO_PLUGIN));
    EXPECT_EQ(kivo->getParamList(), nullptr);
    EXPECT_EQ(kivo->getParameter("anything"), nullptr);
    EXPECT_EQ(kivo->setParameter(nullptr), 0);
    kivo->frameBegin(nullptr);
    textureDesc().deletePlugin(instance);
    // No host: registration does nothing.
    textureDesc().registerPlugin(nullptr);
    textureDesc().unregisterPlugin(nullptr);
}
