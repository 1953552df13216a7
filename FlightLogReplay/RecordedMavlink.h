// Recorded drone- and camera-link datagrams in plain words, for the entries list of the flight-log
// viewer: a one-line summary for every row and, for the selected row, one line per field of every
// message. Both are pure functions over the recorded bytes: nothing is kept between calls, the
// payload is parsed in place, and every read stays inside the payload and the decoded message.
#pragma once
#include "Core/FixedString.h"

struct Preferences;

// The summary writer's size in the entries list.
constexpr i64 kMavlinkSummaryBytes = 200;
// The row text of a datagram in which no MAVLink message decodes.
constexpr const char* kMavlinkEntryParseError = "ERROR: Failed to parse any Mavlink packet from this UDP payload";

struct MavlinkEntrySummary {
    u16 sender;        // system << 8 | component of the first decoded message; 0 when none decoded
    i32 messageCount;  // decoded messages in the datagram
};

// True for the entry types that hold one datagram of a link (1 to 4: received from the drone or
// camera, sent to the drone or camera). Types 5 and 6 (withheld output) are not decoded.
bool isDecodedMavlinkEntry(u8 entryType);

// The row colour (RGBA8): white for received datagrams (types 1 and 2), light grey for sent ones
// (types 3 and 4).
u32 mavlinkEntryRowColor(u8 entryType);

// Appends "NAME (ID)" of the first decoded message with its short suffix (the parameter name of
// PARAM_VALUE, the command name of COMMAND_LONG, the text of STATUSTEXT, the camera report name of
// V2_EXTENSION, the file URL of CAMERA_IMAGE_CAPTURED, the parameter of PARAM_EXT_VALUE), then
// " + N more" when more messages follow. Appends nothing when no message decodes (the caller shows
// kMavlinkEntryParseError and no sender); what does not fit is cut by the writer.
MavlinkEntrySummary summarizeMavlinkEntry(const u8* payload, u16 length, ByteWriter* summary);

// Appends the field lines of every decoded message whose id has lines, in payload order, each
// ending in a newline. Temperatures follow the "Units" preference. Lines that do not fit are cut by
// the writer.
void appendMavlinkEntryDetails(const u8* payload, u16 length, const Preferences* prefs, ByteWriter* details);

// "@.@": the sender's system and component ids in decimal.
FixedString mavlinkSenderText(u16 sender);
