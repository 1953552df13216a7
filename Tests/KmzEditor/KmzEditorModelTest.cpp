// Random sequences of taps, drags, erases, recolours, Clear, Load, Merge, undo and redo on a map
// view, checked after every step against a small reference model that keeps the drawing as sets of
// points, lines and markers by identity (no slots) and undoes by inverse operations of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "KmzEditor/KmzEditor.h"
#include "UiTestSupport.h"

namespace {

constexpr f32 kWidth = 800, kHeight = 600;
constexpr f64 kCentreX = 0.1, kCentreY = 0.2, kPixelsPerTurn = 1e6;
constexpr f32 kIconSize = 24;
constexpr u32 kPool = kKmzPoolSlots;

// ---- The reference model ----

struct MPoint {
    f64 x, y;
    u32 color;
};
struct MLine {
    i32 a, b;
    u32 color;
};
struct MMarker {
    f64 x, y;
    u32 number, kind;
};

struct MContent {
    std::vector<std::pair<i32, MPoint>> points;
    std::vector<std::pair<i32, MLine>> lines;  // ends are point ids; only lines whose ends are listed
    std::vector<std::pair<i32, MMarker>> markers;
    u32 rawLines = 0;  // the payload's line count, invalid lines included
};

enum RecordType { AddPoint, RestorePoint, DeletePoint, AddLine, DeleteLine, AddMarker, DeleteMarker, MovePoint, MoveMarker,
                  Recolor, Load, Merge, Unmerge };

struct MRecord {
    RecordType type;
    i32 id = 0;  // point, line or marker
    MPoint point{};
    MLine line{};
    MMarker marker{};
    std::vector<std::pair<i32, u32>> others{};  // AddPoint: (other point, colour)
    std::vector<std::pair<i32, MLine>> restored{};  // RestorePoint: its segments as they were
    u32 color = 0;
    MContent content{};  // Load, Merge; Unmerge keeps only the ids
};

struct Model {
    std::map<i32, MPoint> points;
    std::map<i32, MLine> lines;
    std::map<i32, MMarker> markers;
    i32 lineEnd = -1;
    u32 color = 0, mode = 0, markerKind = 0, nextMarkerNumber = 0;
    i32 nextId = 1;
    std::vector<MRecord> undo, redo;

    bool fits(const MContent& c) const {
        return points.size() + c.points.size() <= kPool && lines.size() + c.rawLines <= kPool &&
               markers.size() + c.markers.size() <= kPool;
    }
    bool empty() const { return points.empty() && lines.empty() && markers.empty(); }
    MContent content() const {
        MContent c;
        for (auto& p : points) c.points.push_back(p);
        for (auto& l : lines) c.lines.push_back(l);
        for (auto& m : markers) c.markers.push_back(m);
        c.rawLines = (u32)c.lines.size();
        return c;
    }
    bool canApply(const MRecord& r) const {
        switch (r.type) {
            case AddPoint:
                if (points.size() >= kPool) return false;
                for (auto& o : r.others)
                    if (!points.count(o.first)) return false;
                return true;
            case RestorePoint: return points.size() < kPool;
            case DeletePoint: return points.count(r.id) != 0;
            case AddLine: return lines.size() < kPool;
            case AddMarker: return markers.size() < kPool;
            case Load: return fits(r.content);
            case Merge: return fits(r.content);
            default: return true;
        }
    }
    const char* doneLabel(const MRecord& r) const {
        switch (r.type) {
            case AddPoint: case RestorePoint: return "Add";
            case DeletePoint: return "Delete";
            case AddLine: return "Add Line";
            case DeleteLine: return "Delete Line";
            case AddMarker: return "Add Marker";
            case DeleteMarker: return "Delete Marker";
            case MovePoint: case MoveMarker: return "Move";
            case Recolor: return "Recolor Line";
            case Load:
                return r.content.points.empty() && r.content.rawLines == 0 && r.content.markers.empty() ? "Clear"
                                                                                                      : "Load";
            case Merge: return "Merge";
            case Unmerge: return "Unmerge";
        }
        return "";
    }
    const char* inverseLabel(const MRecord& r) const {
        switch (r.type) {
            case AddPoint: case RestorePoint: return "Delete";
            case DeletePoint: return "Add";
            case AddLine: return "Delete Line";
            case DeleteLine: return "Add Line";
            case AddMarker: return "Delete Marker";
            case DeleteMarker: return "Add Marker";
            case MovePoint: case MoveMarker: return "Move";
            case Recolor: return "Recolor Line";
            case Load: return empty() ? "Clear" : "Load";
            case Merge: return "Unmerge";
            case Unmerge: return "Merge";
        }
        return "";
    }

