// A plugin library loaded the way a renderer loads it: dlopen or LoadLibrary, getLibDesc,
// enumeration of the plugin descriptors, and registration of each with the host (unregistered
// before unload).
#pragma once

#include "kivo/PluginLibDesc.h"
#include "sdk/HostRuntime.h"
#include "uvwhost/Parsed.h"

#include <memory>
#include <string>
#include <vector>

namespace uvwhost {

class PluginLibrary {
public:
    // Loads the library; the error names the path and what failed (loading, or a missing
    // getLibDesc).
    static Parsed<std::shared_ptr<PluginLibrary>> open(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return libraryPath; }
    KUtils::PluginLibDesc& libDesc() const { return *desc; }
    // In enumeration order.
    const std::vector<KUtils::KivoPluginDesc*>& descriptors() const { return descs; }

private:
    PluginLibrary(std::string path, void* handle, KUtils::PluginLibDesc* desc);

    std::string libraryPath;
    void* handle;
    KUtils::PluginLibDesc* desc;
    std::vector<KUtils::KivoPluginDesc*> descs;
    kivohost::PluginRegistry registry;
};

// The plugin module (libuvwgens.so, uvwgens.dll) in the directory of the running executable.
std::string defaultLibraryPath();

} // namespace uvwhost
