// "Overlays Screen": imports overlay files through the system's file picker, shows the two overlay
// loaders' progress and messages, and lists the imported overlays, each with "View" (opens the View
// Overlay Screen once the overlay is loaded) and "Delete".
#include "Screens/OverlaysScreen.h"

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Overlays/OverlaysPanel.h"
#include "Screens/ChildScreens.h"
#include "Screens/ViewOverlayScreen.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

static_assert(sizeof(OverlaysScreenState) <= sizeof(ScreenStack::screenState));

namespace {

constexpr const char* kPickingText = "Please use the system file picker to select the overlay file you want to import";

bool endsWith(const FixedString& name, const char* suffix) {
    return endsWithIgnoringCase(name.text, fixedStringLength(&name), suffix) != 0;
}

void addRow(OverlaysScreenState* state, FixedString title, FixedString text) {
    if (state->statusRowCount == kOverlaysScreenStatusRows) return;
    state->statusRows[state->statusRowCount++] = OverlaysScreenRow{title, text};
}

// A loader's read: picking, loading with its progress, or parsing once it is in.
void addReadRow(OverlaysScreenState* state, const FileReadRequest* request) {
    u32 status = fileRequestStatus(request);
    if (status >= FileStatusSuccess) {
        addRow(state, request->name, makeString("Parsing"));
    } else if (request->fileSize == 0) {
        if (request->kind == FileReadKindPick) {
            addRow(state, makeString("Picking file"), makeString(kPickingText));
        } else {
            addRow(state, request->name, FixedString{});
        }
    } else {
        addRow(state, request->name,
               formatStrStr("Loading @ / @", byteSizeString((i64)request->bytesRead), byteSizeString((i64)request->fileSize)));
    }
}

// What the loaders' jobs write is read only while no job runs.
u32 rasterState(const RasterOverlayLoader* loader) { return __atomic_load_n(&loader->state, __ATOMIC_ACQUIRE); }
bool vectorJobRunning(const VectorOverlayLoader* loader) {
    return __atomic_load_n(&loader->jobState, __ATOMIC_ACQUIRE) == OverlayJobRunning;
}

// The picker's answer goes by the picked name's extension to the loader that reads it; a cancelled
// or failed pick leaves nothing behind.
void handOverPick(OverlaysScreenState* state, AppState* app, FileReadTable* reads) {
    FileReadRequest* pick = state->pick;
    u32 status = fileRequestStatus(pick);
    if (status < FileStatusSuccess) return;
    const FixedString& name = pick->name;
    if (name.length == 0 && status > FileStatusSuccess) {
        releaseFileReadRequest(pick, reads);
        state->pick = nullptr;
    } else if (endsWith(name, ".pdf") || endsWith(name, ".pdfbin")) {
        RasterOverlayLoader* raster = &app->rasterOverlayLoader;
        if (raster->request || rasterState(raster) != RasterOverlayIdle) return;  // a later frame
        raster->request = pick;
        state->pick = nullptr;
    } else if (endsWith(name, ".kml") || endsWith(name, ".kmz") || endsWith(name, ".kmlbin") ||
               endsWith(name, ".kmzbin")) {
        if (app->pendingLoads.overlayPick) return;  // the loader has not taken the last one yet
        app->pendingLoads.overlayPick = pick;
        state->pick = nullptr;
    } else {
        state->unrecognisedName = name;
        releaseFileReadRequest(pick, reads);
        state->pick = nullptr;
    }
}

void collectStatusRows(OverlaysScreenState* state, const AppState* app) {
    state->statusRowCount = 0;
    const VectorOverlayLoader* vector = &app->vectorOverlayLoader;
    if (vector->request) {
        addReadRow(state, vector->request);
    } else if (vector->cacheNeeded) {
        addRow(state, vector->name, makeString("Downloading marker images"));
    }
    const RasterOverlayLoader* raster = &app->rasterOverlayLoader;
    u32 rasterNow = rasterState(raster);
    if (rasterNow == RasterOverlayRendering) {
        FixedString text = raster->currentPage == kPdfNoPageYet ? makeString("Parsing")
                                                                : formatInt("Rendering page @", raster->currentPage + 1);
        addRow(state, raster->name, text);
    } else if (rasterNow == RasterOverlayJobRunning) {
        addRow(state, raster->request ? raster->request->name : FixedString{}, makeString("Parsing"));
    } else if (raster->request) {
        addReadRow(state, raster->request);
    }
    if (state->pick) addRow(state, makeString("Picking file"), makeString(kPickingText));
}

void collectMessageRows(OverlaysScreenState* state, const AppState* app) {
    const VectorOverlayLoader* vector = &app->vectorOverlayLoader;
    if (!vectorJobRunning(vector) && vector->failedName.length && vector->message.length) {
        addRow(state, vector->failedName, vector->message);
    }
    // A loaded overlay that was cut short or left something out says what.
    if (!vectorJobRunning(vector) && vector->state == 1 && vector->overlay.message.length) {
        addRow(state, vector->name, vector->overlay.message);
    }
    const RasterOverlayLoader* raster = &app->rasterOverlayLoader;
    if (rasterState(raster) != RasterOverlayJobRunning && raster->message.length) {
        addRow(state, raster->name, raster->message);
    }
    if (state->unrecognisedName.length) {
        addRow(state, state->unrecognisedName, makeString("Unrecognized file type, should be .pdf, .kml, or .kmz"));
    }
}

// The overlay whose "View" was pressed opens once its loader holds it.
void openPendingView(OverlaysScreenState* state, const AppState* app, ScreenResult* result) {
    if (state->pendingView.length == 0 || result->next || result->back) return;
    const VectorOverlayLoader* vector = &app->vectorOverlayLoader;
    const RasterOverlayLoader* raster = &app->rasterOverlayLoader;
    if (!vectorJobRunning(vector) && vector->state == 1 && equals(vector->name, state->pendingView)) {
        state->pendingView = FixedString{};
        result->next = viewVectorOverlayScreen;
    } else if (raster->loaded && rasterState(raster) == RasterOverlayIdle && equals(raster->pdfbinName, state->pendingView)) {
        state->pendingView = FixedString{};
        result->next = viewRasterOverlayScreen;
    }
}

WidgetId entryRowId(const OverlayListEntry* entry) { return WidgetId{(u64)entry->id | (1ull << 63), __FILE__}; }

void deleteOverlay(const OverlayListEntry* entry, AppState* app, FileJobTable* jobs) {
    enqueueFileJob(formatStr("Overlays/@", entry->fileName), "application/binary", nullptr, 0, 0, FileJobWrite, jobs,
                   nullptr);
    // A deleted overlay is no longer shown.
    OverlaySelection selection = overlaySelectionOf(&app->preferences);
    if (equals(*selection.vectorOverlayName, entry->fileName)) *selection.vectorOverlayName = FixedString{};
    if (equals(*selection.rasterOverlayName, entry->fileName)) *selection.rasterOverlayName = FixedString{};
}

void overlayRows(OverlaysScreenState* state, Platform* platform, ScreenStack* stack, UiState* ui, AppState* app) {
    MapView* view = &state->listView;
    f32 t = view->textSize, p = view->padding;
    ButtonStyle style = rowButtonStyle(view);
    OverlaySelection selection = overlaySelectionOf(&app->preferences);
    const OverlayList* list = &app->overlayList;
    u8 order[kOverlayListEntries];
    u32 count = sortedOverlayListEntries(list, order);
    state->viewButton = state->deleteButton = Rect{};
    for (u32 i = 0; i < count; i++) {
        const OverlayListEntry* entry = &list->entries[order[i]];
        WidgetId id = entryRowId(entry);
        ExpandableRowResult row =
            optionGridRow(&entry->displayName, &entry->subtitle, 2 * t + 2 * p, 1, stack, ui, view, &id);
        if (row.visible) drawOverlayListIcon(entry, &row.layout.iconRect, view, ui);
        if (!row.expanded) continue;
        Rect area = row.area;
        area.y1 = area.y0 + 2 * t + 2 * p;
        bool viewable = entry->kind == OverlayListRasterPage || entry->kind == OverlayListVectorOverlay;
        Rect left{area.x0, (area.x0 + area.x1) / 2, area.y0, area.y1};
        Rect right{(area.x0 + area.x1) / 2, area.x1, area.y0, area.y1};
        Rect viewButton = alignRect(8 * t, 2 * t, AnchorCentre, &left);
        Rect deleteButton = alignRect(8 * t, 2 * t, AnchorCentre, viewable ? &right : &area);
        state->viewButton = viewable ? viewButton : Rect{};
        state->deleteButton = deleteButton;
        static const WidgetId viewId = WIDGET_ID;
        static const WidgetId deleteId = WIDGET_ID;
        if (viewable &&
            button(makeString("View"), &viewButton, &view->clipRect, 0.65f, &style, ui, stack, &viewId).clicked) {
            FixedString* name = entry->kind == OverlayListRasterPage ? selection.rasterOverlayName
                                                                      : selection.vectorOverlayName;
            *name = entry->fileName;
            state->pendingView = entry->fileName;
        }
        if (button(makeString("Delete"), &deleteButton, &view->clipRect, 0.65f, &style, ui, stack, &deleteId).clicked) {
            deleteOverlay(entry, app, &platform->fileJobs);
        }
    }
}

}  // namespace

void overlaysScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                    void* scratch) {
    ProfilingScope scope("Overlays Screen");
    OverlaysScreenState* state = (OverlaysScreenState*)scratch;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    FileReadTable* reads = &platform->fileReads;
    if (state->pick) handOverPick(state, app, reads);
    collectStatusRows(state, app);

    beginMapView(&ui->screenRect, platform, ui, view);
    for (u32 i = 0; i < state->statusRowCount; i++) {
        infoRow(&state->statusRows[i].title, &state->statusRows[i].text, 0, ui, view);
    }
    {
        FixedString title = makeString("Import new overlay file");
        FixedString text = makeString("kmz, kml, pdf");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked && !state->pick) {
            state->unrecognisedName = FixedString{};
            state->pick = requestPickedFile(makeString(kOverlayPickTypes), kOverlayFileMaxBytes, 0, reads);
        }
    }
    u32 progressRows = state->statusRowCount;
    collectMessageRows(state, app);
    for (u32 i = progressRows; i < state->statusRowCount; i++) {
        infoRow(&state->statusRows[i].title, &state->statusRows[i].text, 0, ui, view);
    }
    openPendingView(state, app, result);
    overlayRows(state, platform, stack, ui, app);
    endMapView(stack, ui, view);

    // Leaving or covering the screen clears its state: a pick still out is let go first (its dialog
    // is closed).
    if ((result->back || result->next) && state->pick) {
        releaseFileReadRequest(state->pick, reads);
        state->pick = nullptr;
    }
}
