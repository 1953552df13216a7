// Drives an undo ring with pushes, pops and drops chosen by the input and checks after each step that
// the ring still holds the newest records it was given, in order, intact, and that walking it ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

#include "Core/Undo.h"

namespace {

UndoActionResult fuzzAction(void*, const u8*, u64, UndoRing*) { return {"Fuzz", "Fuzz", 1}; }

struct Pushed {
    u64 serial;
    u64 size;
};

void check(bool condition) {
    if (!condition) abort();
}

void checkRing(UndoRing* ring, std::deque<Pushed>& model) {
    size_t count = 0;
    for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r)) {
        check(++count <= model.size() && count <= kUndoRingCells);
    }
    model.erase(model.begin(), model.begin() + long(model.size() - count));
    size_t i = 0;
    for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r), ++i) {
        check(r->payloadSize == model[i].size);
        if (r->payloadSize >= 8) check(std::memcmp(undoRecordPayload(r), &model[i].serial, 8) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static UndoRing* ring = new UndoRing;
    *ring = UndoRing{};
    std::deque<Pushed> model;
    u64 serial = 0;
    for (size_t at = 0; at + 3 <= size; at += 3) {
        u32 op = data[at] % 8;
        u64 amount = (u64(data[at + 1]) << 8 | data[at + 2]) * (data[at] >= 128 ? 40 : 1);
        if (op < 5) {
            u8* payload = pushUndoAction(ring, fuzzAction, amount);
            if (undoRecordCells(amount) >= kUndoRingCells) {
                check(payload == nullptr);
                model.clear();
            } else {
                check(payload != nullptr);
                if (amount >= 8) std::memcpy(payload, &serial, 8);
                model.push_back({serial++, amount});
            }
        } else if (op < 7) {
            UndoRecord* record = popUndoAction(ring);
            check((record == nullptr) == model.empty());
            if (record) {
                check(record->payloadSize == model.back().size);
                model.pop_back();
            }
        } else {
            dropOldestUndoAction(ring);
            if (!model.empty()) model.pop_front();
        }
        checkRing(ring, model);
    }
    return 0;
}
