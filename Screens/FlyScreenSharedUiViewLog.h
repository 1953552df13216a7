// Units the fly screen shares with the flight-log viewer: the payload indicators of the top bar.
#pragma once
#include "Drone/TarnwickPayloads/PayloadRecords.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/Widgets.h"
#include "KmzEditor/ExportedKmzList.h"
#include "KmzEditor/KmzEditor.h"

struct ScreenStack;
struct Platform;
struct FileReadRequest;
struct FileReadTable;
struct FileJobTable;
struct TextEditState;

// The Orvik drop-count button of the top bar: the count (or "?" while the status is stale) in the
// slot's left part and the payload icon, white, amber or red by the payload's condition, turning
// once a second while it drops. A click sets *panel to 0 when it is 2 to 6, else to 2.
void drawPayloadCountIndicator(u32* panel, Rect slot, const UiMetrics* metrics, const OrvikPayloadState* orvik,
                               UiState* ui, ScreenStack* stack, u64* spinStart, u64 now);

// The top bar's "Strobe" toggle, shown while the strobe light reported within the last 10 s: a slot
// 1.4 times the bar's height wide taken from the right at *xCursor (which moves left past it). A
// click sets *openPanel to 0 when it is 16 (the strobe-light panel), else to 16. Nothing is drawn
// or taken while the light is silent.
void strobeToggleButton(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                        const StrobeLight* light, UiState* ui, ScreenStack* stack, u64 now);

// The KMZ editor's toolbar and panels. The panel state is a word of the host screen: 30 nothing
// open, 31 drone-path colour picker, 32 line colour picker, 33 marker kind picker, 34 the exported
// KMZ list (Load), 35 the export panel (Save). Opening one closes any other.
enum KmzPanelState : u32 {
    KmzPanelNone = 30,
    KmzPanelDronePath = 31,
    KmzPanelLineColor = 32,
    KmzPanelMarkerKind = 33,
    KmzPanelLoad = 34,
    KmzPanelSave = 35,
};

// What the export panel keeps between frames (zero-filled at rest).
struct KmzExportPanelState {
    u32 renaming;           // 1: the row of renameName shows the rename field
    FixedString renameName;  // the file being renamed
    FixedString editText;    // the typed name
    FixedString message;     // the last refusal, shown under "New File"
};

// One row of nine equal cells (drone path, line tool, marker tool, eraser, "Undo @", "Redo @",
// "Clear", "Load", "Save") and, below it while 31 to 33 is open, that picker's row. Called every
// frame; draws nothing while *panel is outside 30 to 35.
void drawKmzEditorToolbar(u32* panel, Rect row, KmzEditor* editor, const UiMetrics* metrics, UiState* ui,
                          ScreenStack* stack);
// The Load panel: the exported files, newest first, each with its date, name, "Load" and "Merge";
// a click requests "Exported Kmzs/@" and leaves the request in *pendingRead with *merge 0 or 1
// for importKmzIntoKmzEditor.
void drawExportedKmzList(Rect panel, ExportedKmzList* list, MapView* scroll, FileReadRequest** pendingRead,
                         u32* merge, FileReadTable* reads, Platform* platform, UiState* ui, ScreenStack* stack);
// The Save panel: "New File" (exportKmz) above the same rows with "Rename" (a name field with
// "Cancel" and "Done") and "Delete".
void kmzExportPanel(Rect panel, KmzEditor* editor, KmzExportPanelState* state, ExportedKmzList* list,
                    MapView* scroll, FileJobTable* jobs, Platform* platform, UiState* ui, ScreenStack* stack,
                    TextEditState* focus);
// The new name a rename's "Done" asks for: ".kmz" appended when missing; an empty text with
// *refusal set for a name that is empty or holds "/", "\\", ".." or control characters.
FixedString kmzRenameTarget(const FixedString* typed, FixedString* refusal);
