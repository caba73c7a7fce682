// The chain of UVW generators connected through `uvwgen` from one UVWGenChannel to the next.
// Evaluation follows the chain by nested calls on a render thread's stack, so a chain that
// leads back to its start never ends and a very long one overflows the stack. Both are found
// at frame begin; the channel then evaluates as unconnected.
#pragma once

#include "kivo/PluginModel.h"

namespace KUtils {

// The most UVWGenChannels one chain may pass through. Measured on 8 MB stacks (render threads
// here): a release build overflows between 25,000 and 27,500 links (about 320 bytes a link),
// a debug build between 8,000 and 12,000 (about 800); a 1 MB stack (the Windows default for
// a thread) holds an eighth of that, about 1,000 links on a debug build. 256 stays far below
// all of them, with room for what the chain's last generator and its textures add.
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
