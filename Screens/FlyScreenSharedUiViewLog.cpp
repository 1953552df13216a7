#include "Screens/FlyScreenSharedUiViewLog.h"

#include "Drone/TarnwickPayloads/OrvikTexts.h"
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Widgets.h"
#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "KmzEditor/KmzEditorDrawing.h"
#include "KmzEditor/KmzExport.h"
#include "KmzEditor/KmzImport.h"
#include "Platform/FileTables.h"
#include "Platform/Platform.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/TextEdit.h"

void drawPayloadCountIndicator(u32* panel, Rect slot, const UiMetrics* metrics, const OrvikPayloadState* orvik,
                               UiState* ui, ScreenStack* stack, u64* spinStart, u64 now) {
    PayloadCountLook look;
    orvikPayloadCountLook(&look, orvik, spinStart, now);
    f32 width = slot.x1 - slot.x0;
    Vec2F32 centre{(slot.x0 + slot.x1) / 2, (slot.y0 + slot.y1) / 2};
    drawIconAt(centre, 0.95f, AnchorCentre, look.rotationTurns, width * 0.8f, slot, ImageKindAsset, look.image,
               &ui->batches.textured2d, ui);
    TextStyle style{look.color, 0xFF000000, kSelectionOrange, metrics->textHeight, 0.1f, 0};
    drawTextAt(ui, look.text, AnchorLeftCentre, Vec2F32{slot.x0 + metrics->margin, centre.y}, 0.96f, slot, style);
    WidgetId id = WIDGET_ID;
    PointerHit hit = rectHitTest(&slot, 1, stack, &id);
    if (hit.clicked) *panel = *panel >= 2 && *panel <= 6 ? 0 : 2;
}

void strobeToggleButton(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                        const StrobeLight* light, UiState* ui, ScreenStack* stack, u64 now) {
    constexpr u32 kStrobePanel = 16;
    constexpr f32 kBarButtonDepth = 0.95f;
    constexpr Color kOpenFill = 0x80E36400;
    if (light->reportTime == 0 || now < light->reportTime || now - light->reportTime >= kStrobeReportHoldTime) return;
    f32 width = 1.4f * (bar->y1 - bar->y0);
    Rect slot{*xCursor - width, *xCursor, bar->y0, bar->y1};
    *xCursor -= width;
    ButtonStyle look = *style;
    if (*openPanel == kStrobePanel) look.fill = kOpenFill;
    WidgetId id = WIDGET_ID;
    if (button(makeString("Strobe"), &slot, bar, kBarButtonDepth, &look, ui, stack, &id).clicked) {
        *openPanel = *openPanel == kStrobePanel ? 0 : kStrobePanel;
    }
}

// ---- The KMZ editor's toolbar, the exported-KMZ list and the export panel ----