    // Applies a record; false (and nothing changed) when the editor would refuse it. *inverse is
    // what undoes it.
    bool apply(MRecord r, MRecord* inverse) {
        if (r.type == Load ? !fits(r.content) : !canApply(r)) return false;
        MRecord inv{};
        switch (r.type) {
            case AddPoint: {
                points[r.id] = MPoint{r.point.x, r.point.y, color};
                lineEnd = r.id;
                for (auto& o : r.others) {
                    if (lines.size() >= kPool) continue;
                    lines[nextId++] = MLine{o.first, r.id, o.second};
                }
                inv.type = DeletePoint;
                inv.id = r.id;
                break;
            }
            case RestorePoint:
                points[r.id] = r.point;
                for (auto& l : r.restored) lines[l.first] = l.second;
                lineEnd = r.id;
                inv.type = DeletePoint;
                inv.id = r.id;
                break;
            case DeletePoint: {
                inv.type = RestorePoint;
                inv.id = r.id;
                inv.point = points[r.id];
                for (auto it = lines.begin(); it != lines.end();) {
                    if (it->second.a == r.id || it->second.b == r.id) {
                        inv.restored.push_back(*it);
                        it = lines.erase(it);
                    } else {
                        ++it;
                    }
                }
                points.erase(r.id);
                if (lineEnd == r.id) lineEnd = -1;
                break;
            }
            case AddLine:
                lines[r.id] = r.line;
                inv.type = DeleteLine;
                inv.id = r.id;
                break;
            case DeleteLine:
                inv.type = AddLine;
                inv.id = r.id;
                inv.line = lines[r.id];
                lines.erase(r.id);
                break;
            case AddMarker:
                markers[r.id] = r.marker;
                inv.type = DeleteMarker;
                inv.id = r.id;
                break;
            case DeleteMarker:
                inv.type = AddMarker;
                inv.id = r.id;
                inv.marker = markers[r.id];
                markers.erase(r.id);
                break;
            case MovePoint:
                inv.type = MovePoint;
                inv.id = r.id;
                inv.point = points[r.id];
                points[r.id].x = r.point.x;
                points[r.id].y = r.point.y;
                break;
            case MoveMarker:
                inv.type = MoveMarker;
                inv.id = r.id;
                inv.marker = markers[r.id];
                markers[r.id].x = r.marker.x;
                markers[r.id].y = r.marker.y;
                break;
            case Recolor: {
                MLine& line = lines[r.id];
                inv.type = Recolor;
                inv.id = r.id;
                inv.color = line.color;
                lineEnd = line.b;
                line.color = r.color;
                if (points.count(line.a)) points[line.a].color = r.color & 0xFF;
                if (points.count(line.b)) points[line.b].color = r.color & 0xFF;
                break;
            }
            case Load:
                inv.type = Load;
                inv.content = content();
                points.clear();
                lines.clear();
                markers.clear();
                for (auto& p : r.content.points) points[p.first] = p.second;
                for (auto& l : r.content.lines) lines[l.first] = l.second;
                for (auto& m : r.content.markers) markers[m.first] = m.second;
                lineEnd = -1;
                break;
            case Merge:
                inv.type = Unmerge;
                for (auto& p : r.content.points) points[p.first] = p.second;
                for (auto& l : r.content.lines) lines[l.first] = l.second;
                for (auto& m : r.content.markers) markers[m.first] = m.second;
                inv.content = r.content;  // the ids to take away again
                break;
            case Unmerge:
                inv.type = Merge;
                for (auto& p : r.content.points) inv.content.points.push_back({p.first, points[p.first]});
                for (auto& l : r.content.lines) inv.content.lines.push_back({l.first, lines[l.first]});
                for (auto& m : r.content.markers) inv.content.markers.push_back({m.first, markers[m.first]});
                inv.content.rawLines = (u32)inv.content.lines.size();
                for (auto& p : r.content.points) points.erase(p.first);
                for (auto& l : r.content.lines) lines.erase(l.first);
                for (auto& m : r.content.markers) markers.erase(m.first);
                if (lineEnd >= 0 && !points.count(lineEnd)) lineEnd = -1;
                break;
        }
        *inverse = inv;
        return true;
    }
    bool newEdit(const MRecord& r) {
        MRecord inverse;
        if (!apply(r, &inverse)) return false;
        undo.push_back(inverse);
        redo.clear();
        return true;
    }
    void step(std::vector<MRecord>* from, std::vector<MRecord>* to) {
        if (from->empty()) return;
        MRecord inverse;
        if (!apply(from->back(), &inverse)) return;
        from->pop_back();
        to->push_back(inverse);
    }
    const char* undoLabel() const {
        if (undo.empty()) return nullptr;
        const MRecord& r = undo.back();
        bool ok = r.type == Load ? fits(r.content) : canApply(r);
        return ok ? inverseLabel(r) : nullptr;
    }
    const char* redoLabel() const {
        if (redo.empty()) return nullptr;
        const MRecord& r = redo.back();
        bool ok = r.type == Load ? fits(r.content) : canApply(r);
        return ok ? doneLabel(r) : nullptr;
    }
};

// ---- The editor on a map view with scripted pointers ----

struct Drawing {
    std::vector<std::tuple<i64, i64, u32>> points;
    std::vector<std::tuple<i64, i64, i64, i64, u32>> lines;
    std::vector<std::tuple<i64, i64, u32, u32>> markers;
};

// Order-free comparison: for large drawings a sum of mixed hashes per item, else the sorted items.
template <typename T>
u64 itemHash(const T& item) {
    u64 h = 0x9E3779B97F4A7C15ull;
    std::apply([&](auto... v) { ((h = (h ^ (u64)v) * 0x100000001B3ull, h ^= h >> 29), ...); }, item);
    return h * 0xD6E8FEB86659FD93ull;
}
template <typename T>
bool sameItems(std::vector<T> a, std::vector<T> b) {
    if (a.size() != b.size()) return false;
    if (a.size() > 2000) {
        u64 sa = 0, sb = 0, qa = 0, qb = 0;
        for (auto& i : a) sa += itemHash(i), qa += itemHash(i) * itemHash(i);
        for (auto& i : b) sb += itemHash(i), qb += itemHash(i) * itemHash(i);
        return sa == sb && qa == qb;
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}
bool operator==(const Drawing& a, const Drawing& b) {
    return sameItems(a.points, b.points) && sameItems(a.lines, b.lines) && sameItems(a.markers, b.markers);
}

i64 q(f64 v) { return std::llround(v * 1e8); }

Drawing drawingOf(const KmzEditor* e) {
    Drawing d;
    for (u32 s = 0; s < kPool; ++s) {
        if (kmzSlotUsed(e->pointUsed, s)) d.points.emplace_back(q(e->points[s].x), q(e->points[s].y), e->pointColor[s]);
        if (kmzSlotUsed(e->lineUsed, s)) {
            const KmzLine& l = e->lines[s];
            d.lines.emplace_back(q(e->points[l.pointA].x), q(e->points[l.pointA].y), q(e->points[l.pointB].x),
                                 q(e->points[l.pointB].y), l.color & 0xFF);
        }
        if (kmzSlotUsed(e->markerUsed, s)) {
            const KmzMarker& m = e->markers[s];
            d.markers.emplace_back(q(m.x), q(m.y), m.number, m.kind);
        }
    }
    return d;
}

Drawing drawingOf(const Model& m) {
    Drawing d;
    for (auto& p : m.points) d.points.emplace_back(q(p.second.x), q(p.second.y), p.second.color);
    for (auto& l : m.lines) {
        const MPoint& a = m.points.at(l.second.a);
        const MPoint& b = m.points.at(l.second.b);
        d.lines.emplace_back(q(a.x), q(a.y), q(b.x), q(b.y), l.second.color & 0xFF);
    }
    for (auto& k : m.markers) d.markers.emplace_back(q(k.second.x), q(k.second.y), k.second.number, k.second.kind);
    return d;
}

template <typename T>
std::string differences(const std::vector<T>& a, const std::vector<T>& b, const char* name) {
    std::vector<T> onlyA, onlyB;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(onlyA));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(onlyB));
    if (onlyA.empty() && onlyB.empty()) return "";
    return std::string(name) + ": " + std::to_string(onlyA.size()) + " only in the editor, " +
           std::to_string(onlyB.size()) + " only in the model; ";
}

