#include "uvwhost/PluginSession.h"

namespace uvwhost {

using namespace KUtils;

KivoPluginInterface* PluginInstance::lifecycle() const {
    return static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN));
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
    auto instance = std::make_unique<PluginInstance>(PluginInstance{name, desc, plugin});
    // Instances of host plugin libraries are Plugins (their primary base); the name is
    // what their messages call them by.
    static_cast<Plugin*>(plugin)->setPluginName(name.c_str());
    all.push_back(std::move(instance));
    return all.back().get();
}

PluginInstance* PluginSession::find(const std::string& name) {
    for (auto& instance : all) {
        if (instance->name == name) {
            return instance.get();
        }
    }
    return nullptr;
}

std::string PluginSession::nameOf(const PluginBase* plugin) const {
    for (const auto& instance : all) {
        if (instance->plugin == plugin) {
            return instance->name;
        }
    }
    return {};
}

std::string PluginSession::set(PluginInstance& instance, const ParamSetting& setting) {
    KivoParameterList* list = instance.params();
    if (!list) {
        return instance.typeName() + " has no parameters";
    }
    return applyParamSetting(*list, setting, [this](const std::string& name) -> PluginBase* {
        PluginInstance* target = find(name);
        return target ? target->plugin : nullptr;
    });
}

void PluginSession::prepareRender() {
    for (auto& instance : all) {
        if (KivoPluginInterface* life = instance->lifecycle()) {
            life->prepareRender(&session.renderer);
        }
    }
    for (auto& instance : all) {
        auto* settings = static_cast<RenderSettingsInterface*>(
            instance->plugin->getInterface(EXT_RENDER_SETTINGS));
        if (settings) {
            settings->updateSequenceData(session.sequence);
        }
    }
    prepared = true;
}

void PluginSession::beginFrame() {
    for (auto& instance : all) {
        auto* settings = static_cast<RenderSettingsInterface*>(
            instance->plugin->getInterface(EXT_RENDER_SETTINGS));
        if (settings) {
            settings->updateFrameData(session.frame);
        }
    }
    for (auto& instance : all) {
        if (KivoPluginInterface* life = instance->lifecycle()) {
            life->frameBegin(&session.renderer);
        }
    }
    inFrame = true;
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
