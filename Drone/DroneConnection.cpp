#include "Drone/DroneConnection.h"

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Core/Sound.h"
#include "Core/WarningSounds.h"
#include "Drone/AirTraffic.h"
#include "Drone/CameraControl.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/FlightController/FlightPhase.h"
#include "Drone/Hud.h"
#include "Drone/TarnwickPayloads/PayloadLink.h"
#include "FlightLogs/FlightLogProducers.h"
#include "Network/Address.h"
#include "Platform/Input.h"

#include <cmath>
#include <cstring>

namespace {

const u8 kLoopback[16] = {127, 0, 0, 1};

// The frame's view of where things go and what the preferences say.
struct LinkFrame {
    DroneConnection* connection;
    const DroneLinkInputs* inputs;
    const Preferences* preferences;
    u64 now;
    u16 ownSource;
    bool fixedEndpoint;
    bool relayClient;  // the connection goes to a relaying app: the secure link's client side runs
    bool positionUpdated;
    bool replay;  // a flight-log replay's step: no sockets, nothing kept for the flight log
};

// Where the app's own MAVLink to the drone goes this frame: the drone socket, or the sink socket
// while a relay peer controls.
DroneOutput droneOutputOf(const LinkFrame* frame) {
    DroneConnection* connection = frame->connection;
    DroneOutput output{};
    output.socket = connection->relayControlled ? &connection->sinkSocket : frame->inputs->droneSocket;
    output.destination = connection->droneEndpoint;
    output.sequence = &connection->gcsSequence;
    output.source = frame->ownSource;
    output.stats = &connection->traffic[connection->relayControlled ? TrafficSink : TrafficDroneLink];
    return output;
}

bool isLoopbackSource(const AddressRecord* source) {
    return source->family == 4 && std::memcmp(source->address, kLoopback, 4) == 0;
}

// The MAVLink types of aircraft the connection locks on to.
bool isLockableVehicleType(u8 type) {
    static const u8 kTypes[] = {1, 2, 3, 4, 7, 8, 9, 13, 14, 15, 16, 17, 19, 20, 21, 22, 23, 24, 25, 28, 29, 35, 43};
    if (type >= 44) {
        return false;
    }
    for (u8 lockable : kTypes) {
        if (lockable == type) {
            return true;
        }
    }
    return false;
}

bool endsWith(const FixedString* text, const char* suffix) {
    i64 suffixLength = (i64)std::strlen(suffix);
    return text->length >= suffixLength &&
           std::memcmp(text->text + text->length - suffixLength, suffix, (size_t)suffixLength) == 0;
}

bool isCameraUrl(const Preferences* preferences) {
    const FixedString* url = &preferences->rtspUrl;
    return preferences->videoStreamProtocol == VideoStreamRtsp &&
           (endsWith(url, "/live0") || endsWith(url, "/live1") || endsWith(url, "/video"));
}

// The RTSP URL's host at the camera port; family 0 when the host is not an address.
AddressRecord cameraEndpointFromUrl(const Preferences* preferences) {
    ByteWriter url = makeByteWriter((void*)preferences->rtspUrl.text, preferences->rtspUrl.length);
    url.length = preferences->rtspUrl.length;
    ParsedUrl parsed = parseUrl(&url);
    u64 position = 0;
    AddressRecord host = parseIpAddress((const u8*)parsed.host.text, &position, parsed.host.length);
    if (host.family == 0 || position != parsed.host.length) {
        return AddressRecord{};
    }
    host.port = kCameraPort;
    return host;
}

void logQueuedPackets(Socket* socket, u8 fromIndex, u8 type, FlightLogger* logger, u64 now) {
    if (!logger) {
        return;
    }
    PacketQueue* queue = &socket->sendQueue;
    for (u8 index = fromIndex; index != queue->writeIndex; index = (u8)((index + 1) % kPacketQueueSlots)) {
        const PacketSlot* slot = &queue->slots[index];
        addFlightLogEntry(logger, now, type, slot->data, slot->writer.length);
    }
}

// ---------------------------------------------------------------------------------------------------
// Relay host side: the controlling peer's MAVLink goes on to the drone (or the camera).

void forwardControllingPeerMessage(LinkFrame* frame, const MavlinkMessage* message) {
    DroneConnection* connection = frame->connection;
    const DroneLinkInputs* inputs = frame->inputs;
    ByteWriter payload = makeByteWriter((void*)message->payload, message->payloadLength);
    payload.length = message->payloadLength;
    u8 sequence = message->sequence;
    const u8* p = message->payload;
    bool digicam = message->messageId == MavlinkCommandLong && mavlinkU16(p + 28) == 203 && p[30] == 1 && p[31] == 0;
    if (digicam && inputs->cameraSocket && isCameraUrl(frame->preferences)) {
        AddressRecord camera = cameraEndpointFromUrl(frame->preferences);
        ByteWriter* slot = camera.family ? queueSocketPacket(&camera, inputs->cameraSocket) : nullptr;
        sendMavlinkMessage(message->version == 2, message->messageId, &payload, slot, &sequence, message->source,
                           &connection->traffic[TrafficCameraLink], frame->now);
        return;
    }
    ByteWriter* slot = queueSocketPacket(&connection->droneEndpoint, inputs->droneSocket);
    sendMavlinkMessage(message->version == 2, message->messageId, &payload, slot, &sequence, message->source,
                       &connection->traffic[TrafficRelay], frame->now);
}

// The controller's buttons (keys 223 to 236 of the key map) as bits, for the relay peers.
u64 gamepadButtons(const InputState* input) {
    u64 buttons = 0;
    for (i32 i = 0; input && i < 14; i++) {
        if (isKeyDown(input, 223 + i)) buttons |= (u64)1 << i;
    }
    return buttons;
}

void serveRelayHost(LinkFrame* frame) {
    const DroneLinkInputs* inputs = frame->inputs;
    const Preferences* preferences = frame->preferences;
    SecureLinkHost* host = inputs->relayHost;
    frame->connection->relayControlled = 0;
    if (!inputs->relaySocket || !host || preferences->relayModePort == 0) {
        return;
    }
    sendSecureLinkPublicKey(host, inputs->relaySocket, RelayStreamMavlink, preferences, frame->now);
    sendSecureLinkStateUpdates(host, inputs->relaySocket, inputs->gamepad, gamepadButtons(inputs->input), preferences,
                               frame->now);
    // The peers the user granted are heard however many others send to the relay port.
    AddressRecord granted[kSocketPeers] = {};
    i32 grantedCount = grantedSecureLinkEndpoints(host, RelayStreamMavlink, granted, kSocketPeers);
    keepSocketPeers(inputs->relaySocket, granted, grantedCount);
    // A flood of datagrams that cost little (hellos from peers not yet listed, anything refused before
    // a MAC check) is read and dropped up to the larger bound, so the socket has room for the granted
    // peers' datagrams; the costly ones are held to the smaller.
    inputs->relaySocket->receiveBufferBytes = kSecureLinkReceiveBufferBytes;
    i32 costly = 0;
    for (i32 i = 0; i < kSecureLinkReadsPerFrame && costly < kSecureLinkDatagramsPerFrame; i++) {
        SocketResult datagram;
        updateSocket(&datagram, inputs->relaySocket, 4, SocketModeUdp, preferences->relayModePort,
                     &preferences->relayNetworkInterface, nullptr, 0);
        if (!datagram.received) {
            break;
        }
        SecureLinkReceived opened;
        receiveFromSecureLinkPeer(&opened, &datagram, host, RelayStreamMavlink, preferences, frame->now);
        if (opened.costly || opened.data) costly++;
        if (opened.refused) inputs->relaySocket->unknownSenderDatagrams++;
        if (!opened.peer || opened.peer != host->controllingPeer || !opened.data) {
            continue;
        }
        MavlinkMessage reader{};
        i32 position = 0;
        for (;;) {
            position = parseMavlinkBytes(&reader, opened.data, position, (i32)opened.length);
            if (!reader.haveMessage) {
                break;
            }
            forwardControllingPeerMessage(frame, &reader);
        }
    }
    exchangeKeysWithNewSecureLinkPeers(host, RelayStreamMavlink, preferences, frame->now);
    // The controller holds the drone while its MAVLink port is heard, where its control comes from: what
    // its video record says keeps nobody in control.
    SecureLinkPeer* controlling = host->controllingPeer;
    u64 heard = controlling ? controlling->heardTimes[RelayStreamMavlink] : 0;
    frame->connection->relayControlled = heard && frame->now - heard < kRelayControlHoldTime;
    if (frame->connection->relayControlled) frame->connection->relayControllerName = controlling->name;
}

// Drops the flight-action requests that have waited longer than kFlightActionDeadline for a place
// on the drone link (a full queue, or a relay peer in control), with a word to the operator.
void expireFlightActions(DroneConnection* connection, u64 now) {
    u32 kind = connection->vehicle.autopilotKind;
    u32* requests = kind == AutopilotPx4 ? connection->px4.flightActions
                    : kind == AutopilotArduCopter ? connection->arduCopter.flightActions
                                                  : nullptr;
    i32 count = flightActionCount(kind);
    for (i32 i = 0; i < (i32)kPx4FlightActions; i++) {
        if (!requests || i >= count || !requests[i]) {
            connection->flightActionSeen[i] = 0;
            continue;
        }
        if (connection->flightActionSeen[i] == 0) connection->flightActionSeen[i] = now;
        if (now - connection->flightActionSeen[i] < kFlightActionDeadline) continue;
        requests[i] = 0;
        connection->flightActionSeen[i] = 0;
        connection->vehicle.commandRefusalText = formatCstr("@ not sent: no link to the drone", flightActionName(kind, i));
        connection->vehicle.commandRefusalTime = now;
    }
}

// ---------------------------------------------------------------------------------------------------
// The drone socket.

struct DroneSocketConfig {
    u8 family;
    SocketMode mode;
    u16 localPort;
    const FixedString* interfaceName;
    AddressRecord remote;
};

DroneSocketConfig droneSocketConfig(const LinkFrame* frame) {
    static const FixedString kNoInterface{};
    const Preferences* preferences = frame->preferences;
    DroneSocketConfig config{};
    if (frame->inputs->simulatorPort) {
        config.family = 4;
        config.mode = SocketModeUdp;
        config.localPort = frame->inputs->simulatorLocalPort ? frame->inputs->simulatorLocalPort : kSimulatorLinkLocalPort;
        config.interfaceName = &kNoInterface;
    } else {
        config.family = preferences->droneAddress.family == 6 ? 6 : 4;
        config.mode = preferences->droneTransportProtocol == TransportTcp ? SocketModeTcpClient : SocketModeUdp;
        config.localPort = preferences->droneLocalPort;
        config.interfaceName = &preferences->droneNetworkInterface;
    }
    config.remote = frame->connection->droneEndpoint;
    return config;
}

// Where a datagram comes from, as far as the drone link is concerned.
enum DatagramOrigin : u32 {
    OriginElsewhere = 0,
    OriginDrone = 1,         // the drone's endpoint (every datagram of a replay)
    OriginPayloadPort = 2,   // another port of the drone's address, or a simulated payload unit
};

// A datagram is the drone's when it comes from the drone's endpoint. The payload units answer from
// ports of their own on the drone's address (with the simulator, from the simulated units' ports on
// the loopback): of those datagrams only the payload frames are taken.
DatagramOrigin datagramOrigin(const LinkFrame* frame, const SocketResult* datagram) {
    const AddressRecord* source = &datagram->source;
    const AddressRecord* endpoint = &frame->connection->droneEndpoint;
    if (frame->inputs->replay) {
        return OriginDrone;
    }
    if (endpoint->family == 0) {
        return OriginElsewhere;
    }
    if (sameEndpoint(source, endpoint)) {
        return OriginDrone;
    }
    const DroneLinkInputs* inputs = frame->inputs;
    u16 voskPortA = inputs->simulatorPayloadPorts[0] ? inputs->simulatorPayloadPorts[0] : kSimulatedVoskPortA;
    u16 voskPortB = inputs->simulatorPayloadPorts[1] ? inputs->simulatorPayloadPorts[1] : kSimulatedVoskPortB;
    bool payloadPort = inputs->simulatorPort
                           ? isLoopbackSource(source) && (source->port == voskPortA || source->port == voskPortB)
                           : sameAddress(source, endpoint);
    return payloadPort ? OriginPayloadPort : OriginElsewhere;
}

bool isPayloadMessage(const MavlinkMessage* message) {
    return message->messageId == MavlinkEncapsulatedData && containsPayloadFrame(message);
}

// Autodetect with an address in the preference "Drone IP address and port": only that address may
// turn out to be the drone.
bool isConfiguredDroneAddress(const LinkFrame* frame, const AddressRecord* source) {
    const AddressRecord* wanted = &frame->preferences->droneAddress;
    bool anyAddress = std::memcmp(wanted->address, "\0\0\0\0", 4) == 0;
    return anyAddress || (source->family == wanted->family && sameAddress(source, wanted));
}

// Lock-on: a HEARTBEAT of an aircraft's autopilot (component 1). The followed vehicle keeps the
// lock while it is heard; another aircraft takes it only after the vehicle has been silent.
bool lockOnHeartbeat(LinkFrame* frame, const MavlinkMessage* message) {
    VehicleState* vehicle = &frame->connection->vehicle;
    const u8* p = message->payload;
    if (message->messageId != MavlinkHeartbeat || (message->source & 0xFF) != 1 || !isLockableVehicleType(p[4])) {
        return false;
    }
    bool locked = vehicle->vehicleId != 0 && vehicle->lastHeardTime != 0;
    bool silent = frame->now - vehicle->lastHeardTime >= kVehicleLockHoldTime;
    if (locked && message->source != vehicle->vehicleId && !silent) {
        return false;
    }
    u8 autopilot = p[5];
    vehicle->autopilotKind = autopilot == 12 ? AutopilotPx4 : autopilot == 3 ? AutopilotArduCopter : AutopilotUnknown;
    vehicle->frameKind = p[4];
    vehicle->mavState = p[7];
    vehicle->baseMode = p[6];
    copyMavlinkPayload(&vehicle->heartbeat, message, vehicle->heartbeatSlot, sizeof(vehicle->heartbeatSlot), frame->now);
    vehicle->lastHeartbeatTime = frame->now;
    vehicle->vehicleId = message->source;
    return true;
}

// Messages nobody of the vehicle took: payload, camera, gimbal and the radio.
void handleOtherMessage(LinkFrame* frame, const MavlinkMessage* message, const AddressRecord* source) {
    DroneConnection* connection = frame->connection;
    const DroneLinkInputs* inputs = frame->inputs;
    u64 now = frame->now;
    // Payload frames are taken whatever their system id: a payload board may have one of its own.
    // Only the drone's address reaches here.
    PayloadReceive receive{source,           &connection->vehicle, inputs->orvikDrops,     inputs->voskDrops,
                           inputs->soundQueue, inputs->payloadKind, inputs->mappingKitPhotos, now,
                           inputs->utcMilliseconds};
    if (handleEncapsulatedData(message, &connection->payload, &receive) ||
        handleCameraMessages(connection, message, now)) {
        return;
    }
    if (decodeAdsbVehicle(message, &connection->vehicle, frame->preferences, inputs->soundQueue,
                          &connection->airTraffic, now)) {
        return;
    }
    if (message->messageId == MavlinkRadioStatus && (message->source >> 8) == 42) {
        connection->radioStatusTime = now;
        connection->radioRssi = -(i32)message->payload[4];
    }
}

// Autodetect: the followed vehicle's ids from an endpoint other than the one it was locked at, while
// that endpoint is still heard. Anyone on the network can send a HEARTBEAT with the same ids; it must
// not take the link (or feed the vehicle's state) from the aircraft that is really there.
bool isFromAnotherEndpoint(const LinkFrame* frame, const MavlinkMessage* message, const AddressRecord* source) {
    const DroneConnection* connection = frame->connection;
    const VehicleState* vehicle = &connection->vehicle;
    if (frame->fixedEndpoint || !source || connection->droneEndpoint.family == 0 || vehicle->vehicleId == 0 ||
        connection->endpointHeardTime == 0) {
        return false;
    }
    return message->source == vehicle->vehicleId && !sameEndpoint(source, &connection->droneEndpoint) &&
           frame->now - connection->endpointHeardTime < kVehicleLockHoldTime;
}

// One message of a datagram. fromDrone says whether the datagram came from the drone; in autodetect a
// message heard from the vehicle makes its source the drone's endpoint (and sets fromDrone). Of a
// datagram that is not the drone's only that can happen: nothing else in it is taken.
void takeDroneMessage(LinkFrame* frame, const MavlinkMessage* message, const AddressRecord* source,
                      bool* fromDrone) {
    DroneConnection* connection = frame->connection;
    VehicleState* vehicle = &connection->vehicle;
    u64 now = frame->now;
    if (isFromAnotherEndpoint(frame, message, source)) {
        return;
    }
    bool heard = lockOnHeartbeat(frame, message);
    if (message->source == vehicle->vehicleId && vehicle->vehicleId != 0) {
        vehicle->lastHeardTime = now;
        connection->lastDroneMessageTime = now;
        u32 taken = 0;
        DroneOutput output = droneOutputOf(frame);
        WaypointMissionEditor* plan = frame->inputs->missionPlan;
        if (vehicle->autopilotKind == AutopilotPx4) {
            taken = handlePx4Message(message, &connection->px4, vehicle, plan, &output, now);
        } else if (vehicle->autopilotKind == AutopilotArduCopter) {
            taken = handleArduCopterMessage(message, &connection->arduCopter, vehicle, plan, &output, now);
        }
        if (!taken) {
            TelemetryResult decoded;
            decodeTelemetryMessage(&decoded, message, vehicle, now);
            taken = decoded.taken;
            frame->positionUpdated = frame->positionUpdated || decoded.positionUpdated;
        }
        heard = heard || taken;
        if (!frame->replay) {
            rememberLinkLogMessage(&connection->logRecords, LinkLogVehicle, message, FlightLogReceivedFromDrone, now);
        }
    }
    // Autodetect: the vehicle's datagrams tell where the drone is.
    if (!frame->fixedEndpoint && heard) {
        connection->droneEndpoint = *source;
        connection->endpointHeardTime = now;
        *fromDrone = true;
    }
    if (!*fromDrone) {
        return;
    }
    if (!heard) {
        handleOtherMessage(frame, message, source);
    }
    if (!frame->replay) {
        rememberLinkLogMessage(&connection->logRecords, LinkLogCamera, message, FlightLogReceivedFromDrone, now);
        rememberLinkLogMessage(&connection->logRecords, LinkLogRadio, message, FlightLogReceivedFromDrone, now);
    }
    if (!frame->fixedEndpoint && vehicle->vehicleId != 0 && message->source == vehicle->vehicleId &&
        sameEndpoint(source, &connection->droneEndpoint)) {
        connection->endpointHeardTime = now;
    }
}

// Every message is counted in the drone link's statistics, taken or not.
void handleDroneMessage(LinkFrame* frame, const MavlinkMessage* message, const AddressRecord* source,
                        bool* fromDrone) {
    DroneConnection* connection = frame->connection;
    takeDroneMessage(frame, message, source, fromDrone);
    recordMavlinkTraffic(message->source, message->sequence, message->messageId, message->payload,
                         message->payloadLength, message->frameLength, &connection->traffic[TrafficDroneLink],
                         frame->now);
    recordSourceTraffic(&connection->droneSources, message->source, message->sequence, message->frameLength,
                        frame->now);
}

// A datagram taken from the drone: the flight log, then the relay peers.
void keepDroneDatagram(LinkFrame* frame, const u8* data, u32 length) {
    const DroneLinkInputs* inputs = frame->inputs;
    addFlightLogEntry(inputs->flightLogger, frame->now, FlightLogReceivedFromDrone, data, length);
    if (inputs->relaySocket && inputs->relayHost) {
        u8 relayCopy[7000];
        ByteWriter writer = makeByteWriter(relayCopy, sizeof(relayCopy));
        appendBytes(data, length, &writer);
        relayPacketToPeers(inputs->relayHost, inputs->relaySocket, RelayStreamMavlink, frame->preferences, &writer,
                           frame->now);
    }
}

// A payload frame from a payload unit's own port: taken like the drone's, and counted in the drone
// link's statistics. Its message is read on its own: nothing of it joins a frame that the drone's
// own messages left unfinished, nor is anything of it left for them.
void takePayloadPortMessage(LinkFrame* frame, const MavlinkMessage* message, const AddressRecord* source) {
    DroneConnection* connection = frame->connection;
    PayloadFrameParser droneStream = connection->payload.parser;
    connection->payload.parser = PayloadFrameParser{};
    handleOtherMessage(frame, message, source);
    connection->payload.parser = droneStream;
    recordMavlinkTraffic(message->source, message->sequence, message->messageId, message->payload,
                         message->payloadLength, message->frameLength, &connection->traffic[TrafficDroneLink],
                         frame->now);
    recordSourceTraffic(&connection->droneSources, message->source, message->sequence, message->frameLength,
                        frame->now);
}

// Only the drone reaches the link: a datagram from anywhere else is counted and dropped, and neither
// logged nor relayed. With a fixed endpoint that is decided by its source alone; in autodetect a
// datagram from elsewhere is taken when one of its messages is heard from the vehicle (it tells where
// the drone now is), and logged then. From another port of the drone's address only the payload
// frames are taken, message by message, and only they are logged and relayed.
void handleDroneDatagram(LinkFrame* frame, SocketResult* datagram, bool stream) {
    DroneConnection* connection = frame->connection;
    const DroneLinkInputs* inputs = frame->inputs;
    u8* data = datagram->data;
    u32 length = datagram->length;
    DatagramOrigin origin = stream ? OriginDrone : datagramOrigin(frame, datagram);
    bool fromDrone = origin == OriginDrone;
    bool payloadPort = origin == OriginPayloadPort;
    bool possible = frame->fixedEndpoint ? payloadPort : isConfiguredDroneAddress(frame, &datagram->source);
    if (!fromDrone && !possible) {
        connection->foreignPackets++;
        return;
    }
    if (fromDrone && !stream && frame->relayClient) {
        // A relaying host's datagram: opened, or used by the link itself (length 0 then).
        u64 gamepadTime = inputs->hostGamepad ? inputs->hostGamepad->time : 0;
        receiveFromSecureLinkHost(&data, &length, &connection->secureLinkClient, inputs->hostGamepad, frame->now);
        if (inputs->hostGamepad && inputs->hostGamepad->time != gamepadTime) {
            logControllerState(inputs->flightLogger, inputs->hostGamepad, inputs->input);
        }
        if (length == 0) {
            return;
        }
    }
    if (fromDrone) {
        keepDroneDatagram(frame, data, length);
    }
    // A datagram is one or more whole frames; a stream may split a frame anywhere, so its bytes
    // always go to the reader.
    if (!stream && (length == 0 || (data[0] != kMavlink1Magic && data[0] != kMavlink2Magic))) {
        if (!fromDrone) connection->foreignPackets++;
        return;
    }
    MavlinkMessage* reader = &connection->droneReader;
    if (!stream) {
        reader->bytesBuffered = 0;  // a datagram starts afresh: nothing of the last one is kept
    }
    bool wasFromDrone = fromDrone;
    // The payload frames taken from a payload unit's port, for the flight log and the relay peers.
    u8 payloadFrames[kSocketReceiveBytes];
    ByteWriter taken = makeByteWriter(payloadFrames, sizeof(payloadFrames));
    bool refused = false;
    i32 position = 0;
    for (;;) {
        position = parseMavlinkBytes(reader, data, position, (i32)length);
        if (!reader->haveMessage) {
            break;
        }
        if (payloadPort && !fromDrone) {
            if (isPayloadMessage(reader)) {
                takePayloadPortMessage(frame, reader, &datagram->source);
                // Exactly the frame the reader took. (It need not end where the reader stopped: after
                // a candidate frame that failed, the reader takes the next one from its own buffer.)
                u8 frameBytes[kMavlinkMaxFrameBytes];
                MavlinkFrameCopy copy;
                copyMavlinkPayload(&copy, reader, frameBytes, sizeof(frameBytes), frame->now);
                if (!copy.writer.overflow) appendBytes(frameBytes, copy.writer.length, &taken);
                continue;
            }
            if (frame->fixedEndpoint) {
                refused = true;
                continue;
            }
        }
        handleDroneMessage(frame, reader, &datagram->source, &fromDrone);
        if (payloadPort && !fromDrone) refused = true;
    }
    if (!wasFromDrone) {
        if (fromDrone) {
            keepDroneDatagram(frame, data, length);
        } else {
            if (taken.length > 0) keepDroneDatagram(frame, payloadFrames, (u32)taken.length);
            if (taken.length == 0 || refused) connection->foreignPackets++;
        }
    }
}

// The endpoints the drone socket always hears: the drone's, and the simulated payload units'.
void keepDroneEndpoints(const LinkFrame* frame, Socket* socket) {
    const DroneLinkInputs* inputs = frame->inputs;
    AddressRecord kept[3] = {frame->connection->droneEndpoint};
    i32 count = 1;
    if (inputs->simulatorPort) {
        u16 voskPortA = inputs->simulatorPayloadPorts[0] ? inputs->simulatorPayloadPorts[0] : kSimulatedVoskPortA;
        u16 voskPortB = inputs->simulatorPayloadPorts[1] ? inputs->simulatorPayloadPorts[1] : kSimulatedVoskPortB;
        kept[count++] = makeAddressRecord(4, kLoopback, voskPortA);
        kept[count++] = makeAddressRecord(4, kLoopback, voskPortB);
    }
    keepSocketPeers(socket, kept, count);
}

void drainDroneSocket(LinkFrame* frame, u8* loggedFrom) {
    DroneConnection* connection = frame->connection;
    Socket* socket = frame->inputs->droneSocket;
    DroneSocketConfig config = droneSocketConfig(frame);
    bool stream = config.mode == SocketModeTcpClient;
    for (i32 i = 0; i < kMaxDatagramsPerFrame; i++) {
        // Autodetect may move the endpoint between two datagrams.
        keepDroneEndpoints(frame, socket);
        SocketResult datagram;
        updateSocket(&datagram, socket, config.family, config.mode, config.localPort, config.interfaceName,
                     config.remote.address, config.remote.port);
        connection->dronePortInUse = socket->portInUse;
        if (datagram.reset) {
            connection->droneReader = MavlinkMessage{};
            *loggedFrom = socket->sendQueue.writeIndex;
        }
        if (!datagram.received) {
            break;
        }
        u64 foreign = connection->foreignPackets;
        handleDroneDatagram(frame, &datagram, stream);
        socket->unknownSenderDatagrams += connection->foreignPackets - foreign;
    }
}

// ---------------------------------------------------------------------------------------------------
// The camera socket (a camera of its own on the network).

void handleCameraDatagram(LinkFrame* frame, const u8* data, u32 length) {
    DroneConnection* connection = frame->connection;
    const DroneLinkInputs* inputs = frame->inputs;
    MavlinkMessage* reader = &connection->cameraReader;
    reader->bytesBuffered = 0;  // a datagram starts afresh: nothing of the last one is kept
    i32 position = 0;
    for (;;) {
        position = parseMavlinkBytes(reader, data, position, (i32)length);
        if (!reader->haveMessage) {
            break;
        }
        if (handleNextVisionExtension(reader, &connection->nextVision, &connection->cameraView.imagesCaptured,
                                      frame->now)) {
            connection->nextVisionViaDrone = 0;
        }
        if (!frame->replay) {
            rememberLinkLogMessage(&connection->logRecords, LinkLogCamera, reader, FlightLogReceivedFromCamera,
                                   frame->now);
        }
        recordMavlinkTraffic(reader->source, reader->sequence, reader->messageId, reader->payload,
                             reader->payloadLength, reader->frameLength, &connection->traffic[TrafficCameraLink],
                             frame->now);
        if (inputs->relaySocket && inputs->relayHost && reader->source == 65470) {
            u8 bytes[500];
            ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
            ByteWriter payload = makeByteWriter(reader->payload, reader->payloadLength);
            payload.length = reader->payloadLength;
            u8 sequence = reader->sequence;
            sendMavlinkMessage(0, reader->messageId, &payload, &writer, &sequence, reader->source, nullptr, frame->now);
            relayPacketToPeers(inputs->relayHost, inputs->relaySocket, RelayStreamMavlink, frame->preferences, &writer,
                               frame->now);
        }
    }
}

void drainCameraSocket(LinkFrame* frame, u8* loggedFrom) {
    DroneConnection* connection = frame->connection;
    const DroneLinkInputs* inputs = frame->inputs;
    Socket* socket = inputs->cameraSocket;
    static const FixedString kNoInterface{};
    for (i32 i = 0; i < kMaxDatagramsPerFrame; i++) {
        SocketResult datagram;
        updateSocket(&datagram, socket, 4, SocketModeUdp, kCameraPort, &kNoInterface, nullptr, 0);
        connection->cameraPortInUse = socket->portInUse;
        if (datagram.reset) {
            *loggedFrom = socket->sendQueue.writeIndex;
        }
        if (!datagram.received) {
            break;
        }
        // Only the camera the video URL names reaches the camera link.
        bool fromCamera =
            connection->cameraEndpoint.family != 0 && sameAddress(&datagram.source, &connection->cameraEndpoint);
        if (!fromCamera && !inputs->replay) {
            connection->foreignPackets++;
            socket->unknownSenderDatagrams++;
            continue;
        }
        addFlightLogEntry(inputs->flightLogger, frame->now, FlightLogReceivedFromCamera, datagram.data, datagram.length);
        handleCameraDatagram(frame, datagram.data, datagram.length);
    }
}

// ---------------------------------------------------------------------------------------------------
// Height above ground and the augmented position record.

f64 elevationAt(const DroneLinkInputs* inputs, f64 longitude, f64 latitude) {
    return inputs->elevation ? inputs->elevation(inputs->elevationContext, longitude, latitude) : NAN;
}

void updateHeightAboveGround(LinkFrame* frame) {
    DroneConnection* connection = frame->connection;
    const VehicleState* vehicle = &connection->vehicle;
    const Preferences* preferences = frame->preferences;
    LongitudeLatitude reference = vehiclePosition(vehicle);
    f64 vehicleLongitude = vehicle->globalPosition.longitude + vehicle->longitudeOffset;
    f64 vehicleLatitude = vehicle->globalPosition.latitude + vehicle->latitudeOffset;
    f64 relativeAltitude = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
    f64 groundAtReference = elevationAt(frame->inputs, reference.longitude, reference.latitude);
    f64 groundAtVehicle = elevationAt(frame->inputs, vehicleLongitude, vehicleLatitude);
    bool bothKnown = std::isfinite(groundAtReference) && std::isfinite(groundAtVehicle);
    f64 height = bothKnown ? groundAtReference + relativeAltitude - groundAtVehicle : relativeAltitude;
    connection->heightAboveGround = height;

    bool replay = frame->inputs->flightLogger == nullptr;
    if (!(replay && !std::isfinite(groundAtReference))) {
        f64 warning = preferences->lowAltitudeWarning;
        bool crossed = warning >= height && connection->previousHeightAboveGround > warning;
        if (crossed && frame->now - connection->lowAltitudeAlertTime > kLowAltitudeAlertInterval) {
            SoundQueue* sounds = frame->inputs->soundQueue;
            if (sounds && pendingSoundCount(sounds) < kSoundQueueSlots - 1) {
                queueSound(sounds, kLowAltitudeTone, toneSteps(kLowAltitudeTone));
            }
            connection->lowAltitudeAlertTime = frame->now;
        }
    }
    connection->previousHeightAboveGround = height;

    if (frame->positionUpdated && frame->inputs->flightLogger) {
        u8 bytes[36];
        ByteWriter record = makeByteWriter(bytes, sizeof(bytes));
        appendF64Le(vehicleLatitude, &record);
        appendF64Le(vehicleLongitude, &record);
        appendF32Le((f32)relativeAltitude, &record);
        appendF32Le((f32)groundAtVehicle, &record);
        appendF32Le(bothKnown ? (f32)height : NAN, &record);
        appendF32Le((f32)(relativeAltitude + groundAtReference), &record);
        appendF32Le(preferences->showAltMslFromTakeoffElevation
                        ? (f32)(relativeAltitude + preferences->inputtedTakeoffElevation)
                        : NAN,
                    &record);
        addFlightLogEntry(frame->inputs->flightLogger, frame->now, FlightLogAugmentedPosition, bytes, record.length);
    }
}

// The frame's view of one call, with the drone endpoint fixed by the simulator or the preferences
// (autodetect learns it otherwise).
LinkFrame beginLinkFrame(DroneConnection* connection, const DroneLinkInputs* inputs) {
    const Preferences* preferences = inputs->preferences;
    LinkFrame frame{};
    frame.connection = connection;
    frame.inputs = inputs;
    frame.preferences = preferences;
    frame.now = inputs->now;
    frame.ownSource = (u16)(preferences->appSystemId << 8 | preferences->appComponentId);
    if (inputs->simulatorPort) {
        connection->droneEndpoint = makeAddressRecord(4, kLoopback, inputs->simulatorPort);
        frame.fixedEndpoint = true;
    } else if (preferences->droneAddress.port != 0) {
        connection->droneEndpoint = preferences->droneAddress;
        frame.fixedEndpoint = true;
    }
    return frame;
}

// After the drone's datagrams: the autopilot's control (its tones alone in a replay, where the rest
// would only send), the flight phase and the payloads.
void controlVehicleAndPayloads(LinkFrame* frame, DroneOutput* droneOutput) {
    DroneConnection* connection = frame->connection;
    const DroneLinkInputs* inputs = frame->inputs;
    const Preferences* preferences = frame->preferences;
    connection->missionSettings[0] = preferences->waypointMissionCruiseSpeed;
    connection->missionSettings[1] = -3.0;
    connection->missionSettings[2] = 6.0;
    connection->missionSettings[3] = 3.0;
    connection->vehicle.cruiseSpeed = preferences->waypointMissionCruiseSpeed;

    AutopilotFrame autopilot{};
    autopilot.vehicle = &connection->vehicle;
    autopilot.plan = inputs->missionPlan;
    autopilot.transect = inputs->missionTransect;
    autopilot.sounds = inputs->soundQueue;
    autopilot.logger = inputs->flightLogger;
    autopilot.preferences = preferences;
    autopilot.output = droneOutput;
    autopilot.outputWithheld = connection->relayControlled;
    autopilot.gamepad = inputs->gamepad;
    autopilot.input = inputs->input;
    autopilot.now = inputs->now;
    autopilot.utcMilliseconds = inputs->utcMilliseconds;
    expireFlightActions(connection, inputs->now);
    if (connection->vehicle.autopilotKind == AutopilotPx4) {
        if (frame->replay) {
            playPx4Tones(&connection->px4, &autopilot);
        } else {
            controlPx4(&connection->px4, &autopilot);
        }
    } else if (connection->vehicle.autopilotKind == AutopilotArduCopter && !frame->replay) {
        controlArduCopter(&connection->arduCopter, &autopilot);
    }
    updateFlightPhase(&connection->vehicle, &connection->px4, &connection->arduCopter, inputs->now);
    PayloadControl payloadControl{&connection->vehicle, inputs->soundQueue, inputs->geofence, inputs->missionPlan,
                                  preferences,          inputs->flightLogger, droneOutput,   inputs->now};
    controlPayloadLink(&connection->payload, &payloadControl);
}

// After the camera's datagrams: the controller's camera bindings, the cameras, the traffic rates and
// the height above ground.
void controlCamerasAndHeight(LinkFrame* frame, DroneOutput* cameraOutput) {
    DroneConnection* connection = frame->connection;
    const DroneLinkInputs* inputs = frame->inputs;
    applyCameraBindings(connection, inputs);
    registerLinkLogRecords(&connection->logRecords, LinkLogCamera, inputs->flightLogger);
    controlCameras(connection, inputs, cameraOutput);

    for (MavlinkTrafficStats& stats : connection->traffic) {
        updateMavlinkTrafficRates(&stats, inputs->now);
    }
    updateSourceTrafficRates(&connection->droneSources, inputs->now);
    connection->zoomChanged = 0;
    connection->gimbalCommandActive = connection->gimbalPitchRate != 0 || connection->gimbalYawRate != 0 ||
                                      connection->gimbalRecenter || connection->gimbalSecondaryPosition;
    connection->gimbalPitchRate = 0;
    connection->gimbalYawRate = 0;
    connection->gimbalRecenter = 0;
    connection->gimbalSecondaryPosition = 0;
    if (!frame->replay && frame->preferences->enableCorningShark410 && inputs->gamepad &&
        inputs->gamepad->controllerKind == ControllerPilotPro) {
        sendHyperspectralCommand(inputs->input, cameraOutput->socket, inputs->utcMilliseconds,
                                 inputs->timeZoneOffsetMs);
    }
    updateHeightAboveGround(frame);
}

}  // namespace

