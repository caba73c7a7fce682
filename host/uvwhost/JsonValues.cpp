#include "uvwhost/JsonValues.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace uvwhost {

using namespace KUtils;

namespace {

Parsed<Json> readArray(const Json& value, std::size_t size, const std::string& what,
                       const char* shape) {
    if (!value.is_array() || value.size() != size) {
        return Parsed<Json>::failure(what + ": expected " + shape + ", got " + excerpt(value));
    }
    return value;
}

template <class T>
Parsed<T> fail(const Parsed<float>& inner) {
    return Parsed<T>::failure(inner.error());
}

// Three floats of an [x, y, z] array.
Parsed<Vector4f> readTriple(const Json& value, const std::string& what, const char* shape) {
    auto array = readArray(value, 3, what, shape);
    if (!array) {
        return Parsed<Vector4f>::failure(array.error());
    }
    float c[3];
    for (int i = 0; i < 3; ++i) {
        auto f = readFloat(value[i], what + "[" + std::to_string(i) + "]");
        if (!f) {
            return fail<Vector4f>(f);
        }
        c[i] = *f;
    }
    return Vector4f{c[0], c[1], c[2], 0.0f};
}

} // namespace

std::string excerpt(const Json& value) {
    // Invalid UTF-8 in a string is shown replaced rather than thrown on.
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    constexpr std::size_t limit = 60;
    if (text.size() > limit) {
        text = text.substr(0, limit) + "...";
    }
    return text;
}

Parsed<double> readNumber(const Json& value, const std::string& what) {
    if (!value.is_number()) {
        return Parsed<double>::failure(what + ": expected a number, got " + excerpt(value));
    }
    const double d = value.get<double>();
    if (!std::isfinite(d)) {
        return Parsed<double>::failure(what + ": expected a finite number, got " + excerpt(value));
    }
    return d;
}

Parsed<float> readFloat(const Json& value, const std::string& what) {
    auto d = readNumber(value, what);
    if (!d) {
        return Parsed<float>::failure(d.error());
    }
    // Doubles below the largest float plus half its spacing round to a finite float (the
    // shortest text of the largest float reads back slightly above it).
    const double limit = double(std::numeric_limits<float>::max()) + std::ldexp(1.0, 103);
    if (!(std::fabs(*d) < limit)) {
        return Parsed<float>::failure(what + ": expected a single-precision number, got " +
                                      excerpt(value));
    }
    return static_cast<float>(*d);
}

Parsed<int> readInt(const Json& value, const std::string& what) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto u = value.get<std::uint64_t>();
            if (u <= std::uint64_t(std::numeric_limits<int>::max())) {
                return static_cast<int>(u);
            }
        } else {
            const auto i = value.get<std::int64_t>();
            if (i >= std::numeric_limits<int>::min() && i <= std::numeric_limits<int>::max()) {
                return static_cast<int>(i);
            }
        }
    } else if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && d >= std::numeric_limits<int>::min() &&
            d <= std::numeric_limits<int>::max()) {
            return static_cast<int>(d);
        }
    }
    return Parsed<int>::failure(what + ": expected a 32-bit integer, got " + excerpt(value));
}

Parsed<std::uint32_t> readUInt32(const Json& value, const std::string& what) {
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u <= std::numeric_limits<std::uint32_t>::max()) {
            return static_cast<std::uint32_t>(u);
        }
    }
    return Parsed<std::uint32_t>::failure(what + ": expected an unsigned 32-bit integer, got " +
                                          excerpt(value));
}

Parsed<bool> readBool(const Json& value, const std::string& what) {
    if (value.is_boolean()) {
        return value.get<bool>();
    }
    if (value.is_number_integer()) {
        const auto i = value.get<std::int64_t>();
        if (i == 0 || i == 1) {
            return i == 1;
        }
    }
    return Parsed<bool>::failure(what + ": expected true, false, 0 or 1, got " + excerpt(value));
}

