#include "Core/MathQuaternion.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "Core/MathBits.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Rodrigues' rotation formula, independent of the quaternion code.
Vec3 rotateAboutAxis(Vec3 v, Vec3 axis, double angle) {
    double c = std::cos(angle), s = std::sin(angle), dot = v.x * axis.x + v.y * axis.y + v.z * axis.z;
    Vec3 cross = {axis.y * v.z - axis.z * v.y, axis.z * v.x - axis.x * v.z, axis.x * v.y - axis.y * v.x};
    return Vec3{v.x * c + cross.x * s + axis.x * dot * (1 - c), v.y * c + cross.y * s + axis.y * dot * (1 - c),
                v.z * c + cross.z * s + axis.z * dot * (1 - c)};
}

Quaternion axisAngle(Vec3 axis, double angle) {
    double s = std::sin(angle / 2);
    return Quaternion{axis.x * s, axis.y * s, axis.z * s, std::cos(angle / 2)};
}

// The same attitude: q and -q are one rotation.
double attitudeDistance(const Quaternion& a, const Quaternion& b) {
    double same = std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z) + std::fabs(a.w - b.w);
    double opposite = std::fabs(a.x + b.x) + std::fabs(a.y + b.y) + std::fabs(a.z + b.z) + std::fabs(a.w + b.w);
    return std::fmin(same, opposite);
}

TEST(MathQuaternion, HamiltonProductsAndRotations) {
    Quaternion i = {1, 0, 0, 0}, j = {0, 1, 0, 0}, k;
    multiplyQuaternions(&k, &i, &j);
    EXPECT_EQ(k.z, 1);
    EXPECT_EQ(k.w, 0);
    multiplyQuaternions(&k, &j, &i);
    EXPECT_EQ(k.z, -1);
    multiplyQuaternions(&k, &i, &i);
    EXPECT_EQ(k.w, -1);

    Quaternion quarterAboutZ = axisAngle({0, 0, 1}, kPi / 2);
    Vec3 x = {1, 0, 0}, out;
    rotateVectorByQuaternion(&out, &x, &quarterAboutZ);
    EXPECT_NEAR(out.x, 0, 1e-15);
    EXPECT_NEAR(out.y, 1, 1e-15);
    EXPECT_NEAR(out.z, 0, 1e-15);

    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int n = 0; n < 2000; ++n) {
        Vec3 axis = {unit(random), unit(random), unit(random)};
        double length = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
        if (length < 1e-3) continue;
        axis = {axis.x / length, axis.y / length, axis.z / length};
        double angle = unit(random) * 4;
        Vec3 v = {unit(random) * 10, unit(random) * 10, unit(random) * 10};
        Quaternion q = axisAngle(axis, angle);
        Vec3 expected = rotateAboutAxis(v, axis, angle), rotated, back;
        rotateVectorByQuaternion(&rotated, &v, &q);
        EXPECT_NEAR(rotated.x, expected.x, 1e-12);
        EXPECT_NEAR(rotated.y, expected.y, 1e-12);
        EXPECT_NEAR(rotated.z, expected.z, 1e-12);
        rotateByQuaternionInverse(&back, &rotated, &q);
        EXPECT_NEAR(back.x, v.x, 1e-12);
        EXPECT_NEAR(back.y, v.y, 1e-12);
        EXPECT_NEAR(back.z, v.z, 1e-12);
        // A product rotates by its right factor first.
        Quaternion r = axisAngle({0, 1, 0}, angle * 0.7), product;
        multiplyQuaternions(&product, &q, &r);
        Vec3 twice;
        rotateVectorByQuaternion(&twice, &v, &product);
        Vec3 step = rotateAboutAxis(rotateAboutAxis(v, {0, 1, 0}, angle * 0.7), axis, angle);
        EXPECT_NEAR(twice.x, step.x, 1e-12);
        EXPECT_NEAR(twice.y, step.y, 1e-12);
        EXPECT_NEAR(twice.z, step.z, 1e-12);
    }
}

TEST(MathQuaternion, EulerOrderIsRollAboutZThenPitchAboutXThenYawAboutY) {
    Quaternion q, expected, t;
    quaternionFromEuler(&q, 0.1, 0.2, 0.3);
    Quaternion r = axisAngle({0, 0, 1}, -0.1), p = axisAngle({1, 0, 0}, 0.2), y = axisAngle({0, 1, 0}, 0.3);
    multiplyQuaternions(&t, &r, &p);
    multiplyQuaternions(&expected, &t, &y);
    EXPECT_LT(attitudeDistance(q, expected), 1e-15);

    EulerAngles angles;
    quaternionToEuler(&angles, &q);
    EXPECT_NEAR(angles.roll, 0.1, 1e-12);
    EXPECT_NEAR(angles.pitch, 0.2, 1e-12);
    EXPECT_NEAR(angles.yaw, 0.3, 1e-12);
    EXPECT_DOUBLE_EQ(angles.rollDegrees, angles.roll * 57.29577951308232);
    EXPECT_DOUBLE_EQ(angles.pitchDegrees, angles.pitch * 57.29577951308232);
    EXPECT_DOUBLE_EQ(angles.yawDegrees, angles.yaw * 57.29577951308232);

    // Steep pitch with a yaw: the body's y axis is more than 0.7 up, and roll still comes back.
    quaternionFromEuler(&q, 0.3, 1.0, 0.5);
    quaternionToEuler(&angles, &q);
    EXPECT_NEAR(angles.roll, 0.3, 1e-12);
    EXPECT_NEAR(angles.pitch, 1.0, 1e-12);
    EXPECT_NEAR(angles.yaw, 0.5, 1e-12);
    quaternionFromEuler(&q, -2.0, -1.2, -0.4);
    quaternionToEuler(&angles, &q);
    EXPECT_NEAR(angles.roll, -2.0, 1e-12);
    EXPECT_NEAR(angles.pitch, -1.2, 1e-12);
    EXPECT_NEAR(angles.yaw, -0.4, 1e-12);
}

