// Fuzzes reading an exported KMZ back into the drawing editor as a Load or a Merge (the first byte
// chooses), then undo and redo: every segment must end at points in use, and the counts must agree
// with the bitmaps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KmzEditor/KmzImport.h"

namespace {

void checkDrawing(const KmzEditor* editor) {
    for (u32 s = 0; s < kKmzPoolSlots; ++s) {
        if (!kmzSlotUsed(editor->lineUsed, s)) continue;
        const KmzLine& line = editor->lines[s];
        if (!kmzSlotUsed(editor->pointUsed, line.pointA) || !kmzSlotUsed(editor->pointUsed, line.pointB)) std::abort();
    }
    if (editor->lineEnd >= 0 && !kmzSlotUsed(editor->pointUsed, (u32)editor->lineEnd)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static KmzEditor* editor = (KmzEditor*)std::calloc(1, sizeof(KmzEditor));
    std::memset(editor->pointUsed, 0, sizeof editor->pointUsed);
    std::memset(editor->lineUsed, 0, sizeof editor->lineUsed);
    std::memset(editor->markerUsed, 0, sizeof editor->markerUsed);
    clearUndoRing(&editor->history.undo);
    clearUndoRing(&editor->history.redo);
    editor->lineEnd = -1;
    if (size < 1) return 0;
    u32 merge = data[0] & 1;
    FixedString message{};
    importKmzBytes(data + 1, (i64)size - 1, editor, &message, merge);
    checkDrawing(editor);
    importKmzBytes(data + 1, (i64)size - 1, editor, &message, merge ^ 1);
    checkDrawing(editor);
    undoLastAction(&editor->history);
    checkDrawing(editor);
    undoLastAction(&editor->history);
    checkDrawing(editor);
    redoLastAction(&editor->history);
    checkDrawing(editor);
    return 0;
}