void writeGcsHeartbeatPayload(ByteWriter* writer) {
    appendU32Le(0, writer);  // custom mode
    appendU8(6, writer);     // MAV_TYPE_GCS
    appendU8(8, writer);     // MAV_AUTOPILOT_INVALID
    appendU8(0xC0, writer);  // base mode
    appendU8(4, writer);     // MAV_STATE_ACTIVE
    appendU8(3, writer);     // MAVLink version
}

FixedString linkPortProblem(const DroneConnection* connection) {
    const u16 candidates[5] = {connection->dronePortInUse, connection->cameraPortInUse,
                               connection->simulatorPortsInUse[0], connection->simulatorPortsInUse[1],
                               connection->simulatorPortsInUse[2]};
    u16 ports[5];
    i32 count = 0;
    for (u16 port : candidates) {
        bool repeated = false;
        for (i32 j = 0; j < count; j++) repeated = repeated || ports[j] == port;
        if (port != 0 && !repeated) ports[count++] = port;
    }
    if (count == 0) return FixedString{};
    if (count == 1) return formatInt("Port @ is in use by another program", ports[0]);
    return buildFixedString([&](ByteWriter* writer) {
        appendCString("Ports ", writer);
        for (i32 i = 0; i < count; i++) {
            if (i > 0) appendCString(i == count - 1 ? " and " : ", ", writer);
            appendInt64(ports[i], writer);
        }
        appendCString(" are in use by another program", writer);
    });
}

