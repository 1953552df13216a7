// A developer playground: five arrow-head markers; a touch selects one, a held pointer makes the
// selected one turn towards it and glide after it, and "Detonate" turns it into a bang for good.
// Also prints the platform's four screen insets. Changes nothing outside its scratch.
#include <cmath>

#include "Core/Format.h"
#include "Core/Geometry.h"
#include "Core/Profiler.h"
#include "Platform/Platform.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Widgets.h"

#include <cstring>

namespace {

constexpr f64 kTwoPi = 6.283185307179586476925;
constexpr f64 kFollowShare = 0.4;  // of the remaining distance per second held

i32 assetByName(const UiState* ui, const char* name) {
    for (i32 i = 0; i < kImageAssetCount; i++) {
        if (ui->assets[i].name && std::strcmp(ui->assets[i].name, name) == 0) return i;
    }
    return -1;
}

// The marker's square of half-width h, turned by its heading.
void markerShape(const DuvevMarker* marker, f32 h, Vec2F32* corners) {
    f64 angle = marker->heading * kTwoPi;
    f32 c = (f32)std::cos(angle), s = (f32)std::sin(angle);
    const f32 unit[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (i32 i = 0; i < 4; i++) {
        f32 x = unit[i][0] * h, y = unit[i][1] * h;
        corners[i] = Vec2F32{marker->x + c * x - s * y, marker->y + s * x + c * y};
    }
}

}  // namespace

void followPointer(DuvevMarker* marker, f32 pointerX, f32 pointerY, i64 dtMicroseconds) {
    f64 dx = (f64)pointerX - marker->x, dy = (f64)pointerY - marker->y;
    f64 step = (f64)dtMicroseconds / 1e6 * kFollowShare;
    marker->x = (f32)(marker->x + dx * step);
    marker->y = (f32)(marker->y + dy * step);
    marker->heading = std::atan2(dy, dx) / kTwoPi - 0.25;
}

void duvevDebugScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                      void* scratch) {
    (void)app;
    (void)result;
    ProfilingScope scope("Duvev Debug Screen");
    setBackground(ui, kBlackBackground);
    DuvevDebugState* state = (DuvevDebugState*)scratch;
    Rect content = ui->screenRect;
    f32 unit = screenLineHeight(ui);
    i64 now = (i64)stack->now;
    if (!state->initialised) {
        state->initialised = 1;
        state->lastFrameUs = now;
        f32 band = (content.y1 - content.y0) / 5;
        for (i32 k = 0; k < 5; k++) {
            state->markers[k] = DuvevMarker{content.x0 + unit, content.y1 - (k + 0.5f) * band, 0};
        }
    }
    i64 dt = now - state->lastFrameUs;
    state->lastFrameUs = now;

    Rect detonateRect{content.x1 - 8 * unit, content.x1 - unit, content.y0 + unit, content.y0 + 3 * unit};
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, 0.45f * 2 * unit, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = unit / 8;
    style.cornerRadius = unit / 8;
    style.fill = kButtonGrey;
    style.pressedFill = kPressedGrey;
    WidgetId detonateId = WIDGET_ID;
    if (button(makeString("Detonate"), &detonateRect, &content, 0.5f, &style, ui, stack, &detonateId).clicked) {
        state->detonatedMask |= 1ull << state->selected;
    }

    i32 bang = assetByName(ui, "bang.png");
    i32 selectedArrow = assetByName(ui, "yellow_arrow_head_96_3_circles.png");
    i32 arrow = assetByName(ui, "yellow_arrow_head_96.png");
    for (u32 k = 0; k < 5; k++) {
        DuvevMarker* marker = &state->markers[k];
        Vec2F32 corners[4];
        markerShape(marker, unit, corners);
        u32 pressMask = 0, currentMask = 0;
        for (i32 p = 0; p < kPointerSlots; p++) {
            const PointerSlot* slot = &platform->pointers[p];
            if (pointInPolygonF32(Vec2F32{slot->pressX, slot->pressY}, corners, 4)) pressMask |= 1u << p;
            if (pointInPolygonF32(Vec2F32{slot->x, slot->y}, corners, 4)) currentMask |= 1u << p;
        }
        WidgetId id{(81u << 8) | k, __FILE__};
        PointerHit hit = trackPointerPresses(pressMask, currentMask, 1, stack, &id);
        for (i32 p = 0; p < kPointerSlots; p++) {
            if (hit.pointerFlags[p] & PointerFlagClaimed) state->selected = k;
        }
        bool detonated = (state->detonatedMask >> k) & 1;
        i32 image = detonated ? bang : k == state->selected ? selectedArrow : arrow;
        if (image >= 0) {
            drawIconAt(Vec2F32{marker->x, marker->y}, 0.5f, AnchorCentre, marker->heading, 2 * unit, content,
                       ImageKindAsset, (u32)image, &ui->batches.textured2d, ui);
        }
    }

    WidgetId areaId{112, __FILE__};
    PointerHit area = rectHitTest(&content, 0, stack, &areaId);
    if (area.down && area.primaryPointer >= 0 && !((state->detonatedMask >> state->selected) & 1)) {
        const PointerSlot* slot = &platform->pointers[area.primaryPointer];
        followPointer(&state->markers[state->selected], slot->x, slot->y, dt);
    }

    u8 bytes[200];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    appendFixedString(formatInt("Left:\t@\n", platform->screenInsetLeft), &writer);
    appendFixedString(formatInt("Right:\t@\n", platform->screenInsetRight), &writer);
    appendFixedString(formatInt("Bottom:\t@\n", platform->screenInsetBottom), &writer);
    appendFixedString(formatInt("Top:\t@\n", platform->screenInsetTop), &writer);
    TextStyle textStyle{kTextWhite, kNoOutline, kSelectionOrange, 0.5f * baseTextSize(ui), 0, 0};
    i64 length = writer.length < writer.capacity ? writer.length : writer.capacity;
    drawTextChecked(ui, TextSlice{bytes, length}, AnchorTopLeft, Vec2F32{content.x0, content.y1}, 0.4f, content,
                    textStyle);
}
