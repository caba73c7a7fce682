#include "uvwhost/Commands.h"

#include "kivo/InterfaceIds.h"
#include "scene/GpuParamBlocks.h"
#include "uvwhost/BakeCommand.h"
#include "uvwhost/Catalog.h"
#include "uvwhost/CompareCommand.h"
#include "uvwhost/ContextLine.h"
#include "uvwhost/Evaluation.h"
#include "uvwhost/FrameSettings.h"
#include "uvwhost/Limits.h"
#include "uvwhost/ParamSettings.h"
#include "uvwhost/PluginSession.h"
#include "uvwhost/RenderCommand.h"
#include "uvwhost/SceneFile.h"

#include <iomanip>
#include <istream>
#include <optional>
#include <ostream>

namespace uvwhost {

using namespace KUtils;

namespace {

#if defined(_WIN32)
#define UVWHOST_MODULE_FILE "uvwgens.dll"
#else
#define UVWHOST_MODULE_FILE "libuvwgens.so"
#endif
#if defined(UVWHOST_HAVE_OPENEXR)
#define UVWHOST_MISSING_EXR ""
#else
#define UVWHOST_MISSING_EXR                                                                        \
    "--aov-uvw and --aov-depth are not available: this build has no OpenEXR.\n"
#endif
#if defined(UVWHOST_HAVE_ASSETS)
#define UVWHOST_ASSETS                                                                             \
    "Scene files read meshes (OBJ, PLY, glTF 2.0 .gltf/.glb, FBX; UV set k is map channel\n"       \
    "k + 1) and images (JPEG, PNG, TIFF, OpenEXR; 8/16-bit and float).\n"
#else
#define UVWHOST_ASSETS                                                                             \
    "This build reads no mesh or image files (it was made without Assimp, OpenImageIO and\n"       \
    "Embree): scene files with \"mesh\" objects or BitmapBuffer files are refused.\n"
#endif

const char* const USAGE =
    "usage: uvwhost [--lib PATH] COMMAND ...\n"
    "  list [--json]                      plugin types of the library\n"
    "  params TYPE [--json]               parameters of a plugin type\n"
    "  gpu TYPE [--set NAME=JSON]... [--frame JSON] [--output NAME] [--kind KIND] [--json]\n"
    "                                     the GPU description of an instance\n"
    "  eval TYPE [--set NAME=JSON]... [--frame JSON] [--scene FILE --instance NAME]\n"
    "                                     evaluate JSON-lines shading contexts from stdin\n"
    "  render [--scene FILE [--camera NAME]] [-o out.png] [--width W --height H]\n"
    "         [--threads N] [--aov-uvw out.exr] [--aov-depth out.exr] [--quiet]\n"
    "                                     render a scene (default: the showcase); the depth\n"
    "                                     is the distance from the camera centre per pixel\n"
    "  bake --scene FILE --object NAME --texture NAME -o out.png|out.exr [--channel N]\n"
    "       [--size W[xH]] [--padding PX] [--samples N] [--threads N] [--bits 8|16]\n"
    "       [--alpha coverage|texture] [--quiet]\n"
    "                                     evaluate a texture over the named mesh's map\n"
    "                                     channel N (default 1) into an image\n"
    "  compare REFERENCE IMAGE [--min-alpha A] [-o difference.png]\n"
    "                                     PSNR and share within 2/255 over the pixels where\n"
    "                                     both alphas are at least A (default 0.5)\n"
    "  --version                          versions of uvwhost and the library\n"
    "--lib defaults to " UVWHOST_MODULE_FILE " next to the uvwhost executable.\n"
    "Exit status: 0 done; 1 some input lines or an output failed; 2 bad input, nothing run;\n"
    "3 the instance gave no GPU description.\n" UVWHOST_ASSETS UVWHOST_MISSING_EXR;

// Interface ids a descriptor may report support for, in the order they are listed.
constexpr InterfaceID KNOWN_INTERFACES[] = {
    EXT_KIVO_PLUGIN,       EXT_UVWGEN,           EXT_RTTEX,
    EXT_TEXTURE,           EXT_TEXTURE_VECTOR,   EXT_UVWGENCHANNEL,
    EXT_UVWGEN_OSTREL,     EXT_RENDER_SETTINGS,  EXT_TEXTURE_FLOAT,
    EXT_TEXTURE_TRANSFORM, EXT_RENDER_VIEW,      EXT_CAMERA_SETTINGS,
    EXT_BITMAP_SIZE,       EXT_BITMAP_FRAME_SIZE};

// The command's own arguments after the command name; --lib is taken out wherever it is.
class Args {
public:
    Args(std::vector<std::string> args) : args(std::move(args)) {}

