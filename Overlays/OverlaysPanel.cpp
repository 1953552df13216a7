#include "Overlays/OverlaysPanel.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

constexpr f32 kIconScale = 0.7f;
constexpr const char* kTerrainLoaded = "Loaded and Parsed";

Rect scaledIconRect(const Rect* rect) {
    f32 cx = (rect->x0 + rect->x1) / 2, cy = (rect->y0 + rect->y1) / 2;
    f32 hw = (rect->x1 - rect->x0) * kIconScale / 2, hh = (rect->y1 - rect->y0) * kIconScale / 2;
    return Rect{cx - hw, cx + hw, cy - hh, cy + hh};
}

i32 assetNamed(const UiState* ui, const char* name) {
    for (i32 i = 0; name && i < kImageAssetCount; i++) {
        if (ui->assets[i].name && std::strcmp(ui->assets[i].name, name) == 0) return i;
    }
    return -1;
}

}  // namespace

void drawNamedRowIcon(const char* assetName, const Rect* iconRect, const MapView* view, UiState* ui) {
    Rect box = scaledIconRect(iconRect);
    drawIconInRect(&box, &view->clipRect, kRowDepth - 0.01f, AnchorCentre, IconKindAsset, assetNamed(ui, assetName),
                   &ui->batches.textured2d, ui);
}

void drawOverlayListIcon(const OverlayListEntry* entry, const Rect* iconRect, const MapView* view, UiState* ui) {
    if (!entry->previewSlot) {
        drawNamedRowIcon(entry->iconAsset, iconRect, view, ui);
        return;
    }
    Rect box = scaledIconRect(iconRect);
    drawIconInRect(&box, &view->clipRect, kRowDepth - 0.01f, AnchorCentre, IconKindSlot, (i32)entry->previewSlot,
                   &ui->batches.textured2d, ui);
}

void drawOverlaysPanel(Platform* platform, ScreenStack* stack, UiState* ui, OverlaySelection* selection,
                       const OverlayList* list, const FixedString* elevationStatus, MapView* scroll, const Rect* panel) {
    ProfilingScope scope("Overlays Panel");
    beginMapView(panel, platform, ui, scroll);
    FixedString source = selection->elevationSourceName->length ? *selection->elevationSourceName : makeString("SRTM");
    bool loaded = equals(*elevationStatus, kTerrainLoaded);
    {
        FixedString title = formatStr("Terrain warning - @", source);
        FixedString text = loaded ? makeString("Shades the map red at locations below your low altitude warning")
                                  : *elevationStatus;
        RowResult row = checkboxRow(&title, &text, 1, *selection->terrainWarningOn ? 1 : 0, stack, ui, scroll);
        if (row.visible) drawNamedRowIcon("overlay_low_altitude_warning.png", &row.layout.iconRect, scroll, ui);
        if (row.clicked) *selection->terrainWarningOn = *selection->terrainWarningOn ? 0 : 1;
    }
    {
        FixedString title = formatStr("Topographic - @", source);
        FixedString text = loaded ? makeString("Synthesized from digitial elevation model") : *elevationStatus;
        RowResult row = checkboxRow(&title, &text, 1, *selection->topographicOn ? 1 : 0, stack, ui, scroll);
        if (row.visible) drawNamedRowIcon("overlay_topographic.png", &row.layout.iconRect, scroll, ui);
        if (row.clicked) *selection->topographicOn = *selection->topographicOn ? 0 : 1;
    }
    u8 order[kOverlayListEntries];
    u32 count = sortedOverlayListEntries(list, order);
    for (u32 i = 0; i < count; i++) {
        const OverlayListEntry* entry = &list->entries[order[i]];
        FixedString* shown = entry->kind == OverlayListVectorOverlay ? selection->vectorOverlayName
                             : entry->kind == OverlayListRasterPage  ? selection->rasterOverlayName
                                                                      : nullptr;
        if (!shown) continue;
        bool checked = equals(*shown, entry->fileName);
        RowResult row = checkboxRow(&entry->displayName, &entry->subtitle, 1, checked ? 1 : 0, stack, ui, scroll);
        if (row.visible) drawOverlayListIcon(entry, &row.layout.iconRect, scroll, ui);
        if (row.clicked) *shown = checked ? FixedString{} : entry->fileName;
    }
    endMapView(stack, ui, scroll);
}
