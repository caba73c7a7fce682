// The host's side of a render, as far as the library sees it: sequence and frame data, the
// message log, plugin registration, and test controls of the allocator.
#pragma once

#include "kivo/HostSdk.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kivohost {

// Collects log lines; thread-safe.
class MessageLog final : public KUtils::KivoMessageLog {
public:
    void logMessage(const char* format, ...) override KIVO_PRINTF_FORMAT(2, 3);
    std::vector<std::string> lines() const;
    void clear();

private:
    mutable std::mutex mutex;
    std::vector<std::string> collected;
};

// Sequence data that can answer the up-direction query.
class SequenceData final : public KUtils::KivoSequenceData {
public:
    const void* getInterface(KUtils::InterfaceID id) const override;
    // Unset: the query is not answered.
    std::optional<KUtils::UpDirectionRecord> up;
};

// Sequence data, frame data, message log and renderer wired together.
struct RenderSession {
    RenderSession();
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;

    MessageLog log;
    SequenceData sequence;
    KUtils::KivoFrameData frame;
    KUtils::KivoRenderer renderer;
};

// Records which descriptors were registered.
class PluginRegistry final : public KUtils::KivoPluginHost {
public:
    void registerPluginDesc(KUtils::PluginDesc* desc) override;
    void unregisterPluginDesc(KUtils::PluginDesc* desc) override;
    std::vector<KUtils::PluginDesc*> registered;
};

// Makes vmalloc fail for allocations made on the calling thread while it lives: the first
// `skip` requests succeed, then `count` fail (count < 0: every later one).
class ScopedAllocFailure {
public:
    explicit ScopedAllocFailure(int skip = 0, int count = 1);
    ~ScopedAllocFailure();
    ScopedAllocFailure(const ScopedAllocFailure&) = delete;
    ScopedAllocFailure& operator=(const ScopedAllocFailure&) = delete;
    // Requests that failed so far under this switch.
    int failures() const;
};

// Successful vmalloc calls in the whole process since start (relaxed counter).
std::size_t allocationCount();

} // namespace kivohost