std::string describe(Drawing e, Drawing m) {
    for (Drawing* d : {&e, &m}) {
        std::sort(d->points.begin(), d->points.end());
        std::sort(d->lines.begin(), d->lines.end());
        std::sort(d->markers.begin(), d->markers.end());
    }
    std::string out = differences(e.points, m.points, "points") + differences(e.lines, m.lines, "lines") +
                      differences(e.markers, m.markers, "markers");
    for (auto& l : e.lines) {
        if (!std::binary_search(m.lines.begin(), m.lines.end(), l))
            out += " E-line colour " + std::to_string(std::get<4>(l));
    }
    for (auto& l : m.lines) {
        if (!std::binary_search(e.lines.begin(), e.lines.end(), l))
            out += " M-line colour " + std::to_string(std::get<4>(l));
    }
    for (auto& p : e.points) {
        if (!std::binary_search(m.points.begin(), m.points.end(), p))
            out += " E-point colour " + std::to_string(std::get<2>(p));
    }
    for (auto& p : m.points) {
        if (!std::binary_search(e.points.begin(), e.points.end(), p))
            out += " M-point colour " + std::to_string(std::get<2>(p));
    }
    return out;
}

size_t recordsIn(UndoRing* ring) {
    size_t n = 0;
    for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r)) ++n;
    return n;
}

