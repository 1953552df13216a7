// The Orvik payload's condition as text: the one-line state for the fly screen and the flight-log
// viewer, and the board report of the payload setup screen. Upper-case English, never translated.
#pragma once
#include "Drone/TarnwickPayloads/PayloadRecords.h"

struct Preferences;

// The name of one status-word bit (0..63).
const char* orvikFaultName(u32 bit, char* scratch, i32 scratchSize);
// Appends exactly one state text, without a line end.
void appendOrvikFaults(const OrvikPayloadState* orvik, u64 now, ByteWriter* writer);
// The state text, then "    HIGH TEMP" when the chute is at 61 degrees or more.
FixedString orvikStatusText(const OrvikPayloadState* orvik, u64 now);
// The board report; the preferences choose the temperature unit.
void appendOrvikBoardStatus(const OrvikPayloadState* orvik, const Preferences* preferences, u64 now,
                            ByteWriter* writer);

// The drop-count indicator's look: the text ("?" while the status is not fresh), the image and its
// colour, and the icon's rotation in turns (one turn a second while dropping).
struct PayloadCountLook {
    FixedString text;
    u32 image;  // 20 white, 21 amber, 22 red
    u32 color;
    f64 rotationTurns;
};
void orvikPayloadCountLook(PayloadCountLook* out, const OrvikPayloadState* orvik, u64* spinStart, u64 now);
