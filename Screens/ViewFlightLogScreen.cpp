// Stand-in until the viewer itself arrives: its title and the way back.
#include "Screens/ChildScreens.h"
#include "SourceCommon/UserInterface/PlaceholderScreen.h"

void viewFlightLogScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                         void* scratch) {
    (void)platform;
    (void)stack;
    (void)app;
    (void)result;
    (void)scratch;
    drawPlaceholderScreen("View Flight Log Screen", ui);
}
