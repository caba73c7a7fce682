#include "uvwhost/JsonValues.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_set>
#include <vector>

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

// Builds the value as the parser reads it. Object members are appended without the
// ordered map's linear search for an existing key; repeats are found through a hash set.
class JsonBuilder {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    Json root;
    std::string error;

    bool null() { return add(Json()); }
    bool boolean(bool b) { return add(Json(b)); }
    bool number_integer(number_integer_t i) { return add(Json(i)); }
    bool number_unsigned(number_unsigned_t u) { return add(Json(u)); }
    bool number_float(number_float_t d, const string_t&) { return add(Json(d)); }
    bool string(string_t& text) { return add(Json(std::move(text))); }
    bool binary(binary_t&) { return false; }
    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(string_t& text) {
        Open& o = open_.back();
        if (!o.keys.insert(text).second) {
            error = "the key " + quoteInput(text) + " appears twice in one object";
            return false;
        }
        auto& members = o.value->get_ref<Json::object_t&>();
        members.emplace_back(std::move(text), Json());
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& e) {
        // 406: a number whose value no double holds (1e400).
        // position counts the bytes read, the offending one included; bytes count from 0.
        error = (e.id == 406 ? "a number out of range" : "not valid JSON") +
                std::string(" at byte ") + std::to_string(position > 0 ? position - 1 : 0);
        return false;
    }

private:
    struct Open {
        Json* value;
        std::unordered_set<std::string> keys;
    };

    // Where the next value goes: the root, the last key's member, or an array's new element.
    Json* slot(Json value) {
        if (open_.empty()) {
            root = std::move(value);
            return &root;
        }
        Json& parent = *open_.back().value;
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        Json& member = parent.get_ref<Json::object_t&>().back().second;
        member = std::move(value);
        return &member;
    }
    bool add(Json value) {
        slot(std::move(value));
        return true;
    }
    bool open(Json value) {
        if (open_.size() >= std::size_t(MAX_JSON_DEPTH)) {
            error = "nested deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels";
            return false;
        }
        open_.push_back({slot(std::move(value)), {}});
        return true;
    }
    bool close() {
        open_.pop_back();
        return true;
    }

    std::vector<Open> open_;
};

// Appends at most about `budget` bytes of the value's JSON text to out.
void excerptInto(const Json& value, std::string& out, std::size_t budget) {
    if (out.size() > budget) {
        return;
    }
    auto text = [&](const std::string& s) {
        out += Json(s.substr(0, budget - out.size() + 1))
                   .dump(-1, ' ', false, Json::error_handler_t::replace);
    };
    if (value.is_object() || value.is_array()) {
        const bool object = value.is_object();
        out += object ? '{' : '[';
        bool first = true;
        for (const auto& [key, item] : value.items()) {
            if (out.size() > budget) {
                return;
            }
            out += first ? "" : ",";
            first = false;
            if (object) {
                text(key);
                out += ':';
            }
            excerptInto(item, out, budget);
        }
        out += object ? '}' : ']';
    } else if (value.is_string()) {
        text(value.get_ref<const std::string&>());
    } else {
        out += value.dump();
    }
}

} // namespace

Parsed<Json> parseJson(std::string_view text) {
    // The parser takes a NUL byte for the end of the text.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        return Parsed<Json>::failure("a NUL byte at byte " + std::to_string(nul));
    }
    JsonBuilder builder;
    if (!Json::sax_parse(text.begin(), text.end(), &builder)) {
        return Parsed<Json>::failure(builder.error);
    }
    return std::move(builder.root);
}

std::string excerpt(const Json& value) {
    constexpr std::size_t limit = 60;
    std::string text;
    excerptInto(value, text, limit);
    if (text.size() > limit) {
        text = text.substr(0, limit) + "...";
    }
    return text;
}

std::string quoteInput(std::string_view text, char mark) {
    constexpr std::size_t limit = 80;
    std::string out = mark ? std::string(1, mark) : std::string();
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((mark && c == static_cast<unsigned char>(mark)) || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7f) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    out += mark ? std::string(1, mark) : std::string();
    if (text.size() > limit) {
        out += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return out;
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

Parsed<int> readCount(const Json& value, const std::string& what, int limit) {
    auto i = readInt(value, what);
    if (i && (*i < 1 || *i > limit)) {
        return Parsed<int>::failure(what + ": expected an integer from 1 to " +
                                    std::to_string(limit) + ", got " + excerpt(value));
    }
    return i;
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
