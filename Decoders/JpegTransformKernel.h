// The inverse DCT's 8-point pass written once for any vector of doubles with +, - and *: the vector
// transforms of JpegTransform.cpp and JpegTransformAvx2.cpp instantiate it with their own lane
// types. The arithmetic is the portable transform's (the Loeffler-Ligtenberg-Moschytz factorisation
// with constants of 24 fractional bits), on integers that doubles hold exactly while the
// coefficients stay below kJpegVectorMagnitudeLimit: every partial sum of a pass is at most 7.5 x 2^24
// times its largest input, so the first pass's outputs stay below 2^25 and the second pass's sums
// below 2^52.
// Included inside an unnamed namespace so that each file's instantiations stay its own.
#pragma once

constexpr f64 kIdctConstantScale = (f64)(1 << 24);
constexpr f64 idctConstant(f64 x) { return (f64)(i64)(x * kIdctConstantScale + 0.5); }

// The vector types provide +, -, *, V::broadcast, mulAdd(a, b, c) = a * b + c and
// mulSub(a, b, c) = c - a * b; a fused multiply-add is exact here too, its result being an integer
// below 2^53.
struct IdctConstants {
    f64 k0298631336 = idctConstant(0.298631336), k0390180644 = idctConstant(0.390180644),
        k0541196100 = idctConstant(0.541196100), k0765366865 = idctConstant(0.765366865),
        k0899976223 = idctConstant(0.899976223), k1175875602 = idctConstant(1.175875602),
        k1501321110 = idctConstant(1.501321110), k1847759065 = idctConstant(1.847759065),
        k1961570560 = idctConstant(1.961570560), k2053119869 = idctConstant(2.053119869),
        k2562915447 = idctConstant(2.562915447), k3072711026 = idctConstant(3.072711026);
};

template <class V>
inline void idct8Pass(V* out, const V& i0, const V& i1, const V& i2, const V& i3, const V& i4, const V& i5,
                      const V& i6, const V& i7) {
    constexpr IdctConstants k{};
    const V scale = V::broadcast(kIdctConstantScale);
    V z1 = (i2 + i6) * V::broadcast(k.k0541196100);
    V tmp2 = mulSub(i6, V::broadcast(k.k1847759065), z1);
    V tmp3 = mulAdd(i2, V::broadcast(k.k0765366865), z1);
    V tmp0 = (i0 + i4) * scale;
    V tmp1 = (i0 - i4) * scale;
    V tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    V z1o = i7 + i1, z2 = i5 + i3, z3 = i7 + i3, z4 = i5 + i1;
    V z5 = (z3 + z4) * V::broadcast(k.k1175875602);
    z3 = mulSub(z3, V::broadcast(k.k1961570560), z5);
    z4 = mulSub(z4, V::broadcast(k.k0390180644), z5);
    z1o = z1o * V::broadcast(k.k0899976223);
    z2 = z2 * V::broadcast(k.k2562915447);
    V a = mulAdd(i7, V::broadcast(k.k0298631336), z3 - z1o);
    V b = mulAdd(i5, V::broadcast(k.k2053119869), z4 - z2);
    V c = mulAdd(i3, V::broadcast(k.k3072711026), z3 - z2);
    V d = mulAdd(i1, V::broadcast(k.k1501321110), z4 - z1o);
    out[0] = tmp10 + d;
    out[7] = tmp10 - d;
    out[1] = tmp11 + c;
    out[6] = tmp11 - c;
    out[2] = tmp12 + b;
    out[5] = tmp12 - b;
    out[3] = tmp13 + a;
    out[4] = tmp13 - a;
}

// idct8Pass with inputs 4 to 7 zero: the same sums without their terms.
template <class V>
inline void idct8PassLow(V* out, const V& i0, const V& i1, const V& i2, const V& i3) {
    constexpr IdctConstants k{};
    V tmp2 = i2 * V::broadcast(k.k0541196100);
    V tmp3 = i2 * V::broadcast(k.k0541196100 + k.k0765366865);
    V tmp0 = i0 * V::broadcast(kIdctConstantScale);
    V tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp0 + tmp2, tmp12 = tmp0 - tmp2;
    V z5 = (i3 + i1) * V::broadcast(k.k1175875602);
    V z3 = mulSub(i3, V::broadcast(k.k1961570560), z5);
    V z4 = mulSub(i1, V::broadcast(k.k0390180644), z5);
    V z1o = i1 * V::broadcast(k.k0899976223);
    V z2 = i3 * V::broadcast(k.k2562915447);
    V a = z3 - z1o;
    V b = z4 - z2;
    V c = mulAdd(i3, V::broadcast(k.k3072711026), z3 - z2);
    V d = mulAdd(i1, V::broadcast(k.k1501321110), z4 - z1o);
    out[0] = tmp10 + d;
    out[7] = tmp10 - d;
    out[1] = tmp11 + c;
    out[6] = tmp11 - c;
    out[2] = tmp12 + b;
    out[5] = tmp12 - b;
    out[3] = tmp13 + a;
    out[4] = tmp13 - a;
}

// The first pass's rounding shift by 16 bits, floor(s / 2^16 + 1/2), as a double: s / 2^16 has at
// most 16 fractional bits, so adding 2^-18 and rounding to the nearest integer (by adding and
// subtracting 1.5 * 2^52) gives the same value.
template <class V>
inline V descaleFirstPass(const V& s) {
    const V scale = V::broadcast(1.0 / 65536.0), bias = V::broadcast(1.0 / 262144.0),
            magic = V::broadcast(6755399441055744.0);
    return (mulAdd(s, scale, bias) + magic) - magic;
}
