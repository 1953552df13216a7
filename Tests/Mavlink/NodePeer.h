// The node-mavlink peer of the drone link tests: installed once into the build folder, and run as
// a child process on the loopback.
#pragma once
#include <string>
#include <vector>

// Installs node-mavlink under <build>/node-peer when it is not there yet (several test processes
// may ask at once) and copies the peer script beside it. The message is empty on success.
std::string prepareNodePeer();

// Runs the peer script to its end with the given arguments; its standard output.
std::string runNodePeer(const std::string& arguments);

// A peer that keeps running while the test steps the connection.
struct NodeProcess {
    int pid = -1;
    int input = -1;
    int output = -1;
    std::string pending;
    std::vector<std::string> lines;
    bool ended = false;
};

bool startNodePeer(NodeProcess* process, const std::vector<std::string>& arguments);
// Reads whatever the peer has written so far, without waiting; false once it has ended and all is read.
bool pollNodePeer(NodeProcess* process);
void stopNodePeer(NodeProcess* process);
// Waits until the peer has handled every datagram that reached its ports before this call and has
// handed to the kernel all it sent in answer (on the loopback, that is the receiver's buffer): a
// "sync N" datagram follows them to each port, and the peer prints "synced N" once it is there.
// Waits for the answer, not for a time; false if the peer ended or gave none within a minute.
// Waits until the peer has printed `count` lines that read `line`, counting from its line `from` on:
// true then, false if it ended first or a minute passed (a bound for a peer that hangs, far above
// any machine's delay).
bool waitForNodeLines(NodeProcess* process, const std::string& line, size_t count = 1, size_t from = 0);
// A UDP port on the loopback that no socket holds at the time of the call (the system's choice);
// whoever binds it next may still lose it to another process, so callers try again on failure.
int freeUdpPort();
bool syncNodePeer(NodeProcess* process, const std::vector<int>& ports);

std::vector<std::string> splitWords(const std::string& line);
std::vector<unsigned char> bytesFromHex(const std::string& hex);
std::string hexFromBytes(const void* bytes, size_t count);
std::string temporaryPath(const std::string& name);
void pauseBriefly();  // a couple of milliseconds for the loopback peer
