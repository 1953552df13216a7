// The payload link of one drone connection: the receive step that routes every payload frame that
// arrives inside ENCAPSULATED_DATA, and the per-frame step that sends the payloads' control frames.
#pragma once
#include "Mavlink/DroneOutput.h"
#include "Mavlink/VehicleState.h"
#include "Drone/TarnwickPayloads/DropLocations.h"
#include "Drone/TarnwickPayloads/PayloadRecords.h"

struct SoundQueue;
struct OrvikGeofence;
struct WaypointMissionEditor;
struct Preferences;
struct FlightLogger;

// The vehicle's flight phase as the payloads read it: 0 no vehicle, 1 on the ground, 2 in the air,
// 3 taking off or landing (drops refused), 4 flying the uploaded mission (the Orvik payload starts
// by itself); a value out of that range counts as no vehicle.
i32 payloadFlightPhase(const VehicleState* vehicle);

// The vehicle's position (reference plus offset) as a drop point; 0 when it cannot be stored.
i32 vehicleDropPosition(DropPosition* out, const VehicleState* vehicle);

// 1 when the message is ENCAPSULATED_DATA whose payload holds a whole payload frame.
u32 containsPayloadFrame(const MavlinkMessage* message);

struct PayloadReceive {
    const AddressRecord* source;  // the datagram's source (VOSK control frames go back there)
    const VehicleState* vehicle;
    OrvikDropLocations* orvikDrops;   // null: drops are not recorded
    DodireruDropLocations* voskDrops;
    SoundQueue* sounds;         // null: silent
    u32* payloadKindWord;       // the caller's copy of the kind; null: none
    u32* photoTotal;            // the caller's running total of the mapping kit's photos; null: none
    u64 now;
    i64 utcMilliseconds;  // the time stored with a drop point
};

// Routes every payload frame of an ENCAPSULATED_DATA message to its handler. Returns 1 for
// ENCAPSULATED_DATA (also when it held no frame), else 0.
u32 handleEncapsulatedData(const MavlinkMessage* message, PayloadLink* link, const PayloadReceive* receive);

// The Orvik status (5) and version (6) frames. Returns 1 for a status frame, else 0; *logSlot
// becomes the slot that keeps the frame (0 version, 1 status) or stays -1.
u32 handleOrvikFrame(const u8* body, i32 length, u8 type, OrvikDropLocations* drops, const VehicleState* vehicle,
                     OrvikPayloadState* orvik, i32* logSlot, u64 now, i64 utcMilliseconds);

struct PayloadControl {
    const VehicleState* vehicle;
    SoundQueue* sounds;
    const OrvikGeofence* geofence;        // null: counts as fewer than 3 points
    const WaypointMissionEditor* mission;  // null: no automatic start
    const Preferences* preferences;
    FlightLogger* logger;  // null: nothing registered
    DroneOutput* output;   // the drone's address, socket, MAVLink sequence, own id and statistics
    u64 now;
};

// Once per frame: the Orvik link and the VOSK link, each while it is the kind (the payload heard
// last) or its status is fresh, so that both run on a drone that carries both; the log registration,
// the light and the photo-interval requests.
void controlPayloadLink(PayloadLink* link, const PayloadControl* control);
void controlOrvikLink(OrvikPayloadState* orvik, const PayloadControl* control);

// 1 (allowed) or 0 with *reason set: the drop permission both payload kinds send. Outside the
// geofence while in the air gives DropOutsideGeofence, phase 3 DropDisallowedFlightPhase.
u32 dropPermission(const VehicleState* vehicle, const OrvikGeofence* geofence, i32 phase, u32* reason);

// The drop period byte (0.1 s) of the Orvik control frame.
u8 orvikDropPeriodByte(const VehicleState* vehicle, i32 phase, const Preferences* preferences);

// Sends one payload frame as ENCAPSULATED_DATA through the output; 0 when no send slot was free.
u32 sendPayloadFrame(DroneOutput* output, const AddressRecord* destination, u8* mavlinkSequence,
                     const ByteWriter* frame, u32 forceVersion2, u64 now);

// The three-beep alert of the payloads.
void queuePayloadAlert(SoundQueue* sounds);
