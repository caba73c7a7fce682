// The pure mapping functions of every generator on arbitrary float bit patterns (NaN,
// infinities, denormals, huge values) and arbitrary integers: the base chain's wrap, crop and
// samples, the environment directions, the projection types and camera image placement, the
// multi-projection weights, and the Ostrel placement and tiling. Each input is a sequence of
// calls. The sanitizers report undefined behaviour (out-of-range float-to-int conversions
// above all); beyond that, valid flags are 0 or 1, and the guarantees the functions document
// are checked where they are stated.
#include "FuzzInput.h"
#include "Require.h"
#include "channel/UVWChain.h"
#include "environment/EnvMapping.h"
#include "frame/MotionSamples.h"
#include "frame/ScreenSpace.h"
#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"
#include "ostrel/OstrelMath.h"
#include "projection/ImageProjection.h"
#include "projection/MultiProjectionBlend.h"
#include "projection/ProjectionMapping.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace KUtils;
using fuzzing::FuzzInput;

namespace {

bool finite(const Vector4f& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

bool finite(const UVWTransform& t) {
    return finite(t.c0) && finite(t.c1) && finite(t.c2) && finite(t.o);
}

// (x, y, z) / |(x, y, z)| computed in double precision, which neither overflows nor
// underflows for floats, into direction; left as it is when there is no finite direction (a
// zero, infinite or NaN component).
void directionOf(float x, float y, float z, Vector4f& direction) {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) ||
        (x == 0.0f && y == 0.0f && z == 0.0f)) {
        return;
    }
    const double length = std::sqrt(double(x) * x + double(y) * y + double(z) * z);
    direction = {float(x / length), float(y / length), float(z / length), 0.0f};
}

Vector4f vector(FuzzInput& in) {
    return {in.real(), in.real(), in.real(), in.real()};
}

Matrix3x3f matrix(FuzzInput& in) {
    return {vector(in), vector(in), vector(in)};
}

UVWTransform transform(FuzzInput& in) {
    return {vector(in), vector(in), vector(in), vector(in)};
}

// A value the documented finiteness guarantees cover: finite and of a size a scene has.
float moderate(FuzzInput& in) {
    const float v = in.real();
    return std::isfinite(v) && std::fabs(v) <= 1e4f ? v : 0.5f;
}

Vector4f moderateVector(FuzzInput& in) {
    return {moderate(in), moderate(in), moderate(in), moderate(in)};
}

void baseChain(FuzzInput& in) {
    switch (in.choice(5)) {
    case 0: {
        const float x = in.real(), c = in.real();
        int valid = 1;
        const float y = wrapCoordinate(x, c, in.int32(), in.int32(), in.int32(), valid);
        FUZZ_REQUIRE(valid == 0 || valid == 1);
        if (c == 0.0f && std::isfinite(x)) {
            // Nothing covered: invalid, and no infinity or NaN from the division.
            FUZZ_REQUIRE(valid == 0 && std::isfinite(y));
        }
        break;
    }
    case 1: {
        const float x = in.real();
        const float y = mirrorTile(x);
        if (std::isfinite(x)) {
            FUZZ_REQUIRE(y >= 0.0f && y <= 1.0f);
        }
        break;
    }
    case 2: {
        UVWTransform samples[4];
        for (UVWTransform& s : samples) {
            s = transform(in);
        }
        sampleMotion(samples, 1 + in.choice(4), in.real(), MotionEdges::ExtendStartHoldEnd);
        break;
    }
    case 3: {
        UVWTransform tm = transform(in);
        UVWFinish finish;
        finish.texTransform = transform(in);
        for (int k = 0; k < 3; ++k) {
            finish.wrap[k] = in.int32();
            finish.crop[k] = in.int32();
        }
        finish.coverage = vector(in);
        finish.wrapBoundary = in.int32();
        finish.duvwScale = in.real();
        const int valid = finishUVWTransform(tm, finish, 1);
        FUZZ_REQUIRE(valid == 0 || valid == 1);
        break;
    }
    default: {
        const Vector4f b[3] = {vector(in), vector(in), vector(in)};
        inverseColumns(b, DetExpansion::TripleProduct);
        break;
    }
    }
}

