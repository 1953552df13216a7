#include "Core/MathQuaternion.h"

#include <cmath>

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr f64 kDegreesPerRadian = 57.29577951308232;

Quaternion conjugate(const Quaternion* q) { return Quaternion{-q->x, -q->y, -q->z, q->w}; }

Quaternion axisRotation(f64 ax, f64 ay, f64 az, f64 angle) {
    f64 s = std::sin(angle * 0.5);
    return Quaternion{ax * s, ay * s, az * s, std::cos(angle * 0.5)};
}

}  // namespace

void multiplyQuaternions(Quaternion* out, const Quaternion* a, const Quaternion* b) {
    Quaternion r;
    r.x = a->w * b->x + a->x * b->w + a->y * b->z - a->z * b->y;
    r.y = a->w * b->y - a->x * b->z + a->y * b->w + a->z * b->x;
    r.z = a->w * b->z + a->x * b->y - a->y * b->x + a->z * b->w;
    r.w = a->w * b->w - a->x * b->x - a->y * b->y - a->z * b->z;
    *out = r;
}

void rotateVectorByQuaternion(Vec3* out, const Vec3* v, const Quaternion* q) {
    Quaternion p = {v->x, v->y, v->z, 0}, inverse = conjugate(q), t;
    multiplyQuaternions(&t, q, &p);
    multiplyQuaternions(&t, &t, &inverse);
    *out = Vec3{t.x, t.y, t.z};
}

void rotateByQuaternionInverse(Vec3* out, const Vec3* v, const Quaternion* q) {
    Quaternion p = {v->x, v->y, v->z, 0}, inverse = conjugate(q), t;
    multiplyQuaternions(&t, &inverse, &p);
    multiplyQuaternions(&t, &t, q);
    *out = Vec3{t.x, t.y, t.z};
}

void quaternionFromEuler(Quaternion* out, f64 roll, f64 pitch, f64 yaw) {
    Quaternion r = axisRotation(0, 0, 1, -roll), p = axisRotation(1, 0, 0, pitch), y = axisRotation(0, 1, 0, yaw);
    Quaternion t;
    multiplyQuaternions(&t, &r, &p);
    multiplyQuaternions(out, &t, &y);
}

void quaternionFromNedEuler(Quaternion* out, f64 roll, f64 pitch, f64 yaw) {
    Quaternion y = axisRotation(0, 0, 1, yaw), p = axisRotation(0, 1, 0, pitch), r = axisRotation(1, 0, 0, roll);
    Quaternion t;
    multiplyQuaternions(&t, &y, &p);
    multiplyQuaternions(out, &t, &r);
}

void quaternionToEuler(EulerAngles* out, const Quaternion* q) {
    Vec3 yAxis = {0, 1, 0}, zAxis = {0, 0, 1}, u, w;
    rotateVectorByQuaternion(&u, &yAxis, q);
    rotateVectorByQuaternion(&w, &zAxis, q);

    // The roll is the heading of the body's y axis about z. Only when that axis points straight up or
    // down has it no heading; roll and yaw then turn about the same axis, and the body's z axis gives
    // a roll for which the yaw below completes the attitude.
    f64 horizontal = u.x * u.x + u.y * u.y;
    f64 a, b;
    if (horizontal <= 1e-20 && u.z < 0) {
        a = w.x, b = w.y;
    } else if (horizontal <= 1e-20) {
        a = -w.x, b = -w.y;
    } else if (w.z >= 0) {
        a = u.x, b = u.y;
    } else {
        a = -u.x, b = -u.y;
    }
    f64 roll = std::atan2(a, b);

    // acos(u.z), taken as an angle of the axis from the vertical so that it keeps its precision
    // near ±90 degrees of pitch.
    f64 fromVertical = std::atan2(std::sqrt(horizontal), u.z);
    f64 pitch;
    if (w.z >= 0) {
        pitch = kPi / 2 - fromVertical;
    } else {
        pitch = fromVertical < kPi / 2 ? fromVertical + kPi / 2 : fromVertical - 4.71238898038469;
    }

    Quaternion r = axisRotation(0, 0, 1, -roll), p = axisRotation(1, 0, 0, pitch), rp, m;
    multiplyQuaternions(&rp, &r, &p);
    rp = conjugate(&rp);
    multiplyQuaternions(&m, &rp, q);
    Vec3 v;
    rotateVectorByQuaternion(&v, &zAxis, &m);
    f64 yaw = std::atan2(v.x, v.z);

    out->roll = roll;
    out->pitch = pitch;
    out->yaw = yaw;
    out->rollDegrees = roll * kDegreesPerRadian;
    out->pitchDegrees = pitch * kDegreesPerRadian;
    out->yawDegrees = yaw * kDegreesPerRadian;
}
