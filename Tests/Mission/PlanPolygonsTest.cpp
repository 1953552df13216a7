#include "Mission/PlanPolygons.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "Core/MathEarth.h"

namespace {

struct PolygonKind {
    UndoAction add, deleteLast, move, append, clear;
};

const PolygonKind kGeofenceKind = {addGeofencePointAction, deleteLastGeofencePointAction, moveGeofencePointAction,
                                   appendGeofencePointsAction, clearGeofenceAction};
const PolygonKind kTransectKind = {addTransectPointAction, deleteLastTransectPointAction, moveTransectPointAction,
                                   appendTransectPointsAction, clearTransectRegionAction};

// The reference model: the points as a plain list, and for every history record the list it gives
// back and its labels.
struct ModelRecord {
    std::vector<Vec2> restores;
    const char* doneLabel;
    const char* inverseLabel;
};

struct Model {
    std::vector<Vec2> points;
    std::deque<ModelRecord> undo, redo;
};

std::vector<Vec2> pointsOf(const TransectRegion* r) { return {r->points, r->points + r->pointCount}; }
std::vector<Vec2> pointsOf(const OrvikGeofence* g) { return {g->points, g->points + g->pointCount}; }

bool samePoints(const std::vector<Vec2>& a, const std::vector<Vec2>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Vec2)) == 0);
}

// The points that the geofence's last flight-log entry carries, back as map positions.
std::vector<Vec2> loggedPoints(const OrvikGeofence* geofence) {
    const ByteWriter& payload = geofence->logEntry.payload;
    std::vector<Vec2> points;
    if (!payload.data || payload.length < 1) return points;
    for (i64 i = 0; i < payload.data[0]; ++i) {
        f64 latLon[2];
        std::memcpy(latLon, payload.data + 1 + 16 * i, 16);
        GeoPoint geo = {latLon[1], latLon[0]};
        Vec2 point;
        latLngToMercator(&point, &geo);
        points.push_back(point);
    }
    return points;
}

struct Labels {
    const char* done;
    const char* inverse;
};
Labels labelsOf(UndoAction a) {
    UndoActionResult r = a(nullptr, nullptr, 0, nullptr);
    return {r.doneLabel, r.inverseLabel};
}

template <typename Owner>
void checkAgainstModel(Owner* polygon, Model& model, int step) {
    ASSERT_TRUE(samePoints(pointsOf(polygon), model.points)) << "step " << step;
    const char* undo = model.undo.empty() ? nullptr : model.undo.back().inverseLabel;
    const char* redo = model.redo.empty() ? nullptr : model.redo.back().doneLabel;
    ASSERT_STREQ(undoLabel(&polygon->history), undo) << "step " << step;
    ASSERT_STREQ(redoLabel(&polygon->history), redo) << "step " << step;
}