struct KmzOnMap {
    WidgetBench* bench = nullptr;
    KmzEditor* editor = nullptr;
    MapView view{};

    KmzOnMap() {
        bench = makeWidgetBench(kWidth, kHeight);
        editor = (KmzEditor*)std::calloc(1, sizeof(KmzEditor));
        view = makeMapView(WidgetId{1, "kmz map"}, MapViewModeMap);
    }
    ~KmzOnMap() {
        std::free(editor);
        freeWidgetBench(bench);
    }
    void frame(i32 count = 1) {
        for (i32 i = 0; i < count; ++i) {
            Rect rect{0, kWidth, 0, kHeight};
            updateMapView(&view, &rect, Box2{0, 0, -0.5, 0.5}, bench->ui, bench->stack, nullptr, MapWheelZooms);
            setMapCenterAndZoom(&view, kCentreX, kCentreY, kPixelsPerTurn);
            std::memset(&bench->ui->batches, 0, sizeof bench->ui->batches);
            updateKmzEditor(editor, 0.5f, 1, &view, bench->ui, bench->stack, kIconSize);
            MapTaps taps;
            handleMapPointers(&taps, &view, bench->stack);
            for (i32 t = 0; t < taps.count; ++t) addKmzItemAtPosition(editor, taps.positions[t]);
            endBenchFrame(bench);
        }
    }
    void tap(f32 x, f32 y) {
        benchPress(bench, 0, x, y);
        frame();
        benchRelease(bench, 0);
        frame(2);
    }
    void drag(f32 x0, f32 y0, f32 x1, f32 y1) {
        benchPress(bench, 0, x0, y0);
        frame(20);  // past the 250 ms hold
        for (i32 step = 1; step <= 4; ++step) {
            benchMove(bench, 0, x0 + (x1 - x0) * step / 4, y0 + (y1 - y0) * step / 4);
            frame();
        }
        benchRelease(bench, 0);
        frame(2);
    }
    Vec2 mapAt(f32 x, f32 y) { return screenPointToMap(&view, x, y); }
};

f32 pixelX(f64 x) { return (f32)((x - kCentreX) * kPixelsPerTurn + kWidth / 2.0); }
f32 pixelY(f64 y) { return (f32)((y - kCentreY) * kPixelsPerTurn + kHeight / 2.0); }

// The content payload of an editor load or merge from the model's form; lines carry positions.
std::vector<u8> payloadOf(const std::vector<MPoint>& points, const std::vector<std::tuple<u32, u32, u32>>& lines,
                          const std::vector<MMarker>& markers) {
    std::vector<u8> out(kmzContentPayloadSize(points.size(), lines.size(), markers.size()));
    u8* at = out.data();
    auto u16le = [&](u16 v) { at[0] = (u8)v, at[1] = (u8)(v >> 8), at += 2; };
    auto u32le = [&](u32 v) { for (i32 i = 0; i < 4; ++i) *at++ = (u8)(v >> (8 * i)); };
    auto f64le = [&](f64 v) { std::memcpy(at, &v, 8), at += 8; };
    u16le((u16)points.size());
    u16le((u16)lines.size());
    u16le((u16)markers.size());
    for (auto& p : points) f64le(p.x), f64le(p.y), *at++ = (u8)p.color;
    for (auto& l : lines) u32le(std::get<0>(l)), u32le(std::get<1>(l)), u32le(std::get<2>(l));
    for (auto& m : markers) f64le(m.x), f64le(m.y), u32le(m.number), u32le(m.kind);
    return out;
}

class KmzEditorModel : public ::testing::TestWithParam<u32> {};

// The grid of cells the random steps use, 100 pixels apart so that no two hit boxes overlap.
constexpr i32 kColumns = 8, kRows = 6;
f32 cellX(i32 c) { return 50.0f + 100.0f * (f32)c; }
f32 cellY(i32 r) { return 50.0f + 100.0f * (f32)r; }

struct Runner {
    KmzOnMap map;
    Model model;
    std::mt19937 random;
    std::string history;
    explicit Runner(u32 seed) : random(seed) {}

    u32 pick(u32 n) { return (u32)(random() % n); }

