// Tools/record_tls_sessions.py run against live openssl s_server on loopback gives recordings that
// the replays pass; the replays authenticate the server, so a recording whose test authority is not
// the one that signed its server's certificate fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "SelfTestSupport.h"

namespace {

TEST(TlsRecordingTool, FreshRecordingsFromOpensslPassTheReplays) {
    std::string directory = std::string(ORVIK_BINARY_DIR) + "/tls_recordings";
    std::string command = "/usr/bin/python3 " + std::string(ORVIK_SOURCE_DIR) + "/Tools/record_tls_sessions.py " +
                          ORVIK_BINARY_DIR + "/Tests/SelfTests/tls_session_recorder " + directory + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe)) output += buffer;
    ASSERT_EQ(pclose(pipe), 0) << output;

    SelfTestMemory memory;
    OwnedRecording tls13, basic, extended;
    ASSERT_TRUE(readRecording(directory + "/tls13.txt", &tls13));
    ASSERT_TRUE(readRecording(directory + "/tls12basic.txt", &basic));
    ASSERT_TRUE(readRecording(directory + "/tls12extended.txt", &extended));
    EXPECT_EQ(replayTls13Recording(memory.get(), &tls13.recording), 0);
    EXPECT_EQ(replayTls12BasicRecording(memory.get(), &basic.recording), 0);
    EXPECT_EQ(replayTls12ExtendedRecording(memory.get(), &extended.recording), 0);
    EXPECT_EQ(std::string(extended.reply.begin(), extended.reply.end()),
              "HTTP/1.0 200 ok\r\nContent-type: text/plain\r\n\r\nEAT FLAMING DEATH");
    EXPECT_EQ(std::string(tls13.reply.begin(), tls13.reply.end()), "pong");

    // The checked-in recording's authority did not sign this run's certificates.
    tls13.authority.assign(kTls13Recording.authority, kTls13Recording.authority + kTls13Recording.authorityLength);
    tls13.link();
    EXPECT_EQ(replayTls13Recording(memory.get(), &tls13.recording),
              lineOf("TlsSelfTests.cpp", "sentRecordsMatch(s, clientFlight)", "i32 replayTls13Recording("));
}

}  // namespace
