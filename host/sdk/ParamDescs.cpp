// Parameter definitions of a plugin type, and the per-instance lists made from them.
#include "sdk/ParamStore.h"

namespace KUtils {

namespace {

kivohost::ParamDef makeDef(const char* name, ParamType type, ParamValue def, int count,
                           const char* desc, const char* hints) {
    kivohost::ParamDef d;
    d.name = name ? name : "";
    d.type = type;
    d.description = desc ? desc : "";
    d.hints = hints ? hints : "";
    d.count = count < 0 ? -1 : count;
    d.defaultValue = std::move(def);
    return d;
}

} // namespace

int KivoParameterListDesc::Impl::add(kivohost::ParamDef def) {
    // A name identifies the parameter: an empty or repeated one could never be found again.
    if (def.name.empty()) {
        return 0;
    }
    for (const kivohost::ParamDef& existing : defs) {
        if (existing.name == def.name) {
            return 0;
        }
    }
    defs.push_back(std::move(def));
    return 1;
}

KivoParameterListDesc::KivoParameterListDesc() : impl(new Impl) {}

KivoParameterListDesc::~KivoParameterListDesc() {
    delete impl;
}

int KivoParameterListDesc::addParamInt(const char* name, int def, int count, const char* desc,
                                       const char* hints) {
    return impl->add(makeDef(name, ParamType::Int, def, count, desc, hints));
}

int KivoParameterListDesc::addParamFloat(const char* name, float def, int count, const char* desc,
                                         const char* hints) {
    return impl->add(makeDef(name, ParamType::Float, def, count, desc, hints));
}

int KivoParameterListDesc::addParamBool(const char* name, bool def, int count, const char* desc,
                                        const char* hints) {
    return impl->add(makeDef(name, ParamType::Bool, def, count, desc, hints));
}

int KivoParameterListDesc::addParamString(const char* name, const char* def, int count,
                                          const char* desc, const char* hints) {
    return impl->add(
        makeDef(name, ParamType::String, std::string(def ? def : ""), count, desc, hints));
}

int KivoParameterListDesc::addParamVector(const char* name, const Vector4f& def, int count,
                                          const char* desc, const char* hints) {
    return impl->add(makeDef(name, ParamType::Vector, def, count, desc, hints));
}

int KivoParameterListDesc::addParamMatrix(const char* name, const Matrix3x3f& def, int count,
                                          const char* desc, const char* hints) {
    return impl->add(makeDef(name, ParamType::Matrix, def, count, desc, hints));
}

int KivoParameterListDesc::addParamTransform(const char* name, int worldSpace, const Transform& def,
                                             int count, const char* desc, const char* hints) {
    kivohost::ParamDef d = makeDef(name, ParamType::Transform, def, count, desc, hints);
    d.worldSpace = worldSpace;
    return impl->add(std::move(d));
}

int KivoParameterListDesc::addParamTextureTransform(const char* name, const Transform& def,
                                                    int count, const char* desc,
                                                    const char* hints) {
    return impl->add(makeDef(name, ParamType::TextureTransform, def, count, desc, hints));
}

int KivoParameterListDesc::addParamTexture(const char* name, const AColor& def, int count,
                                           const char* desc, const char* hints) {
    return impl->add(makeDef(name, ParamType::Texture, def, count, desc, hints));
}

int KivoParameterListDesc::addParamTextureFloat(const char* name, float def, int count,
                                                const char* desc, const char* hints) {
    return impl->add(makeDef(name, ParamType::TextureFloat, def, count, desc, hints));
}

int KivoParameterListDesc::addParamPlugin(const char* name, InterfaceID iface, int count,
                                          const char* desc, const char* hints) {
    // The interface id tells an editor or a loader what may be connected; the parameter
    // itself holds any plugin.
    kivohost::ParamDef def =
        makeDef(name, ParamType::Plugin, static_cast<PluginBase*>(nullptr), count, desc, hints);
    def.iface = iface;
    return impl->add(std::move(def));
}

InterfaceID paramDefInterface(const KivoParameterListDesc& desc, int index) {
    const auto& defs = desc.getImpl()->defs;
    return index >= 0 && std::size_t(index) < defs.size() ? defs[std::size_t(index)].iface : 0;
}

int KivoParameterListDesc::addOutputParamTextureVector(const char* name, const char* desc,
                                                       const char* hints) {
    return impl->add(makeDef(name, ParamType::OutputTextureVector,
                             static_cast<PluginBase*>(nullptr), -1, desc, hints));
}

KivoParameterList* KivoParameterListDesc::newParameterList() {
    auto* listImpl = new KivoParameterList::Impl;
    listImpl->slots.reserve(impl->defs.size());
    for (const kivohost::ParamDef& def : impl->defs) {
        listImpl->slots.push_back(std::make_unique<KivoParameterList::Impl::Slot>(def));
    }
    return new KivoParameterList(listImpl);
}

void KivoParameterListDesc::deleteParameterList(KivoParameterList* list) {
    if (list) {
        delete list->getImpl();
        delete list;
    }
}

int KivoParameterListDesc::registerParameters(KivoPluginHost*, PluginDesc*) {
    // The definitions are read back directly from this object; nothing to hand over.
    return 1;
}

int KivoParameterListDesc::findParamDefIndex(const char* name) const {
    if (!name) {
        return -1;
    }
    for (std::size_t i = 0; i < impl->defs.size(); ++i) {
        if (impl->defs[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int KivoParameterListDesc::getNumParamDefs() const {
    return static_cast<int>(impl->defs.size());
}

namespace {

const kivohost::ParamDef* defAt(const KivoParameterListDesc::Impl& impl, int index) {
    if (index < 0 || std::size_t(index) >= impl.defs.size()) {
        return nullptr;
    }
    return &impl.defs[std::size_t(index)];
}

} // namespace

const char* KivoParameterListDesc::getParamDefName(int index) const {
    const kivohost::ParamDef* d = defAt(*impl, index);
    return d ? d->name.c_str() : nullptr;
}

ParamType KivoParameterListDesc::getParamDefType(int index) const {
    const kivohost::ParamDef* d = defAt(*impl, index);
    return d ? d->type : ParamType::Int;
}

const char* KivoParameterListDesc::getParamDefDescription(int index) const {
    const kivohost::ParamDef* d = defAt(*impl, index);
    return d ? d->description.c_str() : nullptr;
}

const char* KivoParameterListDesc::getParamDefHints(int index) const {
    const kivohost::ParamDef* d = defAt(*impl, index);
    return d ? d->hints.c_str() : nullptr;
}

int KivoParameterListDesc::getParamDefCount(int index) const {
    const kivohost::ParamDef* d = defAt(*impl, index);
    return d ? d->count : -1;
}

int KivoParameterListDesc::getParamDefWorldSpace(int index) const {
    const kivohost::ParamDef* d = defAt(*impl, index);
    return d ? d->worldSpace : 0;
}

} // namespace KUtils
