// Cells of splitLayout, the scroll bar's thumb and the row layout of a list view.
#include <gtest/gtest.h>

#include "UiTestSupport.h"

namespace {

f32 lengthX(const Rect& r) { return r.x1 - r.x0; }

TEST(SplitLayout, FixedCellsAndWeights) {
    Rect area{0, 100, 0, 10};
    const f32 mixed[3] = {30, -1, -3};
    LayoutCells cells = splitLayout(LayoutAlongX, mixed, 3, 0, &area);
    EXPECT_FLOAT_EQ(lengthX(cells.cells[0]), 30);
    EXPECT_FLOAT_EQ(lengthX(cells.cells[1]), 17.5f);
    EXPECT_FLOAT_EQ(lengthX(cells.cells[2]), 52.5f);
    EXPECT_FLOAT_EQ(cells.cells[2].x1, 100);
    EXPECT_EQ(cells.cells[3].x1, 0);  // beyond the count: all zero

    const f32 spread[2] = {30, 30};
    cells = splitLayout(LayoutAlongX, spread, 2, 0, &area);
    EXPECT_FLOAT_EQ(cells.cells[1].x0, 70);
    EXPECT_FLOAT_EQ(cells.cells[1].x1, 100);

    const f32 tooLong[2] = {80, 80};
    cells = splitLayout(LayoutAlongX, tooLong, 2, 0, &area);
    EXPECT_FLOAT_EQ(lengthX(cells.cells[0]), 50);
    EXPECT_FLOAT_EQ(lengthX(cells.cells[1]), 50);

    const f32 fixedTooLongWithWeight[3] = {80, 80, -1};
    cells = splitLayout(LayoutAlongX, fixedTooLongWithWeight, 3, 0, &area);
    EXPECT_FLOAT_EQ(lengthX(cells.cells[0]), 50);
    EXPECT_FLOAT_EQ(lengthX(cells.cells[2]), 0);
}

TEST(SplitLayout, TopToBottomEqualCellsWithSpacingAndAtMostTwentyCells) {
    Rect area{0, 10, 0, 100};
    LayoutCells cells = splitLayout(LayoutAlongY, nullptr, 4, 4, &area);
    EXPECT_FLOAT_EQ(cells.cells[0].y1, 100);
    EXPECT_FLOAT_EQ(cells.cells[0].y0, 78);
    EXPECT_FLOAT_EQ(cells.cells[1].y1, 74);
    EXPECT_FLOAT_EQ(cells.cells[3].y0, 0);
    EXPECT_FLOAT_EQ(cells.cells[3].x1, 10);

    f32 sizes[25];
    for (f32& s : sizes) s = -1;
    Rect wide{0, 200, 0, 10};
    cells = splitLayout(LayoutAlongX, sizes, 25, 0, &wide);
    EXPECT_FLOAT_EQ(lengthX(cells.cells[19]), 10);
    EXPECT_FLOAT_EQ(cells.cells[19].x1, 200);
}

TEST(ScrollbarThumb, ProportionalMinimumAndEmptyRange) {
    Rect rect{0, 100, 0, 400};
    Rect thumb = scrollbarThumb(7, 3, &rect, -1000, 0, -400, 0);
    EXPECT_FLOAT_EQ(thumb.y0, 240);
    EXPECT_FLOAT_EQ(thumb.y1, 400);
    EXPECT_FLOAT_EQ(thumb.x0, 97);
    EXPECT_FLOAT_EQ(thumb.x1, 100);
    thumb = scrollbarThumb(3, 3, &rect, -100000, 0, -50000, -49999);
    EXPECT_FLOAT_EQ(thumb.y1 - thumb.y0, 6);
    EXPECT_FLOAT_EQ(thumb.x0, 0);
    // No content range: no thumb, and no division by zero.
    thumb = scrollbarThumb(7, 3, &rect, 0, 0, 0, 0);
    EXPECT_EQ(thumb.x1, 0);
    EXPECT_EQ(thumb.y1, 0);
    thumb = scrollbarThumb(1, 3, &rect, -1000, 0, -400, 0);  // not a side edge
    EXPECT_EQ(thumb.x1, 0);
}

TEST(ScrollbarThumb, EmptyViewDrawsNothing) {
    WidgetBench* bench = makeWidgetBench();
    MapView view = makeScrollView(WidgetId{1, "view"});
    view.rect = view.clipRect = Rect{0, 100, 0, 100};
    drawViewScrollbar(7, kSecondaryGrey, 0.71f, &view, bench->ui);
    EXPECT_EQ(bench->ui->batches.coloredRect.triangleCount, 0);
    freeWidgetBench(bench);
}

TEST(RowLayoutTest, RowsMoveTheCursorAndOnlyVisibleOnesDraw) {
    WidgetBench* bench = makeWidgetBench(1280, 720);
    Platform* platform = (Platform*)std::calloc(1, sizeof(Platform));
    MapView view = makeScrollView(WidgetId{1, "view"});
    Rect viewRect{100, 1100, 100, 600};
    beginMapView(&viewRect, platform, bench->ui, &view);
    EXPECT_FLOAT_EQ(view.textSize, 24);
    EXPECT_FLOAT_EQ(view.rowHeight, 76.8f);
    RowLayout layout = widgetRectFromLayout(1, 1, &view);
    EXPECT_FLOAT_EQ(layout.rowRect.y1, 600);
    EXPECT_NEAR(layout.rowRect.y0, 600 - 76.8f, 1e-3f);
    EXPECT_FLOAT_EQ(layout.titleRect.x0, 100 + 76.8f);
    EXPECT_NEAR(layout.sideRect.x0, 1100 - 0.66f * 76.8f, 1e-3f);
    FixedString title = makeString("Row");
    i32 visibleCount = 0;
    for (i32 i = 0; i < 20; i++) {
        RowResult row = buttonRow(&title, &title, 0, bench->stack, bench->ui, &view);
        visibleCount += row.visible;
    }
    EXPECT_EQ(visibleCount, 7);  // 500 pixels of 76.8-pixel rows, the seventh cut at the bottom
    EXPECT_NEAR(view.layoutCursor, -20 * 76.8, 1e-3);
    i32 lines = bench->ui->batches.line2d.triangleCount;
    // Three arrow strokes and a separator per visible row; the separator of the cut row lies below
    // the view and is clipped away.
    EXPECT_EQ(lines, 7 * 4 * 2 - 2);
    endMapView(bench->stack, bench->ui, &view);
    std::free(platform);
    freeWidgetBench(bench);
}

}  // namespace

