#include "Drone/TarnwickPayloads/DropLocations.h"

#include "Core/MathEarth.h"
#include "SourceCommon/Renderer/MapBatches.h"
#include "SourceCommon/Renderer/TextLayout.h"
#include "SourceCommon/UserInterface/MapView.h"

#include <cmath>
#include <cstring>

i32 addOrvikDropLocation(OrvikDropLocations* list, DropPosition position, u64 time) {
    if (list->count >= kMaxOrvikDropLocations) return 0;
    list->positions[list->count] = position;
    list->times[list->count] = time;
    list->count++;
    return 1;
}

i32 addVoskDropLocation(DodireruDropLocations* list, DropPosition position, u64 time, u32 armed) {
    if (list->count >= kMaxVoskDropLocations) return 0;
    list->positions[list->count] = position;
    list->times[list->count] = time;
    setVoskDropArmed(list, list->count, armed);
    list->count++;
    return 1;
}

u32 isVoskDropArmed(const DodireruDropLocations* list, u32 index) {
    if (index >= kMaxVoskDropLocations) return 0;
    return (u32)((list->armed[index / 64] >> (index % 64)) & 1);
}

void setVoskDropArmed(DodireruDropLocations* list, u32 index, u32 armed) {
    if (index >= kMaxVoskDropLocations) return;
    u64 bit = 1ull << (index % 64);
    if (armed) list->armed[index / 64] |= bit;
    else list->armed[index / 64] &= ~bit;
}

void removeOrvikDropLocation(OrvikDropLocations* list, u32 index) {
    u32 count = list->count > kMaxOrvikDropLocations ? kMaxOrvikDropLocations : list->count;
    if (index >= count) return;
    u32 later = count - index - 1;
    std::memmove(&list->positions[index], &list->positions[index + 1], later * sizeof(DropPosition));
    std::memmove(&list->times[index], &list->times[index + 1], later * sizeof(u64));
    list->count = count - 1;
}

void removeVoskDropLocation(DodireruDropLocations* list, u32 index) {
    u32 count = list->count > kMaxVoskDropLocations ? kMaxVoskDropLocations : list->count;
    if (index >= count) return;
    for (u32 i = index; i + 1 < count; i++) {
        list->positions[i] = list->positions[i + 1];
        list->times[i] = list->times[i + 1];
        setVoskDropArmed(list, i, isVoskDropArmed(list, i + 1));
    }
    setVoskDropArmed(list, count - 1, 0);
    list->count = count - 1;
}

u32 expireDropLocations(OrvikDropLocations* orvik, DodireruDropLocations* vosk, f64 persistenceHours, i64 nowMs,
                        u32 orvikConsidered, u32 voskConsidered) {
    if (!(persistenceHours >= 0.0)) return 0;
    f64 lifetime = persistenceHours * 60.0 * 60.0 * 1000.0;
    f64 now = (f64)nowMs;
    // One stable compaction per list: the same result as removing the expired points one by one
    // from the last down, without moving the 30,000-point list once per point.
    u32 count = orvik->count > kMaxOrvikDropLocations ? kMaxOrvikDropLocations : orvik->count;
    u32 kept = 0;
    for (u32 i = 0; i < count; i++) {
        if (i < orvikConsidered && (f64)orvik->times[i] + lifetime <= now) continue;
        orvik->positions[kept] = orvik->positions[i];
        orvik->times[kept] = orvik->times[i];
        kept++;
    }
    u32 removed = count - kept;
    orvik->count = kept;
    count = vosk->count > kMaxVoskDropLocations ? kMaxVoskDropLocations : vosk->count;
    kept = 0;
    for (u32 i = 0; i < count; i++) {
        if (i < voskConsidered && (f64)vosk->times[i] + lifetime <= now) continue;
        vosk->positions[kept] = vosk->positions[i];
        vosk->times[kept] = vosk->times[i];
        setVoskDropArmed(vosk, kept, isVoskDropArmed(vosk, i));
        kept++;
    }
    for (u32 i = kept; i < count; i++) setVoskDropArmed(vosk, i, 0);
    removed += count - kept;
    vosk->count = kept;
    return removed;
}

i32 encodeDropPosition(DropPosition* out, const GeoPoint* geo) {
    Vec2 mercator;
    latLngToMercator(&mercator, geo);
    f64 x = std::trunc(mercator.x * kDropPositionScale);
    f64 y = std::trunc(mercator.y * kDropPositionScale);
    if (x == kDropPositionScale) x = -kDropPositionScale;
    if (!(x >= -kDropPositionScale && x < kDropPositionScale && y >= -kDropPositionScale && y < kDropPositionScale)) {
        return 0;
    }
    out->x = (i32)x;
    out->y = (i32)y;
    return 1;
}

Vec2 decodeDropPosition(DropPosition position) {
    return Vec2{position.x / kDropPositionScale, position.y / kDropPositionScale};
}

Vec2F32 dropPointOnView(DropPosition position, const MapView* view) {
    Vec2 point = decodeDropPosition(position);
    f64 cx = view->centreX;
    f64 x = point.x;
    if (std::isfinite(cx)) {
        x -= std::trunc(x - cx);
        while (x > cx + 0.5) x -= 1;
        while (x < cx - 0.5) x += 1;
    }
    return Vec2F32{(f32)((x - cx) * view->pixelsPerUnit + view->rectCentreX),
                   (f32)((point.y - view->centreY) * view->pixelsPerUnit + view->rectCentreY)};
}

namespace {

// Oldest first: the newest lie on top.
void drawDropPoints(const DropPosition* positions, u32 count, u32 image, f32 width, f32 depth, const MapView* view,
                    UiState* ui) {
    MapIconStamp stamp = makeMapIconStamp(ui, ImageKindAsset, image, width, AnchorCentre, 0, depth, view->clipRect);
    if (!stamp.ready) return;
    for (u32 i = 0; i < count; i++) stampMapIcon(&stamp, dropPointOnView(positions[i], view), &ui->batches.mapIcons);
}

}  // namespace

void drawOrvikDropPoints(const OrvikDropLocations* list, f32 iconSize, f32 depth, const MapView* view, UiState* ui) {
    u32 count = list->count > kMaxOrvikDropLocations ? kMaxOrvikDropLocations : list->count;
    drawDropPoints(list->positions, count, kOrvikDropImage, iconSize * 0.5f, depth, view, ui);
}

void drawVoskDropPoints(const DodireruDropLocations* list, f32 iconSize, f32 depth, const MapView* view, UiState* ui) {
    u32 count = list->count > kMaxVoskDropLocations ? kMaxVoskDropLocations : list->count;
    drawDropPoints(list->positions, count, kVoskDropImage, iconSize * 2.5f, depth, view, ui);
}
