// Units the fly screen shares with the flight-log viewer: the payload indicators of the top bar.
#pragma once
#include "Drone/TarnwickPayloads/PayloadRecords.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/Widgets.h"

struct ScreenStack;

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
