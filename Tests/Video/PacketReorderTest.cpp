// The reorder window over arrival orders a network produces: swaps are put back in place, gaps are
// given up on when the window fills or a held packet has waited 20 ms, late packets and duplicates
// are dropped, and backward steps never count as 65,535 lost packets.
#include <gtest/gtest.h>

#include "Video/PacketReorder.h"

namespace {

struct Arrival {
    u16 sequence;
    i64 time;
};

struct Delivered {
    u16 sequence;
    u32 skipped;
    bool operator==(const Delivered&) const = default;
};

struct ReorderCase {
    const char* name;
    std::vector<Arrival> arrivals;
    i64 expireAt;  // after the arrivals
    std::vector<Delivered> delivered;
    int late;
};

const ReorderCase kCases[] = {
    {"InOrderAcrossTheWrap", {{65534, 0}, {65535, 0}, {0, 0}, {1, 0}}, 0, {{65534, 0}, {65535, 0}, {0, 0}, {1, 0}}, 0},
    {"SwapsPutBackInPlace", {{1, 0}, {3, 0}, {2, 0}, {5, 0}, {4, 0}, {65535 - 9, 0}}, 0,
     {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}, 1},
    {"GapGivenUpWhenTheWindowIsFull", {{1, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 0}, {10, 0}, {2, 0}},
     0, {{1, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 0}, {10, 0}}, 1},
    {"GapGivenUpAfterTwentyMilliseconds", {{1, 0}, {4, 1000}, {3, 2000}}, 21000, {{1, 0}, {3, 1}, {4, 0}}, 0},
    {"HeldPacketsWaitLessThanTwentyMilliseconds", {{1, 0}, {3, 1000}}, 20999, {{1, 0}}, 0},
    {"DuplicatesAreDropped", {{1, 0}, {2, 0}, {2, 0}, {4, 0}, {4, 0}, {3, 0}}, 0, {{1, 0}, {2, 0}, {3, 0}, {4, 0}}, 2},
    {"StepBackIsLateNotALoss", {{100, 0}, {101, 0}, {50, 0}, {102, 0}}, 0, {{100, 0}, {101, 0}, {102, 0}}, 1},
    {"SenderNumbersAfreshBehind", {{1000, 0}, {1001, 0}, {10, 0}, {11, 0}, {12, 0}}, 0,
     {{1000, 0}, {1001, 0}, {11, 0}, {12, 0}}, 1},
    {"SenderNumbersAfreshAhead", {{1, 0}, {2, 0}, {10000, 0}, {10001, 0}}, 0, {{1, 0}, {2, 0}, {10000, 0}, {10001, 0}}, 0},
    // The packets just before it may still come: it waits its time, then the whole gap is lost.
    {"LongGapCountsItsLoss", {{1, 0}, {2, 0}, {1000, 0}}, 20000, {{1, 0}, {2, 0}, {1000, 997}}, 0},
};

class PacketReorder : public ::testing::TestWithParam<ReorderCase> {};

TEST_P(PacketReorder, DeliversInOrderAndCountsGapsAndLatePackets) {
    const ReorderCase& c = GetParam();
    auto window = std::make_unique<PacketReorderWindow>();
    std::vector<Delivered> delivered;
    auto deliver = [](void* context, u8* packet, i64 length, u16 sequence, u32 skipped) {
        // The packet's bytes travel with it.
        EXPECT_EQ(length, 2);
        EXPECT_EQ(packet[0] << 8 | packet[1], sequence);
        ((std::vector<Delivered>*)context)->push_back({sequence, skipped});
    };
    int late = 0;
    for (Arrival a : c.arrivals) {
        u8 packet[2] = {(u8)(a.sequence >> 8), (u8)a.sequence};
        late += admitReorderPacket(window.get(), packet, 2, a.sequence, a.time, deliver, &delivered) == ReorderLate;
    }
    expireReorderWindow(window.get(), c.expireAt, deliver, &delivered);
    EXPECT_EQ(delivered, c.delivered);
    EXPECT_EQ(late, c.late);
}

INSTANTIATE_TEST_SUITE_P(Arrivals, PacketReorder, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PacketReorderFlush, StreamEndDeliversWhatIsHeldAndTheNextPacketStartsAfresh) {
    auto window = std::make_unique<PacketReorderWindow>();
    std::vector<u16> delivered;
    auto deliver = [](void* context, u8*, i64, u16 sequence, u32) { ((std::vector<u16>*)context)->push_back(sequence); };
    u8 packet[1] = {0};
    for (u16 s : {7, 9, 11}) admitReorderPacket(window.get(), packet, 1, s, 0, deliver, &delivered);
    flushReorderWindow(window.get(), deliver, &delivered);
    EXPECT_EQ(admitReorderPacket(window.get(), packet, 1, 3, 0, deliver, &delivered), ReorderDelivered);
    EXPECT_EQ(delivered, (std::vector<u16>{7, 9, 11, 3}));
}

}  // namespace
