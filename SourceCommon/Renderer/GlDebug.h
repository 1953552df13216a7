// GL debug output: the driver's synchronous debug messages collected into a small table, each tagged
// with the renderer's call site, and written into the renderer log every frame. Also the marker that
// names the call site before every GL call.
#pragma once
#include "Core/FixedString.h"
#include "Platform/GlFunctionTable.h"

constexpr i32 kGlDebugMessageCapacity = 16;

struct GlDebugMessage {
    u64 lastTime;   // microseconds since program start when last received
    u32 count;      // 0 = free entry
    i32 line;       // the call site current when it arrived
    u32 source;
    u32 type;
    u32 id;
    u32 severity;
    const char* sourceText;
    const char* typeText;
    const char* severityText;
    FixedString message;
};

struct GlDebugLog {
    u32 debugOutputReady;  // 1 once debug output is on
    GlDebugMessage messages[kGlDebugMessageCapacity];
    i32 currentGlLine;     // call site of the GL call in progress
    u64 (*clock)();        // microseconds; null: getMicroseconds
};

// Names the call site of the next GL call: a per-file base plus the source line, unique across the
// renderer's files.
#define ORVIK_GL_SITE(debugLog, fileBase) ((debugLog)->currentGlLine = (fileBase) + __LINE__)

const char* glDebugSourceText(u32 source);
const char* glDebugTypeText(u32 type);
const char* glDebugSeverityText(u32 severity);

// The callback handed to glDebugMessageCallback; userParam is the GlDebugLog.
void ORVIK_GL_CALL openGlDebugCallback(GlEnum source, GlEnum type, GlUint id, GlEnum severity, GlSizei length,
                                       const GlChar* message, const void* userParam);
// Records one message as the callback does.
void recordGlDebugMessage(GlDebugLog* log, u32 source, u32 type, u32 id, u32 severity, const char* message, i64 length);

// Turns debug output on once (a note goes to the log every frame while the driver has no callback).
void setUpGlDebugOutput(GlDebugLog* log, GlFunctionTable* gl, ByteWriter* rendererLog);
// One line per collected message.
void appendGlDebugMessages(const GlDebugLog* log, ByteWriter* rendererLog);
