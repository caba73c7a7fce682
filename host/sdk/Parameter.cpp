// Values of one parameter: conversion on input, sampling in time, and the typed getters.
#include "sdk/ParamStore.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <type_traits>

namespace kivohost {

using KUtils::AColor;
using KUtils::Matrix3x3f;
using KUtils::ParamType;
using KUtils::ParamValue;
using KUtils::PluginBase;
using KUtils::Transform;
using KUtils::Vector4f;

namespace {

std::optional<double> numberOf(const ParamValue& v) {
    if (const int* i = std::get_if<int>(&v)) {
        return *i;
    }
    if (const float* f = std::get_if<float>(&v)) {
        return *f;
    }
    if (const bool* b = std::get_if<bool>(&v)) {
        return *b ? 1.0 : 0.0;
    }
    return std::nullopt;
}

// Truncation toward zero, saturated to the int range; NaN gives 0.
int saturatedInt(double d) {
    if (std::isnan(d)) {
        return 0;
    }
    if (d <= double(INT_MIN)) {
        return INT_MIN;
    }
    if (d >= double(INT_MAX)) {
        return INT_MAX;
    }
    return static_cast<int>(d);
}

template <class T>
std::optional<ParamValue> alternative(const ParamValue& v) {
    if (std::holds_alternative<T>(v)) {
        return v;
    }
    return std::nullopt;
}

// A texture-like parameter takes its constant kind or a connected plugin.
template <class T>
std::optional<ParamValue> constantOrPlugin(const ParamValue& v) {
    if (std::holds_alternative<PluginBase*>(v)) {
        return v;
    }
    return alternative<T>(v);
}

// ---- sampling -------------------------------------------------------------------------------

float mix(float a, float b, double f) {
    return static_cast<float>(double(a) + (double(b) - double(a)) * f);
}
double mix(double a, double b, double f) {
    return a + (b - a) * f;
}
int mix(int a, int b, double f) {
    // Between a and b, so always in range.
    return static_cast<int>(std::lround(double(a) + (double(b) - double(a)) * f));
}
Vector4f mix(const Vector4f& a, const Vector4f& b, double f) {
    return {mix(a.x, b.x, f), mix(a.y, b.y, f), mix(a.z, b.z, f), mix(a.w, b.w, f)};
}
AColor mix(const AColor& a, const AColor& b, double f) {
    return {mix(a.r, b.r, f), mix(a.g, b.g, f), mix(a.b, b.b, f), mix(a.a, b.a, f)};
}
Matrix3x3f mix(const Matrix3x3f& a, const Matrix3x3f& b, double f) {
    return {mix(a.c0, b.c0, f), mix(a.c1, b.c1, f), mix(a.c2, b.c2, f)};
}
Transform mix(const Transform& a, const Transform& b, double f) {
    return {mix(a.m, b.m, f),
            {mix(a.offs.x, b.offs.x, f), mix(a.offs.y, b.offs.y, f), mix(a.offs.z, b.offs.z, f)}};
}

template <class T>
constexpr bool interpolates =
    std::is_same_v<T, int> || std::is_same_v<T, float> || std::is_same_v<T, Vector4f> ||
    std::is_same_v<T, AColor> || std::is_same_v<T, Matrix3x3f> || std::is_same_v<T, Transform>;

// The keys around t: a alone when t is at or outside the ends (NaN takes the first key),
// otherwise a, b and the fraction f of the way from a to b.
struct Span {
    const ParamValue* a;
    const ParamValue* b;
    double f;
};

Span locate(const Track& track, double t) {
    if (!(t > track.front().first)) {
        return {&track.front().second, nullptr, 0.0};
    }
    if (t >= track.back().first) {
        return {&track.back().second, nullptr, 0.0};
    }
    const auto next =
        std::upper_bound(track.begin(), track.end(), t,
                         [](double time, const auto& key) { return time < key.first; });
    const auto prev = next - 1;
    const double span = next->first - prev->first;
    // Key times far apart (±1e308) overflow the difference: halved, both differences fit
    // and their ratio is the same.
    const double f = std::isfinite(span)
                         ? (t - prev->first) / span
                         : (t * 0.5 - prev->first * 0.5) / (next->first * 0.5 - prev->first * 0.5);
    return {&prev->second, &next->second, f};
}

// ---- typed reads ----------------------------------------------------------------------------

std::optional<Vector4f> vectorOf(const ParamValue& v) {
    if (const Vector4f* p = std::get_if<Vector4f>(&v)) {
        return *p;
    }
    if (const AColor* c = std::get_if<AColor>(&v)) {
        return Vector4f{c->r, c->g, c->b, c->a};
    }
    return std::nullopt;
}

std::optional<AColor> colorOf(const ParamValue& v) {
    if (const AColor* c = std::get_if<AColor>(&v)) {
        return *c;
    }
    if (const Vector4f* p = std::get_if<Vector4f>(&v)) {
        return AColor{p->x, p->y, p->z, p->w};
    }
    return std::nullopt;
}

std::optional<Matrix3x3f> matrixOf(const ParamValue& v) {
    if (const Matrix3x3f* m = std::get_if<Matrix3x3f>(&v)) {
        return *m;
    }
    if (const Transform* t = std::get_if<Transform>(&v)) {
        return t->m;
    }
    return std::nullopt;
}

std::optional<Transform> transformOf(const ParamValue& v) {
    if (const Transform* t = std::get_if<Transform>(&v)) {
        return *t;
    }
    if (const Matrix3x3f* m = std::get_if<Matrix3x3f>(&v)) {
        return Transform{*m, {}};
    }
    return std::nullopt;
}

// The value at (index, t) read as T; where it is not readable as T (say, a texture parameter
// with a plugin connected) the definition's default applies, else T's zero.
template <class T, class Read>
T read(const KUtils::KivoParameter::Impl& p, int index, double t, Read readAs) {
    if (auto r = readAs(p.valueAt(index, t))) {
        return static_cast<T>(*r);
    }
    if (auto r = readAs(p.def.defaultValue)) {
        return static_cast<T>(*r);
    }
    return T{};
}

} // namespace

std::optional<ParamValue> fitValue(const ParamDef& def, const ParamValue& value) {
    const std::optional<double> n = numberOf(value);
    switch (def.type) {
    case ParamType::Int:
        if (!n || std::isnan(*n)) {
            return std::nullopt;
        }
        return ParamValue{saturatedInt(*n)};
    case ParamType::Bool:
        if (!n || std::isnan(*n)) {
            return std::nullopt;
        }
        return ParamValue{*n != 0.0};
    case ParamType::Float:
        if (!n) {
            return std::nullopt;
        }
        return ParamValue{static_cast<float>(*n)};
    case ParamType::TextureFloat:
        if (n) {
            return ParamValue{static_cast<float>(*n)};
        }
        return alternative<PluginBase*>(value);
    case ParamType::String:
        return alternative<std::string>(value);
    case ParamType::Vector:
        return alternative<Vector4f>(value);
    case ParamType::Color:
        return alternative<AColor>(value);
    case ParamType::Matrix:
        return alternative<Matrix3x3f>(value);
    case ParamType::Transform:
        return alternative<Transform>(value);
    case ParamType::TextureTransform:
        return constantOrPlugin<Transform>(value);
    case ParamType::Texture:
        return constantOrPlugin<AColor>(value);
    case ParamType::Plugin:
        return alternative<PluginBase*>(value);
    case ParamType::OutputTextureVector:
        return std::nullopt;
    }
    return std::nullopt;
}

ParamValue sampleTrack(const Track& track, double t) {
    const Span span = locate(track, t);
    if (!span.b) {
        return *span.a;
    }
    return std::visit(
        [&](const auto& a) -> ParamValue {
            using T = std::decay_t<decltype(a)>;
            if constexpr (interpolates<T>) {
                if (const T* b = std::get_if<T>(span.b)) {
                    return mix(a, *b, span.f);
                }
            }
            return a;
        },
        *span.a);
}

const ParamValue& keyAt(const Track& track, double t) {
    return *locate(track, t).a;
}

} // namespace kivohost

