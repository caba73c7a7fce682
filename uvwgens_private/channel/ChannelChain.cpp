#include "channel/ChannelChain.h"

#include "channel/UVWGenChannel.h"

namespace KUtils {

ChannelChain followChannelChain(const PluginBase* start, PluginBase* input, double t) {
    PluginBase* next = input;
    for (int links = 1; next; ++links) {
        if (next == start) {
            return ChannelChain::LeadsBack;
        }
        if (links > MAX_CHANNEL_CHAIN) {
            return ChannelChain::TooLong;
        }
        const auto* channel = dynamic_cast<const UVWGenChannel*>(next);
        KivoParameterList* params = channel ? channel->getParamList() : nullptr;
        KivoParameter* uvwgen = params ? params->getParam("uvwgen") : nullptr;
        next = uvwgen ? uvwgen->getPlugin(0, t) : nullptr;
    }
    return ChannelChain::Usable;
}

void reportChannelChain(ChannelChain chain, const Plugin& start, KivoRenderer* renderer) {
    KivoSequenceData* sequence = renderer ? renderer->sequenceData : nullptr;
    if (chain == ChannelChain::Usable || !sequence || !sequence->messageLog) {
        return;
    }
    const char* name = start.getPluginName();
    if (chain == ChannelChain::LeadsBack) {
        sequence->messageLog->logMessage(
            "[UVWGenChannel] \"%s\": the chain of uvwgen inputs leads back to this generator; "
            "evaluated as unconnected\n",
            name ? name : "");
    } else {
        sequence->messageLog->logMessage(
            "[UVWGenChannel] \"%s\": the chain of uvwgen inputs does not end within %d generators; "
            "evaluated as unconnected\n",
            name ? name : "", MAX_CHANNEL_CHAIN);
    }
}

} // namespace KUtils