// The aerospace direction-cosine matrix (body to north-east-down), written out element by element.
TEST(MathQuaternion, NedEulerTurnsBodyVectorsAsTheDirectionCosineMatrix) {
    std::mt19937_64 random(71);
    std::uniform_real_distribution<double> angle(-kPi, kPi);
    for (int i = 0; i < 500; ++i) {
        double r = angle(random), p = angle(random) / 2, y = angle(random);
        double cr = std::cos(r), sr = std::sin(r), cp = std::cos(p), sp = std::sin(p), cy = std::cos(y), sy = std::sin(y);
        const double m[3][3] = {{cp * cy, sr * sp * cy - cr * sy, cr * sp * cy + sr * sy},
                                {cp * sy, sr * sp * sy + cr * cy, cr * sp * sy - sr * cy},
                                {-sp, sr * cp, cr * cp}};
        Quaternion q;
        quaternionFromNedEuler(&q, r, p, y);
        Vec3 body = {std::cos(y + 1), std::sin(2 * r), 0.5};
        Vec3 got;
        rotateVectorByQuaternion(&got, &body, &q);
        EXPECT_NEAR(got.x, m[0][0] * body.x + m[0][1] * body.y + m[0][2] * body.z, 1e-12);
        EXPECT_NEAR(got.y, m[1][0] * body.x + m[1][1] * body.y + m[1][2] * body.z, 1e-12);
        EXPECT_NEAR(got.z, m[2][0] * body.x + m[2][1] * body.y + m[2][2] * body.z, 1e-12);
    }
}

TEST(MathQuaternion, EulerRoundTripsOnAGridThroughTheBranchPoints) {
    // Whole twelfths of a turn hit ±90 degrees of pitch and yaw (the body's z axis level) and ±180;
    // asin(±0.7) puts the body's y axis on the ±0.7 boundaries; the neighbours of ±90 degrees of
    // pitch approach the vertical from both sides.
    std::vector<double> angles;
    for (int k = -12; k <= 12; ++k) angles.push_back(k * kPi / 12);
    for (double extra : {std::asin(0.7), -std::asin(0.7), kPi - std::asin(0.7), kPi / 2 - 1e-9, kPi / 2 + 1e-9,
                         -kPi / 2 + 1e-7, -kPi / 2 - 1e-7, 0.1, -0.3})
        angles.push_back(extra);
    int checked = 0;
    for (double roll : angles) {
        for (double pitch : angles) {
            for (double yaw : angles) {
                Quaternion q, back;
                quaternionFromEuler(&q, roll, pitch, yaw);
                EulerAngles e;
                quaternionToEuler(&e, &q);
                quaternionFromEuler(&back, e.roll, e.pitch, e.yaw);
                ASSERT_LT(attitudeDistance(q, back), 1e-9) << roll << " " << pitch << " " << yaw;
                EXPECT_LE(std::fabs(e.roll), kPi);
                EXPECT_LE(std::fabs(e.yaw), kPi);
                // Within the principal ranges the angles themselves come back.
                if (std::fabs(roll) < kPi - 1e-6 && std::fabs(pitch) < kPi / 2 - 1e-6 && std::fabs(yaw) < kPi / 2 - 1e-6) {
                    EXPECT_NEAR(e.roll, roll, 1e-9);
                    EXPECT_NEAR(e.pitch, pitch, 1e-9);
                    EXPECT_NEAR(e.yaw, yaw, 1e-9);
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 30000);
}

TEST(MathBits, CountsSetBitsOfWholeWords) {
    u64 words[4] = {0, ~u64(0), 0x8000000000000001ull, 0x00ff00ff00ff00ffull};
    EXPECT_EQ(countSetBits(words, 0), 0);
    EXPECT_EQ(countSetBits(words, 1), 0);
    EXPECT_EQ(countSetBits(words, 2), 64);
    EXPECT_EQ(countSetBits(words, 4), 64 + 2 + 32);
    std::mt19937_64 random(3);
    u64 many[64];
    int expected = 0;
    for (u64& word : many) {
        word = random();
        expected += __builtin_popcountll(word);
    }
    EXPECT_EQ(countSetBits(many, 64), expected);
}

}  // namespace
