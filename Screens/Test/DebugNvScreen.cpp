// The live video with the flight HUD over it and, while its panel is open, the drone's attitude
// beside the NextVision camera's reported and commanded state, for comparing the two. A tap on the
// HUD hides and shows the panel. Sends nothing.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/TextEdit.h"
#include "SourceCommon/UserInterface/Widgets.h"
#include "Video/VideoDecoder.h"

namespace {

i64 scaled(f64 value, f64 factor) {
    f64 v = value * factor;
    return v == v && v < 9e18 && v > -9e18 ? (i64)v : 0;
}

void fixedLine(const char* format, f32 value, ByteWriter* writer) {
    appendFixedString(formatFixed(format, scaled(value, 1000), 3), writer);
}

}  // namespace

void writeDebugNvText(ByteWriter* writer, const VehicleState* vehicle, const NextVisionState* camera) {
    fixedLine("Drone Yaw:\t@\n", vehicle->yaw, writer);
    fixedLine("Drone Pitch:\t@\n", vehicle->pitch, writer);
    fixedLine("Drone Roll:\t@\n", vehicle->roll, writer);
    // The system report's roll, pitch and roll derotation angle (bytes 2, 6 and 57), as the camera
    // names them; the camera record keeps them as tilt, pan and roll, the angles its pointing uses.
    fixedLine("NV Roll:\t@\n", camera->tilt, writer);
    fixedLine("NV Pitch:\t@\n", camera->pan, writer);
    fixedLine("NV Roll Derotation:\t@\n", camera->roll, writer);
    appendFixedString(formatFixed("NV Temp:\t@\n", scaled(camera->temperature, 10), 1), writer);
    appendFixedString(formatInt("NV Image Flip:\t@\n", camera->imageFlip), writer);
    if (camera->commandedMode == 4) {
        fixedLine("NV Commanded Local Mode Pitch:\t@\n", camera->commandedAngles[0], writer);
        fixedLine("NV Commanded Local Mode Roll:\t@\n", camera->commandedAngles[1], writer);
    } else if (camera->commandedMode == 5) {
        fixedLine("NV Commanded Global Mode Pitch:\t@\n", camera->commandedAngles[0], writer);
        fixedLine("NV Commanded Global Mode Yaw:\t@\n", camera->commandedAngles[1], writer);
    }
    appendFixedString(formatInt("NV Tracker Status:\t@\n", camera->statusByte14), writer);
}

void debugNvScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                   void* scratch) {
    (void)platform;
    (void)result;
    ProfilingScope scope("Debug NV Screen");
    setBackground(ui, kBlackBackground);
    DebugNvState* state = (DebugNvState*)scratch;
    Rect content = ui->screenRect;
    f32 line = screenLineHeight(ui);
    if (!state->hidePanel) {
        u8 bytes[kDebugNvTextBytes];
        ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
        writeDebugNvText(&writer, &app->droneConnection.vehicle, &app->droneConnection.nextVision);
        TextStyle style{kTextWhite, 0xFF000000, kSelectionOrange, 0.5f * baseTextSize(ui), 0.1f, 0};
        i64 length = writer.length < writer.capacity ? writer.length : writer.capacity;
        drawTextChecked(ui, TextSlice{bytes, length}, AnchorCentre,
                        Vec2F32{(content.x0 + content.x1) / 2, (content.y0 + content.y1) / 2}, 0.6f, content, style);

        Rect field{content.x0, content.x1, content.y1 - 2 * line, content.y1};
        FixedString placeholder = makeString("Enter text here");
        TextStyle fieldStyle{0xFF303030, kNoOutline, kSelectionOrange, 0.6f * baseTextSize(ui), 0, 0};
        WidgetId id{54, __FILE__};
        textField(&state->text, &placeholder, AnchorLeftCentre, TextKeyboardFull, &field, &content, 0.6f, &fieldStyle,
                  kButtonGrey, ui, stack, &stack->runner.textFocus, &id);
        f32 middle = (content.y0 + content.y1) / 2;
        addLine(Vec2F32{content.x0, middle}, Vec2F32{content.x1, middle}, 0.6f, content, kTextWhite, 2,
                &ui->batches.line2d);
    }
    VideoDecoder* decoder = programVideoDecoder();
    if (decoder && decoder->imageSlotId) {
        drawIconInRect(&content, &content, 0.2f, AnchorCentre, IconKindSlot, (i32)decoder->imageSlotId,
                       &ui->batches.textured2d, ui);
    }
    const VideoStreamStats* stats = nullptr;
    if (app->preferences.videoStreamProtocol == VideoStreamQv) stats = &app->qvVideoStream.stats;
    if (app->preferences.videoStreamProtocol == VideoStreamRtsp) stats = &app->rtspVideoStream.stats;
    if (drawHud(&state->hud, content, stats, app->uiMetrics.buttonTextHeight, &app->droneConnection, &app->preferences,
                stack, ui)) {
        state->hidePanel = state->hidePanel ? 0 : 1;
    }
}
