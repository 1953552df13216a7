// The fly screen's video pass: the decoded picture as mini view, or as main view with the camera key
// pad and the flight HUD over it.
#include <cmath>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Platform/Platform.h"
#include "Screens/FlyScreenInternal.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"

namespace {

constexpr i32 kKeyCorners = 7;
constexpr f64 kPi = 3.14159265358979323846;

// One key's outline around the origin, pointing up (key 0): a pentagon-topped shield of seven corners,
// in lineHeight units, whose inner corners keep clear of the centre.
const f32 kKeyShape[kKeyCorners][2] = {{-1.1f, 0.6f}, {-1.1f, 2.2f}, {-0.6f, 2.9f}, {0.0f, 3.1f},
                                       {0.6f, 2.9f},  {1.1f, 2.2f},  {1.1f, 0.6f}};
// The vendor command each key asks for.
const u32 kKeyRequests[4] = {WorkswellRequestVendor1, WorkswellRequestVendor4, WorkswellRequestVendor2,
                             WorkswellRequestVendor3};

Vec2F32 turned(f32 x, f32 y, i32 quarterTurns) {
    for (i32 i = 0; i < quarterTurns; i++) {
        f32 t = x;
        x = -y;
        y = t;
    }
    return Vec2F32{x, y};
}

// The picture's aspect from its slot.
ImageSlot* pictureSlot(FlyScreenFrame* f) {
    return f->videoAvailable ? getImageSlot(&f->ui->imageSlots, (i32)f->videoImageSlot) : nullptr;
}

void drawPicture(FlyScreenFrame* f, const Rect* area, i32 anchor, f32 depth, Rect* drawn) {
    ImageSlot* slot = pictureSlot(f);
    if (!slot) return;
    Rect box = fitRect((f32)slot->width, (f32)slot->height, anchor, area);
    *drawn = box;
    drawIconInRect(&box, &f->window, depth, AnchorCentre, IconKindSlot, (i32)f->videoImageSlot,
                   &f->ui->batches.textured2dUnder, f->ui);
}

}  // namespace

