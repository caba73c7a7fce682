// The parameter values of one instance and the members bound to them.
#include "kivo/ShadingContext.h"
#include "kivo/VectorMath.h"
#include "sdk/ParamStore.h"

#include <algorithm>

namespace KUtils {

namespace {

// The connected plugin's interface of type T (answered for id), or null.
template <class T>
T* interfaceOf(PluginBase* plugin, InterfaceID id) {
    return plugin ? static_cast<T*>(plugin->getInterface(id)) : nullptr;
}

// Parameter types whose value may be a connected plugin.
constexpr std::initializer_list<ParamType> pluginTypes = {
    ParamType::Plugin, ParamType::Texture, ParamType::TextureFloat, ParamType::TextureTransform};

} // namespace

KivoParameterList::Impl::Slot* KivoParameterList::Impl::find(const char* name) const {
    if (!name) {
        return nullptr;
    }
    for (const std::unique_ptr<Slot>& slot : slots) {
        if (slot->value.def.name == name) {
            return slot.get();
        }
    }
    return nullptr;
}

int KivoParameterList::Impl::bind(const char* name, Member kind, void* member,
                                  std::initializer_list<ParamType> accepted) {
    const Slot* slot = find(name);
    if (!slot || !member ||
        std::find(accepted.begin(), accepted.end(), slot->value.def.type) == accepted.end()) {
        return 0;
    }
    bindings.push_back({&slot->param, kind, member});
    return 1;
}

int KivoParameterList::setParamCache(const char* name, int* member) {
    return impl->bind(name, Impl::Member::Int, member, {ParamType::Int, ParamType::Bool});
}

int KivoParameterList::setParamCache(const char* name, float* member) {
    return impl->bind(name, Impl::Member::Float, member,
                      {ParamType::Float, ParamType::TextureFloat});
}

int KivoParameterList::setParamCache(const char* name, Vector4f* member) {
    return impl->bind(name, Impl::Member::Vector, member, {ParamType::Vector, ParamType::Color});
}

int KivoParameterList::setParamCache(const char* name, Matrix3x3f* member) {
    return impl->bind(name, Impl::Member::Matrix, member, {ParamType::Matrix});
}

int KivoParameterList::setParamCache(const char* name, UVWTransform* member) {
    return impl->bind(name, Impl::Member::Transform, member,
                      {ParamType::Transform, ParamType::TextureTransform});
}

int KivoParameterList::setParamCache(const char* name, CharString* member) {
    return impl->bind(name, Impl::Member::String, member, {ParamType::String});
}

int KivoParameterList::setParamCache(const char* name, PluginBase** member) {
    return impl->bind(name, Impl::Member::Plugin, member, pluginTypes);
}

int KivoParameterList::setParamCache(const char* name, TextureInterface** member) {
    return impl->bind(name, Impl::Member::Texture, member, pluginTypes);
}

int KivoParameterList::setParamCache(const char* name, TextureFloatInterface** member) {
    return impl->bind(name, Impl::Member::TextureFloat, member, pluginTypes);
}

int KivoParameterList::setParamCache(const char* name, TextureTransformInterface** member) {
    return impl->bind(name, Impl::Member::TextureTransform, member, pluginTypes);
}

int KivoParameterList::setOutputParamCache(const char* name, PluginInterface* iface) {
    Impl::Slot* slot = impl->find(name);
    if (!slot || slot->value.def.type != ParamType::OutputTextureVector) {
        return 0;
    }
    slot->value.output = iface;
    return 1;
}

void KivoParameterList::cacheParams(double time, const Vector4f&) {
    // Values here are constants or keyed in time; none varies over space, so the point is
    // not needed. List parameters cache their first element.
    for (const Impl::Binding& b : impl->bindings) {
        const KivoParameter& p = *b.param;
        switch (b.kind) {
        case Impl::Member::Int:
            *static_cast<int*>(b.member) = p.getInt(0, time);
            break;
        case Impl::Member::Float:
            *static_cast<float*>(b.member) = p.getFloat(0, time);
            break;
        case Impl::Member::Vector:
            *static_cast<Vector4f*>(b.member) = p.getVector(0, time);
            break;
        case Impl::Member::Matrix:
            *static_cast<Matrix3x3f*>(b.member) = p.getMatrix(0, time);
            break;
        case Impl::Member::Transform:
            *static_cast<UVWTransform*>(b.member) = toUVWTransform(p.getTransform(0, time));
            break;
        case Impl::Member::String:
            *static_cast<CharString*>(b.member) = CharString(p.getString(0, time));
            break;
        case Impl::Member::Plugin:
            *static_cast<PluginBase**>(b.member) = p.getPlugin(0, time);
            break;
        case Impl::Member::Texture:
            *static_cast<TextureInterface**>(b.member) =
                interfaceOf<TextureInterface>(p.getPlugin(0, time), EXT_TEXTURE);
            break;
        case Impl::Member::TextureFloat:
            *static_cast<TextureFloatInterface**>(b.member) =
                interfaceOf<TextureFloatInterface>(p.getPlugin(0, time), EXT_TEXTURE_FLOAT);
            break;
        case Impl::Member::TextureTransform:
            *static_cast<TextureTransformInterface**>(b.member) =
                interfaceOf<TextureTransformInterface>(p.getPlugin(0, time), EXT_TEXTURE_TRANSFORM);
            break;
        }
    }
}

int KivoParameterList::setParameter(KivoParameter* param) {
    if (!param) {
        return 0;
    }
    Impl::Slot* slot = impl->find(param->getName());
    if (!slot || slot->value.def.type != param->getType()) {
        return 0;
    }
    if (&slot->param != param) {
        const KivoParameter::Impl& source = *param->getImpl();
        slot->value.isList = source.isList;
        slot->value.elements = source.elements;
    }
    return 1;
}

KivoParameter* KivoParameterList::getParam(const char* name) {
    Impl::Slot* slot = impl->find(name);
    return slot ? &slot->param : nullptr;
}

KivoParameter* KivoParameterList::getParam(int index) {
    if (index < 0 || std::size_t(index) >= impl->slots.size()) {
        return nullptr;
    }
    return &impl->slots[std::size_t(index)]->param;
}

int KivoParameterList::getNumParams() const {
    return static_cast<int>(impl->slots.size());
}

} // namespace KUtils
