// The Automated Tests screen: on the first frame after it is pushed it runs every self test of the
// program's cryptography and TLS client once (the frame takes that long), then shows their codes
// with a few live readings (local time, DNS, window size, pointers, wheel) and widgets that
// exercise the toolkit (an edit box, a square that changes colour, the logo, tab-aligned text and
// circles under pressed pointers). The screen runner's back button and Escape leave it.
#pragma once
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/Screen.h"

// The screen's scratch state; zero on every push, so every visit runs the suites again.
struct TestScreenState {
    u32 testsRun;
    i32 md5Result;
    i32 sha1Result;
    i32 sha256Result;
    i32 sha384Result;
    i32 sha512Result;
    i32 aesGcmResult;
    i32 aesCbcResult;
    i32 eccResult;
    i32 huffmanResult;  // 0 when the canonical Huffman tree of RFC 1951's example is right
    i32 tls13Result;
    i32 tls12BasicResult;
    i32 tls12ExtendedResult;
    FixedString editText;
};

ORVIK_SCREEN_FUNCTION(testScreen);

// The screen's UTC clock (milliseconds since 1601-01-01); null: currentTimeMilliseconds. Tests set
// their own.
extern i64 (*testScreenClock)();

// Runs every suite into the state, as the first frame does; memory is the TLS suites' working memory.
void runTestScreenSuites(TestScreenState* state, void* memory);
// 0 when the decoding tree of the code lengths 3, 3, 3, 3, 3, 2, 4, 4 leads the all-0 path to "F"
// and the all-1 path to "H", else 1.
i32 huffmanTreeCheck();
// Block A, the text at the bottom-left: local time of the UTC instant, the result codes and the
// DNS status. The last line feed is dropped.
void appendTestScreenBlockA(ByteWriter* out, const TestScreenState* state, i64 utcMilliseconds,
                            const FixedString* dnsStatus);
