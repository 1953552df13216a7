// The identity of an immediate-mode widget: the source line and file of the call that draws it. The
// same call site gives the same id every frame, which ties a press to its widget across frames.
#pragma once
#include "Core/Types.h"

struct WidgetId {
    u64 line;
    const char* file;
};

// The id of the call site it is written at.
#define WIDGET_ID (WidgetId{(u64)__LINE__, __FILE__})

inline bool sameWidget(const WidgetId& a, const WidgetId& b) { return a.line == b.line && a.file == b.file; }
inline bool isNoWidget(const WidgetId& id) { return id.line == 0 && id.file == nullptr; }
