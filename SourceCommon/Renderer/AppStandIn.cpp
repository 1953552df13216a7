// Stand-in for the application's per-frame update until the application update arrives: it only
// counts frames, so the window shows the clear colour.
#include "SourceCommon/Renderer/Renderer.h"

void updateApp(Platform* platform, UiState* ui, AppState* app) {
    (void)platform;
    (void)ui;
    app->frameCount++;
}
