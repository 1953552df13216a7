#include "Platform/WebPage.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace {

WebPageOpener webPageOpener = nullptr;

// A shell that starts xdg-open in the background and ends at once, so the frame waits only for the
// shell. The address is an argument of the shell, never part of its command text.
i32 openWithXdgOpen(const char* url) {
    const char* argv[] = {"sh", "-c", "xdg-open \"$1\" >/dev/null 2>&1 &", "sh", url, nullptr};
    pid_t pid;
    i32 error = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, (char* const*)argv, environ);
    if (error != 0) return error;
    i32 status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

}  // namespace

i32 openWebPage(const char* url) {
    if (!url || !url[0]) return EINVAL;
    return webPageOpener ? webPageOpener(url) : openWithXdgOpen(url);
}

void setWebPageOpener(WebPageOpener opener) { webPageOpener = opener; }
