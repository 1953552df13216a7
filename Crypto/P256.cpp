#include "Crypto/P256.h"

#include <cstring>

#include "Crypto/MontgomeryField.h"
#include "Crypto/Wipe.h"

namespace {

using namespace montgomery;
using Field = MontgomeryField<4>;

constexpr Field kField = makeField<4>({0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFFull, 0x0000000000000000ull,
                                       0xFFFFFFFF00000001ull});

// b in Montgomery form (b R mod p), made once from the plain constant.
struct Constants {
    u64 b[4];
};

const Constants& constants() {
    static const Constants c = [] {
        Constants k{};
        const u64 b[4] = {0x3BCE3C3E27D2604Bull, 0x651D06B0CC53B0F6ull, 0xB3EBBD55769886BCull,
                          0x5AC635D8AA3A93E7ull};
        toMontgomery<4>(k.b, b, &kField);
        return k;
    }();
    return c;
}

// A point (X : Y : Z) with x = X / Z, y = Y / Z; the point at infinity is (0 : 1 : 0).
struct Point {
    u64 x[4], y[4], z[4];
};

// Field arithmetic modulo p = 2^256 - 2^224 + 2^192 + 2^96 - 1 in Montgomery form, written out for
// this prime: -p^-1 mod 2^64 is 1, so each reduction step's multiple is the lowest word itself, and
// the words of p are 2^64 - 1, 2^32 - 1, 0 and 2^64 - 2^32 + 1.
constexpr u64 kP1 = 0x00000000FFFFFFFFull, kP3 = 0xFFFFFFFF00000001ull;

// out = value - p when that does not borrow or when top is set, else value (in constant time).
inline void reduceOnce(u64* out, const u64* value, u64 top) {
    u64 reduced[4];
    u64 borrow = subtractLimbs<4>(reduced, value, kField.p);
    u64 mask = 0 - ((1 - borrow) | top);
    select<4>(out, mask, reduced, value);
}

// (c2 : c1 : c0) += x y
inline void multiplyAccumulate(u64& c0, u64& c1, u64& c2, u64 x, u64 y) {
    u128 product = (u128)x * y;
    unsigned long long low, high;
    unsigned char carry = _addcarry_u64(0, c0, (u64)product, &low);
    carry = _addcarry_u64(carry, c1, (u64)(product >> 64), &high);
    c0 = low;
    c1 = high;
    c2 += carry;
}

// out = a b / 2^256 mod p for a, b below p: the 512-bit product column by column, then four
// reduction steps.
inline void mul(u64* out, const u64* a, const u64* b) {
    u64 t[8];
    u64 c0 = 0, c1 = 0, c2 = 0;
    // Column k gathers the products a[i] b[k - i].
    auto column = [&](int k) {
        t[k] = c0;
        c0 = c1;
        c1 = c2;
        c2 = 0;
    };
    multiplyAccumulate(c0, c1, c2, a[0], b[0]);
    column(0);
    multiplyAccumulate(c0, c1, c2, a[0], b[1]);
    multiplyAccumulate(c0, c1, c2, a[1], b[0]);
    column(1);
    multiplyAccumulate(c0, c1, c2, a[0], b[2]);
    multiplyAccumulate(c0, c1, c2, a[1], b[1]);
    multiplyAccumulate(c0, c1, c2, a[2], b[0]);
    column(2);
    multiplyAccumulate(c0, c1, c2, a[0], b[3]);
    multiplyAccumulate(c0, c1, c2, a[1], b[2]);
    multiplyAccumulate(c0, c1, c2, a[2], b[1]);
    multiplyAccumulate(c0, c1, c2, a[3], b[0]);
    column(3);
    multiplyAccumulate(c0, c1, c2, a[1], b[3]);
    multiplyAccumulate(c0, c1, c2, a[2], b[2]);
    multiplyAccumulate(c0, c1, c2, a[3], b[1]);
    column(4);
    multiplyAccumulate(c0, c1, c2, a[2], b[3]);
    multiplyAccumulate(c0, c1, c2, a[3], b[2]);
    column(5);
    multiplyAccumulate(c0, c1, c2, a[3], b[3]);
    column(6);
    t[7] = c0;
    u64 extra = 0;
    for (int i = 0; i < 4; i++) {
        // t += m p 2^(64 i) with m = t[i]: word i becomes 0 and carries m.
        u64 m = t[i];
        u128 c = (u128)m * kP1 + t[i + 1] + m;
        t[i + 1] = (u64)c;
        c >>= 64;
        c += t[i + 2];
        t[i + 2] = (u64)c;
        c >>= 64;
        c += (u128)m * kP3 + t[i + 3];
        t[i + 3] = (u64)c;
        c >>= 64;
        c += (u128)t[i + 4] + extra;
        t[i + 4] = (u64)c;
        extra = (u64)(c >> 64);
    }
    reduceOnce(out, t + 4, extra);
}

inline void addF(u64* out, const u64* a, const u64* b) {
    u64 sum[4];
    u64 carry = addLimbs<4>(sum, a, b);
    reduceOnce(out, sum, carry);
}

inline void subF(u64* out, const u64* a, const u64* b) {
    u64 difference[4], corrected[4];
    u64 borrow = subtractLimbs<4>(difference, a, b);
    addLimbs<4>(corrected, difference, kField.p);
    select<4>(out, 0 - borrow, corrected, difference);
}

// out = a^(p - 2) = 1 / a (0 for 0); the exponent is public, so the steps are always the same.
void invertF(u64* out, const u64* a) {
    u64 result[4];
    memcpy(result, kField.one, sizeof(result));
    const u64 exponent[4] = {0xFFFFFFFFFFFFFFFDull, kP1, 0, kP3};
    for (int bit = 255; bit >= 0; bit--) {
        mul(result, result, result);
        if ((exponent[bit / 64] >> (bit % 64)) & 1) mul(result, result, a);
    }
    memcpy(out, result, sizeof(result));
}

// P + Q for any two points, the point at infinity and P = Q included (complete addition for
// a = -3, 12 products).
void pointAdd(Point* out, const Point* p, const Point* q) {
    const u64* b = constants().b;
    u64 t0[4], t1[4], t2[4], t3[4], t4[4], x3[4], y3[4], z3[4];
    mul(t0, p->x, q->x);
    mul(t1, p->y, q->y);
    mul(t2, p->z, q->z);
    addF(t3, p->x, p->y);
    addF(t4, q->x, q->y);
    mul(t3, t3, t4);
    addF(t4, t0, t1);
    subF(t3, t3, t4);
    addF(t4, p->y, p->z);
    addF(x3, q->y, q->z);
    mul(t4, t4, x3);
    addF(x3, t1, t2);
    subF(t4, t4, x3);
    addF(x3, p->x, p->z);
    addF(y3, q->x, q->z);
    mul(x3, x3, y3);
    addF(y3, t0, t2);
    subF(y3, x3, y3);
    mul(z3, b, t2);
    subF(x3, y3, z3);
    addF(z3, x3, x3);
    addF(x3, x3, z3);
    subF(z3, t1, x3);
    addF(x3, t1, x3);
    mul(y3, b, y3);
    addF(t1, t2, t2);
    addF(t2, t1, t2);
    subF(y3, y3, t2);
    subF(y3, y3, t0);
    addF(t1, y3, y3);
    addF(y3, t1, y3);
    addF(t1, t0, t0);
    addF(t0, t1, t0);
    subF(t0, t0, t2);
    mul(t1, t4, y3);
    mul(t2, t0, y3);
    mul(y3, x3, z3);
    addF(y3, y3, t2);
    mul(x3, t3, x3);
    subF(x3, x3, t1);
    mul(z3, t4, z3);
    mul(t1, t3, t0);
    addF(z3, z3, t1);
    memcpy(out->x, x3, sizeof(x3));
    memcpy(out->y, y3, sizeof(y3));
    memcpy(out->z, z3, sizeof(z3));
}

// 2P for any point (complete doubling for a = -3).
void pointDouble(Point* out, const Point* p) {
    const u64* b = constants().b;
    u64 t0[4], t1[4], t2[4], t3[4], x3[4], y3[4], z3[4];
    mul(t0, p->x, p->x);
    mul(t1, p->y, p->y);
    mul(t2, p->z, p->z);
    mul(t3, p->x, p->y);
    addF(t3, t3, t3);
    mul(z3, p->x, p->z);
    addF(z3, z3, z3);
    mul(y3, b, t2);
    subF(y3, y3, z3);
    addF(x3, y3, y3);
    addF(y3, x3, y3);
    subF(x3, t1, y3);
    addF(y3, t1, y3);
    mul(y3, x3, y3);
    mul(x3, x3, t3);
    addF(t3, t2, t2);
    addF(t2, t2, t3);
    mul(z3, b, z3);
    subF(z3, z3, t2);
    subF(z3, z3, t0);
    addF(t3, z3, z3);
    addF(z3, z3, t3);
    addF(t3, t0, t0);
    addF(t0, t3, t0);
    subF(t0, t0, t2);
    mul(t0, t0, z3);
    addF(y3, y3, t0);
    mul(t0, p->y, p->z);
    addF(t0, t0, t0);
    mul(z3, t0, z3);
    subF(x3, x3, z3);
    mul(z3, t0, t1);
    addF(z3, z3, z3);
    addF(z3, z3, z3);
    memcpy(out->x, x3, sizeof(x3));
    memcpy(out->y, y3, sizeof(y3));
    memcpy(out->z, z3, sizeof(z3));
}

void infinity(Point* out) {
    memset(out, 0, sizeof(*out));
    memcpy(out->y, kField.one, sizeof(out->y));
}

void fromAffine(Point* out, const u8* point) {
    u64 raw[4];
    loadBytes<4>(raw, point);
    toMontgomery<4>(out->x, raw, &kField);
    loadBytes<4>(raw, point + 32);
    toMontgomery<4>(out->y, raw, &kField);
    memcpy(out->z, kField.one, sizeof(out->z));
}

// table[i] = i P for i in 0 .. 15.
void multiplesOf(Point* table, const Point* p) {
    infinity(&table[0]);
    table[1] = *p;
    for (int i = 2; i < 16; i += 2) {
        pointDouble(&table[i], &table[i / 2]);
        pointAdd(&table[i + 1], &table[i], p);
    }
}

// out = table[index], reading every entry.
void selectEntry(Point* out, const Point* table, u32 index) {
    infinity(out);
    for (u32 i = 0; i < 16; i++) {
        u64 mask = 0 - (((u64)(i ^ index) - 1) >> 63);  // all ones when i == index
        const u64* from = table[i].x;
        u64* to = out->x;
        for (int j = 0; j < 12; j++) to[j] = (to[j] & ~mask) | (from[j] & mask);
    }
}

inline u32 window(const u8* scalar, int w) { return (u32)(scalar[w / 2] >> (4 * (w % 2))) & 15; }

// The affine coordinates of p: 0 on success, 1 for the point at infinity (whose Z of 0 inverts
// to 0, so the same steps run either way).
i32 toAffine(u8* outX, u8* outY, const Point* p) {
    u64 zInverse[4], t[4], raw[4];
    invertF(zInverse, p->z);
    mul(t, p->x, zInverse);
    fromMontgomery<4>(raw, t, &kField);
    storeBytes<4>(outX, raw);
    if (outY) {
        mul(t, p->y, zInverse);
        fromMontgomery<4>(raw, t, &kField);
        storeBytes<4>(outY, raw);
    }
    return (i32)isZero<4>(p->z);
}

const Point* generatorTable() {
    static const struct Table {
        Point entries[16];
    } table = [] {
        static const u8 g[64] = {
            0x96, 0xC2, 0x98, 0xD8, 0x45, 0x39, 0xA1, 0xF4, 0xA0, 0x33, 0xEB, 0x2D, 0x81, 0x7D, 0x03, 0x77,
            0xF2, 0x40, 0xA4, 0x63, 0xE5, 0xE6, 0xBC, 0xF8, 0x47, 0x42, 0x2C, 0xE1, 0xF2, 0xD1, 0x17, 0x6B,
            0xF5, 0x51, 0xBF, 0x37, 0x68, 0x40, 0xB6, 0xCB, 0xCE, 0x5E, 0x31, 0x6B, 0x57, 0x33, 0xCE, 0x2B,
            0x16, 0x9E, 0x0F, 0x7C, 0x4A, 0xEB, 0xE7, 0x8E, 0x9B, 0x7F, 0x1A, 0xFE, 0xE2, 0x42, 0xE3, 0x4F};
        Table t{};
        Point p;
        fromAffine(&p, g);
        multiplesOf(t.entries, &p);
        return t;
    }();
    return table.entries;
}

}  // namespace

