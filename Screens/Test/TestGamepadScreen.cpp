// Which controller the platform reports and the live state of its sticks, triggers, rockers and
// buttons, as one block of text rebuilt every frame.
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Platform/Platform.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/Renderer/TextDrawers.h"

namespace {

struct ButtonLine {
    const char* text;
    i32 code;
};

const ButtonLine kGamepadButtons[14] = {
    {"A\n", 223},     {"B\n", 224},       {"X\n", 225},     {"Y\n", 226},
    {"Left\n", 227},  {"Right\n", 228},   {"Down\n", 230},  {"Up\n", 229},
    {"Start\n", 235}, {"Back\n", 236},    {"Left Shoulder\n", 231}, {"Right Shoulder\n", 232},
    {"Left Thumb\n", 233}, {"Right Thumb\n", 234},
};
const ButtonLine kPilotProButtons[14] = {
    {"A1\n", 237}, {"A2\n", 238}, {"A3\n", 239}, {"A4\n", 240}, {"A5\n", 241}, {"L1\n", 242}, {"L2\n", 243},
    {"R1\n", 244}, {"R2\n", 245}, {"S1 Up\n", 246}, {"S1 Down\n", 247}, {"S2 Up\n", 248}, {"S2 Down\n", 249},
    {"Kill\n", 250},
};
const ButtonLine kHerelinkButtons[6] = {
    {"A\n", 251}, {"B\n", 252}, {"Home\n", 255}, {"C\n", 253}, {"D\n", 254}, {"Trigger\n", 256},
};

void axisLine(const char* format, f32 value, ByteWriter* writer) {
    f64 scaled = (f64)value * 100.0;
    i64 hundredths = scaled == scaled && scaled < 9e15 && scaled > -9e15 ? (i64)scaled : 0;
    appendFixedString(formatFixed(format, hundredths, 2), writer);
}

void buttonLines(const ButtonLine* lines, i32 count, const InputState* input, ByteWriter* writer) {
    for (i32 i = 0; i < count; i++) {
        if (isKeyDown(input, lines[i].code)) appendCString(lines[i].text, writer);
    }
}

}  // namespace

void writeGamepadText(ByteWriter* writer, const GamepadState* pad, const InputState* input) {
    appendCString("Type: ", writer);
    switch (pad->controllerKind) {
    case ControllerNone: appendCString("Disconnected", writer); break;
    case ControllerGamepad: appendCString("Gamepad", writer); break;
    case ControllerHerelink: appendCString("Herelink", writer); break;
    case ControllerPilotPro: appendCString("Pilot Pro", writer); break;
    default: appendFixedString(formatInt("Unknown (@)", pad->controllerKind), writer); break;
    }
    appendCString("\n", writer);
    appendFixedStringRef(&pad->name, writer);
    appendCString("\n", writer);
    u32 kind = pad->controllerKind;
    if (kind != ControllerGamepad && kind != ControllerHerelink && kind != ControllerPilotPro) return;
    axisLine("Left Stick X:\t@\n", pad->leftStickX, writer);
    axisLine("Left Stick Y:\t@\n", pad->leftStickY, writer);
    axisLine("Right Stick X:\t@\n", pad->rightStickX, writer);
    axisLine("Right Stick Y:\t@\n", pad->rightStickY, writer);
    if (kind == ControllerGamepad) {
        axisLine("Left Trigger:\t@\n", pad->leftTrigger, writer);
        axisLine("Right Trigger:\t@\n", pad->rightTrigger, writer);
        buttonLines(kGamepadButtons, 14, input, writer);
    } else if (kind == ControllerPilotPro) {
        axisLine("Left Rocker:\t@\n", pad->leftRocker, writer);
        axisLine("Right Rocker:\t@\n", pad->rightRocker, writer);
        buttonLines(kPilotProButtons, 14, input, writer);
    } else {
        axisLine("Left Rocker:\t@\n", pad->leftRocker, writer);
        buttonLines(kHerelinkButtons, 6, input, writer);
    }
}

void testGamepadScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                       void* scratch) {
    (void)stack;
    (void)app;
    (void)result;
    ProfilingScope scope("Test Gamepad Screen");
    setBackground(ui, kBlackBackground);
    *(u32*)scratch = 1;
    u8 bytes[kGamepadTextBytes];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    writeGamepadText(&writer, &platform->gamepad, &platform->input);
    f32 base = baseTextSize(ui);
    TextStyle style{0xFFFFFFFF, 0x00FFFFFF, 0xFFE36400, 1.3f * base, 0, 0};
    Rect screen = ui->screenRect;
    i64 length = writer.length < writer.capacity ? writer.length : writer.capacity;
    drawTextChecked(ui, TextSlice{bytes, length}, AnchorTopLeft, Vec2F32{screen.x0, screen.y1}, 0.5f, screen, style);
}

void testKeysScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                    void* scratch) {
    (void)stack;
    (void)app;
    (void)result;
    ProfilingScope scope("Test Keys Screen");
    setBackground(ui, kBlackBackground);
    *(u32*)scratch = 1;
    f32 base = baseTextSize(ui);
    TextStyle style{0xFFFFFFFF, 0x00FFFFFF, 0xFFE36400, 0.92f * base, 0, 0};
    Rect screen = ui->screenRect;
    // Codes 0 to 255 fill sixteen rows from the bottom; codes 256 to 319 (only 256, the Herelink
    // trigger, is assigned) take a spare seventeenth row at the top, by their code - 256 modulo 16.
    f32 cellWidth = (screen.x1 - screen.x0) / 16, cellHeight = (screen.y1 - screen.y0) / 17;
    for (i32 code = 0; code < kKeyMapWords * 64; code++) {
        if (!isKeyDown(&platform->input, code)) continue;
        i32 column = code % 16, row = code < 256 ? code / 16 : 16;
        f32 x = screen.x0 + (column + 0.5f) * cellWidth;
        f32 y = screen.y0 + (row + 0.5f) * cellHeight;
        drawTextAt(ui, stringFromInt(code), AnchorCentre, Vec2F32{x, y}, 0.5f, screen, style);
    }
}
