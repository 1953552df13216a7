// The missions dialog: list rows in a scrolling view over the panel rectangle.
#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Mission/MissionFiles.h"
#include "Platform/Platform.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

// Days since 1970-01-01 as a calendar date (proleptic Gregorian).
void civilFromDays(i64 days, i64* year, i64* month, i64* day) {
    days += 719468;
    i64 era = (days >= 0 ? days : days - 146096) / 146097;
    i64 dayOfEra = days - era * 146097;
    i64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    i64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    i64 shiftedMonth = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

// "2026-12-07 13:05   2 KB": the local time of the last save and the size.
FixedString entryDescription(const MissionFileEntry* entry) {
    i64 unixMs = (i64)(entry->modified / 10000) - kUnixEpochIn1601Milliseconds + getTimeZoneOffsetMs();
    i64 minutes = unixMs / 60000 - (unixMs % 60000 < 0 ? 1 : 0);
    i64 days = minutes / 1440 - (minutes % 1440 < 0 ? 1 : 0);
    i64 minuteOfDay = minutes - days * 1440;
    i64 year, month, day;
    civilFromDays(days, &year, &month, &day);
    FixedString date = formatInt4("@-@-@ @:", year, month, day, minuteOfDay / 60);
    return buildFixedString([&](ByteWriter* w) {
        appendFixedString(date, w);
        if (minuteOfDay % 60 < 10) appendU8('0', w);
        appendInt64(minuteOfDay % 60, w);
        appendCString("   ", w);
        appendFixedString(byteSizeString((i64)entry->size), w);
    });
}

}  // namespace

void drawMissionFilesDialog(f32 lineHeight, f32 pad, f32 barHeight, Platform* platform, ScreenStack* stack,
                            UiState* ui, TextEditState* focus, const Preferences* preferences,
                            const MissionPlanView* plan, MissionList* list, MapView* scroll, i32* selectedRow,
                            FixedString* editText, Rect panel, FileReadRequest** pendingRead) {
    // The row metrics come from the list view itself.
    (void)lineHeight;
    (void)pad;
    (void)barHeight;
    if (!list->dialogShown) list->refreshWanted = 1;  // just opened: the files may have changed
    list->dialogShownNow = 1;
    if (*selectedRow >= list->count) *selectedRow = -1;

    beginMapView(&panel, platform, ui, scroll);

    {
        FixedString title = makeString("Save");
        FixedString description = makeString("Save the plan as a mission file");
        FixedString placeholder = makeString("Mission name");
        WidgetId id = WIDGET_ID;
        TextFieldRowResult r = textFieldRow(&title, &description, editText, &placeholder, TextKeyboardFull, 0, stack,
                                            ui, focus, scroll, &id);
        if (r.submitted) {
            FixedString refused = startMissionSave(list, *editText, plan, preferences, &platform->fileJobs);
            list->message = refused.length ? refused : formatStr("Saving @...", missionFileName(*editText));
            scroll->openRowId = WidgetId{};
        }
    }

    if (list->message.length) {
        FixedString title = makeString("Missions");
        infoRow(&title, &list->message, 0, ui, scroll);
    }
    if (list->listed && list->count == 0) {
        FixedString title = makeString("No saved missions");
        FixedString description = makeString("Missions you save appear here");
        infoRow(&title, &description, 0, ui, scroll);
    }

    for (i32 i = 0; i < list->count; i++) {
        const MissionFileEntry* entry = &list->entries[i];
        FixedString description = entryDescription(entry);
        if (buttonRow(&entry->name, &description, 0, stack, ui, scroll).clicked) {
            *selectedRow = *selectedRow == i ? -1 : i;
            list->confirmDelete = 0;
            scroll->openRowId = WidgetId{};
        }
        if (*selectedRow != i) continue;

        FixedString title = makeString("Load");
        FixedString text = makeString("Replace the plan with this mission (Undo brings the plan back)");
        if (buttonRow(&title, &text, 0, stack, ui, scroll).clicked) {
            FixedString refused = startMissionLoad(pendingRead, entry->name, &platform->fileReads);
            list->message = refused.length ? refused : formatStr("Loading @...", entry->name);
        }

        title = makeString("Rename");
        text = makeString("Give this mission a new name");
        WidgetId renameId = WIDGET_ID;
        TextFieldRowResult r = textFieldRow(&title, &text, editText, &entry->name, TextKeyboardFull, 0, stack, ui,
                                            focus, scroll, &renameId);
        if (r.submitted) {
            FixedString refused = startMissionRename(list, entry->name, *editText, &platform->fileJobs);
            if (refused.length) list->message = refused;
            scroll->openRowId = WidgetId{};
        }

        title = makeString(list->confirmDelete ? "Delete: press again to delete" : "Delete");
        text = formatStr("Remove @ from the Missions folder", entry->name);
        if (buttonRow(&title, &text, 0, stack, ui, scroll).clicked) {
            if (!list->confirmDelete) {
                list->confirmDelete = 1;
            } else {
                list->confirmDelete = 0;
                FixedString refused = startMissionDelete(list, entry->name, &platform->fileJobs);
                if (refused.length) list->message = refused;
                *selectedRow = -1;
            }
        }
    }
    endMapView(stack, ui, scroll);
}
