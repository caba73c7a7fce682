#include "uvwhost/PluginSession.h"

#include "uvwhost/Limits.h"

#include <algorithm>

namespace uvwhost {

using namespace KUtils;

KivoPluginInterface* PluginInstance::lifecycle() const {
    return static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN));
}

RenderSettingsInterface* PluginInstance::renderSettings() const {
    return static_cast<RenderSettingsInterface*>(plugin->getInterface(EXT_RENDER_SETTINGS));
}

KivoParameterList* PluginInstance::params() const {
    return paramListOf(plugin);
}

std::string PluginInstance::typeName() const {
    const char* n = desc->getName();
    return n ? n : "";
}

PluginSession::PluginSession() = default;

PluginSession::~PluginSession() {
    if (inFrame) {
        endFrame();
    }
    if (prepared) {
        finishRender();
    }
    while (!all.empty()) {
        all.back()->desc->deletePlugin(all.back()->plugin);
        all.pop_back();
    }
}

Parsed<PluginInstance*> PluginSession::create(KivoPluginDesc* desc, const std::string& name) {
    PluginBase* plugin = desc->newPlugin(nullptr);
    if (!plugin) {
        return Parsed<PluginInstance*>::failure(std::string("cannot create an instance of ") +
                                                desc->getName());
    }
    auto instance = std::make_unique<PluginInstance>(PluginInstance{name, desc, plugin, {}});
    // Instances of host plugin libraries are Plugins (their primary base); the name is
    // what their messages call them by.
    static_cast<Plugin*>(plugin)->setPluginName(name.c_str());
    // The first instance of a name keeps it (scene files refuse a second one).
    byName.emplace(name, instance.get());
    byPlugin.emplace(plugin, instance.get());
    all.push_back(std::move(instance));
    return all.back().get();
}

PluginInstance* PluginSession::find(const std::string& name) {
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : found->second;
}

std::string PluginSession::nameOf(const PluginBase* plugin) const {
    const auto found = byPlugin.find(plugin);
    return found == byPlugin.end() ? std::string() : found->second->name;
}

std::string PluginSession::set(PluginInstance& instance, const ParamSetting& setting) {
    KivoParameterList* list = instance.params();
    if (!list) {
        return instance.typeName() + " has no parameters";
    }
    std::vector<PluginInstance*> targets;
    std::string error =
        applyParamSetting(*list, setting, [&](const std::string& name) -> PluginBase* {
            PluginInstance* target = find(name);
            if (target) {
                targets.push_back(target);
            }
            return target ? target->plugin : nullptr;
        });
    if (error.empty()) {
        instance.references[setting.name] = std::move(targets);
    }
    return error;
}

std::string PluginSession::checkReferences() const {
    // Depth-first over the references, without recursion: a path can be as long as the
    // instance list. depth is the longest path of references from an instance, once known.
    enum class State { New, OnPath, Done };
    std::unordered_map<const PluginInstance*, State> state;
    std::unordered_map<const PluginInstance*, int> depth;
    struct Step {
        const PluginInstance* instance;
        std::vector<std::pair<const std::string*, const PluginInstance*>> next;
        std::size_t at = 0;
    };
    auto describe = [](const std::vector<Step>& path, std::size_t from, const PluginInstance* end) {
        std::string text;
        for (std::size_t i = from; i < path.size(); ++i) {
            const Step& s = path[i];
            text += quoteInput(s.instance->name) + " " + *s.next[s.at - 1].first + " -> ";
        }
        return text + quoteInput(end->name);
    };
    const std::string tooDeep = "a path of more than " + std::to_string(MAX_REFERENCE_DEPTH) +
                                " references (an evaluation follows each one on the render "
                                "thread's stack), from ";
    // An instance that refers to `target` is at least one reference deeper.
    auto deepen = [&](const PluginInstance* from, const PluginInstance* target) {
        depth[from] = std::max(depth[from], depth[target] + 1);
        return depth[from] > MAX_REFERENCE_DEPTH ? tooDeep + quoteInput(from->name) : std::string();
    };
    for (const auto& root : all) {
        if (state[root.get()] != State::New) {
            continue;
        }
        std::vector<Step> path;
        auto enter = [&](const PluginInstance* instance) {
            state[instance] = State::OnPath;
            Step step{instance, {}, 0};
            for (const auto& [param, targets] : instance->references) {
                for (const PluginInstance* target : targets) {
                    step.next.emplace_back(&param, target);
                }
            }
            path.push_back(std::move(step));
        };
        enter(root.get());
        while (!path.empty()) {
            Step& top = path.back();
            if (top.at < top.next.size()) {
                const PluginInstance* target = top.next[top.at++].second;
                if (state[target] == State::OnPath) {
                    std::size_t from = 0;
                    while (path[from].instance != target) {
                        ++from;
                    }
                    return "a cycle of references: " + describe(path, from, target);
                }
                if (state[target] == State::New) {
                    if (path.size() > std::size_t(MAX_REFERENCE_DEPTH)) {
                        return tooDeep + quoteInput(path.front().instance->name);
                    }
                    enter(target);
                    continue;
                }
                if (std::string error = deepen(top.instance, target); !error.empty()) {
                    return error;
                }
                continue;
            }
            state[top.instance] = State::Done;
            const PluginInstance* finished = top.instance;
            path.pop_back();
            if (!path.empty()) {
                if (std::string error = deepen(path.back().instance, finished); !error.empty()) {
                    return error;
                }
            }
        }
    }
    return {};
}

void PluginSession::prepareRender() {
    prepareRender(everyInstance());
}

void PluginSession::prepareRender(const std::vector<PluginInstance*>& some) {
    for (PluginInstance* instance : some) {
        if (KivoPluginInterface* life = instance->lifecycle()) {
            life->prepareRender(&session.renderer);
        }
    }
    for (PluginInstance* instance : some) {
        if (RenderSettingsInterface* settings = instance->renderSettings()) {
            settings->updateSequenceData(session.sequence);
        }
    }
    prepared = true;
}

void PluginSession::beginFrame() {
    beginFrame(everyInstance());
}

void PluginSession::beginFrame(const std::vector<PluginInstance*>& some) {
    for (PluginInstance* instance : some) {
        if (RenderSettingsInterface* settings = instance->renderSettings()) {
            settings->updateFrameData(session.frame);
        }
    }
    for (PluginInstance* instance : some) {
        if (KivoPluginInterface* life = instance->lifecycle()) {
            life->frameBegin(&session.renderer);
        }
    }
    inFrame = true;
}

std::vector<PluginInstance*> PluginSession::everyInstance() const {
    std::vector<PluginInstance*> list;
    for (const auto& instance : all) {
        list.push_back(instance.get());
    }
    return list;
}

void PluginSession::endFrame() {
    for (auto& instance : all) {
        if (KivoPluginInterface* life = instance->lifecycle()) {
            life->finishFrame(&session.renderer);
        }
    }
    inFrame = false;
}

void PluginSession::finishRender() {
    for (auto& instance : all) {
        if (KivoPluginInterface* life = instance->lifecycle()) {
            life->finishRender(&session.renderer);
        }
    }
    prepared = false;
}

} // namespace uvwhost
