// The export panel of the View Flight Log screen (open panel 39). Not drawn yet.
#include "Screens/ViewFlightLogScreen.h"

void drawFlightLogExportPanel(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack,
                              UiState* ui, Rect content) {
    (void)state;
    (void)app;
    (void)platform;
    (void)stack;
    (void)ui;
    (void)content;
}