    // Occupied cells (points and markers on screen).
    bool cellFree(i32 c, i32 r) {
        f32 x = cellX(c), y = cellY(r);
        for (auto& p : model.points)
            if (std::fabs(pixelX(p.second.x) - x) < 50 && std::fabs(pixelY(p.second.y) - y) < 50) return false;
        for (auto& m : model.markers)
            if (std::fabs(pixelX(m.second.x) - x) < 50 && std::fabs(pixelY(m.second.y) - y) < 50) return false;
        return true;
    }
    bool freeCell(f32* x, f32* y) {
        for (i32 tries = 0; tries < 30; ++tries) {
            i32 c = (i32)pick(kColumns), r = (i32)pick(kRows);
            if (cellFree(c, r)) {
                *x = cellX(c);
                *y = cellY(r);
                return true;
            }
        }
        return false;
    }
    bool onScreen(f64 x, f64 y) {
        f32 px = pixelX(x), py = pixelY(y);
        return px > 0 && px < kWidth && py > 0 && py < kHeight;
    }
    template <typename Map>
    i32 randomOnScreen(const Map& items) {
        std::vector<i32> ids;
        for (auto& i : items)
            if (onScreen(i.second.x, i.second.y)) ids.push_back(i.first);
        return ids.empty() ? -1 : ids[pick((u32)ids.size())];
    }

    void setMode(u32 mode) {
        map.editor->mode = mode;
        model.mode = mode;
    }

    void tapEmpty() {
        if (model.mode == KmzModeEraser) return;  // an eraser tap on the empty map may meet a line
        f32 x, y;
        if (!freeCell(&x, &y)) return;
        map.tap(x, y);
        Vec2 at = map.mapAt(x, y);
        if (model.mode == KmzModeLine) {
            MRecord r{AddPoint};
            r.id = model.nextId++;
            r.point = MPoint{at.x, at.y, 0};
            if (model.lineEnd >= 0) r.others.push_back({model.lineEnd, model.color});
            model.newEdit(r);
        } else if (model.mode == KmzModeMarker) {
            if (model.markers.size() >= kPool) return;
            MRecord r{AddMarker};
            r.id = model.nextId++;
            r.marker = MMarker{at.x, at.y, model.nextMarkerNumber++, model.markerKind};
            model.newEdit(r);
        }
    }

    void tapPoint() {
        i32 id = randomOnScreen(model.points);
        if (id < 0) return;
        MPoint p = model.points[id];
        f32 x = pixelX(p.x), y = pixelY(p.y);
        map.tap(x, y);
        if (model.mode == KmzModeEraser) {
            MRecord r{DeletePoint};
            r.id = id;
            model.newEdit(r);
            return;
        }
        if (model.mode != KmzModeLine) return;
        if (model.lineEnd >= 0 && model.lineEnd != id) {
            i32 existing = -1;
            for (auto& l : model.lines) {
                if ((l.second.a == id && l.second.b == model.lineEnd) || (l.second.a == model.lineEnd && l.second.b == id))
                    existing = l.first;
            }
            if (existing >= 0) {
                if ((model.lines[existing].color & 0xFF) != model.color) {
                    MRecord r{Recolor};
                    r.id = existing;
                    r.color = model.color;
                    model.newEdit(r);
                } else {
                    model.lineEnd = id;
                }
                return;
            }
            MRecord r{AddLine};
            r.id = model.nextId++;
            r.line = MLine{id, model.lineEnd, model.color};
            if (model.newEdit(r)) model.lineEnd = id;
            return;
        }
        // A press drags at once: one Move record, and the point sits where the pointer was.
        bool wasEnd = model.lineEnd == id;
        MRecord r{MovePoint};
        r.id = id;
        Vec2 at = map.mapAt(x, y);
        r.point = MPoint{at.x, at.y, 0};
        model.newEdit(r);
        model.lineEnd = wasEnd ? -1 : id;
    }

    void dragPoint() {
        if (model.mode != KmzModeLine) return;
        i32 id = randomOnScreen(model.points);
        f32 x1, y1;
        if (id < 0 || !freeCell(&x1, &y1)) return;
        MPoint p = model.points[id];
        map.drag(pixelX(p.x), pixelY(p.y), x1, y1);
        Vec2 at = map.mapAt(x1, y1);
        MRecord r{MovePoint};
        r.id = id;
        r.point = MPoint{at.x, at.y, 0};
        model.newEdit(r);
        model.lineEnd = id;
    }

