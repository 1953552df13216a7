#include "Core/Undo.h"

#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

// An editor of a list of numbers: "Add" appends a number, "Remove" takes the last one off when it is
// that number. The payload is the number followed by filler, so that records of many sizes occur.
struct NumberList {
    UndoHistory history;
    i64 values[4096];
    i32 count;
    i32 refuseAll;
};

UndoActionResult removeNumberAction(void* owner, const u8* payload, u64 size, UndoRing* inverse);

UndoActionResult addNumberAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    UndoActionResult labels = {"Add", "Remove", 1};
    if (!inverse) return labels;
    NumberList* list = static_cast<NumberList*>(owner);
    if (size < 8 || list->count == 4096 || list->refuseAll) return {nullptr, nullptr, 0};
    u8* record = pushUndoAction(inverse, removeNumberAction, size);
    if (record) std::memcpy(record, payload, size);
    std::memcpy(&list->values[list->count++], payload, 8);
    return labels;
}

UndoActionResult removeNumberAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    UndoActionResult labels = {"Remove", "Add", 1};
    if (!inverse) return labels;
    NumberList* list = static_cast<NumberList*>(owner);
    i64 value;
    if (size < 8 || list->count == 0 || list->refuseAll) return {nullptr, nullptr, 0};
    std::memcpy(&value, payload, 8);
    if (list->values[list->count - 1] != value) return {nullptr, nullptr, 0};
    u8* record = pushUndoAction(inverse, addNumberAction, size);
    if (record) std::memcpy(record, payload, size);
    list->count -= 1;
    return labels;
}

struct Edit {
    bool add;
    i64 value;
    u64 size;
};

std::vector<u8> payloadOf(i64 value, u64 size) {
    std::vector<u8> bytes(size, u8(value));
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}

std::vector<Edit> ringEdits(UndoRing* ring) {
    std::vector<Edit> edits;
    for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r)) {
        i64 value;
        std::memcpy(&value, undoRecordPayload(r), 8);
        edits.push_back({r->operation == addNumberAction, value, r->payloadSize});
    }
    return edits;
}

// The model's history is a pair of stacks; a full ring forgets the bottom of its stack.
void expectRingMatches(UndoRing* ring, std::deque<Edit>& model, int* dropped) {
    std::vector<Edit> edits = ringEdits(ring);
    ASSERT_LE(edits.size(), model.size());
    size_t first = model.size() - edits.size();
    for (size_t i = 0; i < edits.size(); ++i) {
        ASSERT_EQ(edits[i].add, model[first + i].add);
        ASSERT_EQ(edits[i].value, model[first + i].value);
        ASSERT_EQ(edits[i].size, model[first + i].size);
    }
    model.erase(model.begin(), model.begin() + long(first));
    *dropped += int(first);
}

TEST(UndoHistory, LabelsNameTheEditTakenBackAndTheEditRepeated) {
    auto list = std::make_unique<NumberList>();
    *list = NumberList{};
    UndoHistory* history = &list->history;
    EXPECT_EQ(undoLabel(history), nullptr);
    EXPECT_EQ(redoLabel(history), nullptr);
    std::vector<u8> seven = payloadOf(7, 8);
    EXPECT_EQ(runNewEdit(history, addNumberAction, seven.data(), 8).ok, 1u);
    // The undo ring holds a "Remove" record; its inverse label names the edit that undo takes back.
    EXPECT_STREQ(undoLabel(history), "Add");
    EXPECT_EQ(redoLabel(history), nullptr);
    u64 head = history->undo.head, tail = history->undo.tail;
    undoLabel(history);
    EXPECT_EQ(history->undo.head, head);
    EXPECT_EQ(history->undo.tail, tail);
    undoLastAction(history);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(undoLabel(history), nullptr);
    EXPECT_STREQ(redoLabel(history), "Add");
    redoLastAction(history);
    EXPECT_EQ(list->count, 1);
    EXPECT_STREQ(undoLabel(history), "Add");

    // An operation that refuses leaves its record ready to be undone again.
    list->refuseAll = 1;
    undoLastAction(history);
    EXPECT_EQ(list->count, 1);
    EXPECT_EQ(history->undo.head, head);
    EXPECT_EQ(redoLabel(history), nullptr);
    list->refuseAll = 0;
    undoLastAction(history);
    EXPECT_EQ(list->count, 0);
    // A refused fresh edit keeps the redo ring.
    list->refuseAll = 1;
    EXPECT_EQ(runNewEdit(history, addNumberAction, seven.data(), 8).ok, 0u);
    EXPECT_STREQ(redoLabel(history), "Add");
    list->refuseAll = 0;
    // A fresh edit empties the redo ring.
    runNewEdit(history, addNumberAction, seven.data(), 8);
    EXPECT_EQ(redoLabel(history), nullptr);
    undoLastAction(history);
    redoLastAction(history);
    redoLastAction(history);  // nothing left to redo
    EXPECT_EQ(list->count, 1);
}

TEST(UndoHistory, RandomEditsUndoAndRedoAgainstTwoStacks) {
    auto list = std::make_unique<NumberList>();
    *list = NumberList{};
    UndoHistory* history = &list->history;
    std::vector<i64> values;
    std::deque<Edit> undoModel, redoModel;
    std::mt19937_64 random(43);
    int dropped = 0;
    for (int step = 0; step < 4000; ++step) {
        u32 choice = u32(random() % 100);
        if (choice < 45) {
            bool add = values.empty() || values.size() >= 4000 || random() % 3 != 0;
            i64 value = add ? i64(random() % 100000) : values.back();
            u64 size = 8 + (random() % 3 == 0 ? 4000 + random() % 9000 : random() % 200);
            std::vector<u8> payload = payloadOf(value, size);
            ASSERT_EQ(runNewEdit(history, add ? addNumberAction : removeNumberAction, payload.data(), size).ok, 1u);
            if (add) values.push_back(value); else values.pop_back();
            undoModel.push_back({!add, value, size});
            redoModel.clear();
        } else if (choice < 75) {
            undoLastAction(history);
            if (!undoModel.empty()) {
                Edit e = undoModel.back();
                undoModel.pop_back();
                if (e.add) values.push_back(e.value); else values.pop_back();
                redoModel.push_back({!e.add, e.value, e.size});
            }
        } else if (choice < 97) {
            redoLastAction(history);
            if (!redoModel.empty()) {
                Edit e = redoModel.back();
                redoModel.pop_back();
                if (e.add) values.push_back(e.value); else values.pop_back();
                undoModel.push_back({!e.add, e.value, e.size});
            }
        } else {
            // Purging the oldest history.
            dropOldestUndoAction(&history->undo);
            if (!undoModel.empty()) undoModel.pop_front();
        }
        ASSERT_NO_FATAL_FAILURE(expectRingMatches(&history->undo, undoModel, &dropped)) << "step " << step;
        ASSERT_NO_FATAL_FAILURE(expectRingMatches(&history->redo, redoModel, &dropped)) << "step " << step;
        ASSERT_EQ(list->count, i32(values.size())) << "step " << step;
        ASSERT_TRUE(values.empty() || std::memcmp(list->values, values.data(), values.size() * 8) == 0) << step;
        const char* expectedUndo = undoModel.empty() ? nullptr : undoModel.back().add ? "Remove" : "Add";
        const char* expectedRedo = redoModel.empty() ? nullptr : redoModel.back().add ? "Add" : "Remove";
        ASSERT_STREQ(undoLabel(history), expectedUndo);
        ASSERT_STREQ(redoLabel(history), expectedRedo);
    }
    EXPECT_GT(dropped, 100) << "the rings never filled";
}

}  // namespace
