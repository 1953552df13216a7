// The self-test suites pass on the program's own primitives, and each fails, at the check that first
// meets it, when one primitive is broken (one output bit flipped) or a server record is changed.
#include <gtest/gtest.h>

#include "SelfTestSupport.h"

namespace {

// The line of a check, which must exist.
i32 checkLine(const char* file, const char* text) {
    i32 line = lineOf(file, text);
    EXPECT_GT(line, 0) << text;
    return line;
}

struct BreakScope {
    explicit BreakScope(BrokenPrimitive p) { brokenPrimitive = p; }
    ~BreakScope() { brokenPrimitive = BrokenNothing; }
};

TEST(SelfTestSuites, EverySuitePassesOnTheProgramsOwnPrimitives) {
    SelfTestMemory memory;
    EXPECT_EQ(md5TestSuite(), 0);
    EXPECT_EQ(sha1TestSuite(), 0);
    EXPECT_EQ(sha256TestSuite(), 0);
    EXPECT_EQ(sha384TestSuite(), 0);
    EXPECT_EQ(sha512TestSuite(), 0);
    EXPECT_EQ(aesCbcTestSuite(), 0);
    EXPECT_EQ(aesGcmTestSuite(), 0);
    EXPECT_EQ(ellipticCurveCryptographyTestSuite(), 0);
    EXPECT_EQ(tls13TestSuite(memory.get()), 0);
    EXPECT_EQ(tls12BasicTestSuite(memory.get()), 0);
    EXPECT_EQ(tls12ExtendedTestSuite(memory.get()), 0);
    EXPECT_EQ(urlParseTest(), 0);
    // Running again from a used working memory gives the same.
    EXPECT_EQ(tls13TestSuite(memory.get()), 0);
}

TEST(SelfTestSuites, BrokenHashMacOrKeyDerivationFailsAtItsFirstCheck) {
    {
        BreakScope broken(BrokenSha256);
        EXPECT_EQ(sha256TestSuite(), checkLine("HashSelfTests.cpp", "sha256Holds(Sha256Empty"));
    }
    {
        BreakScope broken(BrokenHmacSha256);
        EXPECT_EQ(sha256TestSuite(), checkLine("HashSelfTests.cpp", "hmacSha256StreamedHolds(HmacSha256Rfc4231Case1"));
    }
    {
        BreakScope broken(BrokenHkdf);
        EXPECT_EQ(sha256TestSuite(), checkLine("HashSelfTests.cpp", "hkdfExpandHolds(HkdfCase1Expand"));
    }
}

TEST(SelfTestSuites, BrokenAesBlockOrGhashFailsAtItsFirstCheck) {
    {
        BreakScope broken(BrokenAesBlock);
        EXPECT_EQ(aesCbcTestSuite(), checkLine("AesSelfTests.cpp", "memcmp(encrypted, d.ciphertext"));
        // The GHASH check compares two products under one key and cannot see it; the tag built
        // from the primitives can.
        EXPECT_EQ(aesGcmTestSuite(), checkLine("AesSelfTests.cpp", "memcmp(tag, zero.tag"));
    }
    {
        BreakScope broken(BrokenGhash);
        EXPECT_EQ(aesGcmTestSuite(), checkLine("AesSelfTests.cpp", "memcmp(tag, zero.tag"));
    }
}

TEST(SelfTestSuites, BrokenPointAdditionOrX25519FailsAtItsFirstCheck) {
    {
        BreakScope broken(BrokenPointAddition);
        EXPECT_EQ(ellipticCurveCryptographyTestSuite(), checkLine("CurveSelfTests.cpp", "smallCurveCaseHolds(SmallAdd)"));
    }
    {
        BreakScope broken(BrokenX25519);
        EXPECT_EQ(ellipticCurveCryptographyTestSuite(), checkLine("CurveSelfTests.cpp", "x25519Holds(X25519Function)"));
    }
}

TEST(SelfTestSuites, BrokenUrlPortFailsTheUrlTest) {
    BreakScope broken(BrokenUrlPort);
    EXPECT_EQ(urlParseTest(), checkLine("TlsSelfTests.cpp", "parsed.port != 8554"));
}

// One byte of a server record changed: the client refuses the record, and what it sends (an alert)
// is not the recorded flight, or no reply comes.
TEST(SelfTestSuites, ChangedServerRecordFailsTheReplayAtTheNextComparison) {
    SelfTestMemory memory;
    struct Case {
        const TlsRecording* recording;
        i32 (*replay)(void*, const TlsRecording*);
        const char* function;
        u32 flight;
        const char* check;
    };
    const Case cases[] = {
        {&kTls13Recording, replayTls13Recording, "i32 replayTls13Recording(", 0, "sentRecordsMatch(s, clientFlight)"},
        {&kTls12BasicRecording, replayTls12BasicRecording, "i32 replayTls12BasicRecording(", 0,
         "sentRecordsMatch(s, clientKeys)"},
        {&kTls12BasicRecording, replayTls12BasicRecording, "i32 replayTls12BasicRecording(", 4, "replyMatches("},
        {&kTls12ExtendedRecording, replayTls12ExtendedRecording, "i32 replayTls12ExtendedRecording(", 2,
         "sentRecordsMatch(s, clientRequest)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " flight " + std::to_string(c.flight));
        OwnedRecording changed;
        copyRecording(*c.recording, &changed);
        ASSERT_LT(c.flight, changed.flightBytes.size());
        std::vector<u8>& bytes = changed.flightBytes[c.flight];
        bytes[bytes.size() - 3] ^= 0x20;  // inside the flight's last record
        changed.link();
        i32 expected = lineOf("TlsSelfTests.cpp", c.check, c.function);
        ASSERT_GT(expected, 0);
        EXPECT_EQ(c.replay(memory.get(), &changed.recording), expected);
    }
}

}  // namespace

namespace {

// The certificate check runs at the recording's time, not the machine's: the suites pass whatever
// today's date, and a recording dated after its certificate's expiry fails.
TEST(SelfTestSuites, ReplaysCheckTheCertificateAtTheRecordingsTime) {
    SelfTestMemory memory;
    OwnedRecording late;
    copyRecording(kTls13Recording, &late);
    late.recording.utcMilliseconds += 20LL * 365 * 24 * 3600 * 1000;  // the certificates last ten years
    late.link();
    EXPECT_EQ(replayTls13Recording(memory.get(), &late.recording),
              lineOf("TlsSelfTests.cpp", "sentRecordsMatch(s, clientFlight)", "i32 replayTls13Recording("));
    late.recording.utcMilliseconds = kTls13Recording.utcMilliseconds;
    EXPECT_EQ(replayTls13Recording(memory.get(), &late.recording), 0);
}

}  // namespace