i32 p256ScalarMultiply(u8* out, const u8* scalar, const u8* point) {
    Point table[16], r, entry, p;
    fromAffine(&p, point);
    multiplesOf(table, &p);
    infinity(&r);
    for (int w = 63; w >= 0; w--) {
        for (int i = 0; i < 4; i++) pointDouble(&r, &r);
        selectEntry(&entry, table, window(scalar, w));
        pointAdd(&r, &r, &entry);
    }
    i32 result = toAffine(out, out + 32, &r);
    secureWipe(table, sizeof(table));
    secureWipe(&entry, sizeof(entry));
    secureWipe(&r, sizeof(r));
    return result;
}

i32 p256SumOfProductsX(u8* outX, const u8* u1, const u8* u2, const u8* q) {
    const Point* gTable = generatorTable();
    Point qTable[16], r, p;
    fromAffine(&p, q);
    multiplesOf(qTable, &p);
    infinity(&r);
    for (int w = 63; w >= 0; w--) {
        for (int i = 0; i < 4; i++) pointDouble(&r, &r);
        u32 a = window(u1, w), b = window(u2, w);
        if (a) pointAdd(&r, &r, &gTable[a]);
        if (b) pointAdd(&r, &r, &qTable[b]);
    }
    return toAffine(outX, nullptr, &r);
}
