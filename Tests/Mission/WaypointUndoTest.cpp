#include "Mission/WaypointUndo.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

Waypoint waypoint(u32 id, f64 x = 0, f64 y = 0) {
    Waypoint w = {};
    w.id = id;
    w.x = x;
    w.y = y;
    w.altitude = 30 + id;
    return w;
}

std::unique_ptr<WaypointMissionEditor> editorWith(std::initializer_list<u32> ids) {
    auto editor = std::make_unique<WaypointMissionEditor>();
    *editor = WaypointMissionEditor{};
    for (u32 id : ids) editor->waypoints[editor->waypointCount++] = waypoint(id, id * 0.001, -id * 0.001);
    return editor;
}

std::vector<u32> idsOf(const WaypointMissionEditor* editor) {
    std::vector<u32> ids;
    for (i32 i = 0; i < editor->waypointCount; ++i) ids.push_back(editor->waypoints[i].id);
    return ids;
}

u32 wordOf(UndoRecord* record, int index) {
    u32 word;
    std::memcpy(&word, undoRecordPayload(record) + index * 4, 4);
    return word;
}

TEST(WaypointUndo, LabelsWithoutAnInverseRingChangeNothing) {
    auto editor = editorWith({1, 2});
    struct {
        UndoAction action;
        const char *done, *inverse;
    } actions[] = {{deleteWaypointAction, "Delete", "Add"},
                   {insertWaypointAction, "Add", "Delete"},
                   {moveWaypointAction, "Move", "Move"},
                   {appendWaypointsAction, "Append", "Clear"},
                   {clearWaypointsAction, "Clear", "Append"}};
    for (auto& a : actions) {
        UndoActionResult result = a.action(editor.get(), nullptr, 0, nullptr);
        EXPECT_STREQ(result.doneLabel, a.done);
        EXPECT_STREQ(result.inverseLabel, a.inverse);
        EXPECT_EQ(result.ok, 1u);
    }
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{1, 2}));
}

TEST(WaypointUndo, DeleteAndAddPutTheWaypointBackInItsPlace) {
    auto editor = editorWith({4, 5, 6});
    UndoHistory* history = &editor->history;
    DeleteWaypointPayload remove = {5};
    ASSERT_EQ(runNewEdit(history, deleteWaypointAction, &remove, sizeof remove).ok, 1u);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{4, 6}));
    EXPECT_STREQ(undoLabel(history), "Delete");
    // The "Add" record names the waypoint it follows in its third word.
    UndoRecord* add = oldestUndoAction(&history->undo);
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->operation, insertWaypointAction);
    EXPECT_EQ(wordOf(add, 2), 4u);
    undoLastAction(history);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{4, 5, 6}));
    EXPECT_EQ(editor->waypoints[1].altitude, 35);
    EXPECT_STREQ(redoLabel(history), "Delete");
    UndoRecord* redo = oldestUndoAction(&history->redo);
    EXPECT_EQ(wordOf(redo, 0), 5u);
    redoLastAction(history);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{4, 6}));

    // The first waypoint comes back at the front.
    DeleteWaypointPayload first = {4};
    runNewEdit(history, deleteWaypointAction, &first, sizeof first);
    undoLastAction(history);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{4, 6}));

    // Refusals: an unknown id, a short payload, a duplicate id, a full mission.
    DeleteWaypointPayload unknown = {99};
    EXPECT_EQ(runNewEdit(history, deleteWaypointAction, &unknown, sizeof unknown).ok, 0u);
    EXPECT_EQ(runNewEdit(history, deleteWaypointAction, &unknown, 2).ok, 0u);
    InsertWaypointPayload again = {};
    again.waypoint = waypoint(6);
    EXPECT_EQ(runNewEdit(history, insertWaypointAction, &again, sizeof again).ok, 0u);
    InsertWaypointPayload orphan = {};
    orphan.previousId = 77;
    orphan.waypoint = waypoint(8);
    EXPECT_EQ(runNewEdit(history, insertWaypointAction, &orphan, sizeof orphan).ok, 0u);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{4, 6}));
}

