// The elliptic-curve suite, from the big-number building blocks up to X25519, and the two functions
// that exist for it: modular exponentiation and the small textbook curve.
#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/X25519.h"
#include "SelfTests/SelfTestVectors.h"
#include "SelfTests/SelfTests.h"

namespace {

struct Number {
    u8 bytes[32];  // little-endian
};

Number small(u64 value) {
    Number n{};
    for (int i = 0; i < 8; i++) n.bytes[i] = (u8)(value >> (8 * i));
    return n;
}

// A big-endian hex text as a number.
Number fromBigEndianHex(const char* hex) {
    u8 bigEndian[32] = {};
    u32 count = decodeHex(bigEndian, 32, hex);
    Number n{};
    for (u32 i = 0; i < count; i++) n.bytes[i] = bigEndian[count - 1 - i];
    return n;
}

// A number whose top byte is top, lowest byte low and other bytes zero.
Number topAndLow(u8 top, u8 low) {
    Number n{};
    n.bytes[31] = top;
    n.bytes[0] = low;
    return n;
}

u64 word(const Number& n, int index) {
    u64 w = 0;
    for (int i = 0; i < 8; i++) w |= (u64)n.bytes[8 * index + i] << (8 * i);
    return w;
}

// a x + b y modulo 2^256 from extended Euclid on (a, b).
struct Bezout {
    Number g;
    Number combination;
};

Bezout bezout(const Number& a, const Number& b) {
    Bezout out{};
    Number x, y;
    extendedEuclideanAlgorithm(out.g.bytes, x.bytes, y.bytes, a.bytes, b.bytes);
    u8 ax[64], by[64];
    bigNumMultiply(ax, a.bytes, x.bytes);
    bigNumMultiply(by, b.bytes, y.bytes);
    bigNumAdd(out.combination.bytes, ax, by);  // the low 256 bits of each product
    return out;
}

Number reduce(const u8* wide, const Number& modulus) {
    PreparedModulus prepared;
    bigNumHighestBit(&prepared, modulus.bytes);
    u8 quotient[64];
    Number remainder;
    bigNumModReduce(quotient, remainder.bytes, wide, &prepared);
    return remainder;
}

Number multiplyModulo(const Number& a, const Number& b, const Number& modulus) {
    u8 product[64];
    bigNumMultiply(product, a.bytes, b.bytes);
    return reduce(product, modulus);
}

// The coefficient of value from extended Euclid, brought into [0, modulus), times value, mod modulus.
Number inverseTimesValue(const Number& value, const Number& modulus) {
    Number g, inverse, other;
    extendedEuclideanAlgorithm(g.bytes, inverse.bytes, other.bytes, value.bytes, modulus.bytes);
    if (inverse.bytes[31] & 0x80) bigNumAdd(inverse.bytes, inverse.bytes, modulus.bytes);
    return multiplyModulo(inverse, value, modulus);
}

Number subtractModulo(const Number& a, const Number& b, const Number& modulus) {
    Number out;
    if (!bigNumSubtract(out.bytes, a.bytes, b.bytes)) bigNumAdd(out.bytes, out.bytes, modulus.bytes);
    return out;
}

bool equals(const Number& a, u64 value) { return memcmp(a.bytes, small(value).bytes, 32) == 0; }

Number power(u64 base, u64 exponent, u64 modulus) {
    PreparedModulus prepared;
    Number m = small(modulus);
    bigNumHighestBit(&prepared, m.bytes);
    Number b = small(base), e = small(exponent), out;
    modularExponentiation(out.bytes, b.bytes, e.bytes, &prepared);
    return out;
}

// One small-curve case as its table gives it.
bool smallCurveCaseHolds(SmallCurveCaseIndex index) {
    const SmallCurveCase* c = &kSmallCurveCases[index];
    EllipticCurve curve;
    makeSmallTestCurve(&curve);
    u8 p[64] = {}, q[64] = {}, out[64] = {};
    memcpy(p, small(c->px).bytes, 32);
    memcpy(p + 32, small(c->py).bytes, 32);
    memcpy(q, small(c->qx).bytes, 32);
    memcpy(q + 32, small(c->qy).bytes, 32);
    Number scalar = small(c->scalar);
    i32 status;
    if (strcmp(c->operation, "add") == 0) {
        status = addDifferentPoints(out, p, q, &curve);
    } else if (strcmp(c->operation, "double") == 0) {
        status = doublePoint(out, p, &curve);
    } else if (strcmp(c->operation, "scale") == 0) {
        status = scalePoint(out, scalar.bytes, p, &curve);
    } else {
        status = scaleValidatedPoint(out, scalar.bytes, p, &curve);
    }
    if (status != (i32)c->status) return false;
    if (status != 0) return true;
    return memcmp(out, small(c->x).bytes, 32) == 0 && memcmp(out + 32, small(c->y).bytes, 32) == 0;
}

bool x25519Holds(X25519VectorIndex index) {
    const X25519Vector* v = &kX25519Vectors[index];
    u8 scalar[32], u[32], expected[32], out[32];
    decodeHex(scalar, 32, v->scalar);
    decodeHex(u, 32, v->u);
    decodeHex(expected, 32, v->expected);
    x25519(out, scalar, u);
    return memcmp(out, expected, 32) == 0;
}

// One iteration of RFC 7748's test: k = X25519(k, u), u = the previous k.
void iterateX25519(u8* k, u8* u) {
    u8 previous[32], scalar[32];
    memcpy(previous, k, 32);
    memcpy(scalar, k, 32);  // x25519 clamps its scalar in place
    x25519(k, scalar, u);
    memcpy(u, previous, 32);
}

bool sameAsHex(const u8* bytes, const char* hex) {
    u8 expected[32];
    decodeHex(expected, 32, hex);
    return memcmp(bytes, expected, 32) == 0;
}

}  // namespace

