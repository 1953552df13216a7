// "Debug/DebugReport.txt": a plain-text snapshot of the program's state, rewritten once a second for
// a person looking at a running installation: build identity and time, the memory of the state
// block and its main records, the file buffers held in memory, every socket, the renderer's messages
// and the profiling report. Nothing reads it back.
#pragma once
#include "Core/FixedString.h"

struct AppState;
struct Platform;
struct UiState;
struct Socket;

constexpr const char* kApplicationName = "Orvik";
constexpr const char* kApplicationVersion = "3.1.0";
constexpr const char* kDebugReportPath = "Debug/DebugReport.txt";
constexpr i64 kDebugReportNumberColumn = 60;  // memory figures end at this column of their line

// The report text into a writer (measuring or filling). utcMs: milliseconds since 1601-01-01;
// zoneOffsetMs: local time minus UTC.
void writeDebugReportText(ByteWriter* writer, AppState* app, const Platform* platform, const UiState* ui, i64 utcMs,
                          i64 zoneOffsetMs);

// The report's sections, in the report's order; the Profiling screen writes them too, followed by
// the tab-separated profiling table.
void appendReportHeader(ByteWriter* writer, i64 utcMs, i64 zoneOffsetMs);
void appendMemorySection(ByteWriter* writer, const Platform* platform, const UiState* ui);
void appendFilesSection(ByteWriter* writer, const Platform* platform);
void appendSocketSection(ByteWriter* writer, const AppState* app);
void appendRendererSection(ByteWriter* writer, const UiState* ui);

// One memory line: the label, blanks up to the number ending at column 60, " bytes\n".
void appendMemoryLine(const char* label, i64 bytes, ByteWriter* writer);
// The line of a socket: "<label>: <local port>, <status>\n", then a line for each of its counts
// of empty, oversize and unknown senders' datagrams that is not 0.
void appendSocketLine(const char* label, const Socket* socket, ByteWriter* writer);
// Datagrams waiting in a socket's send queue: (write index - read index) mod 64.
i64 queuedDatagrams(const Socket* socket);
// Builds the report in two passes (measure, then fill a buffer of exactly that size) and queues its
// write; the file thread frees the buffer. Nothing is written when the buffer cannot be had.
void queueDebugReport(AppState* app, Platform* platform, UiState* ui);
