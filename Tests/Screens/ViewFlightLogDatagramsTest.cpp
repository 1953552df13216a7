// Recorded datagrams in the View Flight Log screen's entries list, in real frames on llvmpipe: the
// rows of received datagrams are white and those of sent ones light grey, and the selected row's
// background reaches down over the field lines of its message, not only over its bytes.
#include <cstring>

#include "Mavlink/Mavlink.h"
#include "ScreenTestSupport.h"
#include "Screens/ChildScreens.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "FlightLogReplay/FlightLogTestLogs.h"

namespace {

using flightlogtest::Entry;
using flightlogtest::IndexedLog;

constexpr i64 kStart = 1765100000000;  // Unix ms
constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;

std::vector<u8> frameOf(u32 id, std::vector<u8> payload, u16 source) {
    u8 buffer[300];
    u8 sequence = 0;
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, source, id, 0);
    appendBytes(payload.data(), (i64)payload.size(), &writer);
    finishMavlinkPacket(&mark, &writer);
    return std::vector<u8>(buffer, buffer + writer.length);
}

struct DatagramRows : ::testing::Test {
    ScreensHarness harness{};
    bool started = false;
    IndexedLog log;

    void SetUp() override {
        std::vector<u8> garbage(20, 0x42);
        std::vector<Entry> entries{
            {7, kStart, std::vector<u8>{0, 0, 3, 0}},
            {3, kStart + 100, frameOf(MavlinkCommandLong, std::vector<u8>(33, 0), 0xFFBE)},  // sent
            {1, kStart + 200, garbage},                                                    // no frame at all
            {5, kStart + 300, frameOf(MavlinkHeartbeat, std::vector<u8>(9, 0), 0xFFBE)},   // withheld
            {1, kStart + 400, frameOf(MavlinkHeartbeat, std::vector<u8>(9, 3), 0x0101)},   // received
        };
        for (i64 i = 1; i <= 40; i++) entries.push_back({10, kStart + 400 + 100 * i, std::vector<u8>(36, (u8)i)});
        ASSERT_TRUE(started = startScreensHarness(&harness, kWidth, kHeight));
        ASSERT_NO_FATAL_FAILURE(log.build(entries));
        harness.app->flightLogList.index = log.index;
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[1] = viewFlightLogScreen;
        stack->depth = 2;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
    }
    void TearDown() override {
        if (started) stopScreensHarness(&harness);
    }
    ViewFlightLogState* state() { return (ViewFlightLogState*)harness.app->screenStack.screenState; }
    // The colour (0xBBGGRR) of the list at a height inside entry row i, right of any row text;
    // `below` text units further down.
    u32 rowColour(i64 entry, f32 below = 0) {
        f32 y = mapViewWindowY(&state()->entriesView, -(f64)entry - 0.5) - below * harness.app->uiMetrics.textHeight;
        return harnessPixel(&harness.render, (i32)(kWidth * 0.8f), (i32)y) & 0xFFFFFF;
    }
};

TEST_F(DatagramRows, ReceivedRowsAreWhiteSentRowsGreyAndTheSelectedMessageShowsItsFieldLines) {
    frames(&harness);
    ASSERT_EQ(state()->isInitialised, 1u);
    state()->openPanel = ViewerPanelEntries;
    state()->jumpToCursor = 1;
    frames(&harness, 2);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_datagram_rows.png").c_str());
    EXPECT_EQ(rowColour(1), 0xEEEEEEu);  // sent to the drone
    EXPECT_EQ(rowColour(2), 0xFFFFFFu);  // received, though nothing in it decodes
    EXPECT_EQ(rowColour(3), 0xAAAAAAu);  // withheld: not decoded
    EXPECT_EQ(rowColour(4), 0xFFFFFFu);
    EXPECT_EQ(rowColour(5), 0xAAAAAAu);

    // Selected, the HEARTBEAT's six field lines and its bytes open under it, on its own background.
    state()->selectedEntry = 4;
    frames(&harness, 2);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_datagram_details.png").c_str());
    EXPECT_EQ(state()->selectedEntry, 4);
    // Its bytes alone would end the details a line under the row.
    EXPECT_EQ(rowColour(4, 5.5f), 0xFFFFFFu);
}

}  // namespace
