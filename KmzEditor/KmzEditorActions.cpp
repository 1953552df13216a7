// The editor's undoable operations over its pools.
#include <cstring>

#include "Core/MathBits.h"
#include "KmzEditor/KmzEditor.h"

namespace {

constexpr u32 kNoPosition = 0xFFFFFFFF;

// Slot -> position tables of the serialisers (main thread only).
u32 gPointPosition[kKmzPoolSlots];

KmzEditor* editorOf(void* owner) { return static_cast<KmzEditor*>(owner); }

void setBit(u64* used, u32 slot) { used[slot >> 6] |= 1ull << (slot & 63); }
void clearBit(u64* used, u32 slot) { used[slot >> 6] &= ~(1ull << (slot & 63)); }

u16 readU16(const u8* p) { return (u16)(p[0] | (p[1] << 8)); }
u32 readU32(const u8* p) { return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24); }
void writeU16(u8* p, u16 v) {
    p[0] = (u8)v;
    p[1] = (u8)(v >> 8);
}
void writeU32(u8* p, u32 v) {
    for (i32 i = 0; i < 4; ++i) p[i] = (u8)(v >> (8 * i));
}

// The slot an add takes: the one named after the item (an undo puts an item back where it was, so
// that older records that name its slot still find it), else the lowest free one; -1 when that
// slot is taken or the pool is full.
i32 restoredSlot(const u64* used, const u8* payload, u64 payloadSize, u64 itemSize) {
    if (payloadSize < itemSize + 4) return lowestFreeKmzSlot(used);
    u32 slot = readU32(payload + itemSize);
    return slot < kKmzPoolSlots && !kmzSlotUsed(used, slot) ? (i32)slot : -1;
}

UndoActionResult labels(const char* done, const char* inverse, u32 ok) { return UndoActionResult{done, inverse, ok}; }

// The first `count` free slots of a pool, ascending; returns how many were found.
u32 firstFreeSlots(const u64* used, u32 count, u32* out) {
    u32 found = 0;
    for (u32 w = 0; w < kKmzPoolWords && found < count; ++w) {
        u64 free = ~used[w];
        while (free && found < count) {
            u32 bit = (u32)__builtin_ctzll(free);
            out[found++] = w * 64 + bit;
            free &= free - 1;
        }
    }
    return found;
}

struct ContentCounts {
    u32 points, lines, markers;
};

// The counts of a content payload, or false when its size does not hold them.
bool readContentCounts(const u8* payload, u64 size, ContentCounts* counts) {
    if (!payload || size < kKmzContentHeaderBytes) return false;
    counts->points = readU16(payload);
    counts->lines = readU16(payload + 2);
    counts->markers = readU16(payload + 4);
    return size >= kmzContentPayloadSize(counts->points, counts->lines, counts->markers);
}

bool contentFits(const KmzEditor* editor, const ContentCounts& c) {
    return countKmzSlots(editor->pointUsed) + c.points <= kKmzPoolSlots &&
           countKmzSlots(editor->lineUsed) + c.lines <= kKmzPoolSlots &&
           countKmzSlots(editor->markerUsed) + c.markers <= kKmzPoolSlots;
}

bool lineWithinPayload(const u8* line, u32 pointCount) {
    return readU32(line) < pointCount && readU32(line + 4) < pointCount;
}

