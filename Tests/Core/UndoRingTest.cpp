#include "Core/Undo.h"

#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Payloads carry a serial number and a byte pattern derived from it, so that a record that was
// overwritten or cut shows.
void fillPayload(u8* payload, u64 size, u64 serial) {
    for (u64 i = 0; i < size; ++i) payload[i] = u8((serial * 131 + i * 7) >> (i % 3));
    if (size >= 8) std::memcpy(payload, &serial, 8);
}

bool payloadIntact(const u8* payload, u64 size, u64 serial) {
    if (size >= 8 && std::memcmp(payload, &serial, 8) != 0) return false;
    for (u64 i = size >= 8 ? 8 : 0; i < size; ++i) {
        if (payload[i] != u8((serial * 131 + i * 7) >> (i % 3))) return false;
    }
    return true;
}

// The serial number alone, for the frequent checks.
bool serialIntact(const u8* payload, u64 size, u64 serial) {
    return size < 8 || std::memcmp(payload, &serial, 8) == 0;
}

UndoActionResult markerAction(void*, const u8*, u64, UndoRing*) { return {"Marker", "Marker", 1}; }

struct ModelRecord {
    u64 serial;
    u64 size;
};

// Checks that the ring holds exactly the newest records of the model, in order and intact, and
// trims the model to them.
void expectNewestOf(UndoRing* ring, std::deque<ModelRecord>& model, bool wholePayloads = true) {
    std::vector<UndoRecord*> records;
    for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r)) {
        records.push_back(r);
        ASSERT_LE(records.size(), model.size()) << "the ring holds more than was pushed";
    }
    size_t first = model.size() - records.size();
    for (size_t i = 0; i < records.size(); ++i) {
        const ModelRecord& m = model[first + i];
        ASSERT_EQ(records[i]->payloadSize, m.size) << "record " << i;
        const u8* payload = undoRecordPayload(records[i]);
        ASSERT_TRUE(wholePayloads ? payloadIntact(payload, m.size, m.serial) : serialIntact(payload, m.size, m.serial))
            << "record " << i;
    }
    model.erase(model.begin(), model.begin() + long(first));
}

u64 cellsOf(const std::deque<ModelRecord>& model) {
    u64 cells = 0;
    for (const ModelRecord& m : model) cells += undoRecordCells(m.size);
    return cells;
}

TEST(UndoRing, RecordSizesInCells) {
    auto ring = std::make_unique<UndoRing>();
    *ring = UndoRing{};
    ASSERT_NE(pushUndoAction(ring.get(), markerAction, 8), nullptr);
    EXPECT_EQ(ring->head, 1u);
    ASSERT_NE(pushUndoAction(ring.get(), markerAction, 9), nullptr);
    EXPECT_EQ(ring->head, 3u);
    ASSERT_NE(pushUndoAction(ring.get(), markerAction, 0), nullptr);
    EXPECT_EQ(ring->head, 4u);
    EXPECT_EQ(pushUndoAction(ring.get(), markerAction, 32), undoRecordPayload(&ring->cells[4]));
    EXPECT_EQ(ring->head, 6u);
    // A record that could never fit empties the ring and is refused.
    EXPECT_EQ(pushUndoAction(ring.get(), markerAction, 65535 * 24), nullptr);
    EXPECT_EQ(ring->head, 0u);
    EXPECT_EQ(ring->tail, 0u);
    EXPECT_EQ(popUndoAction(ring.get()), nullptr);
    EXPECT_EQ(pushUndoAction(ring.get(), markerAction, ~u64(0) - 4), nullptr);
    // The largest record that fits fills all but one cell.
    ASSERT_NE(pushUndoAction(ring.get(), markerAction, 65534 * 24 + 8), nullptr);
    EXPECT_EQ(ring->head, 65535u);
}

