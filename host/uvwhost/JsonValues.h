// JSON shapes of the host's value types, both ways. Readers are pure: JSON in, value or a
// message naming `what` and the expected shape out. Writers give floats that read back as
// the same single-precision value.
#pragma once

#include "kivo/Types.h"
#include "uvwhost/Parsed.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace uvwhost {

using Json = nlohmann::ordered_json;

// The deepest nesting of arrays and objects any JSON input may have: real inputs nest a
// dozen levels; the bound keeps every reader and writer of a value far from the stack's end.
inline constexpr int MAX_JSON_DEPTH = 64;

// Parses one JSON text in time linear in its length. The error names what is wrong and
// where (byte offset): bad syntax, a NUL byte (text after it would otherwise be ignored), a
// number out of range, nesting deeper than MAX_JSON_DEPTH, or a key repeated in an object.
Parsed<Json> parseJson(std::string_view text);

// The JSON text of a value, shortened for messages: only what is shown is serialised.
std::string excerpt(const Json& value);
// Text echoed in a message, between `mark`s (none for '\0'): control characters and the
// mark escaped, and cut with its length stated when long.
std::string quoteInput(std::string_view text, char mark = '"');

Parsed<double> readNumber(const Json& value, const std::string& what);
Parsed<float> readFloat(const Json& value, const std::string& what);
// A JSON number with an integral value in the 32-bit range.
Parsed<int> readInt(const Json& value, const std::string& what);
// A count: an integer from 1 to limit.
Parsed<int> readCount(const Json& value, const std::string& what, int limit);
Parsed<std::uint32_t> readUInt32(const Json& value, const std::string& what);
// true/false or 0/1.
Parsed<bool> readBool(const Json& value, const std::string& what);
// [x, y, z]; the fourth lane is 0.
Parsed<KUtils::Vector4f> readVector(const Json& value, const std::string& what);
// [x, y, z] in double precision.
Parsed<KUtils::Vector3d> readVector3d(const Json& value, const std::string& what);
// [r, g, b] (alpha 1) or [r, g, b, a].
Parsed<KUtils::AColor> readColor(const Json& value, const std::string& what);
// [[c0], [c1], [c2]]: three columns.
Parsed<KUtils::Matrix3x3f> readMatrix(const Json& value, const std::string& what);
// {"matrix": [[c0], [c1], [c2]], "offset": [x, y, z]}; either may be left out (identity,
// zero offset).
Parsed<KUtils::Transform> readTransform(const Json& value, const std::string& what);

// The number that prints as the shortest text reading back as f.
double floatJson(float f);
Json vectorJson(const KUtils::Vector4f& v);
Json colorJson(const KUtils::AColor& c);
Json matrixJson(const KUtils::Matrix3x3f& m);
Json transformJson(const KUtils::Transform& t);

} // namespace uvwhost
