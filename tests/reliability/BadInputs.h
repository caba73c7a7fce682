// Values that break arithmetic and indexing, as a scene file written by another program or a
// damaged one may hand them to a plugin.
#pragma once

#include <climits>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace reliability {

inline const std::vector<float>& badFloats() {
    static const std::vector<float> values = {std::numeric_limits<float>::quiet_NaN(),
                                              std::numeric_limits<float>::infinity(),
                                              -std::numeric_limits<float>::infinity(),
                                              1e30f,
                                              -1e30f,
                                              0.0f,
                                              -0.0f};
    return values;
}

inline const std::vector<double>& badDoubles() {
    static const std::vector<double> values = {std::numeric_limits<double>::quiet_NaN(),
                                               std::numeric_limits<double>::infinity(),
                                               -std::numeric_limits<double>::infinity(),
                                               1e30,
                                               -1e30,
                                               0.0,
                                               -0.0};
    return values;
}

inline const std::vector<int>& badInts() {
    static const std::vector<int> values = {INT_MIN, INT_MAX, -1, 0};
    return values;
}

inline const std::vector<std::string>& badStrings() {
    static const std::vector<std::string> values = {"", "no such value", std::string(5000, 'x')};
    return values;
}

// "%.9g", or "nan"/"inf" spelled out, for test names and messages.
std::string spell(double value);

// The largest value listed in an "enum=(0:...; 1:...)" hint, or none when there is no list.
bool largestEnumValue(const char* hints, int& largest);

} // namespace reliability