// Writes the whole drawing as a content payload into out (null: measures); returns its size. After
// the payload come the u16 slots of its points, lines and markers, so that an undo of a Clear or
// Load puts every item back into its own slot.
u64 serialiseContent(const KmzEditor* editor, u8* out) {
    u32 points = 0, lines = 0, markers = 0;
    u8* at = out ? out + kKmzContentHeaderBytes : nullptr;
    for (u32 s = 0; s < kKmzPoolSlots; ++s) {
        if (!kmzSlotUsed(editor->pointUsed, s)) continue;
        gPointPosition[s] = points++;
        if (at) {
            std::memcpy(at, &editor->points[s], 16);
            at[16] = editor->pointColor[s];
            at += kKmzPayloadPointBytes;
        }
    }
    for (u32 s = 0; s < kKmzPoolSlots; ++s) {
        if (!kmzSlotUsed(editor->lineUsed, s)) continue;
        const KmzLine& line = editor->lines[s];
        // A segment whose end is not a used point cannot be written back; it is left out.
        if (!kmzSlotUsed(editor->pointUsed, line.pointA) || !kmzSlotUsed(editor->pointUsed, line.pointB)) continue;
        lines++;
        if (at) {
            writeU32(at, gPointPosition[line.pointA]);
            writeU32(at + 4, gPointPosition[line.pointB]);
            writeU32(at + 8, line.color);
            at += kKmzPayloadLineBytes;
        }
    }
    for (u32 s = 0; s < kKmzPoolSlots; ++s) {
        if (!kmzSlotUsed(editor->markerUsed, s)) continue;
        markers++;
        if (at) {
            std::memcpy(at, &editor->markers[s], 24);
            at += kKmzPayloadMarkerBytes;
        }
    }
    if (out) {
        writeU16(out, (u16)points);
        writeU16(out + 2, (u16)lines);
        writeU16(out + 4, (u16)markers);
        u8* slots = at;
        for (u32 s = 0; s < kKmzPoolSlots; ++s)
            if (kmzSlotUsed(editor->pointUsed, s)) writeU16(slots, (u16)s), slots += 2;
        for (u32 s = 0; s < kKmzPoolSlots; ++s) {
            if (!kmzSlotUsed(editor->lineUsed, s)) continue;
            const KmzLine& line = editor->lines[s];
            if (!kmzSlotUsed(editor->pointUsed, line.pointA) || !kmzSlotUsed(editor->pointUsed, line.pointB)) continue;
            writeU16(slots, (u16)s), slots += 2;
        }
        for (u32 s = 0; s < kKmzPoolSlots; ++s)
            if (kmzSlotUsed(editor->markerUsed, s)) writeU16(slots, (u16)s), slots += 2;
    }
    return kmzContentPayloadSize(points, lines, markers) + 2ull * (points + lines + markers);
}

bool editorEmpty(const KmzEditor* editor) {
    return countKmzSlots(editor->pointUsed) == 0 && countKmzSlots(editor->lineUsed) == 0 &&
           countKmzSlots(editor->markerUsed) == 0;
}

}  // namespace

Color kmzColor(u32 colorIndex) {
    static const Color colors[kKmzColorCount] = {0xFF0000DD, 0xFF0070DD, 0xFF00DDFF, 0xFFCACC00,
                                                0xFFE36400, 0xFF9E0283, 0xFFFFFFFF};
    return colorIndex < kKmzColorCount ? colors[colorIndex] : 0xFFFFFFFF;
}

i32 lowestFreeKmzSlot(const u64* used) {
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        if (used[w] != ~0ull) return (i32)(w * 64 + (u32)__builtin_ctzll(~used[w]));
    }
    return -1;
}

u32 countKmzSlots(const u64* used) { return (u32)countSetBits(used, kKmzPoolWords); }

UndoActionResult addKmzLine(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    i32 slot = restoredSlot(editor->lineUsed, payload, payloadSize, sizeof(KmzLine));
    if (slot < 0 || payloadSize < sizeof(KmzLine)) return labels("Add Line", "Delete Line", 0);
    if (!inverseTarget) return labels("Add Line", "Delete Line", 1);
    u8* inverse = pushUndoAction(inverseTarget, deleteKmzLine, 4);
    if (inverse) writeU32(inverse, (u32)slot);
    std::memcpy(&editor->lines[slot], payload, sizeof(KmzLine));
    setBit(editor->lineUsed, (u32)slot);
    return labels("Add Line", "Delete Line", 1);
}

UndoActionResult deleteKmzLine(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    if (payloadSize < 4) return labels("Delete Line", "Add Line", 0);
    u32 slot = readU32(payload);
    if (!inverseTarget) return labels("Delete Line", "Add Line", 1);
    if (!kmzSlotUsed(editor->lineUsed, slot)) return labels("Delete Line", "Add Line", 0);
    u8* inverse = pushUndoAction(inverseTarget, addKmzLine, sizeof(KmzLine) + 4);
    if (inverse) {
        std::memcpy(inverse, &editor->lines[slot], sizeof(KmzLine));
        writeU32(inverse + sizeof(KmzLine), slot);
    }
    clearBit(editor->lineUsed, slot);
    return labels("Delete Line", "Add Line", 1);
}

