// Plugin instances driven through a render the way a renderer drives them: newPlugin,
// parameters, prepareRender, sequence data for plugins that take render settings, then per
// frame the frame data, frameBegin, evaluations and finishFrame; finishRender and
// deletePlugin at the end.
#pragma once

#include "kivo/PluginModel.h"
#include "sdk/HostRuntime.h"
#include "uvwhost/FrameSettings.h"
#include "uvwhost/ParamSettings.h"
#include "uvwhost/Parsed.h"

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace uvwhost {

struct PluginInstance {
    std::string name;
    KUtils::KivoPluginDesc* desc = nullptr;
    KUtils::PluginBase* plugin = nullptr;
    // The instances each parameter refers to (as last set).
    std::map<std::string, std::vector<PluginInstance*>> references;

    KUtils::KivoPluginInterface* lifecycle() const;
    KUtils::RenderSettingsInterface* renderSettings() const;
    KUtils::KivoParameterList* params() const;
    std::string typeName() const;
};

class PluginSession {
public:
    PluginSession();
    // Ends a frame or render still open, then deletes every instance (newest first).
    ~PluginSession();
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    kivohost::RenderSession& render() { return session; }
    KUtils::KivoRenderer* renderer() { return &session.renderer; }
    void applyFrame(const FrameSettings& settings) { applyFrameSettings(settings, session); }

    // A new named instance; the error says why the descriptor gave none.
    Parsed<PluginInstance*> create(KUtils::KivoPluginDesc* desc, const std::string& name);
    PluginInstance* find(const std::string& name);
    // The instance's name, empty when the plugin is not one of this session's.
    std::string nameOf(const KUtils::PluginBase* plugin) const;
    const std::vector<std::unique_ptr<PluginInstance>>& instances() const { return all; }

    // Applies one setting to an instance; references resolve to this session's instances.
    std::string set(PluginInstance& instance, const ParamSetting& setting);
    // After the settings: an empty string, else the reference cycle among the instances (an
    // evaluation would follow it without end) or the path of references longer than
    // MAX_REFERENCE_DEPTH (it would overflow a render thread's stack), named instance by
    // instance.
    std::string checkReferences() const;

    // The render's calls to every instance in creation order, each step to all of them
    // before the next (prepareRender, then sequence data; frame data, then frameBegin).
    void prepareRender();
    void beginFrame();
    void endFrame();
    void finishRender();
    // The same to some instances only, in the order given: a host that sets a plugin's inputs
    // up before the plugin, or one instance on its own (to tell which one fails, or to time
    // it). endFrame and finishRender still reach every instance. These two allocate nothing.
    void prepareRender(const std::vector<PluginInstance*>& some);
    void beginFrame(const std::vector<PluginInstance*>& some);

private:
    std::vector<PluginInstance*> everyInstance() const;

    kivohost::RenderSession session;
    std::vector<std::unique_ptr<PluginInstance>> all;
    std::unordered_map<std::string, PluginInstance*> byName;
    std::unordered_map<const KUtils::PluginBase*, PluginInstance*> byPlugin;
    bool prepared = false;
    bool inFrame = false;
};

} // namespace uvwhost
