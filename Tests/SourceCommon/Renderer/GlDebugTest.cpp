// The GL function table's loader and the debug-message table: entries by name in their fixed order,
// optional features from the context's version and extensions, and messages collected once per
// call site with a rising count.
#include <cstring>
#include <string>
#include <vector>

#include "RendererTestSupport.h"

namespace {

// A fake driver for the loader: it answers every name and reports a chosen version and extensions.
std::vector<std::string> askedNames;
GlInt fakeMajor = 3, fakeMinor = 3;
std::vector<std::string> fakeExtensions;

void fakeGetIntegerv(GlEnum name, GlInt* value) {
    if (name == 0x821B) *value = fakeMajor;
    if (name == 0x821C) *value = fakeMinor;
    if (name == 0x821D) *value = (GlInt)fakeExtensions.size();
}
const GlUbyte* fakeGetStringi(GlEnum, GlUint index) { return (const GlUbyte*)fakeExtensions[index].c_str(); }
void fakeAnything() {}

void* fakeGetProc(const char* name) {
    askedNames.push_back(name);
    if (std::strcmp(name, "glGetIntegerv") == 0) return (void*)fakeGetIntegerv;
    if (std::strcmp(name, "glGetStringi") == 0) return (void*)fakeGetStringi;
    return (void*)fakeAnything;
}

GlFunctionTable loadFake(GlInt major, GlInt minor, std::vector<std::string> extensions) {
    fakeMajor = major;
    fakeMinor = minor;
    fakeExtensions = extensions;
    askedNames.clear();
    GlFunctionTable table{};
    loadOpenGlFunctions(&table, fakeGetProc);
    return table;
}

TEST(GlFunctionTable, IsFilledByNameInItsFixedOrder) {
    GlFunctionTable table = loadFake(4, 5, {});
    ASSERT_EQ(askedNames.size(), 248u);
    EXPECT_EQ(askedNames[0], "glDebugMessageCallback");
    EXPECT_EQ(askedNames[1], "glActiveTexture");
    EXPECT_EQ(askedNames[142], "glViewport");
    EXPECT_EQ(askedNames[143], "glReadBuffer");
    EXPECT_EQ(askedNames[246], "glGetInternalformativ");
    EXPECT_EQ(askedNames[247], "glClipControl");
    EXPECT_EQ((void*)table.glViewport, (void*)fakeAnything);
    EXPECT_NE(table.glDebugMessageCallback, nullptr);
    EXPECT_NE(table.glClipControl, nullptr);
}

TEST(GlFunctionTable, OptionalEntriesFollowTheVersionAndExtensionsNotTheLookup) {
    GlFunctionTable old = loadFake(3, 3, {"GL_ARB_texture_swizzle"});
    EXPECT_EQ(old.glDebugMessageCallback, nullptr);
    EXPECT_EQ(old.glClipControl, nullptr);
    EXPECT_NE(old.glViewport, nullptr);
    GlFunctionTable debugOnly = loadFake(4, 3, {});
    EXPECT_NE(debugOnly.glDebugMessageCallback, nullptr);
    EXPECT_EQ(debugOnly.glClipControl, nullptr);
    GlFunctionTable byExtension = loadFake(3, 3, {"GL_KHR_debug", "GL_ARB_clip_control"});
    EXPECT_NE(byExtension.glDebugMessageCallback, nullptr);
    EXPECT_NE(byExtension.glClipControl, nullptr);
}

u64 fakeTime = 0;
u64 fakeClock() { return fakeTime; }

TEST(GlDebugMessages, RepeatsRaiseTheCountAndFollowTheClock) {
    GlDebugLog log{};
    log.clock = fakeClock;
    log.currentGlLine = 12;
    fakeTime = 100;
    recordGlDebugMessage(&log, 0x8246, 0x8250, 7, 0x9148, "slow path", 9);
    fakeTime = 250;
    recordGlDebugMessage(&log, 0x8246, 0x8250, 7, 0x9148, "slow path", 9);
    EXPECT_EQ(log.messages[0].count, 2u);
    EXPECT_EQ(log.messages[0].lastTime, 250u);
    EXPECT_EQ(log.messages[1].count, 0u);
    EXPECT_STREQ(log.messages[0].sourceText, "API");
    EXPECT_STREQ(log.messages[0].typeText, "Performance");
    EXPECT_STREQ(log.messages[0].severityText, "Low");
    // The same message from another call site is an entry of its own.
    log.currentGlLine = 13;
    recordGlDebugMessage(&log, 0x8246, 0x8250, 7, 0x9148, "slow path", 9);
    EXPECT_EQ(log.messages[1].count, 1u);
    EXPECT_EQ(log.messages[1].line, 13);

    u8 buffer[1024];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    appendGlDebugMessages(&log, &writer);
    std::string text((const char*)buffer, writer.length);
    EXPECT_EQ(text,
              "Line: 12, Count: 2, Last Time Received: 250, Source: API, Type: Performance, Id: 7, Severity: Low, "
              "Message: slow path\n"
              "Line: 13, Count: 1, Last Time Received: 250, Source: API, Type: Performance, Id: 7, Severity: Low, "
              "Message: slow path\n");
}

TEST(GlDebugMessages, UnknownValuesAreUnrecognizedAndASeventeenthMessageIsDropped) {
    GlDebugLog log{};
    log.clock = fakeClock;
    for (i32 i = 0; i < 17; i++) {
        std::string message = "message " + std::to_string(i);
        recordGlDebugMessage(&log, 0x1234, 0x824C, (u32)i, 0x9146, message.c_str(), (i64)message.size());
    }
    EXPECT_STREQ(log.messages[0].sourceText, "Unrecognized");
    EXPECT_STREQ(log.messages[0].typeText, "Error");
    EXPECT_STREQ(log.messages[15].message.text, "message 15");
    for (const GlDebugMessage& entry : log.messages) EXPECT_EQ(entry.count, 1u);
}

class GlDebugOutput : public RendererTest {};

TEST_F(GlDebugOutput, AProvokedErrorAppearsOnceWithItsCallSiteAndARisingCount) {
    startHarness(true);
    runUntilProgramsBuilt();
    ASSERT_EQ(renderer->debug.debugOutputReady, 1u);
    // A negative width reaches glViewport, which refuses it on every frame.
    for (i32 frame = 1; frame <= 3; frame++) {
        ByteWriter message = makeMeasuringWriter();
        updateAndRenderApplication(harness.platform, harness.app, &harness.gl, -4, kHeight, 1, &message, 1);
        i32 errors = 0;
        const GlDebugMessage* entry = nullptr;
        for (const GlDebugMessage& candidate : renderer->debug.messages) {
            if (candidate.count != 0 && candidate.type == 0x824C) {
                errors++;
                entry = &candidate;
            }
        }
        ASSERT_EQ(errors, 1);
        // The count reaches the report on the next frame.
        EXPECT_EQ(entry->count, (u32)frame);
        EXPECT_STREQ(entry->severityText, "High");
        // Call sites of the frame's own file carry its base.
        EXPECT_GE(entry->line, 400000);
        EXPECT_LT(entry->line, 500000);
        if (frame == 3) {
            std::string expected = "Line: " + std::to_string(entry->line) + ", Count: 2, ";
            EXPECT_TRUE(harnessLogContains(&harness, expected.c_str())) << expected;
            EXPECT_TRUE(harnessLogContains(&harness, "Source: API, Type: Error, "));
        }
    }
}

TEST_F(GlDebugOutput, ADriverWithoutTheCallbackIsNotedEveryFrame) {
    startHarness(true);
    harness.gl.glDebugMessageCallback = nullptr;
    runHarnessFrames(&harness, 2);
    EXPECT_TRUE(harnessLogContains(&harness, "No glDebugMessageCallback() function found at runtime\n"));
    EXPECT_EQ(renderer->debug.debugOutputReady, 0u);
}

}  // namespace
