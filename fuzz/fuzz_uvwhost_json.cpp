// The reference host's readers of user input on arbitrary text: context lines of `eval`, the
// --frame settings, --set NAME=JSON against every plugin type's parameters (applied to a real
// instance and read back), parameter values of every type and shape, and whole scene files
// (instances created, references checked, a frame begun and every instance evaluated). The
// first byte picks the reader, the rest is the text. Any text gives a value or an error
// message that says something; nothing throws, crashes, hangs or leaks, and what is read can
// be applied.
//
// Shapes a short text cannot spell are built from it: a scene of instances of the types that
// refer to each other (cycles, wrong kinds, chains up to thousands long) from a byte string,
// and a text with one part repeated up to 100,000 times (nesting of that depth, objects with
// that many keys, long chains of references).
#include "Require.h"
#include "scene/TextureStandIns.h"
#include "tests/support/PluginScenes.h"
#include "uvwhost/ContextLine.h"
#include "uvwhost/Evaluation.h"
#include "uvwhost/FrameSettings.h"
#include "uvwhost/ParamSettings.h"
#include "uvwhost/SceneFile.h"

#include <algorithm>
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
    const Parsed<Json> value = parseJson(text);
    requireValueOrMessage(value);
    if (!value) {
        return;
    }
    const int types = int(ParamType::OutputTextureVector) + 1;
    const ParamDef def{"p", ParamType(selector % types), (selector / types) % 2 ? 0 : -1};
    requireValueOrMessage(readParamSetting(def, *value));
    excerpt(*value);
}

// A scene file: read, instantiated with the library's types and the host's, then one frame in
// which every instance that can be evaluated is, at the origin. A reference cycle or a chain
// the render thread cannot follow must be refused before the frame.
void scene(std::string_view text) {
    const Parsed<SceneDocument> doc = parseSceneDocument(text, "scene");
    requireValueOrMessage(doc);
    if (!doc) {
        return;
    }
    static const Catalog catalog(reliability::libraryPluginTypes());
    PluginSession session;
    if (!instantiateScenePlugins(*doc, catalog, session).empty()) {
        return;
    }
    session.applyFrame(doc->frame);
    session.prepareRender();
    session.beginFrame();
    for (const auto& instance : session.instances()) {
        const EvalTarget target = EvalTarget::of(instance->plugin);
        if (!target.empty()) {
            ShadingContext sc;
            sc.renderer = session.renderer();
            ContextRequest request;
            fillContext(request, 0, sc);
            evaluate(target, sc).dump();
        }
    }
}

// Instances that refer to each other, from bytes: each names a type and which earlier or
// later instance each of its references goes to. A byte of 255 adds 300 instances of a type,
// each referring to the one before (a chain longer than a render thread may follow); at most
// 1,000 instances in all, so that inputs stay quick.
void graph(std::string_view bytes) {
    struct Type {
        const char* name;
        const char* refs[2];
    };
    static const Type types[] = {{"UVWGenChannel", {"uvwgen", nullptr}},
                                 {"TexGrid", {"uvwgen", "line_color"}},
                                 {"TexChecker", {"uvwgen", "color1"}},
                                 {"TexConstant", {"color", nullptr}},
                                 {"TexUVW", {"uvwgen", nullptr}},
                                 {"UVWGenExplicit", {"uvw", "u"}},
                                 {"TexMultiProjection", {"color_textures", "zdepth_textures"}},
                                 {"UVWGenProjection", {"camera_view", "bitmap"}}};
    Json instances = Json::array();
    auto add = [&](const Type& type, std::size_t refA, std::size_t refB) {
        Json params = Json::object();
        const std::size_t targets[2] = {refA, refB};
        for (int k = 0; k < 2; ++k) {
            if (type.refs[k]) {
                const Json ref = "@i" + std::to_string(targets[k]);
                params[type.refs[k]] =
                    std::string(type.refs[k]).ends_with("_textures") ? Json::array({ref}) : ref;
            }
        }
        instances.push_back({{"name", "i" + std::to_string(instances.size())},
                             {"type", type.name},
                             {"params", params}});
    };
    const std::size_t count = std::max<std::size_t>(1, bytes.size() / 3);
    for (std::size_t i = 0; i + 2 < bytes.size() && instances.size() < 1000; i += 3) {
        const auto b = [&](std::size_t k) { return std::uint8_t(bytes[i + k]); };
        if (b(0) == 255 && !instances.empty()) {
            const Type& type = types[std::size_t(b(1)) % std::size(types)];
            for (int n = 0; n < 300; ++n) {
                add(type, instances.size() - 1, instances.size() - 1);
            }
            continue;
        }
        add(types[b(0) % std::size(types)], b(1) % count, b(2) % count);
    }
    scene(Json{{"instances", instances}}.dump());
}

// The text as prefix, unit and suffix split at the first two 0x01 bytes; the unit repeated
// 400 times the count byte (up to 102,000), a '#' in it replaced by the repetition's number.
// Read as a context line, frame settings or (at most 2,000 repetitions, each of which may
// create an instance) a scene.
void repeated(std::uint8_t count, std::string_view text) {
    const auto first = text.find('\x01');
    const auto second = first == std::string_view::npos ? first : text.find('\x01', first + 1);
    if (second == std::string_view::npos || text.empty()) {
        return;
    }
    const std::string_view unit = text.substr(first + 1, second - first - 1);
    std::string expanded(text.substr(0, first));
    const int reader = first == 0 ? 0 : std::uint8_t(text[0]) % 3;
    const int repetitions = reader == 2 ? std::min(400 * int(count), 2000) : 400 * int(count);
    for (int n = 0; n < repetitions; ++n) {
        for (char c : unit) {
            expanded += c == '#' ? std::to_string(n) : std::string(1, c);
        }
    }
    expanded += text.substr(second + 1);
    // The reader: by the prefix's first byte.
    switch (reader) {
    case 0:
        context(expanded);
        break;
    case 1:
        frame(expanded);
        break;
    default:
        scene(expanded);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
    switch (data[0] % 7) {
    case 0:
        context(text);
        break;
    case 1:
        frame(text);
        break;
    case 2:
        setArgument(data[1], text);
        break;
    case 3:
        paramValue(data[1], text);
        break;
    case 4:
        scene(text);
        break;
    case 5:
        graph(text);
        break;
    default:
        repeated(data[1], text);
        break;
    }
    return 0;
}
