// The widget core without a GL context: pointer claiming, clicks, holds and drags, hit tests,
// rectangle placement and the image drawn into a rectangle.
#include <gtest/gtest.h>

#include <cmath>

#include "Platform/SdlWindow.h"
#include "UiTestSupport.h"

namespace {

class WidgetCoreTest : public ::testing::Test {
protected:
    void SetUp() override { bench = makeWidgetBench(); }
    void TearDown() override { freeWidgetBench(bench); }
    PointerHit hitA() {
        WidgetId id{1, "a"};
        return rectHitTest(&rectA, 0, bench->stack, &id);
    }
    WidgetBench* bench = nullptr;
    Rect rectA{100, 200, 100, 200};
};

TEST_F(WidgetCoreTest, ClickIsAQuickReleaseInsideWithinTheDragThreshold) {
    benchPress(bench, 0, 150, 150);
    PointerHit hit = hitA();
    EXPECT_EQ(hit.pointerFlags[0], 7u);  // pressed, recent, claimed
    EXPECT_EQ(hit.primaryPointer, 0);
    endBenchFrame(bench, 249999);
    benchRelease(bench, 0);
    hit = hitA();
    EXPECT_EQ(hit.clicked, 1u);
    EXPECT_EQ(hit.pointerFlags[0], 96u);
    endBenchFrame(bench);
    // Ownership ends with the frame of the release.
    EXPECT_TRUE(isNoWidget(bench->stack->pointerRecords[0].owner));
}

TEST_F(WidgetCoreTest, HoldIsReportedOnceAndItsReleaseIsNoClick) {
    benchPress(bench, 0, 150, 150);
    hitA();
    endBenchFrame(bench, 250000);
    PointerHit hit = hitA();
    EXPECT_EQ(hit.pointerFlags[0], 25u);
    endBenchFrame(bench);
    hit = hitA();
    EXPECT_EQ(hit.pointerFlags[0], 9u);
    endBenchFrame(bench);
    benchRelease(bench, 0);
    hit = hitA();
    EXPECT_EQ(hit.clicked, 0u);
    EXPECT_EQ(hit.pointerFlags[0], 32u);
}

TEST_F(WidgetCoreTest, DragToTheThresholdIsNoClickAndThePointerStaysClaimed) {
    EXPECT_NEAR(std::sqrt(bench->stack->dragThresholdSquared), 62.4, 1e-4);
    bench->stack->dragThresholdSquared = 60.0 * 60.0;
    f32 threshold = 60;
    benchPress(bench, 0, 110, 150);
    hitA();
    endBenchFrame(bench);
    // Out of the widget and back: still owned, still pressed.
    benchMove(bench, 0, 400, 150);
    PointerHit hit = hitA();
    EXPECT_EQ(hit.down, 1u);
    WidgetId other{2, "b"};
    Rect elsewhere{300, 500, 100, 200};
    EXPECT_EQ(rectHitTest(&elsewhere, 0, bench->stack, &other).pointerMask, 0u);
    endBenchFrame(bench);
    benchMove(bench, 0, 110 + threshold, 150);
    benchRelease(bench, 0);
    hit = hitA();
    EXPECT_EQ(hit.clicked, 0u);
    EXPECT_EQ(hit.pointerFlags[0], 32u);
}

TEST_F(WidgetCoreTest, PressOutsideThatSlidesInNeitherPressesNorClicks) {
    benchPress(bench, 0, 50, 150);
    hitA();
    endBenchFrame(bench);
    benchMove(bench, 0, 150, 150);
    PointerHit hit = hitA();
    EXPECT_EQ(hit.pointerMask, 0u);
    endBenchFrame(bench);
    benchRelease(bench, 0);
    EXPECT_EQ(hitA().clicked, 0u);
}

TEST_F(WidgetCoreTest, FirstOfOverlappingWidgetsOwnsThePress) {
    benchPress(bench, 0, 150, 150);
    WidgetId first{1, "first"}, second{2, "second"};
    EXPECT_EQ(rectHitTest(&rectA, 0, bench->stack, &first).pointerMask, 1u);
    EXPECT_EQ(rectHitTest(&rectA, 0, bench->stack, &second).pointerMask, 0u);
}

TEST_F(WidgetCoreTest, TwoPointersOnOneWidgetAndThePrimaryOne) {
    benchPress(bench, 0, 150, 150);
    benchPress(bench, 1, 160, 160);
    PointerHit hit = hitA();
    EXPECT_EQ(hit.pointerMask, 3u);
    EXPECT_EQ(hit.primaryPointer, 0);  // equal press times: the lower slot
    endBenchFrame(bench);
    benchRelease(bench, 0);
    endBenchFrame(bench);
    benchPress(bench, 0, 150, 150);  // pressed later than the touch
    hit = hitA();
    EXPECT_EQ(hit.pointerMask, 3u);
    EXPECT_EQ(hit.primaryPointer, 1);
}

TEST_F(WidgetCoreTest, HoverGoesToTheFirstWidgetAndOpaqueOnesBlockUnblockedHover) {
    bench->pointers[0].state = PointerPresent;
    bench->pointers[0].x = bench->pointers[0].y = 150;
    WidgetId a{1, "a"}, b{2, "b"}, c{3, "c"};
    PointerHit first = rectHitTest(&rectA, 1, bench->stack, &b);
    EXPECT_EQ(first.hovered, 1u);
    EXPECT_EQ(first.hoverUnblocked, 1u);
    PointerHit second = rectHitTest(&rectA, 0, bench->stack, &a);
    EXPECT_EQ(second.hovered, 0u);
    EXPECT_EQ(second.hoverUnblocked, 0u);
    endBenchFrame(bench);
    PointerHit third = rectHitTest(&rectA, 0, bench->stack, &c);
    EXPECT_EQ(third.hovered, 1u);
}

TEST_F(WidgetCoreTest, ResetPointerDragsHandsAHeldPointerOn) {
    benchPress(bench, 0, 150, 150);
    hitA();
    endBenchFrame(bench, 300000);
    PointerHit hit = hitA();
    ASSERT_TRUE(hit.pointerFlags[0] & PointerFlagHeld);
    resetPointerDrags(bench->stack, &hit);
    WidgetId beneath{9, "beneath"};
    PointerHit taken = rectHitTest(&rectA, 0, bench->stack, &beneath);
    EXPECT_EQ(taken.pointerMask, 1u);
    EXPECT_TRUE(taken.pointerFlags[0] & PointerFlagClaimed);
}

TEST_F(WidgetCoreTest, CircleHitTestUsesTheClippedSegment) {
    Rect crop{0, 1000, 0, 1000};
    SegmentF32 segment{100, 100, 300, 100};
    benchPress(bench, 0, 200, 108);
    benchPress(bench, 1, 200, 120);
    WidgetId id{1, "line"};
    PointerHit hit = circleHitTest(segment, 10, &crop, 0, bench->stack, &id);
    EXPECT_EQ(hit.pointerMask, 1u);
    Rect away{500, 600, 500, 600};
    WidgetId other{2, "other"};
    benchPress(bench, 2, 550, 550);
    EXPECT_EQ(circleHitTest(segment, 1000, &away, 0, bench->stack, &other).pointerMask, 0u);
}

TEST_F(WidgetCoreTest, ButtonPressedWhileDownAndClickedOnRelease) {
    ButtonStyle style{};
    style.fill = kKeyGrey;
    style.pressedFill = kPressedGrey;
    WidgetId id{5, "button"};
    benchPress(bench, 0, 150, 150);
    ButtonResult result = button(makeString("OK"), &rectA, &rectA, 0.5f, &style, bench->ui, bench->stack, &id);
    EXPECT_EQ(result.pressed, 1u);
    EXPECT_EQ(result.clicked, 0u);
    EXPECT_EQ(bench->ui->batches.coloredRect.triangleCount, 2);
    endBenchFrame(bench);
    benchRelease(bench, 0);
    result = button(makeString("OK"), &rectA, &rectA, 0.5f, &style, bench->ui, bench->stack, &id);
    EXPECT_EQ(result.clicked, 1u);
    EXPECT_EQ(result.pressed, 0u);
}

// Through SDL's own queue a press and its release are timed when the frames read them: a click whose
// press was seen at once and whose release is read by a frame 400 ms later is still a click.
TEST_F(WidgetCoreTest, QuickClickSeenAgainOnlyAfterASlowFrameIsAClick) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
    WindowHead head{};
    Platform* platform = (Platform*)std::calloc(1, sizeof(Platform));
    head.clientHeight = 720;
    bench->stack->pointers = platform->pointers;
    PointerHit hits[2]{};
    for (i32 frame = 0; frame < 2; frame++) {
        SDL_Event event{};
        event.type = frame == 0 ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.button = SDL_BUTTON_LEFT;
        event.button.x = 150;
        event.button.y = 720 - 1 - 150;
        EXPECT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
        handleWaitingWindowEvents(&head, platform);
        prepareFrameInputs(&head, platform, head.clientHeight);
        bench->stack->now = platform->pointers[0].pressTime + (frame == 0 ? 1000 : 400000);
        hits[frame] = hitA();
        resetInputStates(bench->stack, platform->pointers, 0);
        finishFrameInputs(&head, platform);
    }
    EXPECT_EQ(hits[0].pointerFlags[0], 7u);  // pressed, recent, claimed
    EXPECT_EQ(hits[1].clicked, 1u);
    EXPECT_EQ(hits[1].pointerFlags[0], 96u);
    std::free(platform);
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

TEST(AnchorRects, AlignAndFit) {
    Rect area{0, 100, 0, 50};
    Rect box = alignRect(10, 10, 8, &area);
    EXPECT_FLOAT_EQ(box.x0, 45);
    EXPECT_FLOAT_EQ(box.x1, 55);
    EXPECT_FLOAT_EQ(box.y0, 20);
    EXPECT_FLOAT_EQ(box.y1, 30);
    box = alignRect(10, 10, 6, &area);
    EXPECT_FLOAT_EQ(box.x0, 90);
    EXPECT_FLOAT_EQ(box.y0, 40);
    box = alignRect(-10, 10, 2, &area);  // a negative size flips
    EXPECT_FLOAT_EQ(box.x0, -10);
    EXPECT_FLOAT_EQ(box.x1, 0);
    Rect square{0, 100, 0, 100};
    box = fitRect(2, 1, 8, &square);
    EXPECT_FLOAT_EQ(box.x0, 0);
    EXPECT_FLOAT_EQ(box.x1, 100);
    EXPECT_FLOAT_EQ(box.y0, 25);
    EXPECT_FLOAT_EQ(box.y1, 75);
    box = fitRect(1, 2, 2, &square);
    EXPECT_FLOAT_EQ(box.x0, 0);
    EXPECT_FLOAT_EQ(box.x1, 50);
    box = fitRect(1, 2, 0, &square);
    EXPECT_FLOAT_EQ(box.x0, 50);
    // An empty image has no aspect: an empty rectangle, not a division by zero.
    box = fitRect(0, 0, 8, &square);
    EXPECT_EQ(box.x0, 0);
    EXPECT_EQ(box.x1, 0);
    EXPECT_EQ(box.y1, 0);
    box = fitRect(10, 0, 8, &square);
    EXPECT_EQ(box.x1, 0);
}

TEST_F(WidgetCoreTest, IconInRectDrawsFittedAndCroppedAndNothingForEmptyImages) {
    static u8 pixels[4 * 4 * 2];
    i32 id = allocImageSlot(pixels, 4, 2, 4, &bench->ui->imageSlots);
    ASSERT_GT(id, 0);
    Rect rect{0, 100, 0, 100};
    Rect crop{0, 100, 0, 60};
    Textured2dBatch* batch = &bench->ui->batches.textured2d;
    Rect drawn = drawIconInRect(&rect, &crop, 0.5f, 8, IconKindSlot, id, batch, bench->ui);
    EXPECT_FLOAT_EQ(drawn.y0, 25);
    EXPECT_FLOAT_EQ(drawn.y1, 60);
    EXPECT_EQ(batch->triangleCount, 2);
    EXPECT_EQ(batch->textureKey[kTextured2dTriangles - 1], id * 2 + 1);
    // The crop cuts the texture: the top edge of the image (v = 0) at the top of the box, which the crop removed.
    const Textured2dVertex& topLeft = batch->vertices[3 * kTextured2dTriangles - 3];
    EXPECT_NEAR(topLeft.v, 15.0f / 50.0f, 1e-5f);
    Rect disjoint{200, 300, 200, 300};
    drawn = drawIconInRect(&rect, &disjoint, 0.5f, 8, IconKindSlot, id, batch, bench->ui);
    EXPECT_EQ(drawn.x0, 0);
    EXPECT_EQ(drawn.x1, 0);
    EXPECT_EQ(batch->triangleCount, 2);
    // An asset not loaded yet (0 by 0) draws nothing and gives an empty rectangle.
    drawn = drawIconInRect(&rect, &rect, 0.5f, 8, IconKindAsset, 3, batch, bench->ui);
    EXPECT_EQ(drawn.x1, 0);
    EXPECT_EQ(batch->triangleCount, 2);
    drawn = drawIconInRect(&rect, &rect, 0.5f, 8, 7, 0, batch, bench->ui);
    EXPECT_FLOAT_EQ(drawn.x1, 100);  // another kind: the square fit, nothing drawn
    EXPECT_EQ(batch->triangleCount, 2);
}

}  // namespace
