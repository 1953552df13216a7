// The renderer's primitives inside a crop rectangle smaller than the screen, in a view that can be
// dragged and zoomed, so that cutting at the crop edges can be checked: a rounded rectangle of fixed
// size, a textured quad and two lines that scale with the view.
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Platform/Platform.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/Renderer/TexturedQuads.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr Color kCropGrey = 0xFF303030;
constexpr Color kRectYellow = 0xFF00DDFF;
constexpr Color kRectTeal = 0xFFCACC00;
constexpr Color kLineRed = 0xFF0000DD;
constexpr Color kLineBlue = 0xFFE36400;

Vec2F32 at(const MapView* view, f64 u, f64 v) { return Vec2F32{mapViewWindowX(view, u), mapViewWindowY(view, v)}; }

}  // namespace

void testClippingScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                        void* scratch) {
    (void)app;
    (void)result;
    ProfilingScope scope("Test Clipping Screen");
    setBackground(ui, kBlackBackground);
    TestClippingState* state = (TestClippingState*)scratch;
    MapView* view = &state->view;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeMapView(WidgetId{24, __FILE__}, MapViewModeMap);
    }
    Rect content = ui->screenRect;
    f32 w = content.x1 - content.x0, h = content.y1 - content.y0;
    Rect crop{content.x0 + 0.1f * w, content.x1 - 0.1f * w, content.y0 + 0.1f * h, content.y1 - 0.1f * h};
    addRoundedRect(crop, 0.1f, content, 0, 0, kCropGrey, kCropGrey, &ui->batches.coloredRect, ui->halfWidth,
                   ui->halfHeight);
    updateMapView(view, &crop, Box2{-10, 11, -10, 11}, ui, stack, platform, MapWheelScrolls);

    Vec2F32 corner = at(view, -2, -2);
    Rect rounded{corner.x, corner.x + 80, corner.y, corner.y + 70};
    addRoundedRect(rounded, 0.6f, crop, 5, 20, kRectYellow, kRectTeal, &ui->batches.coloredRect, ui->halfWidth,
                   ui->halfHeight);

    const ImageAsset* logo = &ui->assets[AssetLogo];
    if (logo->state == 2 && logo->image.width > 0) {
        u32 format = logo->image.channels == 3 ? ImageFormatRgb : ImageFormatRgba;
        addTexturedQuadClipped(ImageKindAsset, AssetLogo, format, (f32)logo->image.width, (f32)logo->image.height,
                               at(view, 0, 1), at(view, 0, 0), at(view, 1, 0), at(view, 1, 1), Vec2F32{0, 0},
                               Vec2F32{0, 1}, Vec2F32{1, 1}, Vec2F32{1, 0}, crop, 0.5f, ui->halfWidth, ui->halfHeight,
                               &ui->batches.textured2d, 0);
    }
    addLine(at(view, 0, 1), at(view, 1, 2), 0.4f, crop, kLineRed, 3, &ui->batches.line2d);
    addLine(at(view, 2, 1), at(view, 1, 0), 0.4f, crop, kLineBlue, 3, &ui->batches.line2d);
    MapTaps taps;
    handleMapPointers(&taps, view, stack);

    u8 bytes[1000];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    appendFixedString(formatInt("Left:\t@\n", platform->screenInsetLeft), &writer);
    appendFixedString(formatInt("Right:\t@\n", platform->screenInsetRight), &writer);
    appendFixedString(formatInt("Bottom:\t@\n", platform->screenInsetBottom), &writer);
    appendFixedString(formatInt("Top:\t@\n", platform->screenInsetTop), &writer);
    TextStyle textStyle{kTextWhite, kNoOutline, kSelectionOrange, 0.5f * baseTextSize(ui), 0, 0};
    i64 length = writer.length < writer.capacity ? writer.length : writer.capacity;
    drawTextChecked(ui, TextSlice{bytes, length}, AnchorTopLeft, Vec2F32{crop.x0, crop.y1}, 0.3f, crop, textStyle);
}