UndoActionResult addKmzMarker(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    i32 slot = restoredSlot(editor->markerUsed, payload, payloadSize, sizeof(KmzMarker));
    if (slot < 0 || payloadSize < sizeof(KmzMarker)) return labels("Add Marker", "Delete Marker", 0);
    if (!inverseTarget) return labels("Add Marker", "Delete Marker", 1);
    u8* inverse = pushUndoAction(inverseTarget, deleteKmzMarker, 4);
    if (inverse) writeU32(inverse, (u32)slot);
    std::memcpy(&editor->markers[slot], payload, sizeof(KmzMarker));
    setBit(editor->markerUsed, (u32)slot);
    return labels("Add Marker", "Delete Marker", 1);
}

UndoActionResult deleteKmzMarker(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    if (payloadSize < 4) return labels("Delete Marker", "Add Marker", 0);
    u32 slot = readU32(payload);
    if (!inverseTarget) return labels("Delete Marker", "Add Marker", 1);
    if (!kmzSlotUsed(editor->markerUsed, slot)) return labels("Delete Marker", "Add Marker", 0);
    u8* inverse = pushUndoAction(inverseTarget, addKmzMarker, sizeof(KmzMarker) + 4);
    if (inverse) {
        std::memcpy(inverse, &editor->markers[slot], sizeof(KmzMarker));
        writeU32(inverse + sizeof(KmzMarker), slot);
    }
    clearBit(editor->markerUsed, slot);
    return labels("Delete Marker", "Add Marker", 1);
}

UndoActionResult addKmzPoint(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    i32 slot = lowestFreeKmzSlot(editor->pointUsed);
    if (slot < 0 || payloadSize < sizeof(KmzPoint)) return labels("Add", "Delete", 0);
    u64 entries = (payloadSize - sizeof(KmzPoint)) / 5;
    for (u64 e = 0; e < entries; ++e) {
        if (!kmzSlotUsed(editor->pointUsed, readU32(payload + 16 + e * 5))) return labels("Add", "Delete", 0);
    }
    if (!inverseTarget) return labels("Add", "Delete", 1);
    u8* inverse = pushUndoAction(inverseTarget, deleteKmzPoint, 8);
    if (inverse) {
        writeU32(inverse, (u32)slot);
        writeU32(inverse + 4, 0);
    }
    editor->lineEnd = slot;
    std::memcpy(&editor->points[slot], payload, sizeof(KmzPoint));
    editor->pointColor[slot] = editor->color;
    setBit(editor->pointUsed, (u32)slot);
    for (u64 e = 0; e < entries; ++e) {
        i32 lineSlot = lowestFreeKmzSlot(editor->lineUsed);
        if (lineSlot < 0) continue;
        const u8* entry = payload + 16 + e * 5;
        editor->lines[lineSlot] = KmzLine{readU32(entry), (u32)slot, entry[4]};
        setBit(editor->lineUsed, (u32)lineSlot);
    }
    return labels("Add", "Delete", 1);
}

UndoActionResult deleteKmzPoint(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    if (payloadSize < 8) return labels("Delete", "Add", 0);
    u64 wide = (u64)readU32(payload) | ((u64)readU32(payload + 4) << 32);
    if (wide >= kKmzPoolSlots || !kmzSlotUsed(editor->pointUsed, (u32)wide)) return labels("Delete", "Add", 0);
    u32 slot = (u32)wide;
    if (!inverseTarget) return labels("Delete", "Add", 1);
    u32 touching = 0;
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->lineUsed[w]; bits; bits &= bits - 1) {
            const KmzLine& line = editor->lines[w * 64 + (u32)__builtin_ctzll(bits)];
            if (line.pointA == slot || line.pointB == slot) touching++;
        }
    }
    // The inverse puts the point, its colour and its segments back into their own slots.
    u8* inverse = pushUndoAction(inverseTarget, restoreKmzPoint, 21 + 16ull * touching);
    u8* entry = inverse ? inverse + 21 : nullptr;
    if (inverse) {
        std::memcpy(inverse, &editor->points[slot], sizeof(KmzPoint));
        writeU32(inverse + 16, slot);
        inverse[20] = editor->pointColor[slot];
    }
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->lineUsed[w]; bits; bits &= bits - 1) {
            u32 lineSlot = w * 64 + (u32)__builtin_ctzll(bits);
            const KmzLine& line = editor->lines[lineSlot];
            if (line.pointA != slot && line.pointB != slot) continue;
            if (entry) {
                std::memcpy(entry, &line, sizeof(KmzLine));
                writeU32(entry + 12, lineSlot);
                entry += 16;
            }
            clearBit(editor->lineUsed, lineSlot);
        }
    }
    clearBit(editor->pointUsed, slot);
    if (editor->lineEnd == (i32)slot) editor->lineEnd = -1;
    return labels("Delete", "Add", 1);
}