Parsed<Vector4f> readVector(const Json& value, const std::string& what) {
    return readTriple(value, what, "a vector [x, y, z]");
}

Parsed<Vector3d> readVector3d(const Json& value, const std::string& what) {
    auto array = readArray(value, 3, what, "a vector [x, y, z]");
    if (!array) {
        return Parsed<Vector3d>::failure(array.error());
    }
    double c[3];
    for (int i = 0; i < 3; ++i) {
        auto d = readNumber(value[i], what + "[" + std::to_string(i) + "]");
        if (!d) {
            return Parsed<Vector3d>::failure(d.error());
        }
        c[i] = *d;
    }
    return Vector3d{c[0], c[1], c[2]};
}

Parsed<AColor> readColor(const Json& value, const std::string& what) {
    if (!value.is_array() || (value.size() != 3 && value.size() != 4)) {
        return Parsed<AColor>::failure(
            what + ": expected a colour [r, g, b] or [r, g, b, a], got " + excerpt(value));
    }
    float c[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    for (std::size_t i = 0; i < value.size(); ++i) {
        auto f = readFloat(value[i], what + "[" + std::to_string(i) + "]");
        if (!f) {
            return fail<AColor>(f);
        }
        c[i] = *f;
    }
    return AColor{c[0], c[1], c[2], c[3]};
}

Parsed<Matrix3x3f> readMatrix(const Json& value, const std::string& what) {
    constexpr const char* shape = "a matrix [[c0], [c1], [c2]] of three columns";
    auto array = readArray(value, 3, what, shape);
    if (!array) {
        return Parsed<Matrix3x3f>::failure(array.error());
    }
    Vector4f columns[3];
    for (int i = 0; i < 3; ++i) {
        auto column = readTriple(value[i], what + " column " + std::to_string(i), "[x, y, z]");
        if (!column) {
            return Parsed<Matrix3x3f>::failure(column.error());
        }
        columns[i] = *column;
    }
    return Matrix3x3f{columns[0], columns[1], columns[2]};
}

Parsed<Transform> readTransform(const Json& value, const std::string& what) {
    constexpr const char* shape =
        "a transform {\"matrix\": [[c0], [c1], [c2]], \"offset\": [x, y, z]}";
    if (!value.is_object()) {
        return Parsed<Transform>::failure(what + ": expected " + shape + ", got " + excerpt(value));
    }
    Transform t;
    for (const auto& [key, item] : value.items()) {
        if (key == "matrix") {
            auto m = readMatrix(item, what + " matrix");
            if (!m) {
                return Parsed<Transform>::failure(m.error());
            }
            t.m = *m;
        } else if (key == "offset") {
            auto o = readVector3d(item, what + " offset");
            if (!o) {
                return Parsed<Transform>::failure(o.error());
            }
            t.offs = *o;
        } else {
            return Parsed<Transform>::failure(what + ": unexpected key \"" + key + "\" in " +
                                              shape);
        }
    }
    return t;
}

double floatJson(float f) {
    if (!std::isfinite(f)) {
        return double(f); // dumped as null: JSON has no infinities or NaN
    }
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, f);
    double d = 0.0;
    std::from_chars(text, written.ptr, d);
    return d;
}

Json vectorJson(const Vector4f& v) {
    return Json::array({floatJson(v.x), floatJson(v.y), floatJson(v.z)});
}

Json colorJson(const AColor& c) {
    return Json::array({floatJson(c.r), floatJson(c.g), floatJson(c.b), floatJson(c.a)});
}

Json matrixJson(const Matrix3x3f& m) {
    return Json::array({vectorJson(m.c0), vectorJson(m.c1), vectorJson(m.c2)});
}

Json transformJson(const Transform& t) {
    return Json{{"matrix", matrixJson(t.m)},
                {"offset", Json::array({t.offs.x, t.offs.y, t.offs.z})}};
}

} // namespace uvwhost
