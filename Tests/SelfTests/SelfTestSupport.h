// Shared by the self-test tests: working memory for the TLS suites, the line of a check in a suite's
// source, recordings read from the recording tool's text files, and the switches of the broken
// primitives (BrokenPrimitives.cpp).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "SelfTests/SelfTests.h"

struct SelfTestMemory {
    std::unique_ptr<u8[]> bytes{new u8[kTlsSelfTestMemoryBytes]};
    void* get() { return bytes.get(); }
};

// The number of the first line of SelfTests/<file> that contains text (after the first line that
// contains after, when given); 0 when none does.
i32 lineOf(const char* file, const char* text, const char* after = nullptr);

// A recording with its own storage.
struct OwnedRecording {
    std::string host;
    std::vector<u8> authority, privateKey, publicKey, hello, request, reply;
    std::vector<std::vector<u8>> flightBytes;
    std::vector<u32> flightServer;
    std::vector<TlsRecordedFlight> flights;
    TlsRecording recording{};
    OwnedRecording() = default;
    OwnedRecording(const OwnedRecording&) = delete;
    void link();  // points recording at the vectors
};

// Reads a file written by Tools/record_tls_sessions.py; false when it cannot.
bool readRecording(const std::string& path, OwnedRecording* out);
// A copy of a checked-in recording.
void copyRecording(const TlsRecording& recording, OwnedRecording* out);

// Which primitive the wrappers break: one output bit flipped while set.
enum BrokenPrimitive {
    BrokenNothing,
    BrokenSha256,
    BrokenHmacSha256,
    BrokenHkdf,
    BrokenAesBlock,
    BrokenGhash,
    BrokenPointAddition,
    BrokenX25519,
    BrokenUrlPort,
};
extern BrokenPrimitive brokenPrimitive;
