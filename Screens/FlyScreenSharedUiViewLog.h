// Units the fly screen shares with the flight-log viewer: the payload indicators of the top bar.
#pragma once
#include "Drone/TarnwickPayloads/PayloadRecords.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "SourceCommon/Renderer/UiState.h"

struct ScreenStack;

// The Orvik drop-count button of the top bar: the count (or "?" while the status is stale) in the
// slot's left part and the payload icon, white, amber or red by the payload's condition, turning
// once a second while it drops. A click sets *panel to 0 when it is 2 to 6, else to 2.
void drawPayloadCountIndicator(u32* panel, Rect slot, const UiMetrics* metrics, const OrvikPayloadState* orvik,
                               UiState* ui, ScreenStack* stack, u64* spinStart, u64 now);
