// The random sequence the ostrel tests compare against, worked out by hand.
#pragma once

namespace ostreltest {

// The first draws of the C runtime sequence after seeding with 804952 = noiseHash(1), worked
// out with 64-bit integers: state = 804952 * 214013 + 2531011 = 172272723387, modulo 2^32
// 474031547 = 0x1C4125BB, and 0x1C41 & 0x7FFF = 7233; and so on.
constexpr int DRAWS_SEED_1[] = {7233, 27289, 10969, 27563, 23089, 6814,
                                6282, 30622, 19594, 16698, 27395, 28560};

// A draw as a signed unit value in [-1, 1].
inline float unit(int r) {
    return float(r) / 32767.0f * 2.0f - 1.0f;
}

} // namespace ostreltest
