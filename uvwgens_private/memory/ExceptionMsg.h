// The exception the library throws when the host allocator cannot satisfy a request.
#pragma once

#include "kivo/HostSdk.h"

#include <cstddef>

namespace KUtils {

class ExceptionMsg {
public:
    static constexpr std::size_t kTextSize = 1024;

    // printf-style; text longer than kTextSize - 1 bytes is cut.
    explicit ExceptionMsg(const char* format, ...) KIVO_PRINTF_FORMAT(2, 3);
    ExceptionMsg(const ExceptionMsg& other);
    ExceptionMsg& operator=(const ExceptionMsg& other);

    // Slot order: destructor, getMessage.
    virtual ~ExceptionMsg();
    virtual const char* getMessage() const;

private:
    // Always zero-terminated.
    char text[kTextSize] = {};
};

} // namespace KUtils