namespace {

constexpr f32 kKmzToolbarDepth = 0.9f;
constexpr Color kKmzDimmedText = 0xFF808080;
constexpr u64 kKmzRowIdBit = 1ull << 62;

ButtonStyle kmzButtonStyle(f32 textSize, f32 padding, Color text) {
    ButtonStyle style{};
    style.textStyle = TextStyle{text, kNoOutline, kSelectionOrange, textSize, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = padding;
    style.cornerRadius = padding;
    style.fill = kButtonGrey;
    style.pressedFill = kPressedGrey;
    style.outlineWidth = padding / 2;
    return style;
}

// A cell of the toolbar or a picker: its image over a button face; returns 1 on a click.
u32 kmzImageCell(const char* image, Rect cell, const WidgetId& id, const UiMetrics* metrics, UiState* ui,
                 ScreenStack* stack) {
    ButtonStyle style = kmzButtonStyle(metrics->textHeight, metrics->margin, kTextWhite);
    ButtonResult result = button(FixedString{}, &cell, &ui->screenRect, kKmzToolbarDepth, &style, ui, stack, &id);
    i32 asset = kmzAssetIndex(image);
    if (asset >= 0) {
        Rect inner{cell.x0 + metrics->margin, cell.x1 - metrics->margin, cell.y0 + metrics->margin,
                   cell.y1 - metrics->margin};
        drawIconInRect(&inner, &ui->screenRect, kKmzToolbarDepth + 0.01f, AnchorCentre, IconKindAsset, asset,
                       &ui->batches.textured2d, ui);
    }
    return result.clicked;
}

u32 kmzTextCell(FixedString label, Color text, Rect cell, const WidgetId& id, const UiMetrics* metrics, UiState* ui,
                ScreenStack* stack) {
    ButtonStyle style = kmzButtonStyle(metrics->textHeight, metrics->margin, text);
    return button(label, &cell, &ui->screenRect, kKmzToolbarDepth, &style, ui, stack, &id).clicked;
}

Rect kmzCell(Rect row, u32 index, u32 count, f32 gap) {
    f32 width = (row.x1 - row.x0) / (f32)count;
    return Rect{row.x0 + width * index + gap / 2, row.x0 + width * (index + 1) - gap / 2, row.y0, row.y1};
}

const char* const kDronePathImages[kKmzColorCount] = {"drone_path_red.png",    "drone_path_orange.png",
                                                      "drone_path_yellow.png", "drone_path_aqua.png",
                                                      "drone_path_blue.png",   "drone_path_purple.png",
                                                      "drone_path_white.png"};
const char* const kLineToolImages[kKmzColorCount] = {"line_tool_red.png",    "line_tool_orange.png",
                                                     "line_tool_yellow.png", "line_tool_aqua.png",
                                                     "line_tool_blue.png",   "line_tool_purple.png",
                                                     "line_tool_white.png"};
const char* const kMarkerIcons[kKmzMarkerKindCount] = {"flag_white_icon.png", "obstruction_icon.png", "fire_icon.png",
                                                       "smoke_icon.png", "heat_icon.png"};
const char* const kMarkerIconsSelected[kKmzMarkerKindCount] = {
    "flag_white_icon_selected.png", "obstruction_icon_selected.png", "fire_icon_selected.png",
    "smoke_icon_selected.png", "heat_icon_selected.png"};

void togglePanel(u32* panel, u32 value) { *panel = *panel == value ? KmzPanelNone : value; }

WidgetId kmzRowId(u32 row, u32 button) {
    return WidgetId{kKmzRowIdBit | (u64)row << 8 | button, "Screens/FlyScreenSharedUiViewLog"};
}

// One dated row of the exported files (name over its date) in the list view; returns its layout,
// or visible 0.
RowResult kmzFileRow(const ExportedKmzEntry* entry, UiState* ui, MapView* view) {
    return infoRow(&entry->fileName, &entry->subtitle, 0, ui, view);
}

// The two buttons at the right end of a row.
void kmzRowButtons(const RowLayout& layout, f32 textSize, Rect* first, Rect* second) {
    f32 w = 5 * textSize, h = 1.6f * textSize, gap = textSize / 3;
    f32 cy = (layout.rowRect.y0 + layout.rowRect.y1) / 2;
    *second = Rect{layout.rowRect.x1 - gap - w, layout.rowRect.x1 - gap, cy - h / 2, cy + h / 2};
    *first = Rect{second->x0 - gap - w, second->x0 - gap, cy - h / 2, cy + h / 2};
}

}  // namespace

void drawKmzEditorToolbar(u32* panel, Rect row, KmzEditor* editor, const UiMetrics* metrics, UiState* ui,
                          ScreenStack* stack) {
    // The host calls it every frame; it shows itself while the panel word is one of its own.
    if (*panel < KmzPanelNone || *panel > KmzPanelSave) return;
    f32 gap = metrics->margin;
    static const WidgetId pathId = WIDGET_ID, lineId = WIDGET_ID, markerId = WIDGET_ID, eraserId = WIDGET_ID,
                          undoId = WIDGET_ID, redoId = WIDGET_ID, clearId = WIDGET_ID, loadId = WIDGET_ID,
                          saveId = WIDGET_ID;
    u32 path = editor->dronePathColor;
    const char* pathImage = path == 0 || path > kKmzColorCount ? "drone_path_no_color.png" : kDronePathImages[path - 1];
    if (kmzImageCell(pathImage, kmzCell(row, 0, 9, gap), pathId, metrics, ui, stack)) {
        togglePanel(panel, KmzPanelDronePath);
    }
    u32 color = editor->color < kKmzColorCount ? editor->color : 0;
    const char* lineImage = editor->mode == KmzModeLine ? kLineToolImages[color] : "line_tool_deselected.png";
    if (kmzImageCell(lineImage, kmzCell(row, 1, 9, gap), lineId, metrics, ui, stack)) {
        if (editor->mode != KmzModeLine) {
            editor->mode = KmzModeLine;
            *panel = KmzPanelNone;
        } else {
            togglePanel(panel, KmzPanelLineColor);
        }
    }
    u32 kind = editor->markerKind < kKmzMarkerKindCount ? editor->markerKind : 0;
    const char* markerImage = editor->mode == KmzModeMarker ? kMarkerIconsSelected[kind] : kMarkerIcons[kind];
    if (kmzImageCell(markerImage, kmzCell(row, 2, 9, gap), markerId, metrics, ui, stack)) {
        if (editor->mode == KmzModeMarker) {
            togglePanel(panel, KmzPanelMarkerKind);
        } else {
            editor->mode = KmzModeMarker;
            *panel = KmzPanelNone;
        }
    }
    const char* eraserImage = editor->mode == KmzModeEraser ? "eraser_tool_selected.png" : "eraser_tool.png";
    if (kmzImageCell(eraserImage, kmzCell(row, 3, 9, gap), eraserId, metrics, ui, stack)) {
        editor->mode = KmzModeEraser;
        *panel = KmzPanelNone;
    }
    const char* undo = undoLabel(&editor->history);
    FixedString undoText = undo ? formatCstr("Undo @", undo) : makeString("Undo");
    if (kmzTextCell(undoText, undo ? kTextWhite : kKmzDimmedText, kmzCell(row, 4, 9, gap), undoId, metrics, ui,
                    stack) &&
        undo) {
        undoLastAction(&editor->history);
    }
    const char* redo = redoLabel(&editor->history);
    FixedString redoText = redo ? formatCstr("Redo @", redo) : makeString("Redo");
    if (kmzTextCell(redoText, redo ? kTextWhite : kKmzDimmedText, kmzCell(row, 5, 9, gap), redoId, metrics, ui,
                    stack) &&
        redo) {
        redoLastAction(&editor->history);
    }
    if (kmzTextCell(makeString("Clear"), kTextWhite, kmzCell(row, 6, 9, gap), clearId, metrics, ui, stack)) {
        static const u8 empty[6] = {};
        runNewEdit(&editor->history, clearKmzEditorAction, empty, sizeof empty);
    }
    if (kmzTextCell(makeString("Load"), kTextWhite, kmzCell(row, 7, 9, gap), loadId, metrics, ui, stack)) {
        togglePanel(panel, KmzPanelLoad);
    }
    if (kmzTextCell(makeString("Save"), kTextWhite, kmzCell(row, 8, 9, gap), saveId, metrics, ui, stack)) {
        togglePanel(panel, KmzPanelSave);
    }

    // The picker under the toolbar.
    f32 height = row.y1 - row.y0;
    Rect pickerRow{row.x0, row.x1, row.y0 - height - gap, row.y0 - gap};
    if (*panel == KmzPanelDronePath) {
        for (u32 i = 0; i < kKmzColorCount + 1; ++i) {
            const char* image = i == 0 ? "drone_path_no_color.png" : kDronePathImages[i - 1];
            if (kmzImageCell(image, kmzCell(pickerRow, i, kKmzColorCount + 1, gap), kmzRowId(0xFFFF, i), metrics, ui,
                             stack)) {
                editor->dronePathColor = i;
            }
        }
    } else if (*panel == KmzPanelLineColor) {
        for (u32 i = 0; i < kKmzColorCount; ++i) {
            if (kmzImageCell(kLineToolImages[i], kmzCell(pickerRow, i, kKmzColorCount, gap), kmzRowId(0xFFFE, i),
                             metrics, ui, stack)) {
                editor->color = (u8)i;
            }
        }
    } else if (*panel == KmzPanelMarkerKind) {
        for (u32 i = 0; i < kKmzMarkerKindCount; ++i) {
            const char* image = i == editor->markerKind ? kMarkerIconsSelected[i] : kMarkerIcons[i];
            if (kmzImageCell(image, kmzCell(pickerRow, i, kKmzMarkerKindCount, gap), kmzRowId(0xFFFD, i), metrics,
                             ui, stack)) {
                editor->markerKind = i;
            }
        }
    }
}

void drawExportedKmzList(Rect panel, ExportedKmzList* list, MapView* scroll, FileReadRequest** pendingRead,
                         u32* merge, const FixedString* message, FileReadTable* reads, Platform* platform, UiState* ui,
                         ScreenStack* stack) {
    beginMapView(&panel, platform, ui, scroll);
    ButtonStyle style = kmzButtonStyle(scroll->textSize, scroll->padding, kTextWhite);
    // Why the last Load or Merge left something out, or gave nothing, above the files.
    if (message->length) infoRow(message, nullptr, 0, ui, scroll);
    u32 order[kExportedKmzEntries];
    u32 count = sortedExportedKmzEntries(list, order);
    for (u32 r = 0; r < count; ++r) {
        const ExportedKmzEntry* entry = &list->entries[order[r]];
        RowResult row = kmzFileRow(entry, ui, scroll);
        if (!row.visible) continue;
        Rect loadRect, mergeRect;
        kmzRowButtons(row.layout, scroll->textSize, &loadRect, &mergeRect);
        WidgetId loadId = kmzRowId(entry->id, 1), mergeId = kmzRowId(entry->id, 2);
        u32 load = button(makeString("Load"), &loadRect, &scroll->clipRect, 0.75f, &style, ui, stack, &loadId).clicked;
        u32 mergeClicked =
            button(makeString("Merge"), &mergeRect, &scroll->clipRect, 0.75f, &style, ui, stack, &mergeId).clicked;
        if ((load || mergeClicked) && !*pendingRead) {
            *pendingRead = requestFile(formatStr("Exported Kmzs/@", entry->fileName), kKmzImportReadLimit, 0, reads);
            *merge = mergeClicked ? 1 : 0;
        }
    }
    endMapView(stack, ui, scroll);
}

FixedString kmzRenameTarget(const FixedString* typed, FixedString* refusal) {
    i64 length = fixedStringLength(typed);
    *refusal = FixedString{};
    bool bad = length == 0;
    for (i64 i = 0; i < length && !bad; ++i) {
        u8 c = (u8)typed->text[i];
        if (c < 32 || c == 127 || c == '/' || c == '\\') bad = true;
        if (c == '.' && i + 1 < length && typed->text[i + 1] == '.') bad = true;
    }
    if (bad) {
        *refusal = formatStr("\"@\" cannot be a file name: it must not be empty or hold /, \\, .. or control characters",
                             *typed);
        return FixedString{};
    }
    if (endsWithIgnoringCase(typed->text, length, ".kmz")) return *typed;
    FixedString named = formatStr("@.kmz", *typed);
    if (named.truncated) {
        *refusal = makeString("The name is too long");
        return FixedString{};
    }
    return named;
}

void kmzExportPanel(Rect panel, KmzEditor* editor, KmzExportPanelState* state, KmzExportRun* run,
                    ExportedKmzList* list, MapView* scroll, FileJobTable* jobs, Platform* platform, UiState* ui,
                    ScreenStack* stack, TextEditState* focus) {
    beginMapView(&panel, platform, ui, scroll);
    f32 t = scroll->textSize;
    ButtonStyle style = kmzButtonStyle(t, scroll->padding, kTextWhite);
    FixedString sectionTitle = makeString("Save as a new file");
    // A refusal of this panel, else how the export goes or went.
    const FixedString* sectionText = state->message.length ? &state->message : &run->message;
    RowResult section = infoRow(&sectionTitle, sectionText, 0, ui, scroll);
    if (section.visible) {
        Rect unused, newFile;
        kmzRowButtons(section.layout, t, &unused, &newFile);
        newFile.x0 = unused.x0;
        static const WidgetId newFileId = WIDGET_ID;
        if (button(makeString("New File"), &newFile, &scroll->clipRect, 0.75f, &style, ui, stack, &newFileId).clicked) {
            KmzExportAssets assets = kmzExportAssetsOf(ui);
            state->message = exportKmz(run, editor, &assets, currentTimeMilliseconds() + getTimeZoneOffsetMs());
        }
    }
    u32 order[kExportedKmzEntries];
    u32 count = sortedExportedKmzEntries(list, order);
    for (u32 r = 0; r < count; ++r) {
        const ExportedKmzEntry* entry = &list->entries[order[r]];
        bool renaming = state->renaming && equals(state->renameName, entry->fileName);
        RowResult row = kmzFileRow(entry, ui, scroll);
        if (!row.visible) continue;
        Rect first, second;
        kmzRowButtons(row.layout, t, &first, &second);
        WidgetId firstId = kmzRowId(entry->id, 3), secondId = kmzRowId(entry->id, 4);
        if (!renaming) {
            if (button(makeString("Rename"), &first, &scroll->clipRect, 0.75f, &style, ui, stack, &firstId).clicked) {
                state->renaming = 1;
                state->renameName = entry->fileName;
                state->editText = entry->fileName;
            }
            if (button(makeString("Delete"), &second, &scroll->clipRect, 0.75f, &style, ui, stack, &secondId).clicked) {
                enqueueFileJob(formatStr("Exported Kmzs/@", entry->fileName), kKmzMimeType, nullptr, 0, 0,
                               FileJobWrite, jobs, nullptr);
                list->refresh = 2;
            }
            continue;
        }
        Rect field{row.layout.rowRect.x0 + scroll->padding, first.x0 - scroll->padding, first.y0, first.y1};
        WidgetId fieldId = kmzRowId(entry->id, 5);
        TextStyle fieldStyle{kTextWhite, kNoOutline, kSelectionOrange, t, 0, 0};
        FixedString placeholder = makeString("File name");
        textField(&state->editText, &placeholder, AnchorLeftCentre, 0, &field, &scroll->clipRect, 0.76f, &fieldStyle,
                  kSecondaryGrey, ui, stack, focus, &fieldId);
        if (button(makeString("Cancel"), &first, &scroll->clipRect, 0.75f, &style, ui, stack, &firstId).clicked) {
            state->renaming = 0;
        }
        if (button(makeString("Done"), &second, &scroll->clipRect, 0.75f, &style, ui, stack, &secondId).clicked) {
            FixedString refusal;
            FixedString target = kmzRenameTarget(&state->editText, &refusal);
            if (target.length) {
                u8* name = allocateFileBuffer((u64)target.length);
                if (name) {
                    std::memcpy(name, target.text, target.length);
                    enqueueFileJob(formatStr("Exported Kmzs/@", entry->fileName), kKmzMimeType, name, target.length,
                                   1, FileJobMove, jobs, nullptr);
                }
                state->renaming = 0;
                state->message = FixedString{};
                list->refresh = 2;
            } else {
                state->message = refusal;
            }
        }
    }
    endMapView(stack, ui, scroll);
}
