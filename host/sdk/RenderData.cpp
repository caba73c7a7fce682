// Sequence data, motion-blur sample count, the message log and plugin registration.
#include "kivo/HostSdk.h"
#include "sdk/Formatted.h"
#include "sdk/HostRuntime.h"

#include <algorithm>
#include <cstdarg>

namespace KUtils {

KivoSequenceData::KivoSequenceData() = default;

KivoSequenceData::~KivoSequenceData() = default;

void KivoSequenceData::setDefaults() {
    // Only this base part is reset; a derived host's own data stays.
    static_cast<KivoSequenceData&>(*this) = KivoSequenceData();
}

const void* KivoSequenceData::getInterface(InterfaceID) const {
    return nullptr;
}

int determineMotionBlurSamples(const KivoSequenceData& sequenceData, int requested) {
    if (sequenceData.motionBlur == 0) {
        return 1;
    }
    // A sequence configured with no geometry samples still needs one sample to evaluate.
    return std::max(1, requested > 0 ? requested : sequenceData.geomSamples);
}

} // namespace KUtils

namespace kivohost {

void MessageLog::logMessage(const char* format, ...) {
    std::string line;
    std::va_list args;
    va_start(args, format);
    appendFormatted(line, format, args);
    va_end(args);
    const std::lock_guard lock(mutex);
    collected.push_back(std::move(line));
}

std::vector<std::string> MessageLog::lines() const {
    const std::lock_guard lock(mutex);
    return collected;
}

void MessageLog::clear() {
    const std::lock_guard lock(mutex);
    collected.clear();
}

const void* SequenceData::getInterface(KUtils::InterfaceID id) const {
    if (id == KUtils::EXT_UP_DIRECTION && up) {
        return &*up;
    }
    return KivoSequenceData::getInterface(id);
}

RenderSession::RenderSession() {
    sequence.messageLog = &log;
    renderer.sequenceData = &sequence;
    renderer.frameData = &frame;
}

void PluginRegistry::registerPluginDesc(KUtils::PluginDesc* desc) {
    registered.push_back(desc);
}

void PluginRegistry::unregisterPluginDesc(KUtils::PluginDesc* desc) {
    const auto found = std::find(registered.begin(), registered.end(), desc);
    if (found != registered.end()) {
        registered.erase(found);
    }
}

} // namespace kivohost
