// The renderer's 3D path: a free camera over a flat grid of 3D lines, steered with the captured mouse
// (Tab captures and frees it) and moved with W, A, S, D, Space and Left Ctrl, Q and E rolling it.
#include <cmath>

#include "Core/Format.h"
#include "Core/MathQuaternion.h"
#include "Core/Profiler.h"
#include "Platform/Platform.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr f64 kRadiansPerCount = 0.01;
constexpr f64 kRollRadiansPerSecond = 2.0;
constexpr f64 kStepScale = 1e12;  // 32.32 units per second: about 232.8 world units
constexpr Color kGridColour = 0xFF303030;

// q becomes r q, r the rotation by angle about the unit axis.
void turn(Quaternion* q, f64 angle, f64 ax, f64 ay, f64 az) {
    f64 s = std::sin(angle / 2);
    Quaternion r{ax * s, ay * s, az * s, std::cos(angle / 2)};
    Quaternion out;
    multiplyQuaternions(&out, &r, q);
    *q = out;
}

i64 stepOf(f64 component, f64 dt) {
    f64 step = component * dt * kStepScale;
    if (!(step == step)) return 0;
    if (step > 9e18) step = 9e18;
    if (step < -9e18) step = -9e18;
    return (i64)step;
}

void move(i64* position, const Vec3& direction, f64 sign, f64 dt) {
    position[0] += stepOf(sign * direction.x, dt);
    position[1] += stepOf(sign * direction.y, dt);
    position[2] += stepOf(sign * direction.z, dt);
}

void setCamera(const Test3DState* state, UiState* ui) {
    Eye* eye = &ui->uniforms.eye;
    for (i32 i = 0; i < 3; i++) {
        i64 whole = state->position[i] >> 32;
        eye->iposition[i] = (i32)whole;
        eye->extraPosition[i] = (f32)((f64)(state->position[i] - (whole << 32)) / 4294967296.0);
    }
    eye->iposition[3] = 0;
    eye->extraPosition[3] = 0;
    f64 x = state->orientation.x, y = state->orientation.y, z = state->orientation.z, w = state->orientation.w;
    f32 m[16] = {
        (f32)(1 - 2 * (y * y + z * z)), (f32)(2 * (x * y + w * z)), (f32)(2 * (x * z - w * y)), 0,
        (f32)(2 * (x * y - w * z)), (f32)(1 - 2 * (x * x + z * z)), (f32)(2 * (y * z + w * x)), 0,
        (f32)(2 * (x * z + w * y)), (f32)(2 * (y * z - w * x)), (f32)(1 - 2 * (x * x + y * y)), 0,
        0, 0, 0, 1,
    };
    for (i32 c = 0; c < 4; c++) {
        for (i32 r = 0; r < 4; r++) {
            eye->worldToEyeRotation[c * 4 + r] = m[c * 4 + r];
            eye->eyeToWorldRotation[r * 4 + c] = m[c * 4 + r];
        }
    }
    f32 tangent = (f32)std::tan(kPi / 6);
    eye->tanHalfVFov = tangent;
    eye->tanHalfHFov = ui->height > 0 ? tangent * (f32)ui->width / (f32)ui->height : tangent;
}

}  // namespace

void stepTest3DCamera(Test3DState* state, const InputState* input, i64 dx, i64 dy, f64 dt) {
    Quaternion* q = &state->orientation;
    if (dx != 0 || dy != 0) {
        f64 d = std::sqrt((f64)dx * (f64)dx + (f64)dy * (f64)dy);
        turn(q, -d * kRadiansPerCount, (f64)dy / d, 0, -(f64)dx / d);
    }
    i32 k = (isKeyDown(input, 'E') ? 1 : 0) - (isKeyDown(input, 'Q') ? 1 : 0);
    if (k != 0) turn(q, -kRollRadiansPerSecond * k * dt, 0, 1, 0);
    Vec3 forward, right, up;
    Vec3 unitY{0, 1, 0}, unitX{1, 0, 0}, unitZ{0, 0, 1};
    rotateByQuaternionInverse(&forward, &unitY, q);
    rotateByQuaternionInverse(&right, &unitX, q);
    rotateByQuaternionInverse(&up, &unitZ, q);
    if (isKeyDown(input, 'W')) move(state->position, forward, 1, dt);
    if (isKeyDown(input, 'S')) move(state->position, forward, -1, dt);
    if (isKeyDown(input, 'D')) move(state->position, right, 1, dt);
    if (isKeyDown(input, 'A')) move(state->position, right, -1, dt);
    if (isKeyDown(input, KeySpace)) move(state->position, up, 1, dt);
    if (isKeyDown(input, KeyLeftControl)) move(state->position, up, -1, dt);
}

void test3DScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                  void* scratch) {
    (void)app;
    ProfilingScope scope("Test 3D Screen");
    setBackground(ui, kBlackBackground);
    Test3DState* state = (Test3DState*)scratch;
    i64 now = (i64)stack->now;
    if (!state->initialised) {
        state->initialised = 1;
        state->previousTime = now;
        state->orientation = Quaternion{0, 0, 0, 1};
    }
    f64 dt = (f64)(now - state->previousTime) / 1e6;
    state->previousTime = now;

    const InputState* input = &platform->input;
    if (isKeyDown(input, KeyTab) && !wasKeyDown(input, KeyTab)) {
        platform->cursorCaptureWanted = platform->cursorCaptured ? 0 : 1;
    }
    // The first Escape frees the mouse; only a second one leaves.
    if (result->back && platform->cursorCaptureWanted) {
        platform->cursorCaptureWanted = 0;
        result->back = 0;
    }
    if (platform->cursorCaptureWanted) {
        // Raw motion counts downwards as the mouse moves towards the user.
        stepTest3DCamera(state, input, platform->rawMouseDeltaX, -platform->rawMouseDeltaY, dt);
    }

    for (i32 i = -10000; i <= 10000; i += 1000) {
        i32 a[3] = {i, -10000, 0}, b[3] = {i, 10000, 0};
        addLine3d(a, b, kGridColour, 1, &ui->batches.line3d);
        i32 c[3] = {-10000, i, 0}, d[3] = {10000, i, 0};
        addLine3d(c, d, kGridColour, 1, &ui->batches.line3d);
    }
    setCamera(state, ui);

    Quaternion conjugate{-state->orientation.x, -state->orientation.y, -state->orientation.z, state->orientation.w};
    EulerAngles angles;
    quaternionToEuler(&angles, &conjugate);
    u8 bytes[256];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    appendFixedString(formatInt("Yaw:\t@\n", (i64)angles.yawDegrees), &writer);
    appendFixedString(formatInt("Pitch:\t@\n", (i64)angles.pitchDegrees), &writer);
    appendFixedString(formatInt("Roll:\t@\n", (i64)angles.rollDegrees), &writer);
    f32 base = baseTextSize(ui);
    TextStyle style{0xFFFFFFFF, 0xFF000000, 0xFFE36400, base, 0.03f, 0};
    i64 length = writer.length < writer.capacity ? writer.length : writer.capacity;
    addTextBox(TextSlice{bytes, length}, AnchorTopLeft, 0.5f, ui->screenRect, ui->screenRect, style, noTextCaret(),
               uiTextTarget(ui));
}