TEST(WaypointUndo, MoveSwapsPositions) {
    auto editor = editorWith({1, 2});
    UndoHistory* history = &editor->history;
    MoveWaypointPayload move = {0.25, -0.125, 80, 2, 0};
    ASSERT_EQ(runNewEdit(history, moveWaypointAction, &move, sizeof move).ok, 1u);
    EXPECT_EQ(editor->waypoints[1].x, 0.25);
    EXPECT_EQ(editor->waypoints[1].altitude, 80);
    EXPECT_EQ(wordOf(oldestUndoAction(&history->undo), 6), 2u);
    EXPECT_STREQ(undoLabel(history), "Move");
    undoLastAction(history);
    EXPECT_EQ(editor->waypoints[1].x, 0.002);
    EXPECT_EQ(editor->waypoints[1].altitude, 32);
    redoLastAction(history);
    EXPECT_EQ(editor->waypoints[1].y, -0.125);
    MoveWaypointPayload nowhere = {0, 0, 0, 3, 0};
    EXPECT_EQ(runNewEdit(history, moveWaypointAction, &nowhere, sizeof nowhere).ok, 0u);
}

TEST(WaypointUndo, ClearKeepsLockedWaypointsAndAppendBringsTheRestBack) {
    auto editor = editorWith({1, 2, 3, 4});
    editor->waypoints[0].uploadMark = 1;
    editor->waypoints[1].uploadMark = 2;
    UndoHistory* history = &editor->history;
    ASSERT_EQ(runNewEdit(history, clearWaypointsAction, nullptr, 0).ok, 1u);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{1, 2}));
    EXPECT_STREQ(undoLabel(history), "Clear");
    EXPECT_EQ(oldestUndoAction(&history->undo)->payloadSize, 2 * sizeof(Waypoint));
    // Nothing unlocked is left to clear.
    EXPECT_EQ(runNewEdit(history, clearWaypointsAction, nullptr, 0).ok, 0u);
    undoLastAction(history);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{1, 2, 3, 4}));
    EXPECT_STREQ(redoLabel(history), "Clear");
    redoLastAction(history);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{1, 2}));

    // An append that would pass 99 waypoints, or of a partial record, is refused.
    std::vector<Waypoint> many;
    for (u32 id = 100; id < 198; ++id) many.push_back(waypoint(id));
    EXPECT_EQ(runNewEdit(history, appendWaypointsAction, many.data(), many.size() * sizeof(Waypoint)).ok, 0u);
    EXPECT_EQ(runNewEdit(history, appendWaypointsAction, many.data(), 97 * sizeof(Waypoint)).ok, 1u);
    EXPECT_EQ(editor->waypointCount, kMaxWaypoints);
    InsertWaypointPayload more = {};
    more.waypoint = waypoint(500);
    EXPECT_EQ(runNewEdit(history, insertWaypointAction, &more, sizeof more).ok, 0u);
    undoLastAction(history);
    EXPECT_EQ(runNewEdit(history, appendWaypointsAction, many.data(), 47).ok, 0u);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{1, 2}));
}

TEST(WaypointUndo, PurgeDropsReachedWaypointsAndTheHistoryAboutThem) {
    auto editor = editorWith({1, 2, 3, 4, 5});
    for (i32 i = 0; i < 4; ++i) {
        editor->waypoints[i].uploadMark = 1;
        editor->waypoints[i].missionItemNumber = i + 1;
    }
    UndoHistory* history = &editor->history;
    MoveWaypointPayload moveFour = {0.5, 0.5, 10, 4, 0}, moveTwo = {0.1, 0.1, 10, 2, 0}, moveFive = {0.3, 0.3, 10, 5, 0};
    runNewEdit(history, moveWaypointAction, &moveFour, sizeof moveFour);
    runNewEdit(history, moveWaypointAction, &moveTwo, sizeof moveTwo);
    runNewEdit(history, moveWaypointAction, &moveFive, sizeof moveFive);
    // Item 9 is nobody's: nothing happens.
    purgeUndoActionsFor(editor.get(), 9);
    EXPECT_EQ(editor->waypointCount, 5);
    // Item 2: waypoints 1 and 2 go, with the move of 2 and everything older.
    purgeUndoActionsFor(editor.get(), 2);
    EXPECT_EQ(idsOf(editor.get()), (std::vector<u32>{3, 4, 5}));
    UndoRecord* oldest = oldestUndoAction(&history->undo);
    ASSERT_NE(oldest, nullptr);
    EXPECT_EQ(wordOf(oldest, 6), 5u);
    EXPECT_EQ(nextUndoAction(&history->undo, oldest), nullptr);
    undoLastAction(history);
    EXPECT_EQ(editor->waypoints[2].x, 0.005);
    EXPECT_EQ(undoLabel(history), nullptr);

    // The walk stops at the first waypoint not uploaded.
    auto later = editorWith({1, 2, 3});
    later->waypoints[0].uploadMark = 1;
    later->waypoints[0].missionItemNumber = 1;
    later->waypoints[2].uploadMark = 1;
    later->waypoints[2].missionItemNumber = 3;
    purgeUndoActionsFor(later.get(), 3);
    EXPECT_EQ(later->waypointCount, 3);
}

