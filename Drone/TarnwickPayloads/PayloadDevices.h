// The VOSK dropper and the strobe light / mapping kit sides of the payload link; the payload link
// calls these. Records in PayloadRecords.h.
#pragma once
#include "Drone/TarnwickPayloads/PayloadLink.h"

// The VOSK unit status (type 7). Returns 1 for type 7 (also when its body is too short and nothing
// changes), else 0; *logSlot becomes the unit.
u32 handleVoskStatusFrame(const u8* body, i32 length, u8 type, DodireruDropLocations* drops,
                          const AddressRecord* source, const VehicleState* vehicle, SoundQueue* sounds,
                          VoskPayloadState* vosk, i32* logSlot, u64 now, i64 utcMilliseconds);
// Once per frame while the payload kind is VOSK: request expiry, the disconnection alert and the
// type-8 control frame to each unit that has reported.
void controlVoskLink(VoskPayloadState* vosk, const PayloadControl* control);

// The strobe light's state report (type 10); frames shorter than 3 bytes are ignored.
void handleLightStateFrame(StrobeLight* light, const u8* body, i32 length, u64 now);
// Once per frame: applies a screen's request, runs the automatic modes and sends the type-9 frame
// every 100 ms while the light reported within 10 s.
void sendLightControl(StrobeLight* light, const PayloadControl* control);
// The light's pattern and brightness for the automatic modes, from the flight state.
u32 isStrobeAway(const VehicleState* vehicle, i32 phase);
// The photo-interval requests of the mapping kit (type 11).
void sendPhotoIntervalRequests(PayloadLink* link, const PayloadControl* control);
// The interval sent for the preference in seconds: whole milliseconds held to 0..65,535.
u16 photoIntervalMilliseconds(f64 seconds);

// The VOSK texts: one line for the fly screen, the report for the setup screen.
void voskStateText(const VoskPayloadState* vosk, u64 now, ByteWriter* writer);
void appendVoskStatus(const VoskPayloadState* vosk, ByteWriter* writer, u64 now);
// One channel's (0 A, 1 B) load text from the two units' servo states: "A Empty", "A Safe",
// "A Error, Safe", "A Error, Unsafe", "A Partial" or "A Loaded".
void appendVoskChannelText(const VoskPayloadState* vosk, i32 channel, ByteWriter* writer);
const char* voskFaultName(u32 bit, char* scratch, i32 scratchSize);
