#include "Core/Undo.h"

namespace {

bool isWrapMark(const UndoRing* ring, u64 cell) { return ring->cells[cell].payloadSize == kUndoWrapMark; }

// The cell after the record at `cell`, with a wrap mark there followed to cell 0.
u64 cellAfter(const UndoRing* ring, u64 cell) {
    u64 next = cell + undoRecordCells(ring->cells[cell].payloadSize);
    if (next != ring->head && (next >= kUndoRingCells || isWrapMark(ring, next))) next = 0;
    return next;
}

void moveTailPastOldest(UndoRing* ring) {
    u64 next = ring->tail + undoRecordCells(ring->cells[ring->tail].payloadSize);
    if (next >= kUndoRingCells || isWrapMark(ring, next)) next = 0;
    ring->tail = next;
}

}  // namespace

u8* pushUndoAction(UndoRing* ring, UndoAction operation, u64 payloadSize) {
    if (payloadSize >= kUndoRingCells * 24) {
        clearUndoRing(ring);
        return nullptr;
    }
    u64 n = undoRecordCells(payloadSize);
    if (n >= kUndoRingCells) {
        clearUndoRing(ring);
        return nullptr;
    }
    if (ring->head + n >= kUndoRingCells) {
        if (ring->head == ring->tail) {
            ring->head = ring->tail = 0;
        } else {
            // The records from a tail beyond the head to the end are the oldest and go first.
            if (ring->tail > ring->head) ring->tail = 0;
            ring->cells[ring->head].payloadSize = kUndoWrapMark;
            if (ring->tail == 0) moveTailPastOldest(ring);  // cell 0 is about to be overwritten
            ring->head = 0;
        }
    }
    while (ring->head < ring->tail && ring->head + n >= ring->tail) moveTailPastOldest(ring);
    UndoRecord* record = &ring->cells[ring->head];
    record->operation = operation;
    record->payloadSize = payloadSize;
    ring->head += n;
    return undoRecordPayload(record);
}

UndoRecord* popUndoAction(UndoRing* ring) {
    if (ring->head == ring->tail) return nullptr;
    u64 cell = ring->tail, last = ring->tail, wrapPlace = kUndoRingCells;
    while (cell != ring->head) {
        last = cell;
        u64 next = cell + undoRecordCells(ring->cells[cell].payloadSize);
        if (next != ring->head && next < kUndoRingCells && isWrapMark(ring, next)) {
            wrapPlace = next;
            next = 0;
        }
        cell = next;
        if (cell >= kUndoRingCells) break;  // a damaged ring: stop at its end
    }
    ring->head = (last == 0 && wrapPlace != kUndoRingCells) ? wrapPlace : last;
    return &ring->cells[last];
}

UndoRecord* oldestUndoAction(UndoRing* ring) {
    return ring->head == ring->tail ? nullptr : &ring->cells[ring->tail];
}

UndoRecord* nextUndoAction(UndoRing* ring, UndoRecord* record) {
    u64 next = cellAfter(ring, static_cast<u64>(record - ring->cells));
    return next == ring->head ? nullptr : &ring->cells[next];
}

void dropOldestUndoAction(UndoRing* ring) {
    if (ring->head == ring->tail) return;
    u64 next = cellAfter(ring, ring->tail);
    ring->tail = next;
}

namespace {

void runNewest(UndoHistory* history, UndoRing* from, UndoRing* inverseTarget) {
    u64 head = from->head, tail = from->tail;
    UndoRecord* record = popUndoAction(from);
    if (!record) return;
    UndoActionResult result =
        record->operation(history, undoRecordPayload(record), record->payloadSize, inverseTarget);
    if (!result.ok) {
        from->head = head;
        from->tail = tail;
    }
}

const UndoActionResult* peekNewest(UndoHistory* history, UndoRing* ring, UndoActionResult* result) {
    u64 head = ring->head, tail = ring->tail;
    UndoRecord* record = popUndoAction(ring);
    ring->head = head;
    ring->tail = tail;
    if (!record) return nullptr;
    *result = record->operation(history, undoRecordPayload(record), record->payloadSize, nullptr);
    return result->ok ? result : nullptr;
}

}  // namespace

void undoLastAction(UndoHistory* history) { runNewest(history, &history->undo, &history->redo); }

void redoLastAction(UndoHistory* history) { runNewest(history, &history->redo, &history->undo); }

const char* undoLabel(UndoHistory* history) {
    UndoActionResult result;
    const UndoActionResult* newest = peekNewest(history, &history->undo, &result);
    return newest ? newest->inverseLabel : nullptr;
}

const char* redoLabel(UndoHistory* history) {
    UndoActionResult result;
    const UndoActionResult* newest = peekNewest(history, &history->redo, &result);
    return newest ? newest->doneLabel : nullptr;
}

UndoActionResult runNewEdit(UndoHistory* history, UndoAction operation, const void* payload, u64 payloadSize) {
    UndoActionResult result = operation(history, static_cast<const u8*>(payload), payloadSize, &history->undo);
    if (result.ok) clearUndoRing(&history->redo);
    return result;
}