void drawCameraKeyPad(FlyScreenFrame* f, Vec2F32 centre) {
    UiState* ui = f->ui;
    f32 unit = 0.8f * f->metrics->buttonTextHeight;
    WorkswellCameraState* camera = &f->app->droneConnection.workswellCamera;
    Rect padArea{centre.x - 3.2f * unit, centre.x + 3.2f * unit, centre.y - 3.2f * unit, centre.y + 3.2f * unit};
    for (i32 k = 0; k < 4; k++) {
        Vec2F32 corners[kKeyCorners];
        Rect box{1e9f, -1e9f, 1e9f, -1e9f};
        for (i32 i = 0; i < kKeyCorners; i++) {
            Vec2F32 p = turned(kKeyShape[i][0], kKeyShape[i][1], k);
            corners[i] = Vec2F32{centre.x + p.x * unit, centre.y + p.y * unit};
            box.x0 = std::fmin(box.x0, corners[i].x);
            box.x1 = std::fmax(box.x1, corners[i].x);
            box.y0 = std::fmin(box.y0, corners[i].y);
            box.y1 = std::fmax(box.y1, corners[i].y);
        }
        WidgetId first{2344 * 4 + (u64)k, "Screens/FlyScreen"};
        WidgetId second{2345 * 4 + (u64)k, "Screens/FlyScreen"};
        PointerHit a = rectHitTest(&box, 1, f->stack, &first);
        PointerHit b = rectHitTest(&box, 1, f->stack, &second);
        u32 flags = 0;
        for (i32 i = 0; i < kPointerSlots; i++) flags |= a.pointerFlags[i] | b.pointerFlags[i];
        Color fill = 0xFF000000;
        if (flags & PointerFlagReleased) {
            fill = 0xFF505050;
        } else if (flags & PointerFlagClaimed) {
            fill = 0xFF303030;
        }
        addConvexPolygon(corners, kKeyCorners, kKeyPadDepth, fill, &ui->batches.colored2d);
        Vec2F32 outerA = corners[1], outerB = corners[5];
        addLine(corners[0], outerA, kKeyPadDepth + 0.001f, f->window, 0xFFFFFFFF, 0.05f * unit, &ui->batches.line2d);
        addLine(corners[6], outerB, kKeyPadDepth + 0.001f, f->window, 0xFFFFFFFF, 0.05f * unit, &ui->batches.line2d);
        addRoundedRect(box, kKeyPadDepth - 0.001f, f->window, 0.04f * unit, 0.2f * unit, 0x00000000, 0xFF808080,
                       &ui->batches.coloredRectUnder, ui->halfWidth, ui->halfHeight);
        Vec2F32 label = turned(0, 1.9f * unit, k);
        Vec2F32 at{centre.x + label.x, centre.y + label.y};
        if (k == 0 || k == 2) {
            for (i32 line = -1; line <= 1; line++) {
                Vec2F32 p0 = turned(-0.5f * unit, line * 0.3f * unit, k);
                Vec2F32 p1 = turned(0.5f * unit, line * 0.3f * unit, k);
                addLine(Vec2F32{at.x + p0.x, at.y + p0.y}, Vec2F32{at.x + p1.x, at.y + p1.y}, kKeyPadDepth + 0.002f,
                        f->window, 0xFFFFFFFF, 0.08f * unit, &ui->batches.line2d);
            }
        } else {
            TextStyle style{kTextWhite, kNoOutline, kSelectionOrange, 0.45f * unit, 0, 0};
            drawTextAt(ui, makeString(k == 1 ? "CANCEL" : "ENTER"), AnchorCentre, at, kKeyPadDepth + 0.002f, f->window,
                       style);
        }
        if (a.clicked || b.clicked) camera->requests[kKeyRequests[k]] = 1;
    }
    WidgetId padId{2426, "Screens/FlyScreen"};
    rectHitTest(&padArea, 1, f->stack, &padId);
    (void)kPi;
}

void drawFlyVideoPass(FlyScreenFrame* f, u32 videoMain) {
    if (!f->videoAvailable) return;
    FlyScreenState* s = f->state;
    if (!videoMain) {
        Rect mini = flyMiniViewRect(f);
        u32 corner = f->app->preferences.minimapCorner;
        Rect drawn{};
        drawPicture(f, &mini, corner > 8 ? 0 : (i32)corner, kMiniViewDepth, &drawn);
        WidgetId id{2445, "Screens/FlyScreen"};
        PointerHit hit = rectHitTest(&mini, 1, f->stack, &id);
        if (hit.down) dragFlyMiniView(f, &hit);
        if (hit.clicked && !s->miniPointerMask) s->mapMinimized = 1;
        if (!hit.down) s->miniPointerMask = 0;
        return;
    }
    i32 anchor = (i32)((f->app->preferences.minimapCorner + 8 - 4) % 8);
    Rect drawn{};
    drawPicture(f, &f->window, anchor, kVideoDepth, &drawn);
    if (s->openPanel == FlyPanelKeyPad) {
        drawCameraKeyPad(f, Vec2F32{(drawn.x0 + drawn.x1) / 2, (drawn.y0 + drawn.y1) / 2});
    }
    const VideoStreamStats* stats = nullptr;
    if (f->app->preferences.videoStreamProtocol == VideoStreamQv) stats = &f->app->qvVideoStream.stats;
    if (f->app->preferences.videoStreamProtocol == VideoStreamRtsp) stats = &f->app->rtspVideoStream.stats;
    if (drawHud(&s->hudState, drawn, stats, f->metrics->buttonTextHeight, &f->app->droneConnection, &f->app->preferences,
                f->stack, f->ui)) {
        s->mapMinimized = 0;
    }
}