UndoActionResult restoreKmzPoint(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    if (payloadSize < 21) return labels("Add", "Delete", 0);
    u32 slot = readU32(payload + 16);
    u64 entries = (payloadSize - 21) / 16;
    bool free = slot < kKmzPoolSlots && !kmzSlotUsed(editor->pointUsed, slot);
    for (u64 e = 0; e < entries && free; ++e) {
        u32 lineSlot = readU32(payload + 21 + e * 16 + 12);
        free = lineSlot < kKmzPoolSlots && !kmzSlotUsed(editor->lineUsed, lineSlot);
    }
    if (!free) return labels("Add", "Delete", 0);
    if (!inverseTarget) return labels("Add", "Delete", 1);
    u8* inverse = pushUndoAction(inverseTarget, deleteKmzPoint, 8);
    if (inverse) {
        writeU32(inverse, slot);
        writeU32(inverse + 4, 0);
    }
    std::memcpy(&editor->points[slot], payload, sizeof(KmzPoint));
    editor->pointColor[slot] = payload[20];
    setBit(editor->pointUsed, slot);
    editor->lineEnd = (i32)slot;
    for (u64 e = 0; e < entries; ++e) {
        const u8* entry = payload + 21 + e * 16;
        u32 lineSlot = readU32(entry + 12);
        std::memcpy(&editor->lines[lineSlot], entry, sizeof(KmzLine));
        setBit(editor->lineUsed, lineSlot);
    }
    return labels("Add", "Delete", 1);
}

UndoActionResult moveKmzPointAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    if (payloadSize < 20) return labels("Move", "Move", 0);
    u32 slot = readU32(payload + 16);
    if (!inverseTarget) return labels("Move", "Move", 1);
    if (slot >= kKmzPoolSlots) return labels("Move", "Move", 0);
    u8* inverse = pushUndoAction(inverseTarget, moveKmzPointAction, 24);
    if (inverse) {
        std::memcpy(inverse, &editor->points[slot], 16);
        writeU32(inverse + 16, slot);
        writeU32(inverse + 20, 0);
    }
    std::memcpy(&editor->points[slot], payload, 16);
    return labels("Move", "Move", 1);
}

UndoActionResult moveKmzMarkerAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    if (payloadSize < 20) return labels("Move", "Move", 0);
    u32 slot = readU32(payload + 16);
    if (!inverseTarget) return labels("Move", "Move", 1);
    if (slot >= kKmzPoolSlots) return labels("Move", "Move", 0);
    u8* inverse = pushUndoAction(inverseTarget, moveKmzMarkerAction, 24);
    if (inverse) {
        std::memcpy(inverse, &editor->markers[slot], 16);
        writeU32(inverse + 16, slot);
        writeU32(inverse + 20, 0);
    }
    std::memcpy(&editor->markers[slot], payload, 16);
    return labels("Move", "Move", 1);
}

