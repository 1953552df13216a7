// Attitude quaternions (x, y, z, w; Hamilton products) and the Euler angles of the attitude
// displays: a quaternion from roll, pitch and yaw is r(z, -roll) · r(x, pitch) · r(y, yaw), where
// r(axis, angle) = (axis × sin(angle/2), cos(angle/2)).
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

struct EulerAngles {
    f64 roll, pitch, yaw;                     // radians
    f64 rollDegrees, pitchDegrees, yawDegrees;
};

void multiplyQuaternions(Quaternion* out, const Quaternion* a, const Quaternion* b);
// q·v·q*: 90 degrees about z takes x to y.
void rotateVectorByQuaternion(Vec3* out, const Vec3* v, const Quaternion* q);
// q*·v·q, the inverse rotation.
void rotateByQuaternionInverse(Vec3* out, const Vec3* v, const Quaternion* q);
void quaternionFromEuler(Quaternion* out, f64 roll, f64 pitch, f64 yaw);
// An aircraft's attitude in north-east-down axes, r(z, yaw) · r(y, pitch) · r(x, roll): it takes
// body vectors (forward, right, down) to (north, east, down). Yaw turns north toward east, pitch
// raises the nose, roll lowers the right wing.
void quaternionFromNedEuler(Quaternion* out, f64 roll, f64 pitch, f64 yaw);
// Angles that quaternionFromEuler turns back into the same attitude.
void quaternionToEuler(EulerAngles* out, const Quaternion* q);
