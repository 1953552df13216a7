#include "Crypto/P256.h"

#include <cstring>
#include <memory>

#include "Crypto/CpuFeatures.h"
#include "Crypto/P256Point.h"
#include "Crypto/Wipe.h"

namespace {

using namespace p256;

// A point (X : Y : Z) in homogeneous coordinates, x = X / Z and y = Y / Z; the point at infinity
// is (0 : Y : 0) with Y not zero. The complete additions work on this form.
struct Point {
    u64 x[4], y[4], z[4];
};

// P + Q for any two points, the point at infinity and P = Q included (complete addition for
// a = -3, 12 products and 2 by b).
void pointAdd(Point* out, const Point* p, const Point* q) {
    u64 t0[4], t1[4], t2[4], t3[4], t4[4], x3[4], y3[4], z3[4];
    mul(t0, p->x, q->x);
    mul(t1, p->y, q->y);
    mul(t2, p->z, q->z);
    add(t3, p->x, p->y);
    add(t4, q->x, q->y);
    mul(t3, t3, t4);
    add(t4, t0, t1);
    sub(t3, t3, t4);
    add(t4, p->y, p->z);
    add(x3, q->y, q->z);
    mul(t4, t4, x3);
    add(x3, t1, t2);
    sub(t4, t4, x3);
    add(x3, p->x, p->z);
    add(y3, q->x, q->z);
    mul(x3, x3, y3);
    add(y3, t0, t2);
    sub(y3, x3, y3);
    mul(z3, kB, t2);
    sub(x3, y3, z3);
    add(z3, x3, x3);
    add(x3, x3, z3);
    sub(z3, t1, x3);
    add(x3, t1, x3);
    mul(y3, kB, y3);
    add(t1, t2, t2);
    add(t2, t1, t2);
    sub(y3, y3, t2);
    sub(y3, y3, t0);
    add(t1, y3, y3);
    add(y3, t1, y3);
    add(t1, t0, t0);
    add(t0, t1, t0);
    sub(t0, t0, t2);
    mul(t1, t4, y3);
    mul(t2, t0, y3);
    mul(y3, x3, z3);
    add(y3, y3, t2);
    mul(x3, t3, x3);
    sub(x3, x3, t1);
    mul(z3, t4, z3);
    mul(t1, t3, t0);
    add(z3, z3, t1);
    memcpy(out->x, x3, sizeof(x3));
    memcpy(out->y, y3, sizeof(y3));
    memcpy(out->z, z3, sizeof(z3));
}

// 2P for any point (complete doubling for a = -3).
void pointDouble(Point* out, const Point* p) {
    u64 t0[4], t1[4], t2[4], t3[4], x3[4], y3[4], z3[4];
    sqr(t0, p->x);
    sqr(t1, p->y);
    sqr(t2, p->z);
    mul(t3, p->x, p->y);
    add(t3, t3, t3);
    mul(z3, p->x, p->z);
    add(z3, z3, z3);
    mul(y3, kB, t2);
    sub(y3, y3, z3);
    add(x3, y3, y3);
    add(y3, x3, y3);
    sub(x3, t1, y3);
    add(y3, t1, y3);
    mul(y3, x3, y3);
    mul(x3, x3, t3);
    add(t3, t2, t2);
    add(t2, t2, t3);
    mul(z3, kB, z3);
    sub(z3, z3, t2);
    sub(z3, z3, t0);
    add(t3, z3, z3);
    add(z3, z3, t3);
    add(t3, t0, t0);
    add(t0, t3, t0);
    sub(t0, t0, t2);
    mul(t0, t0, z3);
    add(y3, y3, t0);
    mul(t0, p->y, p->z);
    add(t0, t0, t0);
    mul(z3, t0, z3);
    sub(x3, x3, z3);
    mul(z3, t0, t1);
    add(z3, z3, z3);
    add(z3, z3, z3);
    memcpy(out->x, x3, sizeof(x3));
    memcpy(out->y, y3, sizeof(y3));
    memcpy(out->z, z3, sizeof(z3));
}

// (X, Y, Z) to (X Z : Y : Z^3); the point at infinity stays (0 : Y : 0).
void toHomogeneous(Point* out, const JacobianPoint* p) {
    u64 zz[4];
    sqr(zz, p->z);
    mul(out->x, p->x, p->z);
    memcpy(out->y, p->y, sizeof(out->y));
    mul(out->z, zz, p->z);
}

void infinity(Point* out) {
    memset(out, 0, sizeof(*out));
    memcpy(out->y, kOne, sizeof(out->y));
}

void fromAffine(Point* out, const u8* point) {
    loadPoint(out->x, out->y, point);
    memcpy(out->z, kOne, sizeof(out->z));
}

constexpr int kWindowBits = 5;
constexpr int kWindows = (256 + kWindowBits) / kWindowBits;  // 52: the top window holds the last carry
constexpr int kTableSize = (1 << (kWindowBits - 1)) + 1;     // 0 P .. 16 P

inline u32 scalarBit(const u8* scalar, int bit) {
    if (bit < 0 || bit >= 256) return 0;
    return (u32)(scalar[bit / 8] >> (bit % 8)) & 1;
}

// The signed digit of window w (-16 .. 16) as magnitude and sign: the scalar is the sum of
// digit(w) 32^w, with digit(w) = b(5w - 1) + b(5w) + 2 b(5w + 1) + 4 b(5w + 2) + 8 b(5w + 3)
// - 16 b(5w + 4) over its bits b. Computed without branches on the bits.
inline void windowDigit(u32* magnitude, u64* negative, const u8* scalar, int w) {
    int base = kWindowBits * w;
    i32 digit = (i32)scalarBit(scalar, base - 1);
    for (int j = 0; j < kWindowBits - 1; j++) digit += (i32)(scalarBit(scalar, base + j) << j);
    digit -= (i32)(scalarBit(scalar, base + kWindowBits - 1) << (kWindowBits - 1));
    u32 sign = (u32)digit >> 31;
    *magnitude = ((u32)digit ^ (0 - sign)) + sign;
    *negative = 0 - (u64)sign;
}

// The affine coordinates of p: 0 on success, 1 for the point at infinity (whose Z of 0 inverts
// to 0, so the same steps run either way).
i32 toAffine(u8* outX, u8* outY, const Point* p) {
    u64 zInverse[4], t[4], raw[4];
    invert(zInverse, p->z);
    mul(t, p->x, zInverse);
    fromMontgomery(raw, t);
    store(outX, raw);
    mul(t, p->y, zInverse);
    fromMontgomery(raw, t);
    store(outY, raw);
    i32 atInfinity = (i32)(zeroMask(p->z) & 1);
    secureWipe(zInverse, sizeof(zInverse));
    secureWipe(t, sizeof(t));
    secureWipe(raw, sizeof(raw));
    return atInfinity;
}

// The generator's multiples for products with it: entry [w][k - 1] = k 32^w G for k in 1 .. 16,
// affine in Montgomery form, made once on first use. With them a product is one complete addition
// per window and no doublings.
struct AffineEntry {
    u64 x[4], y[4];
};

struct GeneratorWindows {
    AffineEntry entries[kWindows][kTableSize - 1];
};

const GeneratorWindows& generatorWindows() {
    static const GeneratorWindows* windows = [] {
        constexpr int kCount = kWindows * (kTableSize - 1);
        std::unique_ptr<Point[]> points(new Point[kCount]);
        std::unique_ptr<u64[][4]> prefix(new u64[kCount][4]);
        Point base;
        fromAffine(&base, kGeneratorBytes);
        for (int w = 0; w < kWindows; w++) {
            Point* row = &points[w * (kTableSize - 1)];
            row[0] = base;
            for (int k = 2; k < kTableSize; k++) {
                if (k % 2 == 0) pointDouble(&row[k - 1], &row[k / 2 - 1]);
                else pointAdd(&row[k - 1], &row[k - 2], &base);
            }
            pointDouble(&base, &row[kTableSize - 2]);  // 32 times the row's base
        }
        // To affine with one inversion (no Z is zero: no multiple here is one of the order).
        memcpy(prefix[0], points[0].z, sizeof(prefix[0]));
        for (int i = 1; i < kCount; i++) mul(prefix[i], prefix[i - 1], points[i].z);
        u64 inverse[4], zInverse[4];
        invert(inverse, prefix[kCount - 1]);
        GeneratorWindows* out = new GeneratorWindows;
        for (int i = kCount - 1; i >= 0; i--) {
            if (i > 0) {
                mul(zInverse, inverse, prefix[i - 1]);
                mul(inverse, inverse, points[i].z);
            } else {
                memcpy(zInverse, inverse, sizeof(zInverse));
            }
            AffineEntry* entry = &out->entries[i / (kTableSize - 1)][i % (kTableSize - 1)];
            mul(entry->x, points[i].x, zInverse);
            mul(entry->y, points[i].y, zInverse);
        }
        return out;
    }();
    return *windows;
}

// out = k P from a row of the generator's multiples (the point at infinity for k = 0), reading
// every entry.
void selectGeneratorEntry(Point* out, const AffineEntry* row, u32 k) {
    u64 x[4] = {}, y[4] = {};
    for (u32 i = 1; i < kTableSize; i++) {
        u64 mask = 0 - (((u64)(i ^ k) - 1) >> 63);  // all ones when i == k
        for (int j = 0; j < 4; j++) {
            x[j] |= row[i - 1].x[j] & mask;
            y[j] |= row[i - 1].y[j] & mask;
        }
    }
    u64 none = 0 - (((u64)k - 1) >> 63);  // all ones when k == 0
    const u64 zero[4] = {};
    memcpy(out->x, x, sizeof(x));
    select(out->y, none, kOne, y);
    select(out->z, none, zero, kOne);
    secureWipe(x, sizeof(x));
    secureWipe(y, sizeof(y));
}

// out = scalar G: the same signed windows as below, each window's multiple from its own row.
i32 generatorMultiply(u8* out, const u8* scalar) {
    const GeneratorWindows& windows = generatorWindows();
    Point sum, entry;
    u64 negatedY[4];
    u32 magnitude;
    u64 negative;
    infinity(&sum);
    for (int w = 0; w < kWindows; w++) {
        windowDigit(&magnitude, &negative, scalar, w);
        selectGeneratorEntry(&entry, windows.entries[w], magnitude);
        const u64 zero[4] = {};
        sub(negatedY, zero, entry.y);
        select(entry.y, negative, negatedY, entry.y);
        pointAdd(&sum, &sum, &entry);
    }
    i32 result = toAffine(out, out + 32, &sum);
    secureWipe(&entry, sizeof(entry));
    secureWipe(&sum, sizeof(sum));
    secureWipe(negatedY, sizeof(negatedY));
    secureWipe(&magnitude, sizeof(magnitude));
    secureWipe(&negative, sizeof(negative));
    return result;
}

bool gExtensionsAllowed = true;

// The scalar reduced modulo the group's order n (k < 2^256 < 2n: one subtraction, kept when it does
// not borrow), as 32 bytes little-endian. k P = (k mod n) P for every point of the curve.
void reduceScalar(u8* out, const u8* scalar) {
    constexpr u64 kN[4] = {0xF3B9CAC2FC632551ull, 0xBCE6FAADA7179E84ull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFF00000000ull};
    u64 k[4], less[4];
    load(k, scalar);
    unsigned char borrow = 0;
    for (int i = 0; i < 4; i++) borrow = subBorrow(borrow, k[i], kN[i], &less[i]);
    select(k, 0 - (u64)borrow, k, less);
    store(out, k);
    secureWipe(k, sizeof(k));
    secureWipe(less, sizeof(less));
}

// P + Q in Jacobian coordinates (12 products, 4 squares), the point at infinity on either side
// included (the other point is taken by a selection). Wrong for P = Q, which the caller rules out.
void jacobianAdd(JacobianPoint* out, const JacobianPoint* p, const JacobianPoint* q) {
    u64 z1z1[4], z2z2[4], u1[4], u2[4], s1[4], s2[4], h[4], r[4], t[4];
    JacobianPoint sum;
    sqr(z1z1, p->z);
    sqr(z2z2, q->z);
    mul(u1, p->x, z2z2);
    mul(u2, q->x, z1z1);
    mul(t, q->z, z2z2);
    mul(s1, p->y, t);
    mul(t, p->z, z1z1);
    mul(s2, q->y, t);
    sub(h, u2, u1);
    sub(r, s2, s1);
    mul(t, p->z, q->z);
    mul(t, t, h);
    finishJacobianAddition(&sum, h, r, u1, s1, t);
    u64 pAtInfinity = zeroMask(p->z), qAtInfinity = zeroMask(q->z);
    for (int i = 0; i < 3; i++) {
        u64* to = i == 0 ? out->x : i == 1 ? out->y : out->z;
        const u64* fromP = i == 0 ? p->x : i == 1 ? p->y : p->z;
        const u64* fromQ = i == 0 ? q->x : i == 1 ? q->y : q->z;
        const u64* fromSum = i == 0 ? sum.x : i == 1 ? sum.y : sum.z;
        select(t, qAtInfinity, fromP, fromSum);
        select(to, pAtInfinity, fromQ, t);
    }
}

// table[i] = i P for i in 0 .. 16 in Jacobian coordinates, for an affine point P of the curve: the
// even ones doubled, the odd ones added, which never adds equal points (i - 1 != 1 for odd i > 2,
// and no multiple below 17 is the point at infinity).
void jacobianMultiplesOf(JacobianPoint* table, const u8* point) {
    memset(&table[0], 0, sizeof(table[0]));
    memcpy(table[0].y, kOne, sizeof(table[0].y));
    loadPoint(table[1].x, table[1].y, point);
    memcpy(table[1].z, kOne, sizeof(table[1].z));
    for (int i = 2; i < kTableSize; i++) {
        if (i % 2 == 0) jacobianDouble(&table[i], &table[i / 2]);
        else jacobianAdd(&table[i], &table[i - 1], &table[1]);
    }
}

// out = table[index] of Jacobian points, reading every entry.
void selectJacobianEntry(JacobianPoint* out, const JacobianPoint* table, u32 index) {
    memset(out, 0, sizeof(*out));
    for (u32 i = 0; i < kTableSize; i++) {
        u64 mask = 0 - (((u64)(i ^ index) - 1) >> 63);  // all ones when i == index
        const u64* from = table[i].x;
        u64* to = out->x;
        for (int j = 0; j < 12; j++) to[j] |= from[j] & mask;
    }
}

}  // namespace