namespace {

TEST(ChoiceRowTest, OpenedWithNoCurrentValueKeepsNoSelection) {
    WidgetBench* bench = makeWidgetBench(1280, 720);
    Platform* platform = (Platform*)std::calloc(1, sizeof(Platform));
    MapView view = makeScrollView(WidgetId{1, "view"});
    WidgetId choiceId{2, "choice"};
    view.openRowId = choiceId;
    view.rowJustOpened = 1;
    Rect viewRect{0, 1280, 0, 720};
    const FixedString options[2] = {makeString("One"), makeString("Two")};
    FixedString title = makeString("Choice"), none{};
    i32 selected = 5;
    for (i32 frame = 0; frame < 2; frame++) {
        beginMapView(&viewRect, platform, bench->ui, &view);
        ChoiceRowResult row = choiceRowBody(&title, &none, &none, -1, &selected, options, 2, 0, bench->stack, bench->ui,
                                            &view, &choiceId);
        EXPECT_TRUE(row.expanded);
        EXPECT_EQ(row.justOpened, frame == 0 ? 1u : 0u);
        EXPECT_EQ(selected, -1);
        EXPECT_FLOAT_EQ(row.optionHeight, 48);
        // The row and its two options with their padding and no note.
        EXPECT_NEAR(view.layoutCursor, -(76.8 + 2 * 48 + 24), 1e-3);
        endMapView(bench->stack, bench->ui, &view);
        endBenchFrame(bench);
    }
    std::free(platform);
    freeWidgetBench(bench);
}

}  // namespace
