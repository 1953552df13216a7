// Shared pieces of the network tests: a Python loopback peer driven over pipes, an injectable
// clock for sockets, and a loop that steps a socket until a condition holds.
#pragma once
#include "Core/FixedString.h"
#include "Network/Download.h"
#include "Network/Socket.h"
#include "Network/Tls.h"

#include <string>
#include <vector>

// A /usr/bin/python3 process running a script; one command line in, one answer line out.
struct PythonPeer {
    int pid = -1;
    int input = -1;
    void* output = nullptr;  // FILE*
};

bool startPythonPeer(PythonPeer* peer, const char* scriptName);
std::string peerCommand(PythonPeer* peer, const std::string& line);
void stopPythonPeer(PythonPeer* peer);
// Runs a Python program to its end with the given standard input; returns its standard output.
std::string runPython(const std::string& program, const std::string& input);

// Splits an answer line on spaces.
std::vector<std::string> words(const std::string& line);

// The clock the tests hand to sockets; starts well away from 0.
extern u64 testNow;
u64 testClock();

std::string text(const FixedString& value);
std::string hexOf(const void* bytes, u64 count);
std::string hexOfText(const std::string& value);

void waitBriefly();

// Real time (the monotonic clock) in microseconds: only for the guards against a hang.
u64 realMicroseconds();
// Real time within which a live peer starts or answers, however busy the machine.
constexpr u64 kPeerPatience = 60000000;
// True while less than kPeerPatience of real time has passed since `start`.
bool withinPatience(u64 start);

// For a client on an injected clock against a live server that may be starved on a busy machine,
// asked after each step: whether the clock may move on before the next. Before its ClientHello it
// may (the hello waits a moment after a reset); with its own flight due it need not (no wait);
// otherwise only once the server's bytes wait in the socket, after up to `milliseconds` of real time
// for them. However slowly the server answers, no time-out of the client runs while it waits.
bool tlsClockMayMove(const TlsClient* client, const Socket* socket, int milliseconds);
// The same for a download pool: held while a connection with a download is past its ClientHello and
// no bytes wait in any of those connections' sockets.
bool downloadClockMayMove(const DownloadPool* pool, const Socket sockets[], int milliseconds);

// A network of this thread's own, with nothing but its loopback (brought up), for as long as the
// record lives; the processes it starts meanwhile share it. A test whose sockets would otherwise see
// every other test's traffic (a raw socket sees all UDP on the machine) uses it. `reason` says why
// it could not be had (no namespaces in this system, or no right to make one); empty once entered.
struct PrivateNetwork {
    std::string reason;
    int original = -1;  // the namespace to go back to
    PrivateNetwork();
    ~PrivateNetwork();
};

// Steps until the predicate holds (the result of the step that made it hold stays in *out), waiting
// a millisecond between steps for the loopback peer; false after about five seconds.
template <typename Step, typename Predicate>
bool stepUntil(SocketResult* out, Step step, Predicate done) {
    for (int i = 0; i < 5000; i++) {
        step(out);
        if (done(*out)) {
            return true;
        }
        waitBriefly();
    }
    return false;
}
