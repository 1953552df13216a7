#include "Crypto/P384.h"

#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/JacobianCurve.h"

namespace {

struct Le48 {
    u8 bytes[48];
};

constexpr Le48 littleEndian48(const char* hex) {
    Le48 out{};
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    for (int i = 0; i < 48; i++) out.bytes[47 - i] = (u8)(digit(hex[2 * i]) << 4 | digit(hex[2 * i + 1]));
    return out;
}

constexpr Le48 kP = littleEndian48(
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFF0000000000000000FFFFFFFF");
constexpr Le48 kA = littleEndian48(
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFF0000000000000000FFFFFFFC");
constexpr Le48 kB = littleEndian48(
    "B3312FA7E23EE7E4988E056BE3F82D19181D9C6EFE8141120314088F5013875AC656398D8A2ED19D2A85C8EDD3EC2AEF");
constexpr Le48 kGx = littleEndian48(
    "AA87CA22BE8B05378EB1C71EF320AD746E1D3B628BA79B9859F741E082542A385502F25DBF55296C3A545E3872760AB7");
constexpr Le48 kGy = littleEndian48(
    "3617DE4A96262C6F5D9E98BF9292DC29F8F41DBD289A147CE9DA3113B5F0B8C00A60B1CE1D7E819D7A431D7C90EA0E5F");
constexpr Le48 kN = littleEndian48(
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC7634D81F4372DDF581A0DB248B0A77AECEC196ACCC52973");

constexpr Curve384 makeSecp384r1() {
    Curve384 c{};
    for (int i = 0; i < 48; i++) {
        c.p[i] = kP.bytes[i];
        c.a[i] = kA.bytes[i];
        c.b[i] = kB.bytes[i];
        c.generatorX[i] = kGx.bytes[i];
        c.generatorY[i] = kGy.bytes[i];
        c.order[i] = kN.bytes[i];
    }
    return c;
}

}  // namespace

const Curve384 secp384r1 = makeSecp384r1();

bool isPointOnCurve384(const u8* point) {
    return jacobian::isOnCurve<6>(point, secp384r1.p, secp384r1.a, secp384r1.b);
}

i32 scalePoint384(u8* out, const u8* scalar, const u8* point) {
    ProfilingScope scope("Scale Point 384");
    return jacobian::scaleJacobian<6>(out, scalar, point, secp384r1.p, secp384r1.a);
}
