// Ports for a test's own sockets that the system has free now: the tests hand them to the records
// the program reads, so that no test needs a fixed port (another instance of the program may hold
// the standard ones).
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "Core/Types.h"

// Up to `count` distinct UDP ports, bound on any interface and let go again.
inline std::vector<u16> freeUdpPorts(int count) {
    std::vector<int> sockets;
    std::vector<u16> ports;
    for (int i = 0; i < count; i++) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) break;
        sockets.push_back(fd);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof(address);
        if (bind(fd, (sockaddr*)&address, sizeof(address)) != 0 ||
            getsockname(fd, (sockaddr*)&address, &length) != 0) {
            break;
        }
        ports.push_back(ntohs(address.sin_port));
    }
    for (int fd : sockets) close(fd);
    return ports;
}
