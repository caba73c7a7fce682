// The last step of every evaluation: outputs that no float holds (an overflow on the way
// gave an infinity or a NaN) are no result. The evaluation then reports 0 and writes zeros,
// as for a point the mapping does not cover; a renderer never sees a non-finite UVW marked
// valid. Only x, y and z are results; the fourth lane is not read.
#pragma once

#include "kivo/Types.h"

#include <bit>
#include <cstdint>
#include <initializer_list>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace KUtils {

// A float is an infinity or a NaN exactly when its exponent bits are all set, that is when
// adding one to the exponent field carries into the sign bit. The marks of all lanes are or-ed:
// independent integer steps, no serial chain of float additions.
//
// Every lane is read on its own, four bytes at a time: a result is often stored lane by lane
// or in 8-byte halves, and a 16-byte load of it straight after those stores cannot take the
// stored bytes from the store buffer (it waits until they reach the cache, more than the whole
// test costs).
inline std::uint32_t nonFiniteBits(float f) {
    constexpr std::uint32_t kExponent = 0x7f800000u;
    constexpr std::uint32_t kExponentOne = 0x00800000u;
    return (std::bit_cast<std::uint32_t>(f) & kExponent) + kExponentOne;
}

inline std::uint32_t nonFiniteBits(const Vector4f& v) {
    return nonFiniteBits(v.x) | nonFiniteBits(v.y) | nonFiniteBits(v.z);
}

inline int nonFiniteMark(const Vector4f& v) {
    return int(nonFiniteBits(v) >> 31);
}

// Only x, y and z of each vector are results; the fourth lane is not read.
inline bool allFinite(const Vector4f* const* vectors, int count) {
    std::uint32_t bits = 0;
    for (int i = 0; i < count; ++i) {
        bits |= nonFiniteBits(*vectors[i]);
    }
    return (bits >> 31) == 0;
}

inline int finiteResult(int valid, Vector4f& out) {
    if (nonFiniteMark(out) == 0) {
        return valid;
    }
    out = Vector4f{};
    return 0;
}

// out[0..2]: a result and its two derivatives.
inline int finiteResult(int valid, Vector4f out[3]) {
    const Vector4f* const vectors[] = {&out[0], &out[1], &out[2]};
    if (allFinite(vectors, 3)) {
        return valid;
    }
    out[0] = out[1] = out[2] = Vector4f{};
    return 0;
}

// A transform is copied or computed column by column, as whole vectors, so its four columns
// are read back four lanes at a time (SSE2, the x86-64 baseline; the fourth lane masked off):
// measured faster than lane by lane there, where results stored lane by lane (the derivative
// triples) are faster lane by lane.
inline int finiteResult(int valid, UVWTransform& tm) {
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i exponent = _mm_set1_epi32(0x7f800000);
    __m128i marks = _mm_setzero_si128();
    for (const Vector4f* v : {&tm.c0, &tm.c1, &tm.c2, &tm.o}) {
        const __m128i bits = _mm_and_si128(_mm_castps_si128(_mm_loadu_ps(&v->x)), exponent);
        marks = _mm_or_si128(marks, _mm_cmpeq_epi32(bits, exponent));
    }
    const bool finite = (_mm_movemask_ps(_mm_castsi128_ps(marks)) & 0x7) == 0;
#else
    const Vector4f* const vectors[] = {&tm.c0, &tm.c1, &tm.c2, &tm.o};
    const bool finite = allFinite(vectors, 4);
#endif
    if (finite) {
        return valid;
    }
    tm = UVWTransform{Vector4f{}, Vector4f{}, Vector4f{}, Vector4f{}};
    return 0;
}

} // namespace KUtils