void controlDrone(DroneConnection* connection, const DroneLinkInputs* inputs) {
    ProfilingScope scope("Control Drone");
    const Preferences* preferences = inputs->preferences;
    LinkFrame frame = beginLinkFrame(connection, inputs);
    logControllerState(inputs->flightLogger, inputs->gamepad, inputs->input);

    frame.relayClient = !inputs->replay && connectsToRelayingApp(preferences, inputs->simulatorPort);
    if (!frame.relayClient) {
        stopSecureLinkClient(&connection->secureLinkClient);
    }

    Socket* droneSocket = inputs->droneSocket;
    u8 droneLoggedFrom = droneSocket->sendQueue.writeIndex;
    u8 cameraLoggedFrom = inputs->cameraSocket ? inputs->cameraSocket->sendQueue.writeIndex : 0;

    serveRelayHost(&frame);
    drainDroneSocket(&frame, &droneLoggedFrom);
    registerLinkLogRecords(&connection->logRecords, LinkLogVehicle, inputs->flightLogger);

    DroneOutput droneOutput = droneOutputOf(&frame);

    // The ground station's HEARTBEAT, once a second; a full queue tries again next frame.
    // Until autodetect has found the drone there is nowhere to send it.
    bool haveDestination = droneOutput.destination.family != 0 || droneSocket->mode == SocketModeTcpClient;
    if (inputs->now - connection->gcsHeartbeatTime > kGcsHeartbeatInterval && haveDestination) {
        ByteWriter* slot = reserveDroneOutput(&droneOutput);
        if (slot) {
            u8 bytes[9];
            ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
            writeGcsHeartbeatPayload(&payload);
            sendMavlinkMessage(0, MavlinkHeartbeat, &payload, slot, droneOutput.sequence, droneOutput.source,
                               droneOutput.stats, inputs->now);
            connection->gcsHeartbeatTime = inputs->now;
        }
    }
    if (frame.relayClient) {
        sendSecureLinkHello(&connection->secureLinkClient, &connection->droneEndpoint, droneOutput.socket,
                            RelayStreamMavlink, inputs->now);
    }

    controlVehicleAndPayloads(&frame, &droneOutput);

    // The camera: its own socket when the video URL names one, else through the drone.
    DroneOutput cameraOutput = droneOutput;
    connection->cameraPortInUse = 0;
    if (inputs->cameraSocket && isCameraUrl(preferences)) {
        connection->cameraKind = CameraNextVision;
        connection->cameraEndpoint = cameraEndpointFromUrl(preferences);
        drainCameraSocket(&frame, &cameraLoggedFrom);
        if (connection->nextVisionViaDrone == 0) {
            cameraOutput.socket = inputs->cameraSocket;
            cameraOutput.destination = connection->cameraEndpoint;
            cameraOutput.sequence = &connection->cameraSequence;
            cameraOutput.stats = &connection->traffic[TrafficCameraLink];
        }
    } else if (connection->cameraKind == CameraNextVision && preferences->videoStreamProtocol != VideoStreamQv) {
        connection->cameraKind = CameraNone;
    }
    if (connection->relayControlled) {
        cameraOutput.socket = &connection->sinkSocket;
        cameraOutput.stats = &connection->traffic[TrafficSink];
    }
    controlCamerasAndHeight(&frame, &cameraOutput);

    registerLinkLogRecords(&connection->logRecords, LinkLogRadio, inputs->flightLogger);
    // Everything queued during this call goes to the flight log.
    u8 droneType = connection->relayControlled ? FlightLogWithheldToDrone : FlightLogSentToDrone;
    u8 cameraType = connection->relayControlled ? FlightLogWithheldToCamera : FlightLogSentToCamera;
    logQueuedPackets(droneSocket, droneLoggedFrom, droneType, inputs->flightLogger, inputs->now);
    if (inputs->cameraSocket && inputs->cameraSocket != droneSocket) {
        logQueuedPackets(inputs->cameraSocket, cameraLoggedFrom, cameraType, inputs->flightLogger, inputs->now);
    }
    if (frame.relayClient) {
        encryptSecureLinkSendQueue(&connection->secureLinkClient, droneSocket);
    }
    // What the app would have sent while a relay peer controls is never sent later.
    PacketQueue* withheld = &connection->sinkSocket.sendQueue;
    while (!isPacketQueueEmpty(withheld)) dropOldestQueuedPacket(withheld);
}