UndoActionResult clearKmzEditorAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    ContentCounts counts;
    bool valid = readContentCounts(payload, payloadSize, &counts);
    bool emptyPayload = valid && counts.points == 0 && counts.lines == 0 && counts.markers == 0;
    const char* done = emptyPayload ? "Clear" : "Load";
    const char* inverseLabel = editorEmpty(editor) ? "Clear" : "Load";
    if (!valid || !contentFits(editor, counts)) return labels(done, inverseLabel, 0);
    if (!inverseTarget) return labels(done, inverseLabel, 1);
    u64 size = serialiseContent(editor, nullptr);
    u8* inverse = pushUndoAction(inverseTarget, clearKmzEditorAction, size);
    if (inverse) serialiseContent(editor, inverse);
    std::memset(editor->markers, 0, sizeof editor->markers);
    std::memset(editor->markerUsed, 0, sizeof editor->markerUsed);
    std::memset(editor->points, 0, sizeof editor->points);
    std::memset(editor->pointColor, 0, sizeof editor->pointColor);
    std::memset(editor->pointUsed, 0, sizeof editor->pointUsed);
    std::memset(editor->lines, 0, sizeof editor->lines);
    std::memset(editor->lineUsed, 0, sizeof editor->lineUsed);
    // The line end named a point of the old drawing: the next point starts a new polyline.
    editor->lineEnd = -1;
    // Items go to slots 0, 1, 2 ... in payload order, or back to their own slots when the payload
    // carries them (the editor's own Clear and Load records).
    u64 plain = kmzContentPayloadSize(counts.points, counts.lines, counts.markers);
    const u8* slots = payloadSize == plain + 2ull * (counts.points + counts.lines + counts.markers) ? payload + plain
                                                                                                   : nullptr;
    auto slotOf = [&](u32 k) -> u32 { return slots ? readU16(slots + 2 * k) : k; };
    const u8* at = payload + kKmzContentHeaderBytes;
    for (u32 k = 0; k < counts.points; ++k, at += kKmzPayloadPointBytes) {
        gPointPosition[k] = slotOf(k);
        std::memcpy(&editor->points[slotOf(k)], at, 16);
        editor->pointColor[slotOf(k)] = at[16];
        setBit(editor->pointUsed, slotOf(k));
    }
    u32 lineSlot = 0;
    for (u32 k = 0; k < counts.lines; ++k, at += kKmzPayloadLineBytes) {
        // A segment whose end is not among the payload's points would join an unrelated slot.
        if (!lineWithinPayload(at, counts.points)) continue;
        u32 slot = slots ? slotOf(counts.points + k) : lineSlot++;
        editor->lines[slot] = KmzLine{gPointPosition[readU32(at)], gPointPosition[readU32(at + 4)], readU32(at + 8)};
        setBit(editor->lineUsed, slot);
    }
    for (u32 k = 0; k < counts.markers; ++k, at += kKmzPayloadMarkerBytes) {
        u32 slot = slotOf(counts.points + counts.lines + k);
        std::memcpy(&editor->markers[slot], at, sizeof(KmzMarker));
        setBit(editor->markerUsed, slot);
    }
    return labels(done, inverseLabel, 1);
}

UndoActionResult mergeIntoKmzEditorAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    ContentCounts counts;
    bool valid = readContentCounts(payload, payloadSize, &counts);
    if (!valid || !contentFits(editor, counts)) return labels("Merge", "Unmerge", 0);
    if (!inverseTarget) return labels("Merge", "Unmerge", 1);
    const u8* pointBytes = payload + kKmzContentHeaderBytes;
    const u8* lineBytes = pointBytes + counts.points * kKmzPayloadPointBytes;
    const u8* markerBytes = lineBytes + counts.lines * kKmzPayloadLineBytes;
    u32 keptLines = 0;
    for (u32 k = 0; k < counts.lines; ++k) keptLines += lineWithinPayload(lineBytes + k * 12, counts.points);

    static u32 pointSlots[kKmzPoolSlots], lineSlots[kKmzPoolSlots], markerSlots[kKmzPoolSlots];
    firstFreeSlots(editor->pointUsed, counts.points, pointSlots);
    firstFreeSlots(editor->lineUsed, keptLines, lineSlots);
    firstFreeSlots(editor->markerUsed, counts.markers, markerSlots);

    u8* inverse = pushUndoAction(inverseTarget, unmergeKmzAction, 6 + 2ull * (counts.points + keptLines + counts.markers));
    if (inverse) {
        writeU16(inverse, (u16)counts.points);
        writeU16(inverse + 2, (u16)keptLines);
        writeU16(inverse + 4, (u16)counts.markers);
        u8* at = inverse + 6;
        for (u32 k = 0; k < counts.points; ++k, at += 2) writeU16(at, (u16)pointSlots[k]);
        for (u32 k = 0; k < keptLines; ++k, at += 2) writeU16(at, (u16)lineSlots[k]);
        for (u32 k = 0; k < counts.markers; ++k, at += 2) writeU16(at, (u16)markerSlots[k]);
    }
    // A line end on a free slot must not come to name a merged point.
    if (editor->lineEnd >= 0 && !kmzSlotUsed(editor->pointUsed, (u32)editor->lineEnd)) editor->lineEnd = -1;
    for (u32 k = 0; k < counts.points; ++k) {
        std::memcpy(&editor->points[pointSlots[k]], pointBytes + k * 17, 16);
        editor->pointColor[pointSlots[k]] = pointBytes[k * 17 + 16];
    }
    u32 next = 0;
    for (u32 k = 0; k < counts.lines; ++k) {
        const u8* line = lineBytes + k * 12;
        if (!lineWithinPayload(line, counts.points)) continue;
        u32 slot = lineSlots[next++];
        editor->lines[slot] = KmzLine{pointSlots[readU32(line)], pointSlots[readU32(line + 4)], readU32(line + 8)};
        setBit(editor->lineUsed, slot);
    }
    for (u32 k = 0; k < counts.points; ++k) setBit(editor->pointUsed, pointSlots[k]);
    for (u32 k = 0; k < counts.markers; ++k) {
        std::memcpy(&editor->markers[markerSlots[k]], markerBytes + k * 24, sizeof(KmzMarker));
        setBit(editor->markerUsed, markerSlots[k]);
    }
    return labels("Merge", "Unmerge", 1);
}

