// Storage behind the parameter classes: definitions, the values of one instance (constant,
// keyed in time, or lists of those) and the members bound to them.
#pragma once

#include "kivo/HostSdk.h"
#include "sdk/ParamValues.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kivohost {

struct ParamDef {
    std::string name;
    KUtils::ParamType type = KUtils::ParamType::Int;
    std::string description;
    std::string hints;
    // -1: a single value; >= 0: a list starting with that many default elements.
    int count = -1;
    int worldSpace = 0;
    // Plugin parameters: the interface registered for what may be connected.
    KUtils::InterfaceID iface = 0;
    // Already in the form the type stores (see fitValue).
    KUtils::ParamValue defaultValue;
};

// Keys (time, value) in strictly increasing time; never empty. One key: a constant.
using Track = std::vector<std::pair<double, KUtils::ParamValue>>;

// value converted to what a parameter of def's type stores, or nothing when it does not fit:
// numbers convert among int, float and bool; texture-like and plugin parameters also take a
// connected plugin (PluginBase*, null for none).
std::optional<KUtils::ParamValue> fitValue(const ParamDef& def, const KUtils::ParamValue& value);

// value at time t: clamped to the end keys outside them, linear between keys for numbers,
// vectors, colours, matrices and transforms, stepped for the rest.
KUtils::ParamValue sampleTrack(const Track& track, double t);
// The key in force at t for stepped kinds.
const KUtils::ParamValue& keyAt(const Track& track, double t);

} // namespace kivohost

namespace KUtils {

struct KivoParameter::Impl {
    explicit Impl(kivohost::ParamDef definition);

    // The element's keys; null for a list index out of range, where the default applies.
    const kivohost::Track* track(int index) const;
    ParamValue valueAt(int index, double t) const;

    kivohost::ParamDef def;
    bool isList = false;
    std::vector<kivohost::Track> elements;
    // Output parameters: the interface the instance published.
    PluginInterface* output = nullptr;
};

struct KivoParameterListDesc::Impl {
    int add(kivohost::ParamDef def);

    std::vector<kivohost::ParamDef> defs;
};

struct KivoParameterList::Impl {
    // A parameter and its value, at a stable address (getParam hands out the pointer).
    struct Slot {
        explicit Slot(kivohost::ParamDef def) : value(std::move(def)) {}
        KivoParameter::Impl value;
        KivoParameter param{&value};
    };

    enum class Member {
        Int,
        Float,
        Vector,
        Matrix,
        Transform,
        String,
        Plugin,
        Texture,
        TextureFloat,
        TextureTransform,
    };

    struct Binding {
        const KivoParameter* param;
        Member kind;
        void* member;
    };

    Slot* find(const char* name) const;
    // Binds member when the parameter exists and has one of the accepted types; 1 or 0.
    int bind(const char* name, Member kind, void* member,
             std::initializer_list<ParamType> accepted);

    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<Binding> bindings;
};

} // namespace KUtils