// The reference model: the mission as a plain list, and for every history record the mission that
// running it gives back and the ids by which a purge finds it.
struct ModelRecord {
    UndoAction operation;
    std::vector<Waypoint> restores;
    std::vector<u32> refersTo;
};

struct Model {
    std::vector<Waypoint> mission;
    std::deque<ModelRecord> undo, redo;
};

const char* doneLabelOf(UndoAction a) { return a(nullptr, nullptr, 0, nullptr).doneLabel; }
const char* inverseLabelOf(UndoAction a) { return a(nullptr, nullptr, 0, nullptr).inverseLabel; }

size_t lockedIn(const std::vector<Waypoint>& mission) {
    size_t n = 0;
    while (n < mission.size() && mission[n].uploadMark) ++n;
    return n;
}

// The record that takes the mission back to `before`, after an edit by `operation` on the
// waypoint `id`.
ModelRecord inverseRecord(UndoAction operation, const std::vector<Waypoint>& before, u32 id) {
    ModelRecord record = {nullptr, before, {}};
    if (operation == deleteWaypointAction) {
        record.operation = insertWaypointAction;
        for (size_t i = 0; i < before.size(); ++i) {
            if (before[i].id == id) record.refersTo.push_back(i ? before[i - 1].id : 0);
        }
    } else if (operation == insertWaypointAction) {
        record.operation = deleteWaypointAction;
        record.refersTo.push_back(id);
    } else if (operation == moveWaypointAction) {
        record.operation = moveWaypointAction;
        record.refersTo.push_back(id);
    } else if (operation == clearWaypointsAction) {
        record.operation = appendWaypointsAction;
        for (size_t i = lockedIn(before); i < before.size(); ++i) record.refersTo.push_back(before[i].id);
    } else if (operation == generateWaypointsAction) {
        record.operation = generateWaypointsAction;
    } else {
        record.operation = clearWaypointsAction;
    }
    return record;
}

size_t recordsIn(UndoRing* ring) {
    size_t n = 0;
    for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r)) ++n;
    return n;
}

void expectSame(WaypointMissionEditor* editor, Model& model) {
    ASSERT_EQ(editor->waypointCount, i32(model.mission.size()));
    for (size_t i = 0; i < model.mission.size(); ++i) {
        ASSERT_EQ(std::memcmp(&editor->waypoints[i], &model.mission[i], sizeof(Waypoint)), 0) << "waypoint " << i;
    }
    // Full rings forget their oldest records.
    for (auto [ring, stack] : {std::pair{&editor->history.undo, &model.undo}, std::pair{&editor->history.redo, &model.redo}}) {
        size_t n = recordsIn(ring);
        ASSERT_LE(n, stack->size());
        stack->erase(stack->begin(), stack->begin() + long(stack->size() - n));
        UndoRecord* newest = nullptr;
        for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r)) newest = r;
        if (n) {
            ASSERT_EQ(newest->operation, stack->back().operation);
        }
    }
    const char* undo = model.undo.empty() ? nullptr : inverseLabelOf(model.undo.back().operation);
    const char* redo = model.redo.empty() ? nullptr : doneLabelOf(model.redo.back().operation);
    ASSERT_STREQ(undoLabel(&editor->history), undo);
    ASSERT_STREQ(redoLabel(&editor->history), redo);
}

// Where the rings stand: enough to see that a refused edit left them alone.
struct RingMarks {
    u64 undoHead, undoTail, redoHead, redoTail;
    bool operator==(const RingMarks&) const = default;
};
RingMarks marksOf(const UndoHistory& h) { return {h.undo.head, h.undo.tail, h.redo.head, h.redo.tail}; }

