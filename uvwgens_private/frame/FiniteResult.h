// The last step of every evaluation: outputs that no float holds (an overflow on the way
// gave an infinity or a NaN) are no result. The evaluation then reports 0 and writes zeros,
// as for a point the mapping does not cover; a renderer never sees a non-finite UVW marked
// valid. Only x, y and z are results; the fourth lane is not read.
#pragma once

#include "kivo/Types.h"

#include <bit>
#include <cstdint>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace KUtils {

// A float is an infinity or a NaN exactly when its exponent bits are all set. The test runs
// on the bits, lane by lane, and the lanes' answers are or-ed: independent integer steps, where
// a sum of float marks was one serial chain of additions, on the path of every evaluation.
inline int nonFiniteLane(float f) {
    constexpr std::uint32_t kExponent = 0x7f800000u;
    return int((std::bit_cast<std::uint32_t>(f) & kExponent) == kExponent);
}

inline int nonFiniteMark(const Vector4f& v) {
    return nonFiniteLane(v.x) | nonFiniteLane(v.y) | nonFiniteLane(v.z);
}

// Vectors that were stored whole (several results, a transform's columns): tested four lanes
// at a time (SSE2, the x86-64 baseline), the fourth lane of each masked off. A single result
// is tested lane by lane above: it often arrives as two 8-byte halves, which one 16-byte load
// could not take straight from the stores.
inline bool allFinite(const Vector4f* const* vectors, int count) {
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i exponent = _mm_set1_epi32(0x7f800000);
    __m128i marks = _mm_setzero_si128();
    for (int i = 0; i < count; ++i) {
        const __m128i bits =
            _mm_and_si128(_mm_castps_si128(_mm_loadu_ps(&vectors[i]->x)), exponent);
        marks = _mm_or_si128(marks, _mm_cmpeq_epi32(bits, exponent));
    }
    return (_mm_movemask_ps(_mm_castsi128_ps(marks)) & 0x7) == 0;
#else
    int mark = 0;
    for (int i = 0; i < count; ++i) {
        mark |= nonFiniteMark(*vectors[i]);
    }
    return mark == 0;
#endif
}

// A result still in registers: stored when x, y and z are finite, else zeros stored and 0.
// Tested before the store, four lanes at once, so that no reload waits for the store.
inline int storeIfFinite(int valid, const Vector4f& result, Vector4f& out) {
    const Vector4f* const vectors[] = {&result};
    if (!allFinite(vectors, 1)) {
        out = Vector4f{};
        return 0;
    }
    out = result;
    return valid;
}

// The same for a result and its two derivatives, into out[0..2].
inline int storeIfFinite(int valid, const Vector4f& result, const Vector4f& dx, const Vector4f& dy,
                         Vector4f out[3]) {
    const Vector4f* const vectors[] = {&result, &dx, &dy};
    if (!allFinite(vectors, 3)) {
        out[0] = out[1] = out[2] = Vector4f{};
        return 0;
    }
    out[0] = result;
    out[1] = dx;
    out[2] = dy;
    return valid;
}

// The same for a transform: its columns and offset tested where they are (a thread's cache
// entry, a local), then copied.
inline int storeIfFinite(int valid, const UVWTransform& result, UVWTransform& out) {
    const Vector4f* const vectors[] = {&result.c0, &result.c1, &result.c2, &result.o};
    if (!allFinite(vectors, 4)) {
        out = UVWTransform{Vector4f{}, Vector4f{}, Vector4f{}, Vector4f{}};
        return 0;
    }
    out = result;
    return valid;
}

// A result already stored (through a call, or lane by lane): tested where it is.
inline int finiteResult(int valid, Vector4f& out) {
    if (nonFiniteMark(out) == 0) {
        return valid;
    }
    out = Vector4f{};
    return 0;
}

inline int finiteResult(int valid, UVWTransform& tm) {
    return storeIfFinite(valid, tm, tm);
}

} // namespace KUtils
