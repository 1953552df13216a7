// The Flight Logs screen: the logs of "Flight Logs" newest first with the flight-log list's summary
// of each, the loading state of the log being read, and "View" on the selected row, which chooses
// the log; the View Flight Log screen opens once the chosen log is read and indexed without error.
#include <algorithm>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Platform/FileTables.h"
#include "Platform/Platform.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlightLogsScreen.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

constexpr f32 kIconDepth = 0.69f;

static_assert(sizeof(FlightLogsScreenState) <= sizeof(ScreenStack::screenState));

// Rows keep their selection by the file they show, wherever the listing puts it.
WidgetId rowId(const FixedString* name) {
    u64 hash = 1469598103934665603ull;
    for (i64 i = 0; i < fixedStringLength(name); i++) hash = (hash ^ (u8)name->text[i]) * 1099511628211ull;
    return WidgetId{hash | (1ull << 63), __FILE__};
}

FixedString loadingText(const FlightLogList* list) {
    const FileReadRequest* request = list->logRequest;
    if (fileRequestStatus(request) >= FileStatusSuccess) {
        return formatInt("Parsing @%", __atomic_load_n(&list->parsePercent, __ATOMIC_RELAXED));
    }
    if (request->fileSize == 0) return format("Loading");
    return formatInt("Loading   @%", (i64)(request->bytesRead * 100 / request->fileSize));
}

bool chosenLogIsReady(const FlightLogList* list, const FixedString* chosen) {
    const FileReadRequest* request = list->logRequest;
    return chosen->length && request && fileRequestStatus(request) == FileStatusSuccess &&
           equals(request->name, *chosen) && flightLogParseState(list) == FlightLogParseDone &&
           list->extensionFound == 1 && list->index.error.length == 0;
}

}  // namespace

i32 flightLogRowOrder(const FileReadRequest* listing, u16* order) {
    if (!listing || fileRequestStatus(listing) != FileStatusSuccess || !listing->data) return 0;
    const FolderEntry* entries = reinterpret_cast<const FolderEntry*>(listing->data + listing->headroom);
    u64 count = std::min<u64>(listing->bytesRead / sizeof(FolderEntry), kMaxFlightLogListingEntries);
    i32 rows = 0;
    for (u64 i = 0; i < count && rows < (i32)kMaxFlightLogRows; i++) {
        if (entries[i].isFile) order[rows++] = (u16)i;
    }
    auto newerFirst = [entries](u16 a, u16 b) { return entries[a].modified > entries[b].modified; };
    std::stable_sort(order, order + rows, newerFirst);
    return rows;
}

void flightLogsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                      void* scratch) {
    ProfilingScope scope("Flight Log Screen");
    FlightLogsScreenState* state = static_cast<FlightLogsScreenState*>(scratch);
    FlightLogList* list = &app->flightLogList;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    f32 t = view->textSize, p = view->padding;
    i64 now = (i64)stack->now;

    const FileReadRequest* listing = list->currentListing;
    state->rowCount = flightLogRowOrder(listing, state->rowOrder);
    const FolderEntry* entries =
        state->rowCount ? reinterpret_cast<const FolderEntry*>(listing->data + listing->headroom) : nullptr;
    list->nextLogToRead = FixedString{};
    bool asked = false;
    ButtonStyle style = rowButtonStyle(view);
    for (i32 r = 0; r < state->rowCount; r++) {
        const FixedString* name = &entries[state->rowOrder[r]].name;
        FlightLogListEntry* entry = findFlightLogEntry(list, name);
        FixedString description{};
        if (entry) {
            description = entry->summary;
        } else if (list->logRequest && equals(list->logRequest->name, *name)) {
            description = loadingText(list);
        }
        u32 hasIcon = entry && entry->imageId ? 1 : 0;
        WidgetId id = rowId(name);
        ExpandableRowResult row = optionGridRow(name, &description, 2 * t + 2 * p, hasIcon, stack, ui, view, &id);
        if (row.visible) {
            if (entry) {
                entry->lastShownTime = now;
                if (hasIcon) {
                    drawIconInRect(&row.layout.iconRect, &view->clipRect, kIconDepth, AnchorCentre, IconKindSlot,
                                   (i32)entry->imageId, &ui->batches.textured2d, ui);
                }
            } else if (!asked) {
                list->nextLogToRead = *name;
                asked = true;
            }
        }
        if (row.expanded) {
            Rect area = row.area;
            area.y1 = area.y0 + 2 * t + 2 * p;
            Rect viewButton = alignRect(8 * t, 2 * t, AnchorCentre, &area);
            static const WidgetId viewId = WIDGET_ID;
            if (button(makeString("View"), &viewButton, &view->clipRect, 0.65f, &style, ui, stack, &viewId).clicked) {
                state->chosenLog = *name;
            }
        }
    }

    list->wantedLog = state->chosenLog;
    if (chosenLogIsReady(list, &state->chosenLog)) result->next = viewFlightLogScreen;
    endMapView(stack, ui, view);

    if (result->back) {
        state->chosenLog = FixedString{};
        list->wantedLog = FixedString{};
    }
}
