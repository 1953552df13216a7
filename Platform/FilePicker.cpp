// The file-open dialog as a child process, polled without blocking.
#include "Platform/FilePicker.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const char* const kZenity[] = {"zenity", "--file-selection", nullptr};

void takeOutput(FilePicker* picker) {
    for (;;) {
        char chunk[512];
        ssize_t got = read(picker->outputFd, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        for (ssize_t i = 0; i < got && picker->outputLength < sizeof(picker->output); i++) {
            picker->output[picker->outputLength++] = chunk[i];
        }
    }
}

void closeOutput(FilePicker* picker) {
    if (picker->outputFd >= 0) close(picker->outputFd);
    picker->outputFd = -1;
    picker->pid = 0;
}

}  // namespace

u32 startFilePicker(FilePicker* picker, u32 slotIndex) {
    picker->pid = 0;
    picker->outputFd = -1;
    picker->outputLength = 0;
    picker->slotIndex = slotIndex;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    const char* const* command = picker->command ? picker->command : kZenity;
    pid_t pid = 0;
    int error = posix_spawnp(&pid, command[0], &actions, nullptr, (char* const*)command, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        return 0;
    }
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    picker->pid = pid;
    picker->outputFd = fds[0];
    return 1;
}

u32 pollFilePicker(FilePicker* picker, FixedString* path) {
    if (picker->pid <= 0) return FilePickerFailed;
    takeOutput(picker);
    int status = 0;
    pid_t done = waitpid(picker->pid, &status, WNOHANG);
    if (done == 0) return FilePickerRunning;
    takeOutput(picker);
    closeOutput(picker);
    if (done < 0 || !WIFEXITED(status)) return FilePickerFailed;
    if (WEXITSTATUS(status) == 1) return FilePickerCancelled;
    if (WEXITSTATUS(status) != 0) return FilePickerFailed;
    u32 length = 0;
    while (length < picker->outputLength && picker->output[length] != '\n' && picker->output[length] != '\r') length++;
    if (length == 0 || picker->output[0] != '/') return FilePickerFailed;
    *path = stringFromBytes(picker->output, length);
    return FilePickerChosen;
}

void stopFilePicker(FilePicker* picker) {
    if (picker->pid <= 0) return;
    kill(picker->pid, SIGTERM);
    int status = 0;
    waitpid(picker->pid, &status, 0);
    closeOutput(picker);
}
