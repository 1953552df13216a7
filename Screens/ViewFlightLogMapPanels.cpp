// The playback layout of the View Flight Log screen under its top bar: the replay map, the HUD and
// its texts, the side view and the panels that open over them. Not drawn yet: the area stays empty.
#include "Screens/ViewFlightLogScreen.h"

void drawFlightLogMapAndPanels(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack,
                               UiState* ui, Rect content, f32 groundElevation, f32 secondGround) {
    (void)state;
    (void)app;
    (void)platform;
    (void)stack;
    (void)ui;
    (void)content;
    (void)groundElevation;
    (void)secondGround;
}
