#include "projection/ProjectionMapping.h"

#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace KUtils {

namespace {

// The spherical, cylindrical and ball projections run in double precision from the
// single-precision inputs: their derivatives divide by r^3 and by differences of squares, which
// lose most of their digits in single precision near the axes and the poles. The other types
// are exact enough in single precision.

// The single-precision pi and 2 pi, widened: the double steps use these, not the exact values.
constexpr double kPiWide = kPi;
constexpr double kTwoPiWide = 2.0 * kPiWide;
static_assert(kPiWide == 3.1415927410125732 && kTwoPiWide == 6.2831854820251465);

Vector4f vec(double x, double y, double z) {
    return {float(x), float(y), float(z), 0.0f};
}

// The mapping result of Jacobian columns jx, jy, jz and the uvw.
UVWTransform mappingResult(const Vector4f& jx, const Vector4f& jy, const Vector4f& jz,
                           const Vector4f& uvw) {
    return {jx, jy, jz, uvw};
}

UVWTransform zeroJacobian(const Vector4f& uvw) {
    return mappingResult({}, {}, {}, uvw);
}

bool finite3(const Vector4f& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The length of (x, y, z): the root of the single-precision sum of squares, or, where that
// sum overflows (components beyond about 1e19), the same in double precision.
double rootOfSquares(float x, float y, float z) {
    const float sumSq = x * x + y * y + z * z;
    if (std::isfinite(sumSq)) {
        return std::sqrt(double(sumSq));
    }
    const double xd = x, yd = y, zd = z;
    return std::sqrt(xd * xd + yd * yd + zd * zd);
}

// Whether a double computed from float inputs has no float value. Such quotients stay far
// inside the double range, so the comparison is exact.
bool beyondFloatRange(double v) {
    return std::fabs(v) > double(std::numeric_limits<float>::max());
}

// u of the azimuth around the y axis, 0 on the -z side: atan2 in single precision, the rest
// in double; su is the number of turns that make one unit of u (0: u stays at its middle).
double azimuthU(float x, float z, double su) {
    if (su == 0.0) {
        return 0.5;
    }
    return double(std::atan2(x, z)) / kTwoPiWide / su + 0.5;
}

// du/dx = z / (x^2 + z^2) / (2 pi su) and du/dz = -x / (x^2 + z^2) / (2 pi su), through the
// ratio of the smaller to the larger of |x| and |z| so that nothing divides by the smaller.
// On the axis itself (x = z = 0) the azimuth has no derivative; both are 0. So close to the
// axis that a derivative exceeds the float range (within about 1e-38 of it), the point is
// taken as on the axis too: an infinite or clamped derivative would poison or swamp every
// column it is carried into.
void azimuthDerivs(double x, double z, double su, double& dudx, double& dudz) {
    dudx = dudz = 0.0;
    if (su == 0.0) {
        return;
    }
    const double k = kTwoPiWide * su;
    if (std::fabs(z) > std::fabs(x)) {
        const double q = x / z;
        const double g = z * (1.0 + q * q);
        dudx = 1.0 / g / k;
        dudz = -q / g / k;
    } else if (x != 0.0) {
        const double q = z / x;
        const double g = x * (1.0 + q * q);
        dudx = q / g / k;
        dudz = -1.0 / g / k;
    }
    if (beyondFloatRange(dudx) || beyondFloatRange(dudz)) {
        dudx = dudz = 0.0;
    }
}

} // namespace

UVWTransform toObjectSpace(const UVWTransform& m, const Vector4f& e0, const Vector4f& e1,
                           const Vector4f& e2, const Vector4f& q0) {
    return {applyLinear(m, e0), applyLinear(m, e1), applyLinear(m, e2), applyPoint(m, q0)};
}

int dominantAxis(const Vector4f& a) {
    const float ax = std::fabs(a.x), ay = std::fabs(a.y), az = std::fabs(a.z);
    if (ax > ay && ax > az) {
        return 0;
    }
    if (ay > ax && ay > az) {
        return 1;
    }
    return 2;
}

namespace {

// The spherical, cylindrical and ball mappings, with or without their Jacobian (evalUVW reads
// only the uvw; the uvw is the same either way).
template <bool Jacobian>
UVWTransform sphericalMapping(const Vector4f& p, float uAngle, float vAngle) {
    const double su = double(uAngle / kPi);
    const double sv = double(2.0f * vAngle / kPi);
    const float xf = p.x, yf = p.y, zf = p.z;
    const double x = xf, y = yf, z = zf;
    const double r = rootOfSquares(xf, yf, zf);

    // y / r, 0 at the centre; the single-precision sum under the root can leave r a hair
    // below |y| near the poles, so the ratio is kept within [-1, 1].
    const double t = r > 0.0 ? std::clamp(y / r, -1.0, 1.0) : 0.0;
    const double c = std::sqrt(1.0 - t * t);

    const double u = azimuthU(xf, zf, su);
    const double v = sv != 0.0 ? 0.5 + (0.5 - std::acos(t) / kPiWide) / sv : 0.5;
    if constexpr (!Jacobian) {
        return zeroJacobian(vec(u, v, r));
    }

    double dudx, dudz;
    azimuthDerivs(x, z, su, dudx, dudz);
    // v = 0.5 + (0.5 - acos(t) / pi) / sv with t = y / r: dv = dt / (c pi sv), since
    // d acos(t) = -dt / sqrt(1 - t^2) = -dt / c, and dt/dq = (dy/dq) / r - y q / r^3 for each
    // axis q. v has no derivative at the centre and on the poles (c = 0).
    double dvdx = 0.0, dvdy = 0.0, dvdz = 0.0;
    if (r > 0.0 && c > 0.0 && sv != 0.0) {
        const double r3 = r * r * r;
        dvdx = -x * y / (r3 * c * kPiWide * sv);
        dvdy = (1.0 / r - y * y / r3) / (c * kPiWide * sv);
        dvdz = -y * z / (r3 * c * kPiWide * sv);
    }
    double dwdx = 0.0, dwdy = 0.0, dwdz = 0.0;
    if (r > 0.0) {
        dwdx = x / r;
        dwdy = y / r;
        dwdz = z / r;
    }
    return mappingResult(vec(dudx, dvdx, dwdx), vec(0.0, dvdy, dwdy), vec(dudz, dvdz, dwdz),
                         vec(u, v, r));
}

template <bool Jacobian>
UVWTransform cylindricalMapping(const Vector4f& p, float uAngle) {
    const double su = double(uAngle) * 0.5 / kPiWide;
    const float xf = p.x, yf = p.y, zf = p.z;
    // w is the distance from the z axis, sqrt(x^2 + y^2), not from the cylinder's own y axis:
    // the host's definition, which stored results rely on.
    const float rho = float(rootOfSquares(xf, yf, 0.0f));
    const double x = xf, y = yf, z = zf;

    const double u = azimuthU(xf, zf, su);
    const double v = 0.5 * y + 0.5;
    if constexpr (!Jacobian) {
        return zeroJacobian(vec(u, v, double(rho)));
    }

    double dudx, dudz;
    azimuthDerivs(x, z, su, dudx, dudz);
    // On the z axis (rho = 0) the distance has no derivative.
    double dwdx = 0.0, dwdy = 0.0;
    if (rho > 0.0f) {
        dwdx = x / double(rho);
        dwdy = y / double(rho);
    }
    return mappingResult(vec(dudx, 0.0, dwdx), vec(0.0, 0.5, dwdy), vec(dudz, 0.0, 0.0),
                         vec(u, v, double(rho)));
}

template <bool Jacobian>
UVWTransform ballMapping(const Vector4f& p) {
    const double q[3] = {p.x, p.y, p.z};
    const double r = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
    if (r == 0.0) {
        return zeroJacobian({0.5f, 0.5f, 0.0f, 0.0f});
    }
    const double n[3] = {q[0] / r, q[1] / r, q[2] / r};
    const double d = std::sqrt(n[0] * n[0] + n[1] * n[1]);
    // Rounding can push |nz| a hair past 1.
    const double nz = std::clamp(n[2], -1.0, 1.0);
    const double a = std::acos(nz) / kPiWide;
    if (d == 0.0) {
        // On the z axis the direction in the disc is undefined: the disc centre, no derivative.
        return zeroJacobian({0.5f, 0.5f, 0.0f, 0.0f});
    }
    const double ex = n[0] / d, ey = n[1] / d;
    const double u = 0.5 * ex * a + 0.5;
    const double v = 0.5 * ey * a + 0.5;
    if constexpr (!Jacobian) {
        return zeroJacobian(vec(u, v, 0.0));
    }

    // Chain rule through n = q / r, d = |(nx, ny)|, a = acos(nz) / pi.
    const double sn = std::sqrt(1.0 - nz * nz);
    double du[3], dv[3];
    for (int k = 0; k < 3; ++k) {
        double dn[3];
        for (int i = 0; i < 3; ++i) {
            dn[i] = ((i == k ? 1.0 : 0.0) - n[i] * n[k]) / r;
        }
        const double dd = (n[0] * dn[0] + n[1] * dn[1]) / d;
        const double da = sn > 0.0 ? -(1.0 / kPiWide) * (1.0 / sn) * dn[2] : 0.0;
        const double dex = (dn[0] * d - n[0] * dd) / (d * d);
        const double dey = (dn[1] * d - n[1] * dd) / (d * d);
        du[k] = 0.5 * (dex * a + ex * da);
        dv[k] = 0.5 * (dey * a + ey * da);
    }
    // So close to the centre (|p| below about 1e-38) or to the -z half of the axis that a
    // derivative exceeds the float range: no derivative, as on the axis itself; u and v kept.
    for (int k = 0; k < 3; ++k) {
        if (beyondFloatRange(du[k]) || beyondFloatRange(dv[k])) {
            return zeroJacobian(vec(u, v, 0.0));
        }
    }
    return mappingResult(vec(du[0], dv[0], 0.0), vec(du[1], dv[1], 0.0), vec(du[2], dv[2], 0.0),
                         vec(u, v, 0.0));
}

} // namespace

UVWTransform mapSpherical(const Vector4f& p, float uAngle, float vAngle) {
    return sphericalMapping<true>(p, uAngle, vAngle);
}

UVWTransform mapCylindrical(const Vector4f& p, float uAngle) {
    return cylindricalMapping<true>(p, uAngle);
}

UVWTransform mapBall(const Vector4f& p) {
    return ballMapping<true>(p);
}

UVWTransform mapCubic(const Vector4f& p) {
    const float c[3] = {p.x, p.y, p.z};
    const int major = dominantAxis(p);
    // The components that run along u and v on each face.
    static constexpr int kUAxis[3] = {2, 0, 0};
    static constexpr int kVAxis[3] = {1, 2, 1};
    const int ua = kUAxis[major], va = kVAxis[major];
    const float m = c[major], um = c[ua], vm = c[va];
    const float s = m > 0.0f ? 1.0f : -1.0f;
    const float r = float(rootOfSquares(p.x, p.y, p.z));

    // Distance derivatives q / r; none at the centre.
    const float dr[3] = {r > 0.0f ? c[0] / r : 0.0f, r > 0.0f ? c[1] / r : 0.0f,
                         r > 0.0f ? c[2] / r : 0.0f};
    Vector4f cols[3];
    if (m != 0.0f) {
        const Vector4f uvw{s * um / (2.0f * m) + 0.5f, s * vm / (2.0f * m) + 0.5f, s * r, 0.0f};
        cols[major] = {s * (-um / (2.0f * m * m)), s * (-vm / (2.0f * m * m)), s * dr[major], 0};
        cols[ua] = {s * (1.0f / (2.0f * m)), 0.0f, s * dr[ua], 0.0f};
        cols[va] = {0.0f, s * (1.0f / (2.0f * m)), s * dr[va], 0.0f};
        if (finite3(uvw) && finite3(cols[0]) && finite3(cols[1]) && finite3(cols[2])) {
            return mappingResult(cols[0], cols[1], cols[2], uvw);
        }
    }
    // A tie of the two larger components over a zero third one (or the centre) selects a face
    // through the point itself: the face ratios are taken as 0. The same holds where the
    // dominant component is too small for them to have a float value (a tie over a tiny third
    // component, a denormal point): 1 / m^2 overflows or m^2 underflows to 0.
    for (int k = 0; k < 3; ++k) {
        cols[k] = {0.0f, 0.0f, s * dr[k], 0.0f};
    }
    return mappingResult(cols[0], cols[1], cols[2], {0.5f, 0.5f, s * r, 0.0f});
}

UVWTransform mapTriplanar(const Vector4f& p, const Vector4f& nPrime) {
    const Vector4f h{0.5f, 0.0f, 0.0f, 0.0f}, k{0.0f, 0.5f, 0.0f, 0.0f}, l{0.0f, 0.0f, 0.5f, 0.0f};
    switch (dominantAxis(nPrime)) {
    case 0:
        return mappingResult(l, k, h, {0.5f * p.z + 0.5f, 0.5f * p.y + 0.5f, 0.5f * p.x, 0.0f});
    case 1:
        return mappingResult(h, l, k, {0.5f * p.x + 0.5f, 0.5f * p.z + 0.5f, 0.5f * p.y, 0.0f});
    default:
        return mappingResult(h, k, l, {0.5f * p.x + 0.5f, 0.5f * p.y + 0.5f, 0.5f * p.z, 0.0f});
    }
}

namespace {

// Sign of the dominant component of n: -1, 0 or +1.
float dominantSign(const Vector4f& n, int axis) {
    const float c = axis == 0 ? n.x : axis == 1 ? n.y : n.z;
    return c < 0.0f ? -1.0f : c > 0.0f ? 1.0f : 0.0f;
}

} // namespace

UVWTransform mapQuorCubic(const Vector4f& p, const Vector4f& nPrime) {
    const int axis = dominantAxis(nPrime);
    const float s = dominantSign(nPrime, axis);
    switch (axis) {
    case 0:
        return mappingResult({0, 0, 1, 0}, {0, 1, 0, 0}, {-s, 0, 0, 0},
                             {-s * p.z + 0.5f, p.y + 0.5f, p.x, 0.0f});
    case 1:
        return mappingResult({1, 0, 0, 0}, {0, 0, 1, 0}, {0, -s, 0, 0},
                             {p.x + 0.5f, -s * p.z + 0.5f, p.y, 0.0f});
    default:
        return mappingResult({s, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0},
                             {s * p.x + 0.5f, p.y + 0.5f, p.z, 0.0f});
    }
}

UVWTransform mapQuorBox(const Vector4f& p, const Vector4f& nPrime) {
    const int axis = dominantAxis(nPrime);
    const float s = dominantSign(nPrime, axis);
    switch (axis) {
    case 0:
        return mappingResult({0, 0, 1, 0}, {s, 0, 0, 0}, {0, 1, 0, 0},
                             {s * p.y + 0.5f, p.z + 0.5f, p.x, 0.0f});
    case 1:
        return mappingResult({-s, 0, 0, 0}, {0, 0, 1, 0}, {0, 1, 0, 0},
                             {-s * p.x + 0.5f, p.z + 0.5f, p.y, 0.0f});
    default:
        return mappingResult({1, 0, 0, 0}, {0, s, 0, 0}, {0, 0, 1, 0},
                             {p.x + 0.5f, s * p.y + 0.5f, p.z, 0.0f});
    }
}

namespace {

template <bool Jacobian>
UVWTransform projectionMapping(int type, const Vector4f& p, const Vector4f& nPrime, float uAngle,
                               float vAngle) {
    switch (type) {
    case PROJ_PLANAR:
        return mapPlanar(p);
    case PROJ_SPHERICAL:
        return sphericalMapping<Jacobian>(p, uAngle, vAngle);
    case PROJ_CYLINDRICAL:
        return cylindricalMapping<Jacobian>(p, uAngle);
    case PROJ_BALL:
        return ballMapping<Jacobian>(p);
    case PROJ_CUBIC:
        return mapCubic(p);
    case PROJ_TRIPLANAR:
        return mapTriplanar(p, nPrime);
    case PROJ_QUOR_CUBIC:
        return mapQuorCubic(p, nPrime);
    case PROJ_QUOR_BOX:
        return mapQuorBox(p, nPrime);
    default:
        return zeroJacobian({});
    }
}

} // namespace

UVWTransform mapProjection(int type, const Vector4f& p, const Vector4f& nPrime, float uAngle,
                           float vAngle) {
    return projectionMapping<true>(type, p, nPrime, uAngle, vAngle);
}

Vector4f mapProjectionPoint(int type, const Vector4f& p, const Vector4f& nPrime, float uAngle,
                            float vAngle) {
    return projectionMapping<false>(type, p, nPrime, uAngle, vAngle).o;
}

} // namespace KUtils
