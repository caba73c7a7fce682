// Reading JSON objects field by field: each known key has a reader that stores its value or
// returns a message; unknown keys are errors.
#pragma once

#include "uvwhost/JsonValues.h"

#include <functional>
#include <map>
#include <string>

namespace uvwhost {

// Reads one field's value (labelled `what` in messages); an empty result means success.
using FieldReader = std::function<std::string(const Json&, const std::string&)>;

// Runs the reader of every key of the object `value`. Fields are labelled
// `what "key"` in messages, or `field "key"` when topLevel is set.
std::string readFields(const Json& value, const std::string& what,
                       const std::map<std::string, FieldReader>& readers, bool topLevel = false);

// A reader that parses with read and stores the value into field.
template <class T, class F>
FieldReader into(T& field, F read) {
    return [&field, read](const Json& v, const std::string& w) -> std::string {
        auto parsed = read(v, w);
        if (!parsed) {
            return parsed.error();
        }
        field = *parsed;
        return {};
    };
}

} // namespace uvwhost