void environment(FuzzInput& in) {
    switch (in.choice(8)) {
    case 0:
        unitOrUnchanged(vector(in));
        unitOrZeroIfShort(vector(in));
        break;
    case 1: {
        const UpDirectionRecord record{{in.real(), in.real(), in.real()}};
        const bool answered = in.choice(4) != 0;
        const Vector4f up = upAxisFrom(answered ? &record : nullptr);
        // The answer's direction as a unit vector, or (0, 0, 1) when it has none.
        Vector4f expected{0.0f, 0.0f, 1.0f, 0.0f};
        if (answered) {
            directionOf(record.upDirection[0], record.upDirection[1], record.upDirection[2],
                        expected);
        }
        FUZZ_REQUIRE(std::fabs(up.x - expected.x) < 1e-3f && std::fabs(up.y - expected.y) < 1e-3f &&
                     std::fabs(up.z - expected.z) < 1e-3f);
        break;
    }
    case 2: {
        Matrix3x3f samples[3] = {matrix(in), matrix(in), matrix(in)};
        sampleMotion(samples, 2 + in.choice(2), in.real(), MotionEdges::ExtendBothEnds);
        break;
    }
    case 3: {
        const GroundPlane ground{vector(in), vector(in), in.real()};
        groundProject(ground, vector(in), vector(in));
        break;
    }
    case 4: {
        const int type = in.choice(2) ? in.choice(12) - 1 : in.int32();
        mapDirection(type, vector(in));
        const GroundPlane ground{vector(in), vector(in), in.real()};
        DirectionPipeline pipeline{matrix(in), in.choice(2) ? &ground : nullptr, vector(in), type};
        mapThroughPipeline(pipeline, vector(in));
        hasUSeam(type);
        break;
    }
    case 5: {
        const int wrap[3] = {in.int32(), in.int32(), in.int32()};
        const int crop[3] = {in.int32(), in.int32(), in.int32()};
        const UVWTail tail{transform(in), wrap, crop};
        Vector4f uvw = vector(in);
        const int valid = finishUVW(tail, uvw);
        FUZZ_REQUIRE(valid == 0 || valid == 1);
        break;
    }
    case 6:
        seamCorrected(in.real(), in.real());
        screenUVW(in.real(), in.real(), in.int32(), in.int32());
        break;
    default: {
        ScreenFrame frame{vector(in), vector(in), vector(in), in.int32(), in.int32()};
        screenTransform(transform(in), frame, vector(in), in.real());
        break;
    }
    }
}

void projection(FuzzInput& in) {
    switch (in.choice(7)) {
    case 0: {
        UVWTransform samples[4] = {transform(in), transform(in), transform(in), transform(in)};
        sampleMotion(samples, 2 + in.choice(3), in.real(), MotionEdges::HoldBothEnds);
        break;
    }
    case 1:
        toObjectSpace(transform(in), vector(in), vector(in), vector(in), vector(in));
        FUZZ_REQUIRE(unsigned(dominantAxis(vector(in))) < 3);
        break;
    case 2: {
        const int type = in.choice(2) ? in.choice(12) - 1 : in.int32();
        finishProjection(mapProjection(type, vector(in), vector(in), in.real(), in.real()),
                         transform(in), transform(in));
        break;
    }
    case 3: {
        // Finite, moderate input gives a finite result for every type; a zero angle is
        // taken as no angle, any other angle is kept away from the underflow of its square.
        const int type = in.choice(12) - 1;
        auto angle = [&in] {
            const float a = moderate(in);
            return std::fabs(a) < 1e-3f ? 0.0f : a;
        };
        const float uAngle = angle(), vAngle = angle();
        const Vector4f p = moderateVector(in);
        const Vector4f nPrime = moderateVector(in);
        FUZZ_REQUIRE(finite(mapProjection(type, p, nPrime, uAngle, vAngle)));
        break;
    }
    case 4: {
        ProjectionImage image{in.real(),  in.real(),  in.real(), in.real(),
                              in.int32(), in.int32(), in.real()};
        ImagePlacement placement;
        placement.invWidth = in.real();
        placement.invHeight = in.real();
        placement.includeOverscan = in.choice(2);
        placement.hasBitmap = in.choice(2);
        placement.fitFill = in.int32();
        placement.bitmapOverCamera = in.real();
        placement.cameraOverBitmap = in.real();
        placement.fitType = in.int32();
        placement.filmGateW = in.real();
        placement.filmGateH = in.real();
        imageProjection(image, placement, {in.real(), in.real()}, {in.real(), in.real()},
                        {in.real(), in.real()}, vector(in), vector(in), vector(in));
        imageAspect(in.choice(2), image);
        cameraAspect(in.int32(), in.real(), in.real(), in.choice(2), image);
        bitmapFitRatios(in.int32(), in.int32(), in.real());
        inverseImageSize(in.choice(2), image);
        ratioOrZero(in.real(), in.real());
        break;
    }
    case 5: {
        const ScreenStep forward =
            screenStep(in.int32(), {in.real(), in.real()}, {in.real(), in.real()});
        const ScreenStep backward =
            screenStep(in.int32(), {in.real(), in.real()}, {in.real(), in.real()});
        shorterDifference(forward, backward);
        break;
    }
    default: {
        const CentreView view = viewFromCentre(vector(in), vector(in), in.int32(), vector(in));
        facesCentre(view);
        facingWeight(view);
        depthWeight(view, recordedDepth({in.real(), in.real(), in.real(), in.real()}), in.real());
        ColorBlend blend;
        blend.add(in.real(), {in.real(), in.real(), in.real(), in.real()});
        blend.add(in.real(), {in.real(), in.real(), in.real(), in.real()});
        blend.result();
        break;
    }
    }
}

