// Captures the debugger output of the library while it lives.
#pragma once

#include "kivo/HostSdk.h"

#include <string>
#include <vector>

class DebugCapture {
public:
    DebugCapture() : previous(KUtils::setDebugOutputSink(&record)) { lines().clear(); }
    ~DebugCapture() { KUtils::setDebugOutputSink(previous); }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    static std::vector<std::u16string>& lines() {
        static std::vector<std::u16string> captured;
        return captured;
    }

private:
    static void record(const char16_t* text) { lines().emplace_back(text); }

    KUtils::DebugOutputSink previous;
};
