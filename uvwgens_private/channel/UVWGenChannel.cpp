#include "channel/UVWGenChannel.h"

#include "channel/ChannelChain.h"
#include "frame/GpuText.h"
#include "kivo/VectorMath.h"

#include <climits>
#include <cstring>

namespace KUtils {

namespace {

// The channel read on the given side: the next one on the back side in double-sided mode.
int channelOnSide(int channel, bool nextChannel) {
    // No channel follows the last representable index.
    return nextChannel && channel < INT_MAX ? channel + 1 : channel;
}

} // namespace

UVWGenChannel::UVWGenChannel(KivoPluginDesc* desc) : UVWGenBase(desc) {
    if (KivoParameterList* params = getParamList()) {
        params->setParamCache("uvw_channel", &uvwChannel);
        params->setParamCache("uvwgen", &uvwgenPlugin);
        params->setParamCache("use_double_sided_mode", &doubleSided);
    }
}

PluginInterface* UVWGenChannel::getInterface(InterfaceID id) {
    if (id == EXT_RTTEX) {
        return static_cast<RTTexInterface*>(this);
    }
    if (id == EXT_UVWGENCHANNEL) {
        return static_cast<UVWGenChannelInterface*>(this);
    }
    return UVWGenBase::getInterface(id);
}

void UVWGenChannel::frameBegin(KivoRenderer* renderer) {
    UVWGenBase::frameBegin(renderer);
    inputGen = nullptr;
    const double t = renderer && renderer->frameData ? renderer->frameData->frameTime : 0.0;
    const ChannelChain chain = followChannelChain(this, uvwgenPlugin, t);
    reportChannelChain(chain, *this, renderer);
    if (uvwgenPlugin && chain == ChannelChain::Usable) {
        inputGen = static_cast<UVWGenInterface*>(uvwgenPlugin->getInterface(EXT_UVWGEN));
    }
}

int UVWGenChannel::evalLocalTransform(const ShadingContext& sc, UVWTransform& tm) {
    // A connected generator's finished transform is the raw transform here.
    if (inputGen) {
        return inputGen->evalUVWTransform(sc, tm);
    }
    const bool backChannel = doubleSided != 0 && sc.backSide != 0;
    if (sc.shadeData) {
        if (const ShadeQueryInterface* provider =
                sc.shadeData->getInterface(EXT_CHANNEL_PROVIDER)) {
            static_cast<const ChannelProviderInterface*>(provider)->getChannelTransform(
                sc, channelOnSide(uvwChannel, backChannel), tm, 0);
            return 1;
        }
    }
    // Without a provider, -1 reads the first channel.
    const int channel = channelOnSide(uvwChannel == -1 ? 1 : uvwChannel, backChannel);
    tm = UVWTransform{};
    const auto* mesh = dynamic_cast<const ShadeData*>(sc.shadeData);
    if (!mesh) {
        return 1;
    }
    Vector4f basis[3];
    mesh->getMapChannelBasis(sc, channel, basis);
    tm = inverseColumns(basis, DetExpansion::TripleProduct);
    mesh->getMapChannelUVW(tm.o, sc, channel);
    return 1;
}

int UVWGenChannel::evalChannelTransform(const ShadingContext& sc,
                                        ChannelProviderInterface* provider, UVWTransform& tm,
                                        int providerArgument) {
    if (!provider) {
        return 0;
    }
    provider->getChannelTransform(sc, uvwChannel, tm, providerArgument);
    return 1;
}

int UVWGenChannel::emitRTSource(const char*, const char* name, const char* kind,
                                ShaderSource& source, GPUDataRecord& gpuData) {
    if (!isMaterialDescriptor(kind) || !getParamList()) {
        return 0;
    }
    gpuData.objectSpaceFlag = 0;
    UVWTransform tm;
    writeTransformLine(source, "uvw_transform ", *getStaticTransform(tm));
    writeWrapCropLines(source);
    source.printf("map_channel %i\n", uvwChannel);
    source.printf("duvw_scale %f\n", gpuValue(finish().duvwScale));
    if (inputGen) {
        getRTTexSource(inputGen, "", name, kind, source, gpuData);
    }
    return 1;
}

UVWTransform* UVWGenChannel::getStaticTransform(UVWTransform& result) {
    result = compose(finish().texTransform, uvwTransform());
    return &result;
}

std::uint8_t* UVWGenChannel::getWrapCropFlags(std::uint8_t flags[4]) {
    const UVWFinish& settings = finish();
    std::memset(flags, 0, 4);
    flags[0] = static_cast<std::uint8_t>((settings.crop[0] & 3) | (settings.crop[1] & 3) << 2 |
                                         (settings.crop[2] & 3) << 4 | (settings.wrap[0] & 3) << 6);
    flags[1] = static_cast<std::uint8_t>((settings.wrap[1] & 3) | (settings.wrap[2] & 3) << 2);
    return flags;
}

UVWGenChannelDesc::UVWGenChannelDesc()
    : PluginDescOf("UVWGenChannel", 2004120801,
                   "The most common UVW generator plugin. Uses one of the map channels from a mesh "
                   "plugin and optionally transforms the UVs. [gpuSupport=(partial)]",
                   UVWGEN_DESC_INTERFACES) {
    KivoParameterListDesc& params = paramDescs();
    registerUVWGenBaseParams(params, 0);
    params.addParamInt("uvw_channel", 1, -1,
                       "Index of the mapping channel to use (from GeomStaticMesh::map_channels). "
                       "The special value -1 takes the first available channel.",
                       "gpuSupport=(full)");
    params.addParamPlugin("uvwgen", EXT_UVWGEN, -1,
                          "Optional UVWGen from which the initial uvw coordinates will be taken, "
                          "instead of the surface point",
                          "gpuSupport=(full)");
    params.addParamBool("use_double_sided_mode", false, -1,
                        "If this is true then we will use uvw_channel for front-side and "
                        "uvw_channel + 1 for back-side contexts. This is primarily for Kivo for "
                        "Draftly.",
                        "gpuSupport=(none)");
    publishParams();
}

} // namespace KUtils
