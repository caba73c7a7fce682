#include "kivo/PluginModel.h"

#include "kivo/HostSdk.h"

#include <cstring>

namespace KUtils {

// ---- PluginBase -----------------------------------------------------------------------------

PluginBase::InterfaceNode::~InterfaceNode() {
    // The rest of the chain goes first, then this node's interface if the node owns it.
    delete next;
    if (owned && iface) {
        iface->release();
    }
}

PluginBase::~PluginBase() {
    delete interfaceList;
}

PluginInterface* PluginBase::getInterface(InterfaceID id) {
    for (InterfaceNode* node = interfaceList; node; node = node->next) {
        if (node->iface && node->iface->getInterfaceID() == id) {
            return node->iface;
        }
    }
    return nullptr;
}

void PluginBase::releaseInterface(PluginInterface*) {}

int PluginBase::addInterface(PluginInterface* iface, int owned) {
    interfaceList = new InterfaceNode{iface, owned, interfaceList};
    return 1;
}

int PluginBase::removeInterface(PluginInterface* iface) {
    for (InterfaceNode** link = &interfaceList; *link; link = &(*link)->next) {
        InterfaceNode* node = *link;
        if (node->iface == iface) {
            *link = node->next;
            node->next = nullptr;
            node->iface = nullptr; // removal destroys the node only, no release
            delete node;
            return 1;
        }
    }
    return 0;
}

// ---- Plugin ---------------------------------------------------------------------------------

Plugin::~Plugin() {
    delete[] name;
}

PluginDesc* Plugin::getPluginDesc() {
    return nullptr;
}

void Plugin::setPluginName(const char* newName) {
    delete[] name;
    name = nullptr;
    if (newName) {
        const std::size_t size = std::strlen(newName) + 1;
        name = new char[size];
        std::memcpy(name, newName, size);
    }
}

const char* Plugin::getTypeName() {
    PluginDesc* desc = getPluginDesc();
    return desc ? desc->getName() : nullptr;
}

// ---- Interfaces -----------------------------------------------------------------------------

void PluginInterface::release() {
    if (PluginBase* plugin = getPlugin()) {
        plugin->releaseInterface(this);
    }
}

KivoPluginInterface::KivoPluginInterface(KivoPluginDesc* desc) : desc(desc) {
    if (desc && desc->getParamListDesc()) {
        paramList = desc->getParamListDesc()->newParameterList();
    }
}

KivoPluginInterface::~KivoPluginInterface() {
    if (paramList) {
        desc->getParamListDesc()->deleteParameterList(paramList);
    }
}

void KivoPluginInterface::prepareRender(KivoRenderer*) {}
void KivoPluginInterface::finishRender(KivoRenderer*) {}
void KivoPluginInterface::finishFrame(KivoRenderer*) {}

void KivoPluginInterface::frameBegin(KivoRenderer* renderer) {
    if (paramList && renderer && renderer->frameData) {
        paramList->cacheParams(renderer->frameData->frameTime, Vector4f{});
    }
}

int KivoPluginInterface::setParameter(KivoParameter* param) {
    return paramList ? paramList->setParameter(param) : 0;
}

KivoParameter* KivoPluginInterface::getParameter(const char* name) {
    return paramList ? paramList->getParam(name) : nullptr;
}

PluginInterface* KivoPlugin::getInterface(InterfaceID id) {
    if (id == EXT_KIVO_PLUGIN) {
        return static_cast<KivoPluginInterface*>(this);
    }
    return PluginBase::getInterface(id);
}

PluginDesc* KivoPlugin::getPluginDesc() {
    return getKivoPluginDesc();
}

int UVWGenInterface::evalChannelTransform(const ShadingContext&, ChannelProviderInterface*,
                                          UVWTransform&, int) {
    return 0;
}

PluginInterface* KivoUVWGen::getInterface(InterfaceID id) {
    if (id == EXT_UVWGEN) {
        return static_cast<UVWGenInterface*>(this);
    }
    return KivoPlugin::getInterface(id);
}

PluginInterface* KivoTexture::getInterface(InterfaceID id) {
    if (id == EXT_TEXTURE) {
        return static_cast<TextureInterface*>(this);
    }
    return KivoPlugin::getInterface(id);
}

// ---- Descriptors ----------------------------------------------------------------------------

void KivoPluginDesc::registerPlugin(KivoPluginHost* host) {
    if (!host) {
        return;
    }
    host->registerPluginDesc(this);
    if (paramListDesc) {
        paramListDesc->registerParameters(host, this);
    }
}

void KivoPluginDesc::unregisterPlugin(KivoPluginHost* host) {
    if (host) {
        host->unregisterPluginDesc(this);
    }
}

bool KivoPluginDesc::listContains(const InterfaceID* zeroTerminated, InterfaceID id) {
    for (const InterfaceID* p = zeroTerminated; *p; ++p) {
        if (*p == id) {
            return true;
        }
    }
    return false;
}

} // namespace KUtils
