// The node-mavlink "payloads" stand-in as the payload tests drive it: a PX4 vehicle with an Orvik
// payload and a strobe light, and two VOSK units, scripted one line at a time, reporting every
// payload frame it receives. Shared by the payload link's tests and the payload screens' tests.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "Mavlink/NodePeer.h"
#include "Mission/PlanPolygons.h"

namespace payloadpeer {

constexpr f64 kLatitude = 47.397742, kLongitude = 8.545594;

// One payload frame the stand-in received, stamped with the test's clock when it was read.
struct Received {
    std::string port;  // vehicle, voskA or voskB
    int type = 0;
    std::vector<u8> body;
    int mavlinkSequence = 0;
    int mavlinkVersion = 0;
    u64 time = 0;
};

struct PayloadPeer {
    NodeProcess process;
    std::vector<int> ports;  // the vehicle's and the two units'
    size_t linesRead = 0;
    std::vector<Received> received;

    void collect(u64 now) {
        pollNodePeer(&process);
        for (; linesRead < process.lines.size(); linesRead++) {
            std::vector<std::string> words = splitWords(process.lines[linesRead]);
            if (words.size() != 7 || words[0] != "rx") continue;
            received.push_back(Received{words[1], std::stoi(words[2]), bytesFromHex(words[4]), std::stoi(words[5]),
                                        std::stoi(words[6]), now});
        }
    }
    // Sends a command line and waits until the stand-in has handed all it sent to the kernel.
    void command(const std::string& line, u64 now) {
        if (process.input < 0) return;
        size_t from = process.lines.size();
        std::string text = line + "\n";
        ASSERT_EQ(write(process.input, text.data(), text.size()), (ssize_t)text.size());
        EXPECT_TRUE(waitForNodeLines(&process, "done", 1, from)) << line;
        collect(now);
    }
    // Reads the reports of every frame sent so far, once the stand-in has handled them and handed to the
    // kernel what it sent before: a step that ends here stamps its frames with its own time however
    // slowly the stand-in runs, and the next step reads what it answered.
    void sync(u64 now) {
        if (process.output >= 0) {
            EXPECT_TRUE(syncNodePeer(&process, ports)) << "the stand-in did not answer";
        }
        collect(now);
    }
    void drain(u64 now) { sync(now); }
    std::vector<Received> framesSince(u64 time, int type, const std::string& port = "") const {
        std::vector<Received> found;
        for (const Received& r : received) {
            if (r.time > time && r.type == type && (port.empty() || r.port == port)) found.push_back(r);
        }
        return found;
    }
    Received lastFrame(int type, const std::string& port = "vehicle") const {
        for (size_t i = received.size(); i-- > 0;) {
            if (received[i].type == type && received[i].port == port) return received[i];
        }
        return Received{};
    }
};

inline bool waitForReady(NodeProcess* process) { return waitForNodeLines(process, "ready"); }

// Starts the stand-in with its vehicle on vehiclePort and the VOSK units on two free ports, sending
// to the station's gcsPort; false when it did not come up.
inline bool startPayloadPeer(PayloadPeer* peer, u16 vehiclePort, u16 gcsPort) {
    peer->process = NodeProcess{};
    peer->ports = {vehiclePort, freeUdpPort(), freeUdpPort()};
    if (!startNodePeer(&peer->process, {"payloads", std::to_string(vehiclePort), std::to_string(peer->ports[1]),
                                        std::to_string(peer->ports[2]), std::to_string(gcsPort), "120"})) {
        return false;
    }
    if (waitForReady(&peer->process)) return true;
    stopNodePeer(&peer->process);
    return false;
}

inline Vec2 mercator(f64 latitude, f64 longitude) {
    constexpr f64 kPi = 3.14159265358979323846;
    return Vec2{longitude / 360.0, std::log(std::tan(latitude * kPi / 360.0 + kPi / 4.0)) / (2.0 * kPi)};
}

// A square geofence of about 2 km around the stand-in's position.
inline void fenceAroundStandIn(OrvikGeofence* geofence) {
    f64 d = 0.01;
    geofence->pointCount = 4;
    geofence->points[0] = mercator(kLatitude - d, kLongitude - d);
    geofence->points[1] = mercator(kLatitude - d, kLongitude + d);
    geofence->points[2] = mercator(kLatitude + d, kLongitude + d);
    geofence->points[3] = mercator(kLatitude + d, kLongitude - d);
}

}  // namespace payloadpeer
