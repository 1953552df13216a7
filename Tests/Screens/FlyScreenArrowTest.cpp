// The drone's arrow on the fly screen's map, read back from real frames at 1920 x 1080 on llvmpipe:
// pitched or rolled at any heading it stays symmetric about its own forward axis, as it is flying
// east or west.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "Core/MathEarth.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "ScreenTestSupport.h"

namespace {

constexpr f64 kLatitude = 47.397742;
constexpr f64 kLongitude = 8.545594;
constexpr f64 kDegree = M_PI / 180;

// The arrow's red pixels around a window point, as a square mask (window y up).
struct ArrowMask {
    i32 half = 0;
    std::vector<u8> red;
    i32 count = 0;
    u8 at(i32 dx, i32 dy) const {
        if (dx < -half || dx >= half || dy < -half || dy >= half) return 0;
        return red[(size_t)(dy + half) * (size_t)(2 * half) + (size_t)(dx + half)];
    }
};

ArrowMask readArrow(RenderHarness* render, Vec2F32 centre, i32 half) {
    std::vector<u8> rgba((size_t)render->width * render->height * 4);
    readHarnessPixels(render, rgba.data());
    ArrowMask mask;
    mask.half = half;
    mask.red.assign((size_t)(4 * half * half), 0);
    i32 cx = (i32)std::lround(centre.x), cy = (i32)std::lround(centre.y);
    for (i32 dy = -half; dy < half; dy++) {
        for (i32 dx = -half; dx < half; dx++) {
            i32 x = cx + dx, y = cy + dy;
            const u8* p = &rgba[((size_t)(render->height - 1 - y) * render->width + x) * 4];
            u8 red = p[0] > p[1] + 60 && p[0] > p[2] + 60;
            mask.red[(size_t)(dy + half) * (size_t)(2 * half) + (size_t)(dx + half)] = red;
            mask.count += red;
        }
    }
    return mask;
}

// Pixels of `a` whose mirror image about the line through the centre along (fx, fy) is not red in
// `b`, as a share of a's pixels. Pixel centres sit half a pixel off the centre, so a mirror about
// an axis at a multiple of 45 degrees lands on pixel centres again.
f64 mirrorMismatch(const ArrowMask& a, const ArrowMask& b, f64 fx, f64 fy) {
    i32 missing = 0;
    for (i32 dy = -a.half; dy < a.half; dy++) {
        for (i32 dx = -a.half; dx < a.half; dx++) {
            if (!a.at(dx, dy)) continue;
            f64 px = dx + 0.5, py = dy + 0.5;
            f64 along = px * fx + py * fy;
            f64 mx = 2 * along * fx - px, my = 2 * along * fy - py;
            i32 ix = (i32)std::floor(mx), iy = (i32)std::floor(my);
            // One pixel of give for the edges' antialiasing.
            bool found = false;
            for (i32 oy = -1; oy <= 1 && !found; oy++) {
                for (i32 ox = -1; ox <= 1 && !found; ox++) found = b.at(ix + ox, iy + oy) != 0;
            }
            missing += !found;
        }
    }
    return a.count ? (f64)missing / a.count : 1.0;
}

class FlyScreenArrowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreensHarness(&harness, 1920, 1080));
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = flyScreen;
        clearScreenScratch(stack);
        harness.app->preferences.minimapCorner = MinimapBottomRight;
        moveMouseAway(&harness);
        VehicleState* v = &harness.app->droneConnection.vehicle;
        v->globalPosition = GlobalPosition{harness.render.now, kLongitude, kLatitude, 30, 530};
        v->home = StoredPosition{harness.render.now, kLongitude, kLatitude, 500};
        v->lastHeardTime = harness.render.now;
        frames(&harness, 3);
    }
    void TearDown() override { stopScreensHarness(&harness); }

    ArrowMask drawn(f64 headingDegrees, f64 pitchDegrees, f64 rollDegrees) {
        VehicleState* v = &harness.app->droneConnection.vehicle;
        v->yaw = (f32)(headingDegrees * kDegree);
        v->pitch = (f32)(pitchDegrees * kDegree);
        v->roll = (f32)(rollDegrees * kDegree);
        v->lastHeardTime = harness.render.now;
        frames(&harness, 2);
        FlyScreenState* state = (FlyScreenState*)harness.app->screenStack.screenState;
        GeoPoint geo{kLongitude, kLatitude};
        Vec2 point;
        latLngToMercator(&point, &geo);
        Vec2F32 centre = mapPointToScreen(&state->mapView, point);
        return readArrow(&harness.render, centre, (i32)(2 * harness.app->uiMetrics.buttonTextHeight));
    }

    ScreensHarness harness{};
};

// Pitched ±15° and rolled ±15° at every heading from 0° to 315° by 45°: each drawing is its own
// mirror image about its forward axis (it used to be a clean chevron only flying east or west and a
// skewed triangle at the other headings), and the two rolls are each other's mirror images.
TEST_F(FlyScreenArrowTest, PitchAndRollTurnTheArrowAboutItsOwnAxesAtEveryHeading) {
    for (i32 heading = 0; heading < 360; heading += 45) {
        // Forward on the screen: north turned clockwise by the heading (window y up).
        f64 fx = std::sin(heading * kDegree), fy = std::cos(heading * kDegree);
        ArrowMask level = drawn(heading, 0, 0);
        ASSERT_GT(level.count, 100) << heading;
        EXPECT_LT(mirrorMismatch(level, level, fx, fy), 0.03) << "heading " << heading << " level";
        for (f64 pitch : {-15.0, 15.0}) {
            ArrowMask pitched = drawn(heading, pitch, 0);
            EXPECT_GT(pitched.count, level.count / 2) << heading << " pitch " << pitch;
            EXPECT_LT(mirrorMismatch(pitched, pitched, fx, fy), 0.03) << "heading " << heading << " pitch " << pitch;
        }
        ArrowMask right = drawn(heading, 0, 15);
        ArrowMask left = drawn(heading, 0, -15);
        EXPECT_LT(mirrorMismatch(right, right, fx, fy), 0.06) << "heading " << heading << " roll 15";
        EXPECT_LT(mirrorMismatch(left, left, fx, fy), 0.06) << "heading " << heading << " roll -15";
        EXPECT_LT(mirrorMismatch(right, left, fx, fy), 0.03) << "heading " << heading << " rolls";
        EXPECT_LT(mirrorMismatch(left, right, fx, fy), 0.03) << "heading " << heading << " rolls";
        if (heading == 45) writeHarnessPng(&harness.render, outputPath("fly_screen_arrow_rolled.png").c_str());
    }
}

}  // namespace