    void dragMarker() {
        if (model.mode != KmzModeMarker) return;
        i32 id = randomOnScreen(model.markers);
        f32 x1, y1;
        if (id < 0 || !freeCell(&x1, &y1)) return;
        MMarker m = model.markers[id];
        map.drag(pixelX(m.x), pixelY(m.y), x1, y1);
        Vec2 at = map.mapAt(x1, y1);
        MRecord r{MoveMarker};
        r.id = id;
        r.marker = MMarker{at.x, at.y, 0, 0};
        model.newEdit(r);
    }

    void eraseMarker() {
        i32 id = randomOnScreen(model.markers);
        if (id < 0) return;
        setMode(KmzModeEraser);
        map.tap(pixelX(model.markers[id].x), pixelY(model.markers[id].y));
        MRecord r{DeleteMarker};
        r.id = id;
        model.newEdit(r);
    }

    // Erases a line at its midpoint when nothing else is near it there.
    void eraseLine() {
        std::vector<i32> ids;
        for (auto& l : model.lines) ids.push_back(l.first);
        if (ids.empty()) return;
        i32 id = ids[pick((u32)ids.size())];
        const MLine& line = model.lines[id];
        f32 ax = pixelX(model.points[line.a].x), ay = pixelY(model.points[line.a].y);
        f32 bx = pixelX(model.points[line.b].x), by = pixelY(model.points[line.b].y);
        f32 mx = (ax + bx) / 2, my = (ay + by) / 2;
        if (!(mx > 5 && mx < kWidth - 5 && my > 5 && my < kHeight - 5)) return;
        for (auto& p : model.points)
            if (std::fabs(pixelX(p.second.x) - mx) < 12 && std::fabs(pixelY(p.second.y) - my) < 12) return;
        for (auto& m : model.markers)
            if (std::fabs(pixelX(m.second.x) - mx) < 44 && std::fabs(pixelY(m.second.y) - my) < 44) return;
        for (auto& other : model.lines) {
            if (other.first == id) continue;
            f32 px = pixelX(model.points[other.second.a].x), py = pixelY(model.points[other.second.a].y);
            f32 qx = pixelX(model.points[other.second.b].x), qy = pixelY(model.points[other.second.b].y);
            f32 dx = qx - px, dy = qy - py, length2 = dx * dx + dy * dy;
            f32 t = length2 > 0 ? std::clamp(((mx - px) * dx + (my - py) * dy) / length2, 0.0f, 1.0f) : 0;
            f32 ex = px + t * dx - mx, ey = py + t * dy - my;
            if (ex * ex + ey * ey < 16 * 16) return;
        }
        setMode(KmzModeEraser);
        map.tap(mx, my);
        MRecord r{DeleteLine};
        r.id = id;
        model.newEdit(r);
    }

    // A random content on free cells (Merge) or anywhere (Load); some lines name positions outside
    // the payload's points.
    void loadOrMerge(bool merge, u32 pointCount, u32 markerCount) {
        std::vector<MPoint> points;
        std::vector<std::tuple<u32, u32, u32>> lines;
        std::vector<MMarker> markers;
        MContent content;
        for (u32 i = 0; i < pointCount; ++i) {
            f32 x, y;
            if (merge ? !freeCell(&x, &y) : false) break;
            if (!merge) x = cellX((i32)(i % kColumns)), y = cellY((i32)(i / kColumns % kRows));
            Vec2 at = map.mapAt(x, y);
            MPoint p{at.x, at.y, pick(7)};
            // Merged points take their cells at once, so the next one looks for another.
            points.push_back(p);
            i32 id = model.nextId++;
            content.points.push_back({id, p});
            if (merge) model.points[id] = p;
        }
        for (u32 i = 0; i + 1 < points.size(); ++i) {
            u32 b = pick(5) == 0 ? (u32)points.size() + pick(3) : i + 1;  // sometimes outside the payload
            lines.emplace_back(i, b, pick(7));
            if (b < points.size()) {
                content.lines.push_back(
                    {model.nextId++, MLine{content.points[i].first, content.points[b].first, std::get<2>(lines.back())}});
            }
        }
        for (u32 i = 0; i < markerCount; ++i) {
            f32 x, y;
            if (merge ? !freeCell(&x, &y) : false) break;
            if (!merge) x = cellX((i32)((pointCount + i) % kColumns)), y = cellY((i32)((pointCount + i) / kColumns % kRows));
            Vec2 at = map.mapAt(x, y);
            MMarker m{at.x, at.y, 1 + i, pick(5)};
            markers.push_back(m);
            i32 id = model.nextId++;
            content.markers.push_back({id, m});
            if (merge) model.markers[id] = m;
        }
        if (merge) {
            for (auto& p : content.points) model.points.erase(p.first);
            for (auto& m : content.markers) model.markers.erase(m.first);
        }
        content.rawLines = (u32)lines.size();
        std::vector<u8> payload = payloadOf(points, lines, markers);
        runNewEdit(&map.editor->history, merge ? mergeIntoKmzEditorAction : clearKmzEditorAction, payload.data(),
                   payload.size());
        MRecord r{merge ? Merge : Load};
        r.content = content;
        model.newEdit(r);
    }