u8* modularExponentiation(u8* out, const u8* base, const u8* exponent, const PreparedModulus* modulus) {
    ProfilingScope scope("Modular exponentiation");
    u8 result[32] = {1}, square[32], scratch[32] = {}, wide[64], quotient[64], product[32];
    memcpy(square, base, 32);
    for (int word = 0; word < 8; word++) {
        u32 bits = (u32)exponent[4 * word] | (u32)exponent[4 * word + 1] << 8 | (u32)exponent[4 * word + 2] << 16 |
                   (u32)exponent[4 * word + 3] << 24;
        for (int bit = 0; bit < 32; bit++) {
            bigNumMultiply(wide, result, square);
            bigNumModReduce(quotient, product, wide, modulus);
            // The product goes to the result for a 1 bit and to the scratch value for a 0 bit: both
            // stores happen, through masks, whatever the bit.
            u8 take = (u8)(0 - ((bits >> bit) & 1));
            for (int i = 0; i < 32; i++) {
                scratch[i] = (u8)((product[i] & ~take) | (scratch[i] & take));
                result[i] = (u8)((product[i] & take) | (result[i] & ~take));
            }
            bigNumMultiply(wide, square, square);
            bigNumModReduce(quotient, square, wide, modulus);
        }
    }
    // A modulus of 1 leaves nothing: the initial 1 is reduced too.
    memset(wide, 0, sizeof(wide));
    memcpy(wide, result, 32);
    bigNumModReduce(quotient, out, wide, modulus);
    return out;
}

EllipticCurve* makeSmallTestCurve(EllipticCurve* out) {
    memset(out, 0, sizeof(*out));
    out->p[0] = 97;
    bigNumHighestBit(&out->preparedP, out->p);
    out->a[0] = 2;
    out->b[0] = 3;
    out->generatorX[0] = 12;
    out->generatorY[0] = 3;
    out->order[0] = 50;
    return out;
}