    bool done() const { return i >= args.size(); }
    // Everything not read yet.
    std::vector<std::string> rest() const {
        return std::vector<std::string>(args.begin() + std::ptrdiff_t(i), args.end());
    }
    const std::string& next() { return args[i++]; }
    // The value of an option that takes one.
    Parsed<std::string> value(const std::string& option) {
        if (done()) {
            return Parsed<std::string>::failure(option + ": expected a value after it");
        }
        return next();
    }

private:
    std::vector<std::string> args;
    std::size_t i = 0;
};

// Reads one line of at most MAX_INPUT_BYTES into `line`; false at the end of the input. A
// longer line is read to its end but not kept, and `tooLong` is set.
bool readLine(std::istream& in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    std::streambuf& buffer = *in.rdbuf();
    for (int c; (c = buffer.sbumpc()) != std::char_traits<char>::eof();) {
        if (c == '\n') {
            return true;
        }
        if (line.size() < MAX_INPUT_BYTES) {
            line += char(c);
        } else {
            tooLong = true;
        }
    }
    return !line.empty() || tooLong;
}

class Runner {
public:
    Runner(Streams s, std::string libPath) : s(s), libPath(std::move(libPath)) {}

    int run(const std::string& command, Args& args);

private:
    int badInput(const std::string& message) {
        s.err << "uvwhost: " << message << "\n";
        return EXIT_BAD_INPUT;
    }
    // Loads the library (and the host's plugin types); null after reporting the error.
    bool load() {
        auto lib = PluginLibrary::open(libPath);
        if (!lib) {
            s.err << "uvwhost: " << lib.error() << "\n";
            return false;
        }
        catalog.emplace(*lib);
        return true;
    }
    void flushLog(PluginSession& session) {
        for (const std::string& line : session.render().log.lines()) {
            s.err << line << (line.ends_with("\n") ? "" : "\n");
        }
        session.render().log.clear();
    }

    int list(Args& args);
    int params(Args& args);
    int gpu(Args& args);
    int eval(Args& args);
    // Commands that read their options, then need the library: bad options are refused
    // before it is loaded.
    template <class Options>
    int withLibrary(const std::string& command, const Parsed<Options>& options,
                    int (*runWith)(const Options&, const Catalog&, Streams)) {
        if (!options) {
            return badInput(command + ": " + options.error());
        }
        if (!load()) {
            return EXIT_BAD_INPUT;
        }
        return runWith(*options, *catalog, s);
    }

    // The options gpu and eval share: the plugin type, --set and --frame (and for eval the
    // scene); anything else goes to `other`, which returns false for an unknown option.
    struct InstanceOptions {
        std::string type;
        std::vector<SetArgument> sets;
        FrameSettings frame;
        std::optional<std::string> scene;
        std::optional<std::string> instance;
    };
    template <class Other>
    std::string readInstanceOptions(Args& args, InstanceOptions& o, bool allowScene, Other other);
    // Creates the instance described by the options in the session, with its parameters.
    Parsed<PluginInstance*> makeInstance(PluginSession& session, const InstanceOptions& o);

