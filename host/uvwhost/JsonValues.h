// JSON shapes of the host's value types, both ways. Readers are pure: JSON in, value or a
// message naming `what` and the expected shape out. Writers give floats that read back as
// the same single-precision value.
#pragma once

#include "kivo/Types.h"
#include "uvwhost/Parsed.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace uvwhost {

using Json = nlohmann::ordered_json;

// The JSON text of a value, shortened for messages.
std::string excerpt(const Json& value);

Parsed<double> readNumber(const Json& value, const std::string& what);
Parsed<float> readFloat(const Json& value, const std::string& what);
// A JSON number with an integral value in the 32-bit range.
Parsed<int> readInt(const Json& value, const std::string& what);
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