i32 ellipticCurveCryptographyTestSuite() {
    ProfilingScope scope("Elliptic Curve Cryptography Test Suite");
    const Number prime = fromBigEndianHex("FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF");
    {
        Bezout b = bezout(small(25), small(35));
        if (word(b.combination, 0) != word(b.g, 0)) return __LINE__;
    }
    {
        u8 wide[64] = {17};
        if (!equals(reduce(wide, small(7)), 3)) return __LINE__;
    }
    {
        Bezout b = bezout(topAndLow(0xFF, 0), topAndLow(0xFE, 0));
        if (word(b.combination, 0) != word(b.g, 0) || word(b.combination, 3) != word(b.g, 3)) return __LINE__;
        b = bezout(topAndLow(0xFE, 0), small(6));
        if (word(b.combination, 0) != word(b.g, 0) || word(b.combination, 3) != word(b.g, 3)) return __LINE__;
    }
    if (!equals(inverseTimesValue(small(17), small(5)), 1)) return __LINE__;
    if (!equals(inverseTimesValue(topAndLow(0xFF, 0x11), prime), 1)) return __LINE__;
    if (!equals(subtractModulo(small(20), small(18), prime), 2)) return __LINE__;
    {
        Number difference = subtractModulo(topAndLow(0xFF, 0x11), topAndLow(0xFF, 0x12), prime);
        Number primeMinusOne;
        bigNumSubtract(primeMinusOne.bytes, prime.bytes, small(1).bytes);
        if (word(difference, 0) != 0xFFFFFFFFFFFFFFFEull) return __LINE__;
        if (memcmp(difference.bytes, primeMinusOne.bytes, 32) != 0) return __LINE__;
    }
    if (!equals(power(20, 3, 7), 6)) return __LINE__;
    if (!equals(power(20, 65535, 157), 149)) return __LINE__;

    if (!smallCurveCaseHolds(SmallAdd)) return __LINE__;
    if (!smallCurveCaseHolds(SmallDouble)) return __LINE__;
    if (!smallCurveCaseHolds(SmallDouble2)) return __LINE__;
    if (!smallCurveCaseHolds(SmallScale3)) return __LINE__;
    if (!smallCurveCaseHolds(SmallScale4)) return __LINE__;
    if (!smallCurveCaseHolds(SmallScale5)) return __LINE__;
    if (!smallCurveCaseHolds(SmallScale6)) return __LINE__;
    if (!smallCurveCaseHolds(SmallScale81)) return __LINE__;
    if (!smallCurveCaseHolds(SmallValidated1)) return __LINE__;
    if (!smallCurveCaseHolds(SmallValidated39)) return __LINE__;
    if (!smallCurveCaseHolds(SmallValidatedOrderTwo)) return __LINE__;
    if (!smallCurveCaseHolds(SmallValidatedXIsP)) return __LINE__;
    if (!smallCurveCaseHolds(SmallValidatedOffCurve)) return __LINE__;

    // P-256 key agreement: both orders of the exchange reach one shared point.
    {
        Number a = fromBigEndianHex(kP256ScalarA), b = fromBigEndianHex(kP256ScalarB);
        u8 generator[64], publicA[64], publicB[64], sharedA[64], sharedB[64];
        memcpy(generator, secp256r1.generatorX, 32);
        memcpy(generator + 32, secp256r1.generatorY, 32);
        if (scalePoint(publicA, a.bytes, generator, &secp256r1) != 0) return __LINE__;
        if (scalePoint(publicB, b.bytes, generator, &secp256r1) != 0) return __LINE__;
        if (scaleValidatedPoint(sharedA, a.bytes, publicB, &secp256r1) != 0) return __LINE__;
        if (scaleValidatedPoint(sharedB, b.bytes, publicA, &secp256r1) != 0) return __LINE__;
        if (memcmp(sharedA, sharedB, 32) != 0) return __LINE__;
    }

    if (!x25519Holds(X25519Function)) return __LINE__;
    {
        u8 k[32] = {9}, u[32] = {9};
        iterateX25519(k, u);
        if (!sameAsHex(k, kX25519IteratedOnce)) return __LINE__;
        enterProfilingRegionChecked("x25519 999 tests");
        for (int i = 1; i < 1000; i++) iterateX25519(k, u);
        exitProfilingRegion("x25519 999 tests");
        if (!sameAsHex(k, kX25519IteratedThousand)) return __LINE__;
    }
    // The recorded TLS 1.3 client's key pair, then both halves of RFC 7748's exchange.
    {
        u8 scalar[32], publicKey[32];
        memcpy(scalar, kTls13Recording.clientPrivateKey, 32);
        x25519(publicKey, scalar, x25519BasePoint);
        if (memcmp(publicKey, kTls13Recording.clientPublicKey, 32) != 0) return __LINE__;
    }
    if (!x25519Holds(X25519Alice)) return __LINE__;
    if (!x25519Holds(X25519Bob)) return __LINE__;
    if (!x25519Holds(X25519AliceShared)) return __LINE__;
    if (!x25519Holds(X25519BobShared)) return __LINE__;
    return 0;
}
