// The GPU description buffer, and the service that appends another plugin's description.
#include "kivo/HostSdk.h"
#include "sdk/Formatted.h"

#include <cstdarg>
#include <string>

namespace KUtils {

struct ShaderSource::Impl {
    std::string text;
};

ShaderSource::ShaderSource() : impl(new Impl) {}

ShaderSource::~ShaderSource() {
    delete impl;
}

void ShaderSource::append(const char* text) {
    if (text) {
        impl->text += text;
    }
}

void ShaderSource::printf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    kivohost::appendFormatted(impl->text, format, args);
    va_end(args);
}

const char* ShaderSource::text() const {
    return impl->text.c_str();
}

std::size_t ShaderSource::size() const {
    return impl->text.size();
}

int RTTexInterface::getRTTexSource(PluginInterface* iface, const char* outputName, const char* name,
                                   const char* kind, ShaderSource& source, GPUDataRecord& gpuData) {
    PluginBase* plugin = iface ? iface->getPlugin() : nullptr;
    PluginInterface* rt = plugin ? plugin->getInterface(EXT_RTTEX) : nullptr;
    if (!rt) {
        return 0;
    }
    return static_cast<RTTexInterface*>(rt)->emitRTSource(outputName, name, kind, source, gpuData);
}

} // namespace KUtils