TEST(WaypointUndo, RandomEditsUndoRedoAndPurgesAgainstAModel) {
    auto editor = std::make_unique<WaypointMissionEditor>();
    *editor = WaypointMissionEditor{};
    Model model;
    std::mt19937_64 random(47);
    i32 nextItem = 1;
    int purges = 0, refusals = 0, fullMissions = 0;
    auto coordinate = [&] { return double(random() % 1000) / 1000; };
    for (int step = 0; step < 30000; ++step) {
        u32 choice = u32(random() % 100);
        std::vector<Waypoint> before = model.mission;
        size_t locked = lockedIn(model.mission);
        fullMissions += model.mission.size() == size_t(kMaxWaypoints);
        if (choice < 55) {
            // A fresh edit, tried whether or not it can be applied.
            u32 kind = u32(random() % 12);
            UndoAction operation = nullptr;
            std::vector<u8> payload;
            u32 id = 0;
            bool expectOk = true;
            if (kind < 3) {
                // A tap on the map: the mission's own insertion with a fresh id.
                i32 index = i32(random() % (model.mission.size() + 3)) - 1;
                f64 x = coordinate(), y = coordinate(), altitude = f64(random() % 120);
                expectOk = model.mission.size() < size_t(kMaxWaypoints) && index >= i32(locked) &&
                           index <= i32(model.mission.size());
                RingMarks rings = marksOf(editor->history);
                u32 ok = insertWaypoint(editor.get(), index, x, y, altitude);
                ASSERT_EQ(ok, u32(expectOk)) << step;
                if (!ok) {
                    ++refusals;
                    ASSERT_TRUE(rings == marksOf(editor->history));
                    ASSERT_NO_FATAL_FAILURE(expectSame(editor.get(), model));
                    continue;
                }
                Waypoint added = {};
                added.id = id = editor->waypoints[index].id;
                ASSERT_NE(id, 0u);
                ASSERT_EQ(findWaypoint(editor.get(), id), index);
                added.x = x, added.y = y, added.altitude = altitude;
                model.mission.insert(model.mission.begin() + index, added);
                model.undo.push_back(inverseRecord(insertWaypointAction, before, id));
                model.redo.clear();
                ASSERT_NO_FATAL_FAILURE(expectSame(editor.get(), model)) << "step " << step;
                continue;
            } else if (kind < 5) {
                // A waypoint the vehicle already holds: inserted with its upload mark.
                InsertWaypointPayload insert = {};
                size_t at = random() % (model.mission.size() + 1);
                insert.previousId = at ? model.mission[at - 1].id : 0;
                insert.waypoint = waypoint(id = takeWaypointId(editor.get()), coordinate(), coordinate());
                insert.waypoint.uploadMark = u32(1 + random() % 2);
                insert.waypoint.missionItemNumber = nextItem++;
                insert.id = id;
                operation = insertWaypointAction;
                payload.assign(reinterpret_cast<u8*>(&insert), reinterpret_cast<u8*>(&insert + 1));
                expectOk = model.mission.size() < size_t(kMaxWaypoints);
                if (expectOk) model.mission.insert(model.mission.begin() + long(at), insert.waypoint);
            } else if (kind < 7) {
                id = model.mission.empty() || random() % 8 == 0 ? 100000 : model.mission[random() % model.mission.size()].id;
                DeleteWaypointPayload remove = {id};
                operation = deleteWaypointAction;
                payload.assign(reinterpret_cast<u8*>(&remove), reinterpret_cast<u8*>(&remove + 1));
                auto found = std::find_if(model.mission.begin(), model.mission.end(), [&](const Waypoint& w) { return w.id == id; });
                expectOk = found != model.mission.end();
                if (expectOk) model.mission.erase(found);
            } else if (kind < 9 && !model.mission.empty()) {
                Waypoint& w = model.mission[random() % model.mission.size()];
                id = w.id;
                MoveWaypointPayload move = {coordinate(), coordinate(), double(random() % 90), id, 0};
                operation = moveWaypointAction;
                payload.assign(reinterpret_cast<u8*>(&move), reinterpret_cast<u8*>(&move + 1));
                w.x = move.x, w.y = move.y, w.altitude = move.altitude;
            } else if (kind < 10) {
                // "Clear" keeps the locked waypoints and changes nothing when no other is left.
                operation = clearWaypointsAction;
                expectOk = locked < model.mission.size();
                model.mission.resize(locked);
            } else {
                // "Generate" replaces the unlocked waypoints; refused past 99 waypoints.
                size_t count = random() % (size_t(kMaxWaypoints) - locked + 3);
                if (random() % 2) count %= 8;
                std::vector<Waypoint> generated;
                for (size_t i = 0; i < count; ++i) generated.push_back(waypoint(takeWaypointId(editor.get()), coordinate(), coordinate()));
                operation = generateWaypointsAction;
                payload.assign(reinterpret_cast<u8*>(generated.data()), reinterpret_cast<u8*>(generated.data() + count));
                expectOk = locked + count <= size_t(kMaxWaypoints);
                if (expectOk) {
                    model.mission.resize(locked);
                    model.mission.insert(model.mission.end(), generated.begin(), generated.end());
                }
            }
            if (!operation) continue;
            RingMarks rings = marksOf(editor->history);
            ASSERT_EQ(runNewEdit(&editor->history, operation, payload.data(), payload.size()).ok, u32(expectOk)) << step;
            if (expectOk) {
                model.undo.push_back(inverseRecord(operation, before, id));
                model.redo.clear();
            } else {
                ++refusals;
                ASSERT_TRUE(rings == marksOf(editor->history)) << step;
            }
        } else if (choice < 96) {
            bool undo = choice < 78;
            std::deque<ModelRecord>& from = undo ? model.undo : model.redo;
            std::deque<ModelRecord>& to = undo ? model.redo : model.undo;
            if (undo) undoLastAction(&editor->history); else redoLastAction(&editor->history);
            // A "Clear" left with nothing unlocked to clear (a purge took the waypoints) is refused
            // and stays.
            bool refused = !from.empty() && from.back().operation == clearWaypointsAction && locked == model.mission.size();
            if (!from.empty() && !refused) {
                ModelRecord record = from.back();
                from.pop_back();
                u32 id = record.refersTo.empty() ? 0 : record.refersTo[0];
                if (record.operation == insertWaypointAction) {
                    // Re-adding: the waypoint is the one in the restored mission that is missing now.
                    for (const Waypoint& w : record.restores) {
                        if (std::none_of(model.mission.begin(), model.mission.end(), [&](const Waypoint& m) { return m.id == w.id; })) id = w.id;
                    }
                }
                ModelRecord inverse = inverseRecord(record.operation, model.mission, id);
                model.mission = record.restores;
                to.push_back(inverse);
            }
        } else {
            // The vehicle reached a mission item.
            std::vector<i32> numbers;
            for (const Waypoint& w : model.mission) {
                if (!w.uploadMark) break;
                numbers.push_back(w.missionItemNumber);
            }
            if (numbers.empty()) continue;
            i32 number = numbers[random() % numbers.size()];
            purgeUndoActionsFor(editor.get(), u32(number));
            ++purges;
            size_t k = 0;
            while (model.mission[k].missionItemNumber != number) ++k;
            std::vector<u32> gone;
            for (size_t i = 0; i <= k; ++i) gone.push_back(model.mission[i].id);
            auto isGone = [&](u32 id) { return std::find(gone.begin(), gone.end(), id) != gone.end(); };
            for (std::deque<ModelRecord>* stack : {&model.undo, &model.redo}) {
                long newest = -1;
                for (size_t i = 0; i < stack->size(); ++i) {
                    for (u32 id : (*stack)[i].refersTo) {
                        if (isGone(id)) newest = long(i);
                    }
                }
                stack->erase(stack->begin(), stack->begin() + newest + 1);
                for (ModelRecord& r : *stack) {
                    r.restores.erase(std::remove_if(r.restores.begin(), r.restores.end(), [&](const Waypoint& w) { return isGone(w.id); }),
                                     r.restores.end());
                }
            }
            model.mission.erase(model.mission.begin(), model.mission.begin() + long(k + 1));
        }
        ASSERT_NO_FATAL_FAILURE(expectSame(editor.get(), model)) << "step " << step;
    }
    EXPECT_GT(purges, 100);
    EXPECT_GT(refusals, 100);
    EXPECT_GT(fullMissions, 0);
}

}  // namespace
