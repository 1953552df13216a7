// The scratch records of the developer screens (each starts zeroed on every push and pop, so every
// visit sets itself up again) and the texts they build, for the screens and their tests.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "Core/Sound.h"
#include "Drone/Hud.h"
#include "Platform/Input.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/UserInterface/MapView.h"

struct DroneConnection;
struct NextVisionState;
struct VehicleState;

constexpr Color kListBackground = 0xFF090314;
constexpr Color kBlackBackground = 0xFF000000;

// Sets the frame's clear colour from an RGBA8 colour (red in the lowest byte).
struct UiState;
void setBackground(UiState* ui, Color colour);
// The base UI text size: a fifteenth of the shorter half of the window, at least 22 pixels.
f32 baseTextSize(const UiState* ui);

struct TestSelectorState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;  // shared by the System ID and Component ID rows
    FixedString configurationOptions[4];
};

// The option the drone-configuration row highlights for an autopilot kind and a camera
// configuration (-1 none), and what choosing option i writes.
i32 droneConfigurationOption(u32 autopilotKind, u32 cameraKind);
void chooseDroneConfiguration(DroneConnection* connection, i32 option);
// What an identity row stores for an entered text: its number's low 8 bits, 0 without a number.
u8 enteredIdentity(FixedString text);

struct ListScreenState {
    u32 initialised;
    MapView listView;
};

struct TestPixyUState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;  // shared by the three command rows
};

// The firmware version row: "@.@.@" of the three version parameters, each truncated to an integer.
FixedString gimbalVersionText(f32 x, f32 y, f32 z);

// The gamepad readout: at most 500 bytes, cut when it does not fit.
constexpr i64 kGamepadTextBytes = 500;
void writeGamepadText(ByteWriter* writer, const GamepadState* pad, const InputState* input);

struct Test3DState {
    u32 initialised;
    i64 previousTime;  // monotonic us
    i64 position[3];   // 32.32 fixed point world units
    Quaternion orientation;
};

// One Test 3D step of the camera: mouse look, roll and movement for dt seconds while the mouse is
// captured. W moves along +y at 10^12 / 2^32 units per second; 100 counts turn 1 radian.
void stepTest3DCamera(Test3DState* state, const InputState* input, i64 dx, i64 dy, f64 dt);

struct ProfilingState {
    u32 initialised;
    MapView view;
    f64 content[4];  // x0, x1, y0, y1 of the text measured last frame
};

constexpr i64 kProfilingReportBytes = 20000;
struct AppState;
struct Platform;
// The Profiling screen's report: the debug report's sections with the tab-separated profiling table.
void writeProfilingReport(ByteWriter* writer, AppState* app, const Platform* platform, const UiState* ui,
                          i64 utcMs, i64 zoneOffsetMs);

struct FcSequenceState {
    u32 initialised;
    MapView view;
};

// Row i of the FC Sequence list: its two column texts and whether it follows the row before it.
struct FcSequenceRow {
    FixedString sequence;
    FixedString message;
    u32 inSequence;
};
FcSequenceRow fcSequenceRow(const u8* sequences, const u32* messageIds, i32 index);

struct DebugNvState {
    u32 hidePanel;
    u32 pad;
    Hud hud;
    FixedString text;
};

constexpr i64 kDebugNvTextBytes = 1000;
void writeDebugNvText(ByteWriter* writer, const VehicleState* vehicle, const NextVisionState* camera);

struct DesignSoundState {
    FixedString text;
    ToneSegment segments[kTuneSteps];
    i32 segmentCount;
    i32 pad;
    i64 nextPlayUs;
};

// Reads "{seconds, hz, startVolume[, change]}, ..." into at most 50 steps; returns the count.
i32 parseTune(const u8* text, i64 length, ToneSegment* segments);

struct DuvevMarker {
    f32 x, y;  // window pixels
    f64 heading;  // turns
};

struct DuvevDebugState {
    u32 initialised;
    u32 selected;
    i64 lastFrameUs;
    DuvevMarker markers[5];
    u64 detonatedMask;
};

// Moves the selected marker towards the pointer for dt microseconds: 40 % of the distance per second,
// heading atan2(dy, dx) / 2 pi - 0.25 turns.
void followPointer(DuvevMarker* marker, f32 pointerX, f32 pointerY, i64 dtMicroseconds);

struct TestClippingState {
    u32 initialised;
    MapView view;
};
