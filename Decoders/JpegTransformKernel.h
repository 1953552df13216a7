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

template <class V>
inline void idct8Pass(V* out, const V& i0, const V& i1, const V& i2, const V& i3, const V& i4, const V& i5,
                      const V& i6, const V& i7) {
    const V k0298631336 = V::broadcast(idctConstant(0.298631336)), k0390180644 = V::broadcast(idctConstant(0.390180644)),
            k0541196100 = V::broadcast(idctConstant(0.541196100)), k0765366865 = V::broadcast(idctConstant(0.765366865)),
            k0899976223 = V::broadcast(idctConstant(0.899976223)), k1175875602 = V::broadcast(idctConstant(1.175875602)),
            k1501321110 = V::broadcast(idctConstant(1.501321110)), k1847759065 = V::broadcast(idctConstant(1.847759065)),
            k1961570560 = V::broadcast(idctConstant(1.961570560)), k2053119869 = V::broadcast(idctConstant(2.053119869)),
            k2562915447 = V::broadcast(idctConstant(2.562915447)), k3072711026 = V::broadcast(idctConstant(3.072711026)),
            kScale = V::broadcast(kIdctConstantScale);
    V z1 = (i2 + i6) * k0541196100;
    V tmp2 = z1 - i6 * k1847759065;
    V tmp3 = z1 + i2 * k0765366865;
    V tmp0 = (i0 + i4) * kScale;
    V tmp1 = (i0 - i4) * kScale;
    V tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    V a = i7, b = i5, c = i3, d = i1;
    V z1o = a + d, z2 = b + c, z3 = a + c, z4 = b + d;
    V z5 = (z3 + z4) * k1175875602;
    a = a * k0298631336;
    b = b * k2053119869;
    c = c * k3072711026;
    d = d * k1501321110;
    z1o = z1o * k0899976223;
    z2 = z2 * k2562915447;
    z3 = z5 - z3 * k1961570560;
    z4 = z5 - z4 * k0390180644;
    a = a - z1o + z3;
    b = b - z2 + z4;
    c = c - z2 + z3;
    d = d - z1o + z4;
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
    return ((s * scale + bias) + magic) - magic;
}