    void clear() {
        static const u8 empty[6] = {};
        runNewEdit(&map.editor->history, clearKmzEditorAction, empty, sizeof empty);
        MRecord r{Load};
        model.newEdit(r);
    }

    void undo() {
        undoLastAction(&map.editor->history);
        model.step(&model.undo, &model.redo);
    }
    void redo() {
        redoLastAction(&map.editor->history);
        model.step(&model.redo, &model.undo);
    }

    // The rings may drop their oldest records (or all of them, for a record too large to keep).
    std::string labels() {
        std::string out = " editor:";
        UndoRing* ring = &map.editor->history.undo;
        for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r))
            out += std::string(" ") + r->operation(map.editor, undoRecordPayload(r), r->payloadSize, nullptr).inverseLabel;
        out += " model:";
        for (auto& r : model.undo) out += std::string(" ") + model.inverseLabel(r);
        return out;
    }
    void trimHistories() {
        size_t u = recordsIn(&map.editor->history.undo), r = recordsIn(&map.editor->history.redo);
        ASSERT_GE(model.undo.size(), u) << labels();
        ASSERT_GE(model.redo.size(), r);
        model.undo.erase(model.undo.begin(), model.undo.begin() + (ptrdiff_t)(model.undo.size() - u));
        model.redo.erase(model.redo.begin(), model.redo.begin() + (ptrdiff_t)(model.redo.size() - r));
    }

    void check(i32 step, const char* what) {
        trimHistories();
        KmzEditor* e = map.editor;
        Drawing inEditor = drawingOf(e), inModel = drawingOf(model);
        ASSERT_TRUE(inEditor == inModel) << "step " << step << " " << what << ": " << describe(inEditor, inModel)
                                         << " history " << history;
        if (model.lineEnd < 0) {
            EXPECT_FALSE(e->lineEnd >= 0 && kmzSlotUsed(e->pointUsed, (u32)e->lineEnd)) << "step " << step << " " << what;
        } else {
            ASSERT_TRUE(e->lineEnd >= 0 && kmzSlotUsed(e->pointUsed, (u32)e->lineEnd)) << "step " << step << " " << what;
            EXPECT_EQ(q(e->points[e->lineEnd].x), q(model.points[model.lineEnd].x)) << "step " << step << " " << what;
            EXPECT_EQ(q(e->points[e->lineEnd].y), q(model.points[model.lineEnd].y)) << "step " << step << " " << what;
        }
        const char* u = undoLabel(&e->history);
        const char* r = redoLabel(&e->history);
        EXPECT_EQ(std::string(u ? u : "-"), std::string(model.undoLabel() ? model.undoLabel() : "-"))
            << "step " << step << " " << what;
        EXPECT_EQ(std::string(r ? r : "-"), std::string(model.redoLabel() ? model.redoLabel() : "-"))
            << "step " << step << " " << what;
    }

    void run(i32 steps) {
        for (i32 step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
            const char* what = "";
            switch (pick(16)) {
                case 0: case 1: case 2: what = "tap empty"; tapEmpty(); break;
                case 3: case 4: what = "tap point"; tapPoint(); break;
                case 5: what = "drag point"; dragPoint(); break;
                case 6: what = "drag marker"; dragMarker(); break;
                case 7: what = "erase marker"; eraseMarker(); break;
                case 8: what = "erase line"; eraseLine(); break;
                case 9: {
                    what = "mode";
                    setMode(pick(3));
                    u32 c = pick(7), k = pick(5);
                    map.editor->color = (u8)c, model.color = c;
                    map.editor->markerKind = k, model.markerKind = k;
                    break;
                }
                case 10: what = "clear"; if (pick(3) == 0) clear(); break;
                case 11: what = pick(2) ? "load" : "merge"; loadOrMerge(what[0] == 'm', 1 + pick(5), pick(3)); break;
                case 12: case 13: what = "undo"; undo(); break;
                default: what = "redo"; redo(); break;
            }
            history += std::string(what) + ",";
            check(step, what);
        }
    }
};

TEST_P(KmzEditorModel, RandomEditsUndoAndRedoAgreeWithTheReferenceAfterEveryStep) {
    Runner runner(GetParam());
    runner.map.editor->lineEnd = -1;
    runner.run(160);
}

