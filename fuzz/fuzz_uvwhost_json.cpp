// The reference host's readers of user input on arbitrary text: context lines of `eval`, the
// --frame settings, --set NAME=JSON against every plugin type's parameters (applied to a real
// instance and read back), and parameter values of every type and shape. The first byte picks
// the reader, the rest is the text. Any text gives a value or an error message that says
// something; nothing throws, crashes or leaks, and what is read can be applied.
#include "Require.h"
#include "scene/TextureStandIns.h"
#include "tests/reliability/PluginScenes.h"
#include "uvwhost/ContextLine.h"
#include "uvwhost/FrameSettings.h"
#include "uvwhost/ParamSettings.h"

#include <cstdlib>
#include <string>
#include <string_view>

using namespace KUtils;
using namespace uvwhost;

namespace {

template <class T>
void requireValueOrMessage(const Parsed<T>& parsed) {
    FUZZ_REQUIRE(parsed || !parsed.error().empty());
}

// A texture any "@name" reference connects to.
PluginBase* connectable() {
    static kivohost::ColorTexture texture(AColor{0.5f, 0.5f, 0.5f, 1.0f});
    return &texture;
}

void context(std::string_view text) {
    const auto request = parseContextLine(text);
    requireValueOrMessage(request);
    if (request) {
        ShadingContext sc;
        fillContext(*request, 0, sc);
    }
}

void frame(std::string_view text) {
    const Parsed<FrameSettings> settings = parseFrameSettings(text);
    requireValueOrMessage(settings);
    if (settings) {
        kivohost::RenderSession session;
        applyFrameSettings(*settings, session);
    }
}

void setArgument(std::uint8_t selector, std::string_view text) {
    const Parsed<SetArgument> arg = readSetArgument(text);
    requireValueOrMessage(arg);
    if (!arg) {
        return;
    }
    const auto& types = reliability::libraryPluginTypes();
    KivoPluginDesc& type = *types[selector % types.size()];
    const std::vector<ParamDef> defs = paramDefsOf(*type.getParamListDesc());
    const Parsed<ParamSetting> setting =
        readNamedSetting(defs, type.getName(), arg->name, arg->value);
    requireValueOrMessage(setting);
    if (!setting) {
        return;
    }
    PluginBase* plugin = type.newPlugin(nullptr);
    KivoParameterList& list = *paramListOf(plugin);
    applyParamSetting(list, *setting, [](const std::string& name) {
        return name.empty() ? nullptr : connectable();
    });
    for (const ParamDef& def : defs) {
        if (const KivoParameter* param = list.getParam(def.name.c_str())) {
            paramValueJson(*param, def, 0.5, [](PluginBase* p) {
                return p ? std::string("@input") : std::string();
            }).dump();
        }
    }
    type.deletePlugin(plugin);
}

void paramValue(std::uint8_t selector, std::string_view text) {
    const Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        return;
    }
    const int types = int(ParamType::OutputTextureVector) + 1;
    const ParamDef def{"p", ParamType(selector % types), (selector / types) % 2 ? 0 : -1};
    requireValueOrMessage(readParamSetting(def, value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
    switch (data[0] % 4) {
    case 0:
        context(text);
        break;
    case 1:
        frame(text);
        break;
    case 2:
        setArgument(data[1], text);
        break;
    default:
        paramValue(data[1], text);
        break;
    }
    return 0;
}
