// The outcome of parsing one piece of user input: a value, or a message that names the input
// and what was expected. Parsers never throw and never print; the caller decides what to do.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace uvwhost {

template <class T>
class Parsed {
public:
    Parsed(T value) : result(std::move(value)) {}
    static Parsed failure(std::string message) {
        Parsed p;
        p.message = std::move(message);
        return p;
    }

    explicit operator bool() const { return result.has_value(); }
    T& operator*() { return *result; }
    const T& operator*() const { return *result; }
    T* operator->() { return &*result; }
    const T* operator->() const { return &*result; }
    const std::string& error() const { return message; }

private:
    Parsed() = default;
    std::optional<T> result;
    std::string message;
};

} // namespace uvwhost
