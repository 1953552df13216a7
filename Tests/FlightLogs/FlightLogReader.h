// Runs the independent python reader over a log file and returns its lines.
#pragma once
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FlightLogs/FlightLogger.h"

struct FlightLogReading {
    std::vector<std::string> lines;  // one per entry, then "end entries=N tail=T"
    int exitStatus;
};

inline FlightLogReading readFlightLogWithPython(const std::string& path) {
    std::string command = std::string("/usr/bin/python3 '") + ORVIK_SOURCE_DIR +
                          "/Tests/FlightLogs/flight_log_reader.py' '" + path + "' 2>&1";
    FlightLogReading reading{};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return FlightLogReading{{}, -1};
    std::string line;
    int c;
    while ((c = fgetc(pipe)) != EOF) {
        if (c == '\n') {
            reading.lines.push_back(line);
            line.clear();
        } else {
            line.push_back((char)c);
        }
    }
    if (!line.empty()) reading.lines.push_back(line);
    reading.exitStatus = pclose(pipe);
    return reading;
}

// The lines whose text starts with prefix.
inline std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
}

// The text of a line after its "type=T time=MS " prefix.
inline std::string entryBody(const std::string& line) {
    size_t first = line.find(' ');
    size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    return second == std::string::npos ? std::string() : line.substr(second + 1);
}

// Adds an entry of type 1 whose first four payload bytes count the entries (*next, then moved on).
inline void addNumbered(FlightLogger* logger, i64 time, u32* next, i64 payloadLength) {
    std::vector<u8> payload((size_t)(payloadLength < 4 ? 4 : payloadLength), (u8)*next);
    std::memcpy(payload.data(), next, 4);
    addFlightLogEntry(logger, time, FlightLogReceivedFromDrone, payload.data(), payloadLength);
    (*next)++;
}

// The number a numbered entry's line carries.
inline u32 numberOfLine(const std::string& line) {
    std::string hex = line.substr(line.find("bytes=") + 6, 8);
    u32 value = 0;
    for (int i = 3; i >= 0; i--) value = value << 8 | (u32)std::stoul(hex.substr(i * 2, 2), nullptr, 16);
    return value;
}

// The numbers of the numbered type-1 entries the reader found, in file order.
inline std::vector<u32> numbersIn(const FlightLogReading& reading) {
    std::vector<u32> numbers;
    for (const std::string& line : linesStartingWith(reading.lines, "type=1 ")) numbers.push_back(numberOfLine(line));
    return numbers;
}