TEST(UndoRing, PopsNewestFirstAcrossTheWrapMark) {
    auto ring = std::make_unique<UndoRing>();
    *ring = UndoRing{};
    // Records of 1000 cells: 65 fit before the end, the 66th wraps to cell 0 and drops the oldest.
    const u64 size = 999 * 24 - 16 + 8;
    ASSERT_EQ(undoRecordCells(size), 1000u);
    for (u64 serial = 0; serial < 70; ++serial) fillPayload(pushUndoAction(ring.get(), markerAction, size), size, serial);
    EXPECT_EQ(ring->head, 5000u);
    EXPECT_EQ(ring->cells[65000].payloadSize, kUndoWrapMark);
    EXPECT_EQ(ring->tail, 6000u);
    // Each wrapped record of 1000 cells needed the one after the tail's as well (a record may not end
    // on the tail), so serials 6 to 69 remain.
    for (u64 serial = 69; serial >= 6; --serial) {
        UndoRecord* record = popUndoAction(ring.get());
        ASSERT_NE(record, nullptr);
        ASSERT_TRUE(payloadIntact(undoRecordPayload(record), size, serial)) << serial;
        if (serial == 65) {
            // The record at cell 0 is gone: the head goes back to where the records before the mark ended.
            EXPECT_EQ(ring->head, 65000u);
        }
    }
    EXPECT_EQ(ring->head, ring->tail);
    EXPECT_EQ(popUndoAction(ring.get()), nullptr);
}

TEST(UndoRing, PushAfterPoppingCellZeroReusesTheSpaceBeforeTheMark) {
    auto ring = std::make_unique<UndoRing>();
    *ring = UndoRing{};
    const u64 size = 999 * 24 - 8;  // 1000 cells
    for (u64 serial = 0; serial < 66; ++serial) fillPayload(pushUndoAction(ring.get(), markerAction, size), size, serial);
    ASSERT_EQ(ring->head, 1000u);
    UndoRecord* record = popUndoAction(ring.get());
    ASSERT_TRUE(payloadIntact(undoRecordPayload(record), size, 65));
    EXPECT_EQ(ring->head, 65000u);
    // A small record fits between the head and the end again; a second one of 1000 cells wraps.
    fillPayload(pushUndoAction(ring.get(), markerAction, 100), 100, 100);
    EXPECT_EQ(ring->head, 65005u);
    fillPayload(pushUndoAction(ring.get(), markerAction, size), size, 101);
    EXPECT_EQ(ring->head, 1000u);
    EXPECT_TRUE(payloadIntact(undoRecordPayload(popUndoAction(ring.get())), size, 101));
    EXPECT_TRUE(payloadIntact(undoRecordPayload(popUndoAction(ring.get())), 100, 100));
    EXPECT_TRUE(payloadIntact(undoRecordPayload(popUndoAction(ring.get())), size, 64));
}

TEST(UndoRing, RandomPushesAndPopsAgainstAStack) {
    auto ring = std::make_unique<UndoRing>();
    *ring = UndoRing{};
    std::deque<ModelRecord> model;
    std::mt19937_64 random(41);
    u64 serial = 0;
    const u64 largest = 3000 * 24;  // at most 3001 cells
    for (int step = 0; step < 6000; ++step) {
        u32 choice = u32(random() % 100);
        bool whole = step % 1000 == 0;
        if (choice < 60) {
            u64 size = random() % 4 == 0 ? random() % 40 : random() % 12000;
            if (choice < 3) size = largest - random() % 100;
            u8* payload = pushUndoAction(ring.get(), markerAction, size);
            ASSERT_NE(payload, nullptr);
            fillPayload(payload, size, serial);
            u64 before = cellsOf(model);
            model.push_back({serial++, size});
            ASSERT_NO_FATAL_FAILURE(expectNewestOf(ring.get(), model, whole));
            ASSERT_FALSE(model.empty());
            // Only a full ring drops records, and no more than it must.
            if (cellsOf(model) < before + undoRecordCells(size)) {
                ASSERT_GT(cellsOf(model) + 3 * undoRecordCells(largest), kUndoRingCells) << "step " << step;
            }
        } else if (choice < 97) {
            UndoRecord* record = popUndoAction(ring.get());
            if (model.empty()) {
                ASSERT_EQ(record, nullptr);
                continue;
            }
            ASSERT_NE(record, nullptr);
            ASSERT_EQ(record->payloadSize, model.back().size);
            ASSERT_TRUE(payloadIntact(undoRecordPayload(record), record->payloadSize, model.back().serial));
            model.pop_back();
            size_t left = model.size();
            ASSERT_NO_FATAL_FAILURE(expectNewestOf(ring.get(), model, whole));
            ASSERT_EQ(model.size(), left) << "a pop lost older records";
        } else {
            dropOldestUndoAction(ring.get());
            if (!model.empty()) model.pop_front();
            ASSERT_NO_FATAL_FAILURE(expectNewestOf(ring.get(), model, whole));
        }
    }
    EXPECT_GT(serial, 3000u);
}

}  // namespace