// Random fresh edits (many of them refused: a full polygon, an empty one, a point that is not
// there), undos and redos against the model after every step. For the geofence, every applied
// change and only those writes one flight-log entry holding the current points.
template <typename Owner>
void runRandomEdits(Owner* polygon, const PolygonKind& kind, FlightLogger* logger, u64 seed) {
    Model model;
    std::mt19937_64 random(seed);
    int refusals = 0, full = 0, emptyClears = 0;
    auto point = [&] { return Vec2{f64(random() % 2000) / 2000 - 0.5, f64(random() % 2000) / 5000 - 0.2}; };
    for (int step = 0; step < 20000; ++step) {
        u64 entriesBefore = logger ? logger->entries : 0;
        bool changed = false;
        u32 choice = u32(random() % 100);
        full += model.points.size() == 100;
        if (choice < 60) {
            u32 action = u32(random() % 10);
            UndoAction operation;
            std::vector<u8> payload;
            std::vector<Vec2> after = model.points;
            bool ok = true;
            if (action < 4) {
                Vec2 p = point();
                operation = kind.add;
                payload.assign(reinterpret_cast<u8*>(&p), reinterpret_cast<u8*>(&p + 1));
                ok = after.size() < 100;
                if (ok) after.push_back(p);
            } else if (action < 5) {
                operation = kind.deleteLast;
                ok = !after.empty();
                if (ok) after.pop_back();
            } else if (action < 7) {
                PolygonMovePayload move = {i32(random() % (after.size() + 2)) - 1, 0, point()};
                operation = kind.move;
                payload.assign(reinterpret_cast<u8*>(&move), reinterpret_cast<u8*>(&move + 1));
                ok = move.index >= 0 && move.index < i32(after.size());
                if (ok) after[size_t(move.index)] = move.position;
            } else if (action < 9) {
                std::vector<Vec2> more(random() % 30);
                for (Vec2& p : more) p = point();
                operation = kind.append;
                payload.assign(reinterpret_cast<u8*>(more.data()), reinterpret_cast<u8*>(more.data() + more.size()));
                ok = !more.empty() && after.size() + more.size() <= 100;
                if (ok) after.insert(after.end(), more.begin(), more.end());
            } else {
                operation = kind.clear;
                ok = !after.empty();
                emptyClears += !ok;
                after.clear();
            }
            u64 marks[4] = {polygon->history.undo.head, polygon->history.undo.tail, polygon->history.redo.head,
                            polygon->history.redo.tail};
            UndoActionResult result = runNewEdit(&polygon->history, operation, payload.data(), payload.size());
            ASSERT_EQ(result.ok, u32(ok)) << "step " << step;
            if (ok) {
                Labels labels = labelsOf(operation);
                model.undo.push_back({model.points, labels.inverse, labels.done});
                model.redo.clear();
                model.points = after;
                changed = true;
            } else {
                ++refusals;
                u64 now[4] = {polygon->history.undo.head, polygon->history.undo.tail, polygon->history.redo.head,
                              polygon->history.redo.tail};
                ASSERT_EQ(std::memcmp(marks, now, sizeof marks), 0) << "step " << step;
            }
        } else {
            bool undo = choice < 82;
            std::deque<ModelRecord>& from = undo ? model.undo : model.redo;
            std::deque<ModelRecord>& to = undo ? model.redo : model.undo;
            if (undo) undoLastAction(&polygon->history); else redoLastAction(&polygon->history);
            if (!from.empty()) {
                ModelRecord record = from.back();
                from.pop_back();
                to.push_back({model.points, record.inverseLabel, record.doneLabel});
                model.points = record.restores;
                changed = true;
            }
        }
        ASSERT_NO_FATAL_FAILURE(checkAgainstModel(polygon, model, step));
        if constexpr (std::is_same_v<Owner, OrvikGeofence>) {
            ASSERT_EQ(logger->entries, entriesBefore + (changed ? 1 : 0)) << "step " << step;
            if (logger->entries == 0) continue;
            const OrvikGeofence* geofence = polygon;
            std::vector<Vec2> logged = loggedPoints(geofence);
            ASSERT_EQ(logged.size(), model.points.size());
            // An empty geofence is the single count byte 0.
            ASSERT_EQ(geofence->logEntry.payload.length, i64(1 + 16 * logged.size()));
            ASSERT_EQ(geofence->logEntry.type, u32(FlightLogGeofenceChanged));
            for (size_t i = 0; i < logged.size(); ++i) {
                ASSERT_NEAR(logged[i].x, model.points[i].x, 1e-12);
                ASSERT_NEAR(logged[i].y, model.points[i].y, 1e-12);
            }
        }
    }
    EXPECT_GT(refusals, 500);
    EXPECT_GT(full, 0);
    EXPECT_GT(emptyClears, 10);
}

TEST(PlanPolygons, RandomTransectEditsUndoAndRedoAgreeWithAPlainList) {
    auto region = std::make_unique<TransectRegion>();
    runRandomEdits(region.get(), kTransectKind, nullptr, 11);
}

TEST(PlanPolygons, RandomGeofenceEditsAgreeWithAPlainListAndEveryChangeIsLogged) {
    auto geofence = std::make_unique<OrvikGeofence>();
    FlightLogger logger = {};
    logger.logFileName = makeString("Flight Logs/test.qvlog3");
    geofence->flightLogger = &logger;
    runRandomEdits(geofence.get(), kGeofenceKind, &logger, 12);
}

}  // namespace