void ostrel(FuzzInput& in) {
    switch (in.choice(6)) {
    case 0:
        buildPlacement(vector(in), vector(in), vector(in));
        fixedPlacement({vector(in), vector(in), vector(in)});
        break;
    case 1: {
        const float size = in.real();
        const float bounded = boundFixedSize(size);
        if (!std::isnan(size)) {
            FUZZ_REQUIRE(std::fabs(bounded) >= MIN_PLACEMENT_SIZE);
        }
        break;
    }
    case 2: {
        const Vector4f v = vector(in);
        const Vector4f axis = unitOrZero(v);
        // The direction as a unit vector, or zero for a vector without a finite direction.
        Vector4f expected{};
        directionOf(v.x, v.y, v.z, expected);
        FUZZ_REQUIRE(std::fabs(axis.x - expected.x) < 1e-3f &&
                     std::fabs(axis.y - expected.y) < 1e-3f &&
                     std::fabs(axis.z - expected.z) < 1e-3f);
        break;
    }
    case 3: {
        const Placement base{vector(in), vector(in), vector(in)};
        const Placement amplitude{vector(in), vector(in), vector(in)};
        hasVariation(amplitude);
        const bool lock = in.choice(2);
        RandSequence rng(in.uint32());
        drawPlacement(base, amplitude, lock, rng);
        randomPlacement(base, amplitude, lock, in.uint32());
        break;
    }
    case 4: {
        float x = in.real();
        tileCoordinate(x, in.choice(2) ? in.choice(6) : in.int32());
        Vector4f q = vector(in);
        const Vector4f before = q;
        const int modes[3] = {in.choice(6), in.choice(6), in.int32()};
        if (!tileCoordinates(q, modes)) {
            // A rejected point is left as it was.
            FUZZ_REQUIRE(std::memcmp(&q, &before, sizeof q) == 0);
        }
        break;
    }
    default:
        centredPlacement(transform(in), vector(in));
        footprintExtent(vector(in), vector(in));
        break;
    }
}

void rounding(FuzzInput& in) {
    const float x = in.real();
    const double d = in.real64();
    // The floor as the renderer takes it is the floor.
    FUZZ_REQUIRE((std::isnan(x) && std::isnan(truncFloor(x))) || truncFloor(x) == std::floor(x));
    FUZZ_REQUIRE((std::isnan(d) && std::isnan(truncFloor(d))) || truncFloor(d) == std::floor(d));
    if (std::isfinite(x)) {
        const float f = truncFrac(x);
        FUZZ_REQUIRE(f >= 0.0f && f <= 1.0f);
    }
    truncToward0(x);
    truncToward0(d);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    for (int call = 0; call < 64 && !in.exhausted(); ++call) {
        switch (in.choice(5)) {
        case 0:
            baseChain(in);
            break;
        case 1:
            environment(in);
            break;
        case 2:
            projection(in);
            break;
        case 3:
            ostrel(in);
            break;
        default:
            rounding(in);
            break;
        }
    }
    return 0;
}
