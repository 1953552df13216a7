// Undo histories: an undo ring and a redo ring of variable-length records, each record an operation
// with its payload. Running a record applies it and pushes its inverse onto the other ring, so one
// kind of record serves both undo and redo. Main thread only.
#pragma once
#include "Core/Types.h"

constexpr u64 kUndoRingCells = 65536;
constexpr u64 kUndoWrapMark = 0xFFFFFFFF;

struct UndoRing;

struct UndoActionResult {
    const char* doneLabel;     // the operation's own name, "Append"
    const char* inverseLabel;  // the name of its inverse, "Clear"
    u32 ok;                    // 0: refused, nothing changed
};

// With a null inverse target an operation only reports its labels (ok 1) and changes nothing.
// Otherwise it applies itself to the owner (the record that starts with the UndoHistory) and pushes
// its inverse onto the target, or refuses with ok 0 and changes nothing.
using UndoAction = UndoActionResult (*)(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);

// One 24-byte cell. A record starts at a cell with its operation and payload size; the payload
// runs on from the size word over 1 + (size + 15) / 24 cells in all. A size of kUndoWrapMark at a
// record's place means that the records continue at cell 0.
struct UndoRecord {
    UndoAction operation;
    u64 payloadSize;
    u8 payloadStart[8];
};

struct UndoRing {
    u64 head;  // the cell where the next record starts
    u64 tail;  // the cell of the oldest record; empty when head == tail
    UndoRecord cells[kUndoRingCells];
};

struct UndoHistory {
    UndoRing undo;
    UndoRing redo;
};

static_assert(sizeof(UndoRecord) == 24 && sizeof(UndoRing) == 16 + kUndoRingCells * 24);

inline u8* undoRecordPayload(UndoRecord* record) { return reinterpret_cast<u8*>(record) + 16; }
inline u64 undoRecordCells(u64 payloadSize) { return 1 + (payloadSize + 15) / 24; }

// Room for a new newest record: returns where its payload goes, for the caller to fill, or null when
// the record could never fit (the ring is then emptied). Drops the oldest records to make room.
u8* pushUndoAction(UndoRing* ring, UndoAction operation, u64 payloadSize);
// Takes the newest record off the ring; its bytes stay readable until the next push. Null when empty.
UndoRecord* popUndoAction(UndoRing* ring);
// The oldest record, or null when empty; the record after one (oldest to newest), or null at the head.
UndoRecord* oldestUndoAction(UndoRing* ring);
UndoRecord* nextUndoAction(UndoRing* ring, UndoRecord* record);
// Forgets the oldest record.
void dropOldestUndoAction(UndoRing* ring);
inline void clearUndoRing(UndoRing* ring) { ring->head = ring->tail = 0; }

// Run the newest undo (redo) record with the other ring as inverse target. A record whose operation
// refuses stays where it was.
void undoLastAction(UndoHistory* history);
void redoLastAction(UndoHistory* history);

// The texts of the "Undo @" and "Redo @" buttons: the name of the edit that undo takes back and
// the name of the edit that redo repeats; null when there is nothing to do. The rings are unchanged.
const char* undoLabel(UndoHistory* history);
const char* redoLabel(UndoHistory* history);

// A fresh edit: runs the operation with the undo ring as inverse target and, when it was applied,
// empties the redo ring.
UndoActionResult runNewEdit(UndoHistory* history, UndoAction operation, const void* payload, u64 payloadSize);
