#include "SourceCommon/Renderer/GlDebug.h"

#include "Core/Clock.h"
#include "Core/Format.h"
#include "SourceCommon/Renderer/GlConstants.h"

namespace {
constexpr i32 kFileBase = 100000;
}

const char* glDebugSourceText(u32 source) {
    switch (source) {
        case 0x8246: return "API";
        case 0x8247: return "Window System";
        case 0x8248: return "Shader Compiler";
        case 0x8249: return "Third Party";
        case 0x824A: return "Application";
        case 0x824B: return "Other";
        default: return "Unrecognized";
    }
}

const char* glDebugTypeText(u32 type) {
    switch (type) {
        case 0x824C: return "Error";
        case 0x824D: return "Deprecated Behavior";
        case 0x824E: return "Undefined Behavior";
        case 0x824F: return "Portability";
        case 0x8250: return "Performance";
        case 0x8251: return "Other";
        case 0x8268: return "Marker";
        case 0x8269: return "Push Group";
        case 0x826A: return "Pop Group";
        default: return "Unrecognized";
    }
}

const char* glDebugSeverityText(u32 severity) {
    switch (severity) {
        case 0x9146: return "High";
        case 0x9147: return "Medium";
        case 0x9148: return "Low";
        case 0x826B: return "Notification";
        default: return "Unrecognized";
    }
}

void recordGlDebugMessage(GlDebugLog* log, u32 source, u32 type, u32 id, u32 severity, const char* message, i64 length) {
    u64 now = log->clock ? log->clock() : getMicroseconds();
    i32 line = log->currentGlLine;
    if (length < 0) {  // a negative length means a zero-terminated text
        length = 0;
        while (message && message[length]) length++;
    }
    FixedString text = stringFromBytes(message, message ? length : 0);
    for (i32 i = 0; i < kGlDebugMessageCapacity; i++) {
        GlDebugMessage* entry = &log->messages[i];
        if (entry->count == 0) {
            entry->lastTime = now;
            entry->line = line;
            entry->source = source;
            entry->type = type;
            entry->id = id;
            entry->severity = severity;
            entry->sourceText = glDebugSourceText(source);
            entry->typeText = glDebugTypeText(type);
            entry->severityText = glDebugSeverityText(severity);
            entry->message = text;
            entry->count = 1;
            return;
        }
        if (entry->line == line && entry->source == source && entry->type == type && entry->id == id &&
            entry->severity == severity && equals(entry->message, text)) {
            entry->count++;
            entry->lastTime = now;
            return;
        }
    }
    // All entries hold other messages: this one is dropped.
}

void ORVIK_GL_CALL openGlDebugCallback(GlEnum source, GlEnum type, GlUint id, GlEnum severity, GlSizei length,
                                       const GlChar* message, const void* userParam) {
    recordGlDebugMessage((GlDebugLog*)userParam, source, type, id, severity, message, length);
}

void setUpGlDebugOutput(GlDebugLog* log, GlFunctionTable* gl, ByteWriter* rendererLog) {
    if (log->debugOutputReady) return;
    if (!gl->glDebugMessageCallback) {
        appendCString("No glDebugMessageCallback() function found at runtime\n", rendererLog);
        return;
    }
    ORVIK_GL_SITE(log, kFileBase);
    gl->glEnable(kGlDebugOutput);
    ORVIK_GL_SITE(log, kFileBase);
    gl->glEnable(kGlDebugOutputSynchronous);
    ORVIK_GL_SITE(log, kFileBase);
    gl->glDebugMessageCallback(openGlDebugCallback, log);
    log->debugOutputReady = 1;
}

void appendGlDebugMessages(const GlDebugLog* log, ByteWriter* rendererLog) {
    for (i32 i = 0; i < kGlDebugMessageCapacity && log->messages[i].count != 0; i++) {
        const GlDebugMessage* entry = &log->messages[i];
        appendCString("Line: ", rendererLog);
        appendInt64(entry->line, rendererLog);
        appendCString(", Count: ", rendererLog);
        appendInt64(entry->count, rendererLog);
        appendCString(", Last Time Received: ", rendererLog);
        appendInt64((i64)entry->lastTime, rendererLog);
        appendCString(", Source: ", rendererLog);
        appendCString(entry->sourceText, rendererLog);
        appendCString(", Type: ", rendererLog);
        appendCString(entry->typeText, rendererLog);
        appendCString(", Id: ", rendererLog);
        appendInt64(entry->id, rendererLog);
        appendCString(", Severity: ", rendererLog);
        appendCString(entry->severityText, rendererLog);
        appendCString(", Message: ", rendererLog);
        appendFixedStringRef(&entry->message, rendererLog);
        appendCString("\n", rendererLog);
    }
}
