// The plugin object model shared by the host and every plugin: plugins answer interface
// queries by numeric id; interfaces know their id, name and plugin. Virtual operations are
// declared in the slot order the host calls them in; that order is part of the contract.
#pragma once

#include "kivo/InterfaceIds.h"
#include "kivo/Types.h"

namespace KUtils {

class PluginInterface;
class PluginDesc;
class KivoPluginDesc;
class KivoParameterList;
class KivoParameterListDesc;
class KivoParameter;
class KivoPluginHost;
class KivoRenderer;
class KivoSequenceData;
struct KivoFrameData;
class ShadingContext;
class ShaderSource;
struct GPUDataRecord;
class ChannelProviderInterface;

class PluginBase {
public:
    PluginBase() = default;
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;

    /* 0 */ virtual ~PluginBase();
    /* 1 */ virtual PluginInterface* getInterface(InterfaceID id);
    /* 2 */ virtual void releaseInterface(PluginInterface* iface);
    /* 3 */ virtual int addInterface(PluginInterface* iface, int owned);
    /* 4 */ virtual int removeInterface(PluginInterface* iface);

private:
    struct InterfaceNode {
        PluginInterface* iface;
        int owned;
        InterfaceNode* next;
        ~InterfaceNode();
    };
    InterfaceNode* interfaceList = nullptr;
};

class Plugin : public PluginBase {
public:
    ~Plugin() override;
    /* 5 */ virtual PluginDesc* getPluginDesc();
    /* 6 */ virtual void setPluginName(const char* name);

    const char* getPluginName() const { return name; }
    const char* getTypeName();

private:
    char* name = nullptr;
};

class PluginInterface {
public:
    PluginInterface() = default;
    PluginInterface(const PluginInterface&) = delete;
    PluginInterface& operator=(const PluginInterface&) = delete;

    /* 0 */ virtual ~PluginInterface() = default;
    /* 1 */ virtual InterfaceID getInterfaceID() = 0;
    /* 2 */ virtual PluginBase* getPlugin() = 0;
    /* 3 */ virtual const char* getInterfaceName() { return nullptr; }
    /* 4 */ virtual void release();
};

class KivoPluginInterface : public PluginInterface {
public:
    // Binds to the descriptor and, when it has a parameter-descriptor list, creates this
    // instance's own parameter list from it.
    explicit KivoPluginInterface(KivoPluginDesc* desc);
    ~KivoPluginInterface() override;

    InterfaceID getInterfaceID() override { return EXT_KIVO_PLUGIN; }
    const char* getInterfaceName() override { return "EXT_KIVO_PLUGIN"; }
    /* 5 */ virtual void prepareRender(KivoRenderer* renderer);
    /* 6 */ virtual void finishRender(KivoRenderer* renderer);
    /* 7 */ virtual void frameBegin(KivoRenderer* renderer);
    /* 8 */ virtual void finishFrame(KivoRenderer* renderer);
    /* 9 */ virtual int setParameter(KivoParameter* param);
    /* 10 */ virtual KivoParameter* getParameter(const char* name);

    KivoPluginDesc* getKivoPluginDesc() const { return desc; }
    KivoParameterList* getParamList() const { return paramList; }

private:
    KivoPluginDesc* desc;
    KivoParameterList* paramList = nullptr;
};

class KivoPlugin : public Plugin, public KivoPluginInterface {
public:
    explicit KivoPlugin(KivoPluginDesc* desc) : KivoPluginInterface(desc) {}
    PluginInterface* getInterface(InterfaceID id) override;
    PluginDesc* getPluginDesc() override;
    PluginBase* getPlugin() override { return this; }
};

class UVWGenInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_UVWGEN; }
    const char* getInterfaceName() override { return "EXT_UVWGEN"; }
    // Each returns the valid flag: 1 when the result applies at the point, 0 when not.
    /* 5 */ virtual int evalUVW(const ShadingContext& sc, Vector4f& uvw) = 0;
    // out[0] uvw, out[1] its derivative along screen x, out[2] along screen y.
    /* 6 */ virtual int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) = 0;
    /* 7 */ virtual int evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) = 0;
    // The provider's transform of this generator's channel; providerArgument goes to the
    // provider's getChannelTransform as is.
    /* 8 */ virtual int evalChannelTransform(const ShadingContext& sc,
                                             ChannelProviderInterface* provider, UVWTransform& tm,
                                             int providerArgument);
};

class KivoUVWGen : public KivoPlugin, public UVWGenInterface {
public:
    explicit KivoUVWGen(KivoPluginDesc* desc) : KivoPlugin(desc) {}
    PluginInterface* getInterface(InterfaceID id) override;
    PluginBase* getPlugin() override { return this; }
};

class TextureInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_TEXTURE; }
    const char* getInterfaceName() override { return "EXT_TEXTURE"; }
    /* 5 */ virtual void evalColor(AColor& result, const ShadingContext& sc) = 0;
    /* 6 */ virtual void getColorRange(AColor& minimum, AColor& maximum) = 0;
    /* 7 */ virtual void evalColorDerivative(Vector4f& result) { result = {}; }
};

class KivoTexture : public KivoPlugin, public TextureInterface {
public:
    explicit KivoTexture(KivoPluginDesc* desc) : KivoPlugin(desc) {}
    PluginInterface* getInterface(InterfaceID id) override;
    PluginBase* getPlugin() override { return this; }
};

class TextureVectorInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_TEXTURE_VECTOR; }
    const char* getInterfaceName() override { return "EXT_TEXTURE_VECTOR"; }
    /* 5 */ virtual Vector4f* getTexVector(Vector4f& result, const ShadingContext& sc) = 0;
    /* 6 */ virtual void getTexVectorBounds(Vector4f& minimum, Vector4f& maximum) = 0;
    /* 7 */ virtual void getTexVectorDerivative(Vector4f& result) { result = {}; }
};

class RTTexInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_RTTEX; }
    const char* getInterfaceName() override { return "EXT_RTTEX"; }
    // Slots 5 and 6 are unused by this library; they keep emitRTSource at the host's slot 7.
    /* 5 */ virtual int reservedSlot5() { return 0; }
    /* 6 */ virtual int reservedSlot6() { return 0; }
    // Writes the instance's GPU description into source; 1 when written, 0 when not.
    /* 7 */ virtual int emitRTSource(const char* outputName, const char* name, const char* kind,
                                     ShaderSource& source, GPUDataRecord& gpuData) = 0;

    // Host service: writes the description of another plugin's interface into the same
    // buffer and record. Implemented by the host.
    static int getRTTexSource(PluginInterface* iface, const char* outputName, const char* name,
                              const char* kind, ShaderSource& source, GPUDataRecord& gpuData);
};

class UVWGenChannelInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_UVWGENCHANNEL; }
    const char* getInterfaceName() override { return "EXT_UVWGENCHANNEL"; }
    /* 5 */ virtual UVWTransform* getStaticTransform(UVWTransform& result) = 0;
    /* 6 */ virtual int getMapChannel() = 0;
    /* 7 */ virtual std::uint8_t* getWrapCropFlags(std::uint8_t flags[4]) = 0;
};

class RenderSettingsInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_RENDER_SETTINGS; }
    /* 5 */ virtual void updateSequenceData(KivoSequenceData& sequenceData) = 0;
    /* 6 */ virtual void updateFrameData(KivoFrameData& frameData) = 0;
};

// Enumeration callback supplied by the host: nonzero continues, zero stops.
class PluginDescCallback {
public:
    virtual int visit(PluginDesc* desc) = 0;

protected:
    ~PluginDescCallback() = default;
};

class PluginDesc : public PluginBase {
public:
    /* 5 */ virtual InterfaceID getPluginID() = 0;
    /* 6 */ virtual PluginBase* newPlugin(KivoPluginHost* host) = 0;
    /* 7 */ virtual void deletePlugin(PluginBase* instance) = 0;
    /* 8 */ virtual bool supportsInterface(InterfaceID id) = 0;
    /* 9 */ virtual const char* getName() = 0;
    /* 10 */ virtual void registerPlugin(KivoPluginHost* host) = 0;
    /* 11 */ virtual void unregisterPlugin(KivoPluginHost* host) = 0;
    // Slots 12, 14 and 15 are operations this library does not provide: they answer 0 and
    // keep getDescription at the host's slot 13.
    /* 12 */ virtual int reservedSlot12() { return 0; }
    /* 13 */ virtual const char* getDescription() = 0;
    /* 14 */ virtual int reservedSlot14() { return 0; }
    /* 15 */ virtual int reservedSlot15() { return 0; }
};

class KivoPluginDesc : public PluginDesc {
public:
    void registerPlugin(KivoPluginHost* host) override;
    void unregisterPlugin(KivoPluginHost* host) override;
    void deletePlugin(PluginBase* instance) override { delete instance; }

    KivoParameterListDesc* getParamListDesc() const { return paramListDesc; }

protected:
    void setParamListDesc(KivoParameterListDesc* d) { paramListDesc = d; }
    // True when id is in the zero-terminated list.
    static bool listContains(const InterfaceID* zeroTerminated, InterfaceID id);

private:
    KivoParameterListDesc* paramListDesc = nullptr;
};

} // namespace KUtils
