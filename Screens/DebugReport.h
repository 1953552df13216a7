// The debug report's writers live with the Profiling screen, which shows the same sections.
#pragma once
#include "Screens/Test/DebugReport.h"
