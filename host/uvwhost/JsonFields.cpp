#include "uvwhost/JsonFields.h"

namespace uvwhost {

std::string readFields(const Json& value, const std::string& what,
                       const std::map<std::string, FieldReader>& readers, bool topLevel) {
    if (!value.is_object()) {
        return what + ": expected a JSON object, got " + excerpt(value);
    }
    for (const auto& [key, item] : value.items()) {
        const auto reader = readers.find(key);
        if (reader == readers.end()) {
            return what + ": unknown field \"" + key + "\"";
        }
        std::string error =
            reader->second(item, (topLevel ? std::string("field") : what) + " \"" + key + "\"");
        if (!error.empty()) {
            return error;
        }
    }
    return {};
}

} // namespace uvwhost
