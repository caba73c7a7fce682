// The chain of UVW generators connected through `uvwgen` from one UVWGenChannel to the next.
// Evaluation follows the chain by nested calls on a render thread's stack, so a chain that
// leads back to its start never ends and a very long one overflows the stack. Both are found
// at frame begin; the channel then evaluates as unconnected.
#pragma once

#include "frame/PluginModel.h"

namespace KUtils {

// The most UVWGenChannels one chain may pass through. An 8 MB render-thread stack holds
// about 10,000 links on a debug build (about 800 bytes a link) and 25,000 on a release
// build; a 1 MB stack (the Windows default) an eighth of that. 256 stays far below all of
// them, with room for what the chain's last generator and its textures add.
inline constexpr int MAX_CHANNEL_CHAIN = 256;

enum class ChannelChain { Usable, LeadsBack, TooLong };

// Follows the chain from `start`, whose input is `input`, through every UVWGenChannel of
// this library, reading their `uvwgen` at time t (their bound caches may not be refreshed
// yet this frame). Stops at the first generator of another kind.
ChannelChain followChannelChain(const PluginBase* start, PluginBase* input, double t);

// Reports the chain's fault in the renderer's message log ("[UVWGenChannel] ..."); nothing
// for a usable one.
void reportChannelChain(ChannelChain chain, const Plugin& start, KivoRenderer* renderer);

} // namespace KUtils