bool connectsToRelayingApp(const Preferences* preferences, u16 simulatorPort) {
    // A relaying host is spoken to over UDP only: a hello in a TCP stream would be bytes in its frames.
    return simulatorPort == 0 && preferences->droneAddress.port != 0 && preferences->droneAddress.family != 0 &&
           preferences->droneTransportProtocol != TransportTcp;
}

void forgetFollowedVehicle(DroneConnection* connection) {
    connection->vehicle = VehicleState{};
    connection->px4 = Px4State{};
    connection->arduCopter = ArduCopterState{};
    connection->droneEndpoint = AddressRecord{};
    connection->endpointHeardTime = 0;
    connection->droneReader = MavlinkMessage{};
    connection->lastDroneMessageTime = 0;
    connection->pendingFlightAction = 0;
}

void replayDroneLink(DroneConnection* connection, const DroneLinkInputs* inputs, const u8* datagram, u32 length,
                     u32 link) {
    static const u8 kRecordedSource[4] = {127, 0, 0, 1};
    const Preferences* preferences = inputs->preferences;
    LinkFrame frame = beginLinkFrame(connection, inputs);
    frame.replay = true;
    connection->relayControlled = 0;
    if (link == ReplayedFromDrone) {
        // Recorded datagrams come from one fixed loopback endpoint, which autodetect locks on to.
        SocketResult received{};
        received.received = 1;
        received.data = const_cast<u8*>(datagram);
        received.length = length;
        received.source = makeAddressRecord(4, kRecordedSource, kSimulatorLinkLocalPort);
        handleDroneDatagram(&frame, &received, preferences->droneTransportProtocol == TransportTcp);
    }
    DroneOutput droneOutput = droneOutputOf(&frame);
    controlVehicleAndPayloads(&frame, &droneOutput);
    DroneOutput cameraOutput = droneOutput;
    if (isCameraUrl(preferences)) {
        connection->cameraKind = CameraNextVision;
        connection->cameraEndpoint = cameraEndpointFromUrl(preferences);
        if (link == ReplayedFromCamera) handleCameraDatagram(&frame, datagram, length);
    } else if (connection->cameraKind == CameraNextVision && preferences->videoStreamProtocol != VideoStreamQv) {
        connection->cameraKind = CameraNone;
    }
    controlCamerasAndHeight(&frame, &cameraOutput);
}
