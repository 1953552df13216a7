// Helpers of the crypto tests: hex texts, the published vector files (NIST CAVP response files and
// the RFC vector texts installed by python3-cryptography-vectors) and a seeded random source.
#pragma once
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Core/Types.h"

using Bytes = std::vector<u8>;

inline Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back((u8)std::stoul(hex.substr(i, 2), nullptr, 16));
    return out;
}

inline std::string toHex(const u8* data, size_t length) {
    std::string out;
    char pair[3];
    for (size_t i = 0; i < length; i++) {
        snprintf(pair, sizeof(pair), "%02x", data[i]);
        out += pair;
    }
    return out;
}

inline std::string toHex(const Bytes& data) { return toHex(data.data(), data.size()); }

// One vector: its "Name = value" lines, and the bracketed section headers above it.
struct VectorRecord {
    std::map<std::string, std::string> fields;
    std::map<std::string, std::string> section;
    bool has(const std::string& key) const { return fields.count(key) != 0; }
    const std::string& operator[](const std::string& key) const { return fields.at(key); }
    Bytes bytes(const std::string& key) const { return fromHex(fields.at(key)); }
};

inline const char* vectorDirectory() { return "/usr/lib/python3/dist-packages/cryptography_vectors"; }

inline std::string trim(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(start, end - start + 1);
}

// Reads a vector file: a record ends where one of its keys appears again or a section begins; a bare
// word line (such as FAIL) is a field with an empty value. Consecutive bracketed headers add up; the
// first header after records replaces them all.
inline std::vector<VectorRecord> readVectorFile(const std::string& relativePath) {
    std::vector<VectorRecord> records;
    std::ifstream file(std::string(vectorDirectory()) + "/" + relativePath);
    if (!file) return records;
    std::map<std::string, std::string> section;
    bool recordsSinceHeader = false;  // a header after records starts a fresh set of headers
    VectorRecord current;
    auto flush = [&] {
        if (!current.fields.empty()) records.push_back(current);
        current = VectorRecord{};
        current.section = section;
    };
    current.section = section;
    std::string line;
    while (std::getline(file, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            flush();
            if (recordsSinceHeader) section.clear();
            recordsSinceHeader = false;
            std::string inner = line.substr(1, line.find(']') - 1);
            size_t equals = inner.find('=');
            if (equals == std::string::npos) section[trim(inner)] = "";
            else section[trim(inner.substr(0, equals))] = trim(inner.substr(equals + 1));
            current.section = section;
            continue;
        }
        size_t equals = line.find('=');
        std::string key = trim(equals == std::string::npos ? line : line.substr(0, equals));
        std::string value = equals == std::string::npos ? "" : trim(line.substr(equals + 1));
        if (current.fields.count(key)) flush();
        current.fields[key] = value;
        recordsSinceHeader = true;
    }
    flush();
    return records;
}

inline Bytes randomBytes(std::mt19937_64& random, size_t length) {
    Bytes out(length);
    for (auto& b : out) b = (u8)random();
    return out;
}
