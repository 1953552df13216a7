// The application's state record. The application update brings the real record; until then the
// renderer only passes this one on.
#pragma once
#include "Core/Types.h"

struct AppState {
    u32 frameCount;
};
