// The drawing editor on a map, drawn for real on llvmpipe: with every pool slot in use (65,536 points
// and 65,536 segments, each segment drawn over its black outline, 131,072 segments in all, and each
// point's disc while editing) the last segment and the last point are drawn.
#include <gtest/gtest.h>

#include <cstdlib>

#include "KmzEditor/KmzEditorDrawing.h"
#include "UiTestSupport.h"

namespace {

constexpr i32 kWidth = 640, kHeight = 320;
constexpr f64 kPixelsPerUnit = 1e6;

struct Drawing {
    KmzEditor editor;
    MapView view;
};
Drawing* drawing = nullptr;

void drawingScreen(Platform*, ScreenStack* stack, UiState* ui, AppState*, ScreenResult*, void*) {
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 255;
    updateKmzEditor(&drawing->editor, 0.5f, 1, &drawing->view, ui, stack, 24);
}

Vec2 mapAt(f64 x, f64 y) { return Vec2{(x - kWidth / 2) / kPixelsPerUnit, (y - kHeight / 2) / kPixelsPerUnit}; }

TEST(KmzEditorDrawing, EverySegmentAndDiscOfAFullPoolIsDrawn) {
    drawing = (Drawing*)std::calloc(1, sizeof(Drawing));
    KmzEditor* editor = &drawing->editor;
    // Points 0 .. 65,534 go back and forth over a patch on the left; point 65,535 stands alone on the
    // right. Segment i joins point i to point i + 1, the last one point 65,535 back to point 0.
    for (u32 i = 0; i < kKmzPoolSlots; i++) {
        u32 row = i / 256, column = row % 2 ? 255 - i % 256 : i % 256;
        Vec2 at = i + 1 < kKmzPoolSlots ? mapAt(40 + column * 1.0, 170 + row * 0.5) : mapAt(600, 60);
        editor->points[i] = KmzPoint{at.x, at.y};
        editor->pointColor[i] = i + 1 < kKmzPoolSlots ? KmzRed : KmzAqua;
        editor->lines[i] = KmzLine{i, (i + 1) % kKmzPoolSlots, i + 1 < kKmzPoolSlots ? (u32)KmzRed : (u32)KmzBlue};
    }
    for (u32 w = 0; w < kKmzPoolWords; w++) editor->pointUsed[w] = editor->lineUsed[w] = ~0ull;
    editor->lineEnd = -1;
    MapView* view = &drawing->view;
    *view = makeMapView(WidgetId{1, "drawing"}, MapViewModeMap);
    view->rect = view->clipRect = Rect{0, kWidth, 0, kHeight};
    view->rectCentreX = kWidth / 2.0f;
    view->rectCentreY = kHeight / 2.0f;
    view->pixelsPerUnit = kPixelsPerUnit;

    ScreenHarness harness{};
    ASSERT_TRUE(startScreenHarness(&harness, kWidth, kHeight, drawingScreen));
    screenFrame(&harness, 2);
    auto pixel = [&](f32 x, f32 y) { return harnessPixel(&harness.render, (i32)x, (i32)y); };
    // The last segment, blue, from the lone point back to point 0 at the patch's corner; the one
    // before it, red, from the patch's last point to the lone point.
    u32 last = pixel((600 + 40) / 2.0f, (60 + 170) / 2.0f);
    EXPECT_EQ(last & 0xFFFFFF, 0xE36400u) << std::hex << last;
    // (the patch's last point is (41, 297.5); three quarters of the way to (600, 60))
    u32 before = pixel(41 + 0.75f * (600 - 41), 297.5f + 0.75f * (60 - 297.5f));
    EXPECT_EQ(before & 0xFFFFFF, 0x0000DDu) << std::hex << before;
    // The lone point's disc, aqua over both segments' ends.
    EXPECT_EQ(pixel(600, 60) & 0xFFFFFF, 0xCACC00u) << std::hex << pixel(600, 60);
    writeHarnessPng(&harness.render, testOutputPath("kmz_editor_full_pool.png"));
    stopScreenHarness(&harness);
    std::free(drawing);
    drawing = nullptr;
}

}  // namespace
