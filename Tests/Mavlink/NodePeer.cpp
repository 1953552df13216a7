#include "NodePeer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

const char* kNodeMavlink = "node-mavlink@2.3.0 mavlink-mappings@1.0.21-20250824-1";

std::string peerFolder() { return std::string(ORVIK_BINARY_DIR) + "/node-peer"; }

std::string runCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        output.append(buffer, count);
    }
    *status = pclose(pipe);
    return output;
}

}  // namespace

std::string prepareNodePeer() {
    std::string folder = peerFolder();
    std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Mavlink/mavlink_peer.mjs";
    // One installer at a time; later callers find the package in place and only copy the script.
    std::string command = "mkdir -p '" + folder + "' && flock '" + folder + ".lock' sh -c \"" +
                          "(test -f '" + folder + "/node_modules/node-mavlink/package.json' || " +
                          "npm install --prefix '" + folder + "' --no-audit --no-fund --loglevel=error " + kNodeMavlink +
                          ") && cp '" + script + "' '" + folder + "/mavlink_peer.tmp' && mv '" + folder +
                          "/mavlink_peer.tmp' '" + folder + "/mavlink_peer.mjs'\" 2>&1";
    int status = 0;
    std::string output = runCommand(command, &status);
    return status == 0 ? std::string() : "Installing node-mavlink failed: " + output;
}

std::string runNodePeer(const std::string& arguments) {
    int status = 0;
    return runCommand("node '" + peerFolder() + "/mavlink_peer.mjs' " + arguments + " 2>&1", &status);
}

bool startNodePeer(NodeProcess* process, const std::vector<std::string>& arguments) {
    signal(SIGPIPE, SIG_IGN);  // the peer may have ended before it is told to stop
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        return false;
    }
    std::string script = peerFolder() + "/mavlink_peer.mjs";
    std::vector<std::string> argv = {"node", script};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        dup2(fromChild[1], 2);
        close(toChild[1]);
        close(fromChild[0]);
        std::vector<char*> pointers;
        for (std::string& argument : argv) {
            pointers.push_back(argument.data());
        }
        pointers.push_back(nullptr);
        execvp("node", pointers.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (pid < 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return false;
    }
    fcntl(fromChild[0], F_SETFL, fcntl(fromChild[0], F_GETFL) | O_NONBLOCK);
    process->pid = pid;
    process->input = toChild[1];
    process->output = fromChild[0];
    return true;
}

bool pollNodePeer(NodeProcess* process) {
    if (process->output < 0) {
        return false;
    }
    char buffer[4096];
    for (;;) {
        ssize_t count = read(process->output, buffer, sizeof(buffer));
        if (count > 0) {
            process->pending.append(buffer, (size_t)count);
            continue;
        }
        if (count == 0) {
            process->ended = true;
        }
        break;
    }
    size_t end;
    while ((end = process->pending.find('\n')) != std::string::npos) {
        process->lines.push_back(process->pending.substr(0, end));
        process->pending.erase(0, end + 1);
    }
    return !process->ended;
}

void stopNodePeer(NodeProcess* process) {
    if (process->pid <= 0) {
        return;
    }
    if (process->input >= 0) {
        ssize_t written = write(process->input, "stop\n", 5);
        (void)written;
        close(process->input);
        process->input = -1;
    }
    // It ends on "stop"; a bounded wait, then it is ended by force.
    for (int i = 0; i < 1000 && pollNodePeer(process); i++) {
        pauseBriefly();
    }
    int status = 0;
    if (waitpid(process->pid, &status, WNOHANG) == 0) {
        kill(process->pid, SIGKILL);
        waitpid(process->pid, &status, 0);
    }
    pollNodePeer(process);
    close(process->output);
    process->output = -1;
    process->pid = -1;
}

int freeUdpPort() {
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (bind(probe, (sockaddr*)&address, sizeof(address)) == 0 && getsockname(probe, (sockaddr*)&address, &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}

bool waitForNodeLines(NodeProcess* process, const std::string& line, size_t count, size_t from) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    size_t found = 0;
    for (;;) {
        pollNodePeer(process);
        for (; from < process->lines.size(); from++) {
            found += process->lines[from] == line;
        }
        if (found >= count) {
            return true;
        }
        if (process->ended || process->output < 0) {
            return false;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > 60) {
            return false;
        }
        pollfd readable{process->output, POLLIN, 0};
        poll(&readable, 1, 100);
    }
}

bool syncNodePeer(NodeProcess* process, const std::vector<int>& ports) {
    static unsigned number = 0;
    number++;
    std::string request = "sync " + std::to_string(number);
    size_t from = process->lines.size();
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    if (sender < 0) {
        return false;
    }
    for (int port : ports) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons((unsigned short)port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(sender, request.data(), request.size(), 0, (sockaddr*)&address, sizeof(address));
    }
    close(sender);
    return waitForNodeLines(process, "synced " + std::to_string(number), ports.size(), from);
}

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t position = 0;
    while (position < line.size()) {
        size_t end = line.find(' ', position);
        if (end == std::string::npos) {
            end = line.size();
        }
        if (end > position) {
            words.push_back(line.substr(position, end - position));
        }
        position = end + 1;
    }
    return words;
}

std::vector<unsigned char> bytesFromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back((unsigned char)std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    return bytes;
}

std::string hexFromBytes(const void* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < count; i++) {
        unsigned char byte = ((const unsigned char*)bytes)[i];
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::string temporaryPath(const std::string& name) {
    return std::string(ORVIK_BINARY_DIR) + "/node-peer-" + std::to_string(getpid()) + "-" + name;
}

void pauseBriefly() {
    timespec pause{0, 2000000};
    nanosleep(&pause, nullptr);
}
