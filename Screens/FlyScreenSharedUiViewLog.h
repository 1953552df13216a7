// Units the fly screen shares with the flight-log viewer: the payload indicators of the top bar.
#pragma once
#include "Drone/TarnwickPayloads/PayloadRecords.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/Widgets.h"
#include "KmzEditor/ExportedKmzList.h"
#include "KmzEditor/KmzEditor.h"
#include "KmzEditor/KmzExport.h"

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
// The Load panel: the last import's message when it has one, then the exported files, newest first,
// each with its date, name, "Load" and "Merge"; a click requests "Exported Kmzs/@" and leaves the
// request in *pendingRead with *merge 0 or 1 for the import.
void drawExportedKmzList(Rect panel, ExportedKmzList* list, MapView* scroll, FileReadRequest** pendingRead,
                         u32* merge, const FixedString* message, FileReadTable* reads, Platform* platform, UiState* ui,
                         ScreenStack* stack);
// The Save panel: "New File" (starts the export run) with the run's progress or outcome, above the
// same rows with "Rename" (a name field with "Cancel" and "Done") and "Delete".
void kmzExportPanel(Rect panel, KmzEditor* editor, KmzExportPanelState* state, KmzExportRun* run,
                    ExportedKmzList* list, MapView* scroll, FileJobTable* jobs, Platform* platform, UiState* ui,
                    ScreenStack* stack, TextEditState* focus);
// The new name a rename's "Done" asks for: ".kmz" appended when missing; an empty text with
// *refusal set for a name that is empty or holds "/", "\\", ".." or control characters.
FixedString kmzRenameTarget(const FixedString* typed, FixedString* refusal);
// ---- The camera panels (FlyScreenSharedUiViewLogCamera.cpp) ------------------------------------------
#include "Drone/DroneConnection.h"
#include "SourceCommon/UserInterface/MapView.h"

struct Platform;

// The camera HUD of the connection's camera at (x, y), its top-left corner, in text size `size`:
// mode buttons, the capture button, recording time or photo count, storage and (NextVision) the
// sensor temperature. Draws only while *panel is 17 and the camera kind is 1, 2 or 3; the
// camera-protocol camera's "Config" sets *panel to 18. Returns the height used (0 when nothing was
// drawn). Presses inside the HUD stay with it.
f32 drawCameraHud(f32 x, f32 y, f32 size, const Preferences* preferences, u32* panel, DroneConnection* connection,
                  UiState* ui, ScreenStack* stack);

// A press of the camera-protocol camera's capture button: the request it raises by the picture
// shape, recording, interval capture, the mapping kit's state (payload value4: 0 none, 1 ready, 2
// taking photos) and the interval P in seconds ("Vezod Mapping Kit Photo Interval (s, 0 for
// Single)").
void pressCameraCapture(ProtocolCameraState* camera, PayloadLink* payload, f64 interval);
// 1 while the capture button shows its square (recording, or capturing photos), 0 for its circle.
u32 cameraCaptureShowsSquare(const ProtocolCameraState* camera, const PayloadLink* payload);

// The camera-protocol camera's settings as a scrolling list in rect: the photo interval, then the
// camera's parameters as choice and stepper rows (re-read every frame while shown; a choice writes
// the wanted value, which the camera control sets at once). editText is the caller's number-field
// text, stepperIndex the caller's place for an open stepper row's position.
void drawCameraSettingsPanel(Rect rect, Platform* platform, ScreenStack* stack, UiState* ui, MapView* view,
                             Preferences* preferences, ProtocolCameraState* camera, const PayloadLink* payload,
                             FixedString* editText, u32* stepperIndex, u64 now);
// The interval in seconds with at most three decimals and no trailing zeros ("0.5", "2", "1.25").
FixedString cameraIntervalText(f64 seconds);
// The photo-interval row's summary line.
FixedString cameraIntervalSummary(f64 interval, const ProtocolCameraState* camera, const PayloadLink* payload);
