#include "memory/ExceptionMsg.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace KUtils {

ExceptionMsg::ExceptionMsg(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, kTextSize, format, args);
    va_end(args);
}

ExceptionMsg::ExceptionMsg(const ExceptionMsg& other) {
    std::memcpy(text, other.text, kTextSize);
}

ExceptionMsg& ExceptionMsg::operator=(const ExceptionMsg& other) {
    if (this != &other) {
        std::memcpy(text, other.text, kTextSize);
    }
    return *this;
}

ExceptionMsg::~ExceptionMsg() = default;

const char* ExceptionMsg::getMessage() const {
    return text;
}

} // namespace KUtils