int p256::chooseMultiplier() {
    int choice = gExtensionsAllowed && cpuHasMulxAdx() ? 2 : 1;
    gMultiplier.store(choice, std::memory_order_relaxed);
    return choice;
}

void p256AllowProcessorExtensions(bool allow) {
    gExtensionsAllowed = allow;
    chooseMultiplier();
}

void p256ForceProcessorExtensions() {
    gExtensionsAllowed = true;
    gMultiplier.store(2, std::memory_order_relaxed);
}

// Signed 5-bit windows from the top on the scalar reduced modulo n: five Jacobian doublings, then
// the window's multiple (read from a table of every multiple, negated as the digit's sign asks)
// added in Jacobian coordinates. The running sum is 32 A P for the value A of the windows above,
// and it never equals the window's multiple d P while a window follows: that would take 32 A = d
// modulo n with 0 <= 32 A < n - 32 and |d| <= 16, so A = d = 0, two points at infinity, which the
// addition takes. The last window is added with the complete formulas, so that the result does not
// rest on the scalar's last digit (where 32 A may pass n).
i32 p256ScalarMultiply(u8* out, const u8* scalar, const u8* point) {
    if (memcmp(point, kGeneratorBytes, sizeof(kGeneratorBytes)) == 0) return generatorMultiply(out, scalar);
    Point sum, last;
    JacobianPoint table[kTableSize], running, entry;
    u64 negatedY[4];
    u8 reduced[32];
    reduceScalar(reduced, scalar);
    jacobianMultiplesOf(table, point);
    u32 magnitude;
    u64 negative;
    const u64 zero[4] = {};
    windowDigit(&magnitude, &negative, reduced, kWindows - 1);  // never negative
    selectJacobianEntry(&running, table, magnitude);
    for (int w = kWindows - 2; w >= 0; w--) {
        for (int i = 0; i < kWindowBits; i++) jacobianDouble(&running, &running);
        windowDigit(&magnitude, &negative, reduced, w);
        selectJacobianEntry(&entry, table, magnitude);
        sub(negatedY, zero, entry.y);
        select(entry.y, negative, negatedY, entry.y);
        if (w > 0) {
            jacobianAdd(&running, &running, &entry);
        } else {
            toHomogeneous(&sum, &running);
            toHomogeneous(&last, &entry);
            pointAdd(&sum, &sum, &last);
        }
    }
    i32 result = toAffine(out, out + 32, &sum);
    secureWipe(table, sizeof(table));
    secureWipe(&entry, sizeof(entry));
    secureWipe(&last, sizeof(last));
    secureWipe(&sum, sizeof(sum));
    secureWipe(&running, sizeof(running));
    secureWipe(negatedY, sizeof(negatedY));
    secureWipe(reduced, sizeof(reduced));
    secureWipe(&magnitude, sizeof(magnitude));
    secureWipe(&negative, sizeof(negative));
    return result;
}