    Streams s;
    std::string libPath;
    std::optional<Catalog> catalog;
};

int Runner::run(const std::string& command, Args& args) {
    if (command == "list") {
        return list(args);
    }
    if (command == "params") {
        return params(args);
    }
    if (command == "gpu") {
        return gpu(args);
    }
    if (command == "eval") {
        return eval(args);
    }
    if (command == "render") {
        return withLibrary(command, readRenderOptions(args.rest()), &runRender);
    }
    if (command == "bake") {
        return withLibrary(command, readBakeOptions(args.rest()), &runBake);
    }
    if (command == "compare") {
        auto options = readCompareOptions(args.rest());
        return options ? runCompare(*options, s) : badInput("compare: " + options.error());
    }
    if (command == "--version") {
        if (!load()) {
            return EXIT_BAD_INPUT;
        }
        PluginLibrary& lib = catalog->library();
        // The library descriptor carries no version number: its description and plugin
        // count identify it.
        s.out << "uvwhost " << UVWHOST_VERSION << "\n"
              << "library " << lib.path() << ": " << lib.libDesc().getLibraryDescription() << ", "
              << lib.descriptors().size() << " plugin types\n";
        return EXIT_OK;
    }
    if (command == "help" || command == "--help" || command == "-h") {
        s.out << USAGE;
        return EXIT_OK;
    }
    s.err << "uvwhost: unknown command " << quoteInput(command, '\'') << "\n" << USAGE;
    return EXIT_BAD_INPUT;
}

int Runner::list(Args& args) {
    bool json = false;
    while (!args.done()) {
        const std::string& a = args.next();
        if (a == "--json") {
            json = true;
        } else {
            return badInput("list: unknown option " + quoteInput(a, '\''));
        }
    }
    if (!load()) {
        return EXIT_BAD_INPUT;
    }
    PluginLibrary& lib = catalog->library();
    if (json) {
        Json plugins = Json::array();
        for (KivoPluginDesc* d : lib.descriptors()) {
            Json supports = Json::array();
            for (InterfaceID id : KNOWN_INTERFACES) {
                if (d->supportsInterface(id)) {
                    supports.push_back(id);
                }
            }
            plugins.push_back(Json{{"name", d->getName()},
                                   {"id", d->getPluginID()},
                                   {"description", d->getDescription()},
                                   {"supports", supports}});
        }
        s.out << Json{{"category", lib.libDesc().getCategory()},
                      {"description", lib.libDesc().getLibraryDescription()},
                      {"plugins", plugins}}
                     .dump(2)
              << "\n";
        return EXIT_OK;
    }
    s.out << lib.libDesc().getCategory() << ": " << lib.libDesc().getLibraryDescription() << "\n"
          << lib.path() << ", " << lib.descriptors().size() << " plugin types\n";
    for (KivoPluginDesc* d : lib.descriptors()) {
        s.out << "  " << std::left << std::setw(20) << d->getName() << std::setw(12)
              << d->getPluginID() << d->getDescription() << "\n";
    }
    return EXIT_OK;
}

int Runner::params(Args& args) {
    bool json = false;
    std::optional<std::string> type;
    while (!args.done()) {
        const std::string& a = args.next();
        if (a == "--json") {
            json = true;
        } else if (!a.starts_with("-") && !type) {
            type = a;
        } else {
            return badInput("params: unexpected argument " + quoteInput(a, '\''));
        }
    }
    if (!type) {
        return badInput("params: expected a plugin type (see uvwhost list)");
    }
    if (!load()) {
        return EXIT_BAD_INPUT;
    }
    KivoPluginDesc* desc = catalog->find(*type);
    if (!desc) {
        return badInput(catalog->unknownType(*type));
    }
    // The defaults are what a fresh instance holds.
    PluginSession session;
    auto instance = session.create(desc, "defaults");
    if (!instance) {
        s.err << "uvwhost: " << instance.error() << "\n";
        return EXIT_PARTIAL;
    }
    KivoParameterListDesc* defs = desc->getParamListDesc();
    KivoParameterList* values = (*instance)->params();
    Json list = Json::array();
    const int n = defs ? defs->getNumParamDefs() : 0;
    for (int i = 0; i < n; ++i) {
        const ParamDef def{defs->getParamDefName(i), defs->getParamDefType(i),
                           defs->getParamDefCount(i)};
        KivoParameter* value = values ? values->getParam(def.name.c_str()) : nullptr;
        Json entry{{"name", def.name},
                   {"type", paramTypeName(def.type)},
                   {"default", value && def.type != ParamType::OutputTextureVector
                                   ? paramValueJson(*value, def, 0.0, nullptr)
                                   : Json()},
                   {"description", defs->getParamDefDescription(i)},
                   {"hints", defs->getParamDefHints(i) ? defs->getParamDefHints(i) : ""},
                   {"count", def.count}};
        list.push_back(std::move(entry));
    }
    if (json) {
        s.out << Json{{"plugin", desc->getName()}, {"params", list}}.dump(2) << "\n";
        return EXIT_OK;
    }
    s.out << desc->getName() << ": " << desc->getDescription() << "\n";
    for (const Json& p : list) {
        s.out << "  " << std::left << std::setw(22) << p["name"].get<std::string>() << " "
              << std::setw(17) << p["type"].get<std::string>() << " " << p["default"].dump() << "\n"
              << "      " << p["description"].get<std::string>();
        if (!p["hints"].get<std::string>().empty()) {
            s.out << "  [" << p["hints"].get<std::string>() << "]";
        }
        s.out << "\n";
    }
    return EXIT_OK;
}

template <class Other>
std::string Runner::readInstanceOptions(Args& args, InstanceOptions& o, bool allowScene,
                                        Other other) {
    while (!args.done()) {
        const std::string a = args.next();
        if (a == "--set") {
            auto v = args.value(a);
            if (!v) {
                return v.error();
            }
            auto set = readSetArgument(*v);
            if (!set) {
                return set.error();
            }
            o.sets.push_back(std::move(*set));
        } else if (a == "--frame") {
            auto v = args.value(a);
            if (!v) {
                return v.error();
            }
            auto frame = parseFrameSettings(*v);
            if (!frame) {
                return frame.error();
            }
            o.frame = *frame;
        } else if (allowScene && (a == "--scene" || a == "--instance")) {
            auto v = args.value(a);
            if (!v) {
                return v.error();
            }
            (a == "--scene" ? o.scene : o.instance) = *v;
        } else if (!a.starts_with("-") && o.type.empty()) {
            o.type = a;
        } else if (!other(a)) {
            return "unexpected argument " + quoteInput(a, '\'');
        }
    }
    if (o.type.empty()) {
        return "expected a plugin type (see uvwhost list)";
    }
    if (o.scene.has_value() != o.instance.has_value()) {
        return "--scene and --instance go together";
    }
    return {};
}

Parsed<PluginInstance*> Runner::makeInstance(PluginSession& session, const InstanceOptions& o) {
    using Result = Parsed<PluginInstance*>;
    PluginInstance* instance = nullptr;
    if (o.scene) {
        auto doc = loadSceneDocument(*o.scene);
        if (!doc) {
            return Result::failure(doc.error());
        }
        std::string error = instantiateScenePlugins(*doc, *catalog, session);
        if (!error.empty()) {
            return Result::failure(error);
        }
        session.applyFrame(doc->frame);
        instance = session.find(*o.instance);
        if (!instance) {
            return Result::failure(quoteInput(*o.scene, 0) + ": no instance named " +
                                   quoteInput(*o.instance));
        }
        if (instance->typeName() != o.type) {
            return Result::failure(quoteInput(*o.scene, 0) + ": instance " +
                                   quoteInput(*o.instance) + " is a " + instance->typeName() +
                                   ", not a " + quoteInput(o.type, 0));
        }
    } else {
        KivoPluginDesc* desc = catalog->find(o.type);
        if (!desc) {
            return Result::failure(catalog->unknownType(o.type));
        }
        auto created = session.create(desc, o.type);
        if (!created) {
            return created;
        }
        instance = *created;
    }
    const KivoParameterListDesc* defs = instance->desc->getParamListDesc();
    const std::vector<ParamDef> paramDefs = defs ? paramDefsOf(*defs) : std::vector<ParamDef>{};
    for (const SetArgument& set : o.sets) {
        auto setting = readNamedSetting(paramDefs, o.type, set.name, set.value);
        if (!setting) {
            return Result::failure("--set " + quoteInput(set.name, 0) + ": " + setting.error());
        }
        std::string error = session.set(*instance, *setting);
        if (!error.empty()) {
            return Result::failure("--set " + quoteInput(set.name, 0) + ": " + error);
        }
    }
    if (std::string error = session.checkReferences(); !error.empty()) {
        return Result::failure(error);
    }
    if (!o.scene) {
        session.applyFrame(o.frame);
    }
    return instance;
}

int Runner::gpu(Args& args) {
    InstanceOptions o;
    bool json = false;
    std::string output;
    std::string kind = "MaterialDescriptor";
    std::string pendingError;
    std::string error = readInstanceOptions(args, o, false, [&](const std::string& a) {
        if (a == "--json") {
            json = true;
            return true;
        }
        if (a == "--output" || a == "--kind") {
            auto v = args.value(a);
            if (!v) {
                pendingError = v.error();
                return true;
            }
            (a == "--output" ? output : kind) = *v;
            return true;
        }
        return false;
    });
    if (error.empty()) {
        error = pendingError;
    }
    if (!error.empty()) {
        return badInput("gpu: " + error);
    }
    if (!load()) {
        return EXIT_BAD_INPUT;
    }
    PluginSession session;
    auto instance = makeInstance(session, o);
    if (!instance) {
        return badInput("gpu: " + instance.error());
    }
    session.prepareRender();
    session.beginFrame();
    auto* rt = static_cast<RTTexInterface*>((*instance)->plugin->getInterface(EXT_RTTEX));
    ShaderSource source;
    GPUDataRecord gpuData;
    gpuData.renderer = session.renderer();
    // The GPU code generator's parameter blocks (projections register theirs here).
    kivohost::GpuParamBlocks blocks;
    gpuData.paramBlockRegistry = &blocks;
    int result = 0;
    if (rt) {
        result = rt->emitRTSource(output.c_str(), (*instance)->name.c_str(), kind.c_str(), source,
                                  gpuData);
    }
    session.endFrame();
    session.finishRender();
    flushLog(session);
    const std::string text = source.text() ? std::string(source.text(), source.size()) : "";
    if (json) {
        s.out << Json{{"result", result},
                      {"text", text},
                      {"objectSpaceFlag", gpuData.objectSpaceFlag}}
                     .dump(2)
              << "\n";
    } else {
        s.out << text;
    }
    if (!rt) {
        s.err << "uvwhost: gpu: " << o.type << " does not answer EXT_RTTEX: no GPU description\n";
        return EXIT_NO_GPU_TEXT;
    }
    if (text.empty()) {
        s.err << "uvwhost: gpu: " << o.type << " wrote no GPU description for the kind "
              << quoteInput(kind) << " (emitRTSource returned " << result << ")\n";
        return EXIT_NO_GPU_TEXT;
    }
    return EXIT_OK;
}

int Runner::eval(Args& args) {
    InstanceOptions o;
    std::string error =
        readInstanceOptions(args, o, true, [](const std::string&) { return false; });
    if (!error.empty()) {
        return badInput("eval: " + error);
    }
    if (!load()) {
        return EXIT_BAD_INPUT;
    }
    PluginSession session;
    auto instance = makeInstance(session, o);
    if (!instance) {
        return badInput("eval: " + instance.error());
    }
    const EvalTarget target = EvalTarget::of((*instance)->plugin);
    if (target.empty()) {
        return badInput("eval: " + o.type + " is neither a UVW generator nor a texture");
    }
    session.prepareRender();
    session.beginFrame();
    int status = EXIT_OK;
    std::string line;
    bool tooLong = false;
    for (std::uint64_t index = 0; readLine(s.in, line, tooLong); ++index) {
        auto request = tooLong ? Parsed<ContextRequest>::failure(
                                     "longer than the " + std::to_string(MAX_INPUT_BYTES >> 20) +
                                     " MB a context line may have")
                               : parseContextLine(line);
        if (!request) {
            s.err << "uvwhost: contexts line " << index + 1 << ": " << request.error() << "\n";
            s.out << Json{{"error", "line " + std::to_string(index + 1) + ": " + request.error()}}
                         .dump(-1, ' ', false, Json::error_handler_t::replace)
                  << "\n";
            status = EXIT_PARTIAL;
            continue;
        }
        ShadingContext sc;
        sc.renderer = session.renderer();
        fillContext(*request, index, sc);
        s.out << evaluate(target, sc).dump() << "\n";
    }
    session.endFrame();
    session.finishRender();
    flushLog(session);
    return status;
}

} // namespace

int runCommandLine(const std::vector<std::string>& all, Streams streams) {
    std::string libPath = defaultLibraryPath();
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] == "--lib") {
            if (i + 1 >= all.size()) {
                streams.err << "uvwhost: --lib: expected a library path after it\n";
                return EXIT_BAD_INPUT;
            }
            libPath = all[++i];
        } else {
            rest.push_back(all[i]);
        }
    }
    if (rest.empty()) {
        streams.err << USAGE;
        return EXIT_BAD_INPUT;
    }
    const std::string command = rest.front();
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == "--help" || rest[i] == "-h") {
            streams.out << USAGE;
            return EXIT_OK;
        }
    }
    Args args(std::vector<std::string>(rest.begin() + 1, rest.end()));
    return Runner(streams, libPath).run(command, args);
}

} // namespace uvwhost