INSTANTIATE_TEST_SUITE_P(Seeds, KmzEditorModel, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

// Pools filled to the brim by one merge off the screen: further adds and merges are refused, and
// nothing else changes.
TEST(KmzEditorModelFull, FullPoolsRefuseAddsAndMergesAndChangeNothing) {
    Runner runner(99);
    runner.map.editor->lineEnd = -1;
    std::vector<MPoint> points;
    std::vector<std::tuple<u32, u32, u32>> lines;
    std::vector<MMarker> markers;
    MContent content;
    for (u32 i = 0; i < kPool - 2; ++i) {
        MPoint p{kCentreX, -0.1 - i * 1e-7, i % 7};
        points.push_back(p);
        content.points.push_back({runner.model.nextId++, p});
    }
    for (u32 i = 0; i < kPool - 1; ++i) {
        u32 a = i % (kPool - 3), b = a + 1;
        lines.emplace_back(a, b, 1);
        content.lines.push_back({runner.model.nextId++, MLine{content.points[a].first, content.points[b].first, 1}});
    }
    for (u32 i = 0; i < kPool - 1; ++i) {
        MMarker m{kCentreX + 0.01, -0.1 - i * 1e-7, i, i % 5};
        markers.push_back(m);
        content.markers.push_back({runner.model.nextId++, m});
    }
    content.rawLines = (u32)lines.size();
    std::vector<u8> payload = payloadOf(points, lines, markers);
    ASSERT_TRUE(runNewEdit(&runner.map.editor->history, mergeIntoKmzEditorAction, payload.data(), payload.size()).ok);
    MRecord r{Merge};
    r.content = content;
    ASSERT_TRUE(runner.model.newEdit(r));
    runner.check(-1, "bulk merge");

    // Two more points fit, with one line between them; the third point and a second line do not.
    runner.setMode(KmzModeLine);
    for (i32 i = 0; i < 3; ++i) {
        runner.tapEmpty();
        runner.check(i, "tap into full pools");
    }
    EXPECT_EQ(countKmzSlots(runner.map.editor->pointUsed), kPool);
    EXPECT_EQ(countKmzSlots(runner.map.editor->lineUsed), kPool);
    // A marker fits once, then the pool is full.
    runner.setMode(KmzModeMarker);
    for (i32 i = 0; i < 2; ++i) {
        runner.tapEmpty();
        runner.check(10 + i, "marker into a full pool");
    }
    EXPECT_EQ(countKmzSlots(runner.map.editor->markerUsed), kPool);
    // A merge that would pass a pool is refused; the redo ring stays as it was.
    runner.undo();
    runner.check(20, "undo");
    std::vector<u8> more = payloadOf({MPoint{0.1, 0.2, 0}, MPoint{0.1, 0.2001, 0}}, {}, {});
    EXPECT_FALSE(runNewEdit(&runner.map.editor->history, mergeIntoKmzEditorAction, more.data(), more.size()).ok);
    EXPECT_STREQ(redoLabel(&runner.map.editor->history), "Add Marker");
    runner.check(21, "refused merge");
    runner.run(12);
}

// Clear then undo gives back the same drawing, slot gaps and all; Load and Clear end the polyline.
TEST(KmzEditorModelFull, ClearThenUndoRestoresTheDrawingAndTheNextTapStartsAFreshLine) {
    KmzOnMap map;
    KmzEditor* e = map.editor;
    e->lineEnd = -1;
    for (i32 i = 0; i < 6; ++i) map.tap(100.0f + 100 * i, 300);
    map.tap(600, 300);  // a tap on the line end ends the polyline
    // Erase two points in the middle so that the slots have gaps.
    e->mode = KmzModeEraser;
    map.tap(300, 300);
    map.tap(500, 300);
    e->mode = KmzModeMarker;
    map.tap(300, 500);
    map.tap(500, 500);
    e->mode = KmzModeLine;
    map.tap(600, 300);  // the last point becomes the line end
    ASSERT_EQ(e->lineEnd, 5);
    Drawing before = drawingOf(e);
    static const u8 empty[6] = {};
    ASSERT_TRUE(runNewEdit(&e->history, clearKmzEditorAction, empty, 6).ok);
    EXPECT_EQ(drawingOf(e).points.size(), 0u);
    EXPECT_STREQ(undoLabel(&e->history), "Clear");
    undoLastAction(&e->history);
    EXPECT_TRUE(drawingOf(e) == before);
    EXPECT_EQ(e->lineEnd, -1);
    // The next tap on the empty map starts a new polyline instead of joining the loaded last point.
    size_t lines = drawingOf(e).lines.size();
    map.tap(700, 100);
    EXPECT_EQ(drawingOf(e).lines.size(), lines);
}

}  // namespace