namespace KUtils {

KivoParameter::Impl::Impl(kivohost::ParamDef definition)
    : def(std::move(definition)), isList(def.count >= 0) {
    const kivohost::Track constant{{0.0, def.defaultValue}};
    elements.assign(isList ? std::size_t(def.count) : 1u, constant);
}

const kivohost::Track* KivoParameter::Impl::track(int index) const {
    if (!isList) {
        return &elements.front();
    }
    if (index < 0 || std::size_t(index) >= elements.size()) {
        return nullptr;
    }
    return &elements[std::size_t(index)];
}

ParamValue KivoParameter::Impl::valueAt(int index, double t) const {
    const kivohost::Track* keys = track(index);
    return keys ? kivohost::sampleTrack(*keys, t) : def.defaultValue;
}

const char* KivoParameter::getName() const {
    return impl->def.name.c_str();
}

ParamType KivoParameter::getType() const {
    return impl->def.type;
}

int KivoParameter::getCount(double) const {
    return impl->isList ? static_cast<int>(impl->elements.size()) : -1;
}

int KivoParameter::getInt(int index, double t) const {
    return kivohost::saturatedInt(kivohost::read<double>(*impl, index, t, kivohost::numberOf));
}

float KivoParameter::getFloat(int index, double t) const {
    return kivohost::read<float>(*impl, index, t, kivohost::numberOf);
}

bool KivoParameter::getBool(int index, double t) const {
    return kivohost::read<double>(*impl, index, t, kivohost::numberOf) != 0.0;
}

const char* KivoParameter::getString(int index, double t) const {
    const kivohost::Track* keys = impl->track(index);
    const ParamValue& v = keys ? kivohost::keyAt(*keys, t) : impl->def.defaultValue;
    if (const std::string* s = std::get_if<std::string>(&v)) {
        return s->c_str();
    }
    const std::string* fallback = std::get_if<std::string>(&impl->def.defaultValue);
    return fallback ? fallback->c_str() : nullptr;
}

Vector4f KivoParameter::getVector(int index, double t) const {
    return kivohost::read<Vector4f>(*impl, index, t, kivohost::vectorOf);
}

AColor KivoParameter::getColor(int index, double t) const {
    return kivohost::read<AColor>(*impl, index, t, kivohost::colorOf);
}

Matrix3x3f KivoParameter::getMatrix(int index, double t) const {
    return kivohost::read<Matrix3x3f>(*impl, index, t, kivohost::matrixOf);
}

Transform KivoParameter::getTransform(int index, double t) const {
    return kivohost::read<Transform>(*impl, index, t, kivohost::transformOf);
}

PluginBase* KivoParameter::getPlugin(int index, double t) const {
    const kivohost::Track* keys = impl->track(index);
    if (!keys) {
        return nullptr;
    }
    PluginBase* const* plugin = std::get_if<PluginBase*>(&kivohost::keyAt(*keys, t));
    return plugin ? *plugin : nullptr;
}

} // namespace KUtils