UndoActionResult unmergeKmzAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    if (!inverseTarget) return labels("Unmerge", "Merge", 1);
    if (payloadSize < 6) return labels("Unmerge", "Merge", 0);
    u32 p = readU16(payload), l = readU16(payload + 2), m = readU16(payload + 4);
    if (payloadSize < 6 + 2ull * (p + l + m)) return labels("Unmerge", "Merge", 0);
    const u8* pointList = payload + 6;
    const u8* lineList = pointList + 2 * p;
    const u8* markerList = lineList + 2 * l;
    for (u32 k = 0; k < p; ++k) gPointPosition[readU16(pointList + 2 * k)] = kNoPosition;
    for (u32 k = 0; k < p; ++k) gPointPosition[readU16(pointList + 2 * k)] = k;
    u8* inverse = pushUndoAction(inverseTarget, mergeIntoKmzEditorAction, kmzContentPayloadSize(p, l, m));
    if (inverse) {
        writeU16(inverse, (u16)p);
        writeU16(inverse + 2, (u16)l);
        writeU16(inverse + 4, (u16)m);
        u8* at = inverse + 6;
        for (u32 k = 0; k < p; ++k, at += 17) {
            u16 slot = readU16(pointList + 2 * k);
            std::memcpy(at, &editor->points[slot], 16);
            at[16] = editor->pointColor[slot];
        }
        for (u32 k = 0; k < l; ++k, at += 12) {
            const KmzLine& line = editor->lines[readU16(lineList + 2 * k)];
            u32 a = line.pointA < kKmzPoolSlots ? gPointPosition[line.pointA] : kNoPosition;
            u32 b = line.pointB < kKmzPoolSlots ? gPointPosition[line.pointB] : kNoPosition;
            // Positions found only for listed points; anything else cannot be merged back.
            if (a >= p || readU16(pointList + 2 * a) != line.pointA) a = kNoPosition;
            if (b >= p || readU16(pointList + 2 * b) != line.pointB) b = kNoPosition;
            writeU32(at, a);
            writeU32(at + 4, b);
            writeU32(at + 8, line.color);
        }
        for (u32 k = 0; k < m; ++k, at += 24) std::memcpy(at, &editor->markers[readU16(markerList + 2 * k)], 24);
    }
    for (u32 k = 0; k < p; ++k) clearBit(editor->pointUsed, readU16(pointList + 2 * k));
    for (u32 k = 0; k < l; ++k) clearBit(editor->lineUsed, readU16(lineList + 2 * k));
    for (u32 k = 0; k < m; ++k) clearBit(editor->markerUsed, readU16(markerList + 2 * k));
    if (editor->lineEnd >= 0 && !kmzSlotUsed(editor->pointUsed, (u32)editor->lineEnd)) editor->lineEnd = -1;
    return labels("Unmerge", "Merge", 1);
}

UndoActionResult recolorLineAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    KmzEditor* editor = editorOf(owner);
    if (!inverseTarget) return labels("Recolor Line", "Recolor Line", 1);
    if (payloadSize < 5) return labels("Recolor Line", "Recolor Line", 0);
    u32 slot = readU32(payload);
    if (slot >= kKmzPoolSlots) return labels("Recolor Line", "Recolor Line", 0);
    u8 color = payload[4];
    KmzLine* line = &editor->lines[slot];
    u8* inverse = pushUndoAction(inverseTarget, recolorLineAction, 8);
    if (inverse) {
        writeU32(inverse, slot);
        writeU32(inverse + 4, line->color);
    }
    editor->lineEnd = (i32)line->pointB;
    line->color = color;
    if (line->pointA < kKmzPoolSlots) editor->pointColor[line->pointA] = color;
    if (line->pointB < kKmzPoolSlots) editor->pointColor[line->pointB] = color;
    return labels("Recolor Line", "Recolor Line", 1);
}
