// The GPU description buffer, and the service that appends another plugin's description.
#include "kivo/HostSdk.h"

#include <cstdarg>
#include <cstdio>
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
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        const std::size_t start = impl->text.size();
        impl->text.resize(start + std::size_t(length));
        // vsnprintf writes the terminating zero over the string's own terminator slot.
        std::vsnprintf(impl->text.data() + start, std::size_t(length) + 1, format, again);
    }
    va_end(again);
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
