// The application's state record, which the renderer only passes on to the application update.
#pragma once
#include "Application/AppState.h"
