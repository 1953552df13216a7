// Sizes in pixels that screens lay themselves out in, recomputed every frame from the window.
#pragma once
#include "Core/GeometryTypes.h"

struct UiMetrics {
    f32 textHeight;  // never below 22
    f32 buttonTextHeight;  // 1.3 x textHeight
    f32 margin;  // buttonTextHeight / 8
    f32 rowHeight;  // buttonTextHeight + 2 x margin
    f32 buttonHeight;  // 2 x buttonTextHeight + 2 x margin
};

UiMetrics computeUiMetrics(Rect window);
