// The stand-in of a screen whose subsystem has not arrived yet: its title at the top of an empty
// screen, left again with the screen runner's back button or Escape.
#pragma once
#include "Core/Profiler.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Screen.h"

constexpr Color kPlaceholderTitleColor = 0xFFFFFFFF;

// title is also the screen's profiling region: pass a text that lives for the whole run.
inline void drawPlaceholderScreen(const char* title, UiState* ui) {
    ProfilingScope scope(title);
    f32 shorter = ui->halfWidth < ui->halfHeight ? ui->halfWidth : ui->halfHeight;
    f32 textHeight = shorter / 15 > 22 ? shorter / 15 : 22;
    TextStyle style{kPlaceholderTitleColor, 0x00FFFFFF, 0xFFE36400, 1.3f * textHeight, 0, 0};
    Rect screen = ui->screenRect;
    Vec2F32 top{(screen.x0 + screen.x1) / 2, screen.y1 - textHeight};
    drawTextAt(ui, makeString(title), AnchorTopCentre, top, 0.5f, screen, style);
}
