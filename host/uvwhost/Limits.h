// Bounds on the sizes that uvwhost reads from its inputs. Every count that becomes an
// allocation, a loop or a recursion is checked against one of these before it is used, with
// a message naming the bound.
#pragma once

#include <cstddef>

namespace uvwhost {

// Image width and height in pixels: 16384 squared is 256 M pixels, 6 GB of colour and UVW
// buffers, the most a render here can sensibly hold.
inline constexpr int MAX_IMAGE_SIDE = 16384;
// Samples per pixel along each axis (the pixel takes its square, 4096).
inline constexpr int MAX_SAMPLES_PER_AXIS = 64;
// Render threads, and the thread count handed to plugins: far more than the cores of any
// machine this runs on, and every generator sizes one 256-byte cache entry per thread, so
// the bound keeps those caches at 256 KB an instance.
inline constexpr int MAX_THREADS = 1024;
// Motion-blur geometry samples: each is a transform every generator keeps per frame.
inline constexpr int MAX_GEOM_SAMPLES = 1024;
// A scene file, or one line of eval's contexts.
inline constexpr std::size_t MAX_INPUT_BYTES = std::size_t(64) << 20;
// The longest path of references between instances (a texture driven by a generator driven
// by another...). Evaluation follows each reference with a few nested calls on a render
// thread's stack; the bound is the library's own for chains of UVWGenChannels (see
// channel/ChannelChain.h for the stack depths measured), far below what a stack holds.
inline constexpr int MAX_REFERENCE_DEPTH = 256;

} // namespace uvwhost
