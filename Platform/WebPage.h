// Opening a web page in the user's browser through the desktop's opener (xdg-open), started as a
// child process that the frame does not wait for.
#pragma once
#include "Core/Types.h"

// Returns 0 when the opener was started, else an errno value. Nothing reports whether the browser
// showed the page.
i32 openWebPage(const char* url);

// Tests put their own opener here; null restores the desktop's.
using WebPageOpener = i32 (*)(const char* url);
void setWebPageOpener(WebPageOpener opener);
