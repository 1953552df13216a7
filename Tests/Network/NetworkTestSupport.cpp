#include "NetworkTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

u64 testNow = 10000000;
u64 testClock() { return testNow; }

void waitBriefly() {
    timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
}

u64 realMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (u64)t.tv_sec * 1000000 + (u64)t.tv_nsec / 1000;
}

bool withinPatience(u64 start) { return realMicroseconds() - start < kPeerPatience; }

namespace {

bool beforeHello(const TlsClient* client) {
    return client->state == TlsStateReset || client->state == TlsStateIdle || client->state == TlsStateConnecting;
}

// The client's own flight is due: its next step sends it, with no wait and no time needed.
bool flightDue(const TlsClient* client) {
    return client->state == TlsStateAlertDue || client->state == TlsStateKeyExchangeDue ||
           client->state == TlsStateChangeCipherSpecDue || client->state == TlsStateFinishedDue;
}

}  // namespace

bool tlsClockMayMove(const TlsClient* client, const Socket* socket, int milliseconds) {
    if (beforeHello(client)) {
        waitBriefly();  // leaves the server the processor while the connection is made
        return true;
    }
    if (flightDue(client)) return false;
    if (!socket->initialised || socket->handle < 0) return true;
    pollfd readable{socket->handle, POLLIN, 0};
    return poll(&readable, 1, milliseconds) > 0;
}

bool downloadClockMayMove(const DownloadPool* pool, const Socket sockets[], int milliseconds) {
    pollfd waiting[kDownloadConnections];
    nfds_t count = 0;
    for (i32 c = 0; c < kDownloadConnections; c++) {
        if (!pool->currentSlot[c]) continue;
        if (beforeHello(&pool->connections[c].tls)) {
            waitBriefly();
            return true;
        }
        if (sockets[c].initialised && sockets[c].handle >= 0) waiting[count++] = pollfd{sockets[c].handle, POLLIN, 0};
    }
    if (count == 0) {
        waitBriefly();
        return true;
    }
    return poll(waiting, count, milliseconds) > 0;
}

namespace {

bool spawnPython(const char* const* arguments, int* pid, int* input, int* output) {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    int result = posix_spawn(pid, "/usr/bin/python3", &actions, nullptr, (char* const*)arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    if (result != 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return false;
    }
    *input = toChild[1];
    *output = fromChild[0];
    return true;
}

}  // namespace

bool startPythonPeer(PythonPeer* peer, const char* scriptName) {
    signal(SIGPIPE, SIG_IGN);
    std::string path = std::string(ORVIK_SOURCE_DIR) + "/Tests/Network/" + scriptName;
    const char* arguments[] = {"python3", "-u", path.c_str(), nullptr};
    int output = -1;
    if (!spawnPython(arguments, &peer->pid, &peer->input, &output)) {
        return false;
    }
    peer->output = fdopen(output, "r");
    return peer->output != nullptr;
}

std::string peerCommand(PythonPeer* peer, const std::string& line) {
    std::string command = line + "\n";
    if (write(peer->input, command.data(), command.size()) != (ssize_t)command.size()) {
        return "write failed";
    }
    std::string answer;
    int c;
    while ((c = fgetc((FILE*)peer->output)) != EOF && c != '\n') {
        answer.push_back((char)c);
    }
    return answer;
}

void stopPythonPeer(PythonPeer* peer) {
    if (peer->pid < 0) {
        return;
    }
    const char quit[] = "quit\n";
    (void)!write(peer->input, quit, sizeof(quit) - 1);
    close(peer->input);
    fclose((FILE*)peer->output);
    int status = 0;
    waitpid(peer->pid, &status, 0);
    peer->pid = -1;
}

std::string runPython(const std::string& program, const std::string& input) {
    signal(SIGPIPE, SIG_IGN);
    const char* arguments[] = {"python3", "-c", program.c_str(), nullptr};
    int pid = -1;
    int in = -1;
    int out = -1;
    if (!spawnPython(arguments, &pid, &in, &out)) {
        return "";
    }
    // Inputs are small enough for the pipe: write everything, then read the answer.
    size_t written = 0;
    while (written < input.size()) {
        ssize_t n = write(in, input.data() + written, input.size() - written);
        if (n <= 0) {
            break;
        }
        written += (size_t)n;
    }
    close(in);
    std::string result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out, buffer, sizeof(buffer))) > 0) {
        result.append(buffer, (size_t)n);
    }
    close(out);
    int status = 0;
    waitpid(pid, &status, 0);
    return result;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string::npos) {
            end = line.size();
        }
        if (end > start) {
            result.push_back(line.substr(start, end - start));
        }
        start = end + 1;
    }
    return result;
}

std::string text(const FixedString& value) { return std::string(value.text, value.length); }

std::string hexOf(const void* bytes, u64 count) {
    static const char digits[] = "0123456789abcdef";
    std::string result;
    for (u64 i = 0; i < count; i++) {
        u8 b = ((const u8*)bytes)[i];
        result.push_back(digits[b >> 4]);
        result.push_back(digits[b & 15]);
    }
    return result;
}

std::string hexOfText(const std::string& value) { return hexOf(value.data(), value.size()); }

PrivateNetwork::PrivateNetwork() {
    original = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (original < 0) {
        reason = "no network namespaces here";
        return;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        reason = std::string("no private network namespace: ") + std::strerror(errno);
        close(original);
        original = -1;
        return;
    }
    int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool up = control >= 0 && ioctl(control, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = (short)(request.ifr_flags | IFF_UP);
    up = up && ioctl(control, SIOCSIFFLAGS, &request) == 0;
    if (control >= 0) close(control);
    if (!up) reason = "the private network's loopback would not come up";
}

PrivateNetwork::~PrivateNetwork() {
    if (original < 0) return;
    (void)!setns(original, CLONE_NEWNET);
    close(original);
}
