// The MAVLink peer of the drone link tests, written with node-mavlink (an independent
// implementation). Loopback only.
//
//   node mavlink_peer.mjs parse FILE
//       Splits FILE's bytes into frames with node-mavlink and prints one line per good frame
//       ("frame HEX"), then "counts VALID INVALID UNKNOWN".
//   node mavlink_peer.mjs emit FILE
//       Writes to FILE a byte stream of node-mavlink frames (MAVLink 1, 2 and signed 2) mixed with
//       garbage, bad checksums, cut-off frames and unknown ids, then prints the good frames it
//       wrote ("frame HEX") and how many node-mavlink's own splitter finds ("found N").
//   node mavlink_peer.mjs magic
//       Prints "ID CRC_EXTRA NAME" for every message of node-mavlink's common dialect.
//   node mavlink_peer.mjs commands
//       Prints "VALUE NAME" for every MAV_CMD value that node-mavlink's common dialect names.
//   node mavlink_peer.mjs vehicle LOCAL_PORT GCS_PORT INTRUDER_PORT MAX_SECONDS
//       A scripted vehicle (system 1, component 1, PX4 quadrotor) on UDP at 127.0.0.1:LOCAL_PORT
//       that sends its HEARTBEAT and telemetry to 127.0.0.1:GCS_PORT until the ground station's
//       HEARTBEAT arrives, then once for each HEARTBEAT it receives. A second vehicle (system 2) on
//       INTRUDER_PORT sends HEARTBEATs after that. Prints "rx SEQ SYS COMP TYPE AUTOPILOT" for every
//       HEARTBEAT received and ends after 6 of them, on "stop" on its input, or after MAX_SECONDS.
//   node mavlink_peer.mjs vehicle LOCAL_PORT GCS_PORT INTRUDER_PORT MAX_SECONDS spoof
//       The same, but what sends from INTRUDER_PORT pretends to be the vehicle: system 1, component
//       1, a PX4 HEARTBEAT and a GLOBAL_POSITION_INT 777 m above home.
//   node mavlink_peer.mjs tcp-vehicle PORT MAX_SECONDS
//       The same vehicle as a TCP server on 127.0.0.1:PORT, without the second vehicle.
//   node mavlink_peer.mjs px4 LOCAL_PORT GCS_PORT MAX_SECONDS [OPTION...]
//       A PX4 stand-in (system 1, component 1) on UDP that speaks as PX4 does: parameters, mission
//       protocol, DO_SET_MODE and the other commands; see px4() below. Prints what it is asked.
//   node mavlink_peer.mjs payloads VEHICLE_PORT VOSK_A_PORT VOSK_B_PORT GCS_PORT MAX_SECONDS
//       A PX4 vehicle (system 1, component 1) carrying an Orvik payload and a strobe light (component
//       25 on the vehicle's port) and two VOSK units on their own ports (components 26 and 27). Their
//       payload frames are written with a codec of this script, from the frame table. Commands on
//       its input, one a line: "vehicle LANDED MAIN SUB LAT LON RELALT VN VE", "orvik STATE A B
//       DROPPING CHUTE WORDHEX", "version", "vosk UNIT FLAGS SAFETY_A DROP_A SAFETY_B DROP_B",
//       "light BRIGHTNESS PATTERN MODE", "stop". Prints "ready", "done" after each command, and
//       "rx PORT TYPE SEQ BODYHEX MAVSEQ VERSION" for every payload frame it receives (PORT is
//       vehicle, voskA or voskB).
//   node mavlink_peer.mjs gcs LOCAL_PORT VEHICLE_PORT MAX_SECONDS
//       A ground station (system 255, component 190) that works through a script against the
//       vehicle at 127.0.0.1:VEHICLE_PORT, waiting for each answer (asking again every 200 ms) and
//       printing what it got: "heartbeat TYPE AUTOPILOT STATUS MAIN SUB", "param NAME INDEX TYPE
//       COUNT VALUE", "no_answer WHAT", "ack TYPE", "count N", "item SEQ CMD FRAME P1 P2 P3 P4 X Y Z
//       AUTOCONTINUE", "command_ack CMD RESULT", "mode MAIN SUB", then "done"; see gcs() below.
//   node mavlink_peer.mjs flight COUNT
//       The datagrams of a recorded flight, for the flight-log replay: COUNT datagrams of a PX4
//       quadrotor (system 1, component 1), each a HEARTBEAT, an ATTITUDE and a GLOBAL_POSITION_INT
//       with values of the script's generator, at irregular times. Prints per datagram "datagram MS
//       HEX" (MS from the flight's start) and "expect LAT LON RELALT_MM ROLL PITCH YAW" with the
//       values node-mavlink wrote.
//   node mavlink_peer.mjs replayviews
//       A recorded level flight for the flight-log viewer's views: a PX4 quadrotor (system 1,
//       component 1) flies north from its home at 47 N 8 E, 60 m up, one position a second for 100
//       s, with an Orvik payload (component 25) dropping from the 40th to the 59th second, SYS_STATUS
//       sensor bits 31 and 40 present, enabled and unhealthy, and a STATUSTEXT at 95 s. Prints per
//       datagram "datagram MS HEX" and per position "at MS LAT LON RELALT_MM DROPPING" (MS from the
//       start; DROPPING 1 while the payload reports dropping).
//   node mavlink_peer.mjs exportflight START_MS
//       A recorded flight for the flight-log exports: a PX4 quadrotor (system 1, component 1) with a
//       camera-protocol camera (component 100) and its gimbal (component 154), photos with awkward
//       names, a NextVision snapshot (from the camera's own link), mapping-kit counter reports (payload frame type 4) and Orvik
//       drop counters (type 5). Prints per datagram "d TYPE MS HEX" (TYPE 1 from the drone, 2 from
//       the camera; MS from the flight's start) and what it put in: "pos MS LAT LON RELALT_MM
//       GPSALT_MM ROLL PITCH YAW VX VY", "camera MS", "gimbal MS W X Y Z", "photo MS TIME_UTC_US NAME_HEX",
//       "snapshot MS NAME_HEX", "counters MS COUNT PERIOD MESSAGE_TS LAST_PHOTO_TS RANGE_CM",
//       "orvik MS A B".
//   node mavlink_peer.mjs arducopter LOCAL_PORT GCS_PORT MAX_SECONDS [OPTION...]
//       An ArduCopter stand-in (system 1, component 1) on UDP: streams only what it is asked for,
//       pulls a mission with MISSION_REQUEST, flies, lands and reports ADS-B traffic on a script;
//       see arducopter() below. Prints what it is asked.
//   node mavlink_peer.mjs camera LOCAL_PORT GCS_PORT MAX_SECONDS KIND [OPTION...]
//       Camera and gimbal stand-ins on UDP, answering the ground station's messages only (the test's
//       clock decides when anything happens). KIND: "sony" (a camera-protocol camera, system 1
//       component 100, and a gimbal device on component 154), "workswell" (the WORKSWELL camera with
//       LAYOUT_MAIN), "gremsy" (a gimbal on component 154, option "firmware=X.Y.Z") or "nextvision"
//       (V2_EXTENSION reports from system 255, component 190). All send a generic vehicle HEARTBEAT
//       (system 1, component 1) per station HEARTBEAT. Option "silent-info=N" leaves the first N
//       camera-information requests unanswered; "exposure=N" gives the "sony" camera a CAM_EXPMODE of
//       N. Prints "ready", then "command SYS COMP TSYS TCOMP CMD
//       P1 .. P7" per COMMAND_LONG, "ext_set NAME TYPE VALUE", "ext_read INDEX NAME", "ext_list",
//       "manual SYS COMP SEQ FLAGS PITCH_RATE YAW_RATE TSYS TCOMP", "param_read NAME", "param_set NAME
//       VALUE" and "raw HEX" for anything else addressed to it. Option "versions=X:Y:Z" makes the
//       gimbal report VERSION_X, VERSION_Y and VERSION_Z as those numbers (fractions kept).
//   The stand-ins that the tests step (px4, payloads, arducopter, camera, sequence) answer a datagram "sync N"
//   on any of their ports with the line "synced N", printed once every datagram that came before it
//   has been handled and all they sent has reached the kernel: the test then reads their answers on
//   its next frame however slowly they run.
//   node mavlink_peer.mjs sequence LOCAL_PORT GCS_PORT MAX_SECONDS SEQ,SEQ,...
//       On the station's first datagram, sends frames of system 1, component 1 with exactly these
//       MAVLink sequence numbers (HEARTBEAT and ATTITUDE alternately), each followed by a HEARTBEAT of
//       another sender; prints "ready", then "sent".
import dgram from 'node:dgram'
import net from 'node:net'
import fs from 'node:fs'
import { MavLinkPacketSplitter, MavLinkPacketParser, MavLinkProtocolV1, MavLinkProtocolV2, minimal, standard, common } from 'node-mavlink'

const [mode, ...args] = process.argv.slice(2)

// Every datagram sent is counted until it has left for the kernel, for the answer to "sync N".
let unsent = 0, afterAllSent = []
const originalSend = dgram.Socket.prototype.send
dgram.Socket.prototype.send = function (...sendArguments) {
  const callback = typeof sendArguments[sendArguments.length - 1] === 'function' ? sendArguments.pop() : null
  unsent++
  return originalSend.call(this, ...sendArguments, (...result) => {
    if (callback) callback(...result)
    if (--unsent === 0) { const waiting = afterAllSent; afterAllSent = []; for (const f of waiting) f() }
  })
}
// True when the datagram is the test's "sync N", which is then answered.
function answeredSync(bytes) {
  if (bytes.length > 16 || bytes.subarray(0, 5).toString('latin1') !== 'sync ') return false
  const answer = 'synced ' + bytes.subarray(5).toString('latin1')
  if (unsent === 0) console.log(answer); else afterAllSent.push(() => console.log(answer))
  return true
}

function splitFrames(bytes) {
  const splitter = new MavLinkPacketSplitter()
  const frames = []
  splitter.on('data', ({ buffer }) => frames.push(buffer.toString('hex')))
  splitter.write(bytes)
  splitter.end()
  return { frames, splitter }
}

// Deterministic field values from a small generator, so every run writes the same stream.
let state = 12345
function next() { state = (state * 1103515245 + 12345) & 0x7fffffff; return state }
const RANGES = { int8_t: [-128, 127], uint8_t: [0, 255], int16_t: [-32768, 32767], uint16_t: [0, 65535],
  int32_t: [-2147483648, 2147483647], uint32_t: [0, 4294967295] }
function value(type, zero) {
  if (zero) return type.includes('64') ? 0n : type === 'char' ? '' : 0
  if (type === 'float' || type === 'double') return ((next() % 20001) - 10000) / 8
  if (type === 'int64_t') return BigInt(next()) - 1073741824n
  if (type === 'uint64_t') return BigInt(next()) * 4096n
  if (type === 'char') return String.fromCharCode(97 + next() % 26)
  const [low, high] = RANGES[type === 'uint8_t_mavlink_version' ? 'uint8_t' : type]
  return low + next() % (high - low + 1)
}
function filled(clazz, zero) {
  const message = new clazz()
  for (const field of clazz.FIELDS) {
    const base = field.type.replace('[]', '')
    if (field.type.endsWith('[]')) {
      if (base === 'char') {
        let text = ''
        for (let i = 0; i < (zero ? 0 : field.length); i++) text += value('char')
        message[field.name] = text
      } else {
        message[field.name] = Array.from({ length: field.length }, () => value(base, zero))
      }
    } else {
      message[field.name] = value(base, zero)
    }
  }
  return message
}

function emit(file) {
  const v1 = new MavLinkProtocolV1(1, 1)
  const v2 = new MavLinkProtocolV2(7, 42)
  const signed = new MavLinkProtocolV2(3, 200, MavLinkProtocolV2.IFLAG_SIGNED)
  const key = Buffer.alloc(32, 7)
  const classes = [minimal.Heartbeat, common.SysStatus, common.GpsRawInt, common.Attitude, common.GlobalPositionInt,
    common.RcChannels, common.HomePosition, common.StatusText, common.CommandLong, common.EncapsulatedData,
    common.SetupSigning, common.OpenDroneIdSystem, common.OpenDroneIdBasicId, common.Debug]
  const parts = []
  const intended = []
  const good = frame => { parts.push(frame); intended.push(frame.toString('hex')) }
  let seq = 0
  const garbage = n => Buffer.from(Array.from({ length: n }, () => next() & 255))
  for (const clazz of classes) {
    for (const zero of [false, true]) {
      const message = filled(clazz, zero)
      if (clazz.MSG_ID < 256) good(v1.serialize(message, seq++ & 255))
      good(v2.serialize(message, seq++ & 255))
      parts.push(garbage(next() % 40))
    }
    // A bad checksum, a frame cut short and a signed frame.
    const bad = Buffer.from(v2.serialize(filled(clazz, false), seq++ & 255))
    bad[bad.length - 3] ^= 0x5a
    parts.push(bad)
    const cut = v2.serialize(filled(clazz, false), seq++ & 255)
    parts.push(cut.subarray(0, Math.max(3, cut.length >> 1)))
    good(signed.sign(signed.serialize(filled(clazz, false), seq++ & 255), 1, key, 1700000000000))
  }
  // An id no dialect here knows, then a tail that lets any false start run to its end.
  const unknown = Buffer.from(v2.serialize(filled(minimal.Heartbeat, false), 0))
  unknown.writeUIntLE(40000, 7, 3)
  parts.push(unknown)
  good(v1.serialize(filled(minimal.Heartbeat, false), seq++ & 255))
  parts.push(Buffer.alloc(300, 0x55))
  const stream = Buffer.concat(parts)
  fs.writeFileSync(file, stream)
  for (const frame of intended) console.log('frame ' + frame)
  console.log('found ' + splitFrames(stream).frames.length)
}

function parse(file) {
  const { frames, splitter } = splitFrames(fs.readFileSync(file))
  for (const frame of frames) console.log('frame ' + frame)
  console.log(`counts ${splitter.validPackages} ${splitter.invalidPackages} ${splitter.unknownPackagesCount}`)
}

const heartbeat = (type, autopilot) => Object.assign(new minimal.Heartbeat(), { type, autopilot,
  baseMode: minimal.MavModeFlag.CUSTOM_MODE_ENABLED, customMode: 0, systemStatus: minimal.MavState.ACTIVE, mavlinkVersion: 3 })

// The scripted vehicle's HEARTBEAT and telemetry.
const telemetry = () => [
  heartbeat(minimal.MavType.QUADROTOR, minimal.MavAutopilot.PX4),
  Object.assign(new common.SysStatus(), { onboardControlSensorsPresent: 0x3f, onboardControlSensorsEnabled: 0x2f,
    onboardControlSensorsHealth: 0x1f, voltageBattery: 15800, currentBattery: 1234, batteryRemaining: 76,
    onboardControlSensorsPresentExtended: 1, onboardControlSensorsEnabledExtended: 1, onboardControlSensorsHealthExtended: 0 }),
  Object.assign(new common.GpsRawInt(), { lat: 473977420, lon: 85455940, alt: 488500, fixType: 3, satellitesVisible: 14,
    eph: 90, epv: 120, vel: 0, cog: 0, hAcc: 1500 }),
  Object.assign(new common.Attitude(), { timeBootMs: 1000, roll: 0.125, pitch: -0.25, yaw: 1.5 }),
  Object.assign(new common.GlobalPositionInt(), { timeBootMs: 123456, lat: 473977420, lon: 85455940, alt: 488000,
    relativeAlt: 10000, vx: 100, vy: -50, vz: 25, hdg: 9000 }),
  Object.assign(new common.RcChannels(), { timeBootMs: 1000, chancount: 8, rssi: 200,
    ...Object.fromEntries(Array.from({ length: 18 }, (_, i) => [`chan${i + 1}Raw`, 1000 + 50 * i])) }),
  Object.assign(new common.HomePosition(), { latitude: 473970000, longitude: 85450000, altitude: 487000 }),
  Object.assign(new common.StatusText(), { severity: 6, text: 'Takeoff detected', id: 0, chunkSeq: 0 }),
]

// Prints a received HEARTBEAT frame as "rx SEQ SYS COMP TYPE AUTOPILOT"; false for other frames.
function reportHeartbeat(hex) {
  const frame = Buffer.from(hex, 'hex')
  const v2 = frame[0] === 0xfd
  const offset = v2 ? 10 : 6
  if ((v2 ? frame.readUIntLE(7, 3) : frame[5]) !== 0) return false
  const [seqNo, sys, comp] = v2 ? [frame[4], frame[5], frame[6]] : [frame[2], frame[3], frame[4]]
  console.log(`rx ${seqNo} ${sys} ${comp} ${frame[offset + 4]} ${frame[offset + 5]}`)
  return true
}

function vehicle(localPort, gcsPort, intruderPort, maxSeconds, spoof) {
  const proto = new MavLinkProtocolV2(1, 1)
  const intruderProto = spoof ? new MavLinkProtocolV2(1, 1) : new MavLinkProtocolV1(2, 1)
  const socket = dgram.createSocket('udp4')
  const intruder = dgram.createSocket('udp4')
  let seq = 0
  let received = 0
  let retry = null
  const send = message => socket.send(proto.serialize(message, seq++ & 255), gcsPort, '127.0.0.1')
  const burst = () => telemetry().forEach(send)
  const finish = () => { clearInterval(retry); socket.close(); intruder.close(); process.exit(0) }
  socket.on('message', bytes => {
    for (const hex of splitFrames(bytes).frames) {
      if (!reportHeartbeat(hex)) continue
      received++
      if (received === 1) {
        clearInterval(retry)
        const other = spoof
          ? () => intruder.send(Buffer.concat([
              intruderProto.serialize(heartbeat(minimal.MavType.QUADROTOR, minimal.MavAutopilot.PX4), seq & 255),
              intruderProto.serialize(Object.assign(new common.GlobalPositionInt(), { timeBootMs: 1, lat: 0, lon: 0,
                alt: 0, relativeAlt: 777000, vx: 0, vy: 0, vz: 0, hdg: 0 }), seq & 255)]), gcsPort, '127.0.0.1')
          : () => intruder.send(intruderProto.serialize(
              heartbeat(minimal.MavType.QUADROTOR, minimal.MavAutopilot.ARDUPILOTMEGA), seq & 255), gcsPort, '127.0.0.1')
        other()
        retry = setInterval(other, 20)
      }
      burst()
      if (received >= 6) finish()
    }
  })
  process.stdin.on('data', text => { if (String(text).includes('stop')) finish() })
  setTimeout(finish, maxSeconds * 1000)
  intruder.bind(intruderPort, '127.0.0.1', () => {
    socket.bind(localPort, '127.0.0.1', () => {
      console.log('ready')
      burst()
      retry = setInterval(burst, 50)
    })
  })
}

// The same vehicle as a TCP server: telemetry when the ground station connects and after each of
// its HEARTBEATs, written one byte at a time for the first burst so that frames arrive split.
function tcpVehicle(port, maxSeconds) {
  const proto = new MavLinkProtocolV2(1, 1)
  let seq = 0
  let received = 0
  let client = null
  const server = net.createServer(connection => {
    client = connection
    connection.on('error', () => {})
    const bytes = Buffer.concat(telemetry().map(message => proto.serialize(message, seq++ & 255)))
    for (let i = 0; i < bytes.length; i++) connection.write(bytes.subarray(i, i + 1))
    const splitter = new MavLinkPacketSplitter()
    splitter.on('data', ({ buffer }) => {
      if (!reportHeartbeat(buffer.toString('hex'))) return
      received++
      connection.write(Buffer.concat(telemetry().map(message => proto.serialize(message, seq++ & 255))))
      if (received >= 6) finish()
    })
    connection.on('data', bytes => splitter.write(bytes))
  })
  const finish = () => { if (client) client.destroy(); server.close(); process.exit(0) }
  process.stdin.on('data', text => { if (String(text).includes('stop')) finish() })
  setTimeout(finish, maxSeconds * 1000)
  server.listen(port, '127.0.0.1', () => console.log('ready'))
}

// The PX4 stand-in. It is paced by the ground station: telemetry goes out with each of its
// HEARTBEATs (and until the first one), so the run follows the station's clock, not this one's. It
// holds a mission of 3 items at start, flies in position control, in the air. Lines it prints:
//   param_read NAME | param_set NAME VALUE | command CMD P1 P2 P3 | item SEQ CMD FRAME P1 P2 P3 P4 LAT LON ALT
//   count N | clear | cancel | refused SEQ | mission_stored N | reached SEQ | manual X Y Z R BUTTONS AUX1 AUX2 | odid_system LAT LON TIMESTAMP
// Options: refuse=SEQ:TYPE refuses the first upload with MISSION_ACK TYPE once item SEQ has arrived;
// spoof sends, at the station's second HEARTBEAT, a PARAM_VALUE of BAT_LOW_THR with the INT32 type and one of a
// name outside the table at index 5000; remote-id makes it send OPEN_DRONE_ID_LOCATION; ground starts
// it on the ground, disarmed: the take-off mode takes 2 station HEARTBEATs to reach the air (landed
// state 3, then 2), the landing mode 2 to land (4, then 1 and disarmed); it prints
// "landed HEARTBEAT STATE" on each change.
function px4(localPort, gcsPort, maxSeconds, options) {
  const proto = new MavLinkProtocolV2(1, 1)
  const socket = dgram.createSocket('udp4')
  let seq = 0
  const send = message => socket.send(proto.serialize(message, seq++ & 255), gcsPort, '127.0.0.1')
  const params = {
    CBRK_PARAMBLOCK: [6, 1], NAV_RCL_ACT: [6, 2], MPC_YAW_MODE: [6, 0], MAV_1_RATE: [6, 1200],
    BAT_LOW_THR: [9, 0.2], MPC_XY_CRUISE: [9, 15.0], MIS_DIST_1WP: [9, 10000.0],
  }
  const names = Object.keys(params)
  const valueMessage = name => {
    const [type, value] = params[name]
    const bytes = Buffer.alloc(4)
    if (type === 6) bytes.writeInt32LE(value); else bytes.writeFloatLE(value)
    return Object.assign(new common.ParamValue(), { paramId: name, paramValue: bytes.readFloatLE(0), paramType: type,
      paramCount: 900, paramIndex: 700 + names.indexOf(name) })
  }
  let mainMode = 3, subMode = 0
  let stored = [{}, {}, {}]   // a mission left on the vehicle
  let expected = 0            // items of the upload in progress; 0 = none
  let items = []
  let refusal = null
  let itemSinceHeartbeat = false
  let heard = false
  let stationHeartbeats = 0
  let reached = 0
  for (const option of options) {
    if (option.startsWith('refuse=')) { const [at, type] = option.slice(7).split(':').map(Number); refusal = { at, type } }
  }
  const spoof = options.includes('spoof'), remoteId = options.includes('remote-id')
  let landed = options.includes('ground') ? 1 : 2, phaseSince = 0
  const setLanded = state => { landed = state; phaseSince = stationHeartbeats; console.log(`landed ${stationHeartbeats} ${state}`) }
  const heartbeatMessage = () => Object.assign(new minimal.Heartbeat(), { type: minimal.MavType.QUADROTOR,
    autopilot: minimal.MavAutopilot.PX4,
    baseMode: minimal.MavModeFlag.CUSTOM_MODE_ENABLED | (landed === 1 ? 0 : minimal.MavModeFlag.SAFETY_ARMED),
    customMode: (mainMode << 16) | (subMode << 24), systemStatus: minimal.MavState.ACTIVE, mavlinkVersion: 3 })
  const telemetry = () => {
    send(heartbeatMessage())
    send(Object.assign(new common.ExtendedSysState(), { vtolState: 0, landedState: landed }))
    const up = landed === 1 ? 0 : landed === 2 ? 20000 : 1000
    send(Object.assign(new common.GlobalPositionInt(), { timeBootMs: 1000, lat: 473977420, lon: 85455940, alt: 478000 + up,
      relativeAlt: up, vx: 0, vy: 0, vz: 0, hdg: 0 }))
    send(Object.assign(new common.GpsRawInt(), { lat: 473977420, lon: 85455940, alt: 498000, fixType: 3,
      satellitesVisible: 14, eph: 90, epv: 120, vel: 0, cog: 0, hAcc: 800 }))
    send(Object.assign(new common.HomePosition(), { latitude: 473970000, longitude: 85450000, altitude: 478000 }))
    if (remoteId) send(Object.assign(new common.OpenDroneIdLocation(), { latitude: 473977420, longitude: 85455940 }))
  }
  const requestItem = () => send(Object.assign(new common.MissionRequestInt(), { seq: items.length, targetSystem: 255,
    targetComponent: 190, missionType: 0 }))
  const ack = type => send(Object.assign(new common.MissionAck(), { targetSystem: 255, targetComponent: 190, type,
    missionType: 0 }))
  const handlers = {
    HEARTBEAT: () => {
      heard = true
      if (landed === 3 && stationHeartbeats - phaseSince >= 1) { setLanded(2); subMode = 3 }
      if (landed === 4 && stationHeartbeats - phaseSince >= 1) { setLanded(1); mainMode = 3; subMode = 0 }
      telemetry()
      // By the station's second HEARTBEAT it follows this vehicle.
      if (++stationHeartbeats === 2 && spoof) {
        const wrong = valueMessage('BAT_LOW_THR'); wrong.paramType = 6; send(wrong)
        send(Object.assign(new common.ParamValue(), { paramId: 'NOT_IN_TABLE', paramValue: 1, paramType: 9,
          paramCount: 900, paramIndex: 5000 }))
        console.log('spoofed')
      }
      // Flying the mission: one more item reached per station HEARTBEAT.
      if (mainMode === 4 && subMode === 4 && reached < stored.length) {
        send(Object.assign(new common.MissionItemReached(), { seq: reached }))
        console.log('reached ' + reached++)
      }
      // PX4 asks again for an item it has not received.
      if (expected && !itemSinceHeartbeat) requestItem()
      itemSinceHeartbeat = false
    },
    PARAM_REQUEST_READ: m => {
      console.log('param_read ' + m.paramId)
      if (params[m.paramId]) send(valueMessage(m.paramId))
    },
    PARAM_SET: m => {
      const bytes = Buffer.alloc(4); bytes.writeFloatLE(m.paramValue)
      const value = m.paramType === 6 ? bytes.readInt32LE(0) : bytes.readFloatLE(0)
      console.log(`param_set ${m.paramId} ${m.paramType} ${value}`)
      if (!params[m.paramId] || params[m.paramId][0] !== m.paramType || options.includes('ignore-set')) return
      params[m.paramId][1] = value
      send(valueMessage(m.paramId))
    },
    MISSION_REQUEST_LIST: () => send(Object.assign(new common.MissionCount(), { count: stored.length, targetSystem: 255,
      targetComponent: 190, missionType: 0 })),
    MISSION_CLEAR_ALL: () => { console.log('clear'); stored = [] },
    MISSION_ACK: m => { if (m.type === 15) { console.log('cancel'); expected = 0; items = [] } },
    MISSION_COUNT: m => {
      console.log('count ' + m.count)
      stored = []; items = []
      expected = m.count
      if (m.count === 0) ack(0); else requestItem()
    },
    MISSION_ITEM_INT: m => {
      if (!expected) {
        // The station did not hear the acceptance and sends the last item again.
        if (stored.length && m.seq === stored.length - 1) ack(0)
        return
      }
      // An item it already has: the station did not hear the next request, which goes again.
      if (m.seq < items.length) { requestItem(); return }
      if (m.seq !== items.length) return
      itemSinceHeartbeat = true
      items.push(m)
      console.log(`item ${m.seq} ${m.command} ${m.frame} ${m.param1} ${m.param2} ${m.param3} ${m.param4} ${m.x} ${m.y} ${m.z.toFixed(2)}`)
      if (refusal && m.seq === refusal.at) {
        console.log('refused ' + m.seq)
        ack(refusal.type); refusal = null; expected = 0; items = []
        return
      }
      if (items.length < expected) { requestItem(); return }
      stored = items; items = []; expected = 0
      console.log('mission_stored ' + stored.length)
      ack(0)
    },
    COMMAND_LONG: m => {
      console.log(`command ${m.command} ${m._param1} ${m._param2} ${m._param3}`)
      let result = 3
      if (m.command === 176) { mainMode = Math.trunc(m._param2); subMode = Math.trunc(m._param3); result = 0 }
      if (m.command === 176 && mainMode === 4 && subMode === 2 && landed === 1) setLanded(3)
      if (m.command === 176 && mainMode === 4 && subMode === 6 && landed === 2) setLanded(4)
      if (m.command === 400 || m.command === 246) result = 0
      send(Object.assign(new common.CommandAck(), { command: m.command, result }))
      send(heartbeatMessage())
      send(Object.assign(new common.ExtendedSysState(), { vtolState: 0, landedState: landed }))
    },
    MANUAL_CONTROL: m => console.log(`manual ${m.x} ${m.y} ${m.z} ${m.r} ${m.buttons} ${m.aux1} ${m.aux2}`),
    OPEN_DRONE_ID_SYSTEM: m => console.log(`odid_system ${m.operatorLatitude} ${m.operatorLongitude} ${m.timestamp}`),
  }
  const REGISTRY = { ...minimal.REGISTRY, ...common.REGISTRY }
  socket.on('message', bytes => {
    if (answeredSync(bytes)) return
    const splitter = new MavLinkPacketSplitter()
    const parser = new MavLinkPacketParser()
    splitter.pipe(parser)
    parser.on('data', packet => {
      const clazz = REGISTRY[packet.header.msgid]
      if (!clazz) return
      const message = packet.protocol.data(packet.payload, clazz)
      const targeted = message.targetSystem === undefined || (message.targetSystem === 1 &&
        (message.targetComponent === 1 || message.targetComponent === 0 || clazz.MSG_NAME === 'OPEN_DRONE_ID_SYSTEM'))
      if (clazz.MSG_NAME === 'MANUAL_CONTROL' || clazz.MSG_NAME === 'OPEN_DRONE_ID_SYSTEM' || targeted) {
        const handler = handlers[clazz.MSG_NAME]
        if (handler) handler(message, packet.header)
      }
    })
    splitter.write(bytes)
  })
  const finish = () => { socket.close(); process.exit(0) }
  process.stdin.on('data', text => { if (String(text).includes('stop')) finish() })
  setTimeout(finish, maxSeconds * 1000)
  socket.bind(localPort, '127.0.0.1', () => {
    console.log('ready')
    const early = setInterval(() => { if (heard) clearInterval(early); else telemetry() }, 50)
  })
}

// The payload frame codec, written from the frame table: 0xB7, length, sequence, version 1, type,
// body, checksum high and low over everything before the checksum.
function payloadChecksum(bytes) {
  let s1 = 0, s2 = 0
  for (const b of bytes) { s1 = (s1 + (b ^ 0xB7)) % 255; s2 = (s2 + s1) % 255 }
  return [s2, s1]
}
function payloadFrame(type, body, sequence) {
  const head = [0xB7, body.length + 7, sequence & 255, 1, type, ...body]
  return Buffer.from([...head, ...payloadChecksum(head)])
}
function readPayloadFrame(bytes) {
  if (bytes.length < 7 || bytes[0] !== 0xB7) return null
  const length = bytes[1]
  if (length < 7 || length > bytes.length) return null
  const [high, low] = payloadChecksum(bytes.subarray(0, length - 2))
  if (bytes[length - 2] !== high || bytes[length - 1] !== low) return null
  return { sequence: bytes[2], type: bytes[4], body: bytes.subarray(5, length - 2) }
}
function encapsulated(frame) {
  const data = Array.from({ length: 253 }, (_, i) => (i + 2 < frame.length ? frame[i + 2] : 0))
  return Object.assign(new common.EncapsulatedData(), { seqnr: frame[0] | frame[1] << 8, data })
}

function payloads(vehiclePort, voskAPort, voskBPort, gcsPort, maxSeconds) {
  const vehicleProto = new MavLinkProtocolV2(1, 1)
  const payloadProto = new MavLinkProtocolV2(1, 25)
  const unitProto = [new MavLinkProtocolV2(1, 26), new MavLinkProtocolV2(1, 27)]
  const sockets = { vehicle: dgram.createSocket('udp4'), voskA: dgram.createSocket('udp4'), voskB: dgram.createSocket('udp4') }
  let seq = 0, frameSeq = 0
  // "done" is printed once every datagram of the command has reached the kernel (on the loopback
  // it is then in the station's receive buffer), so the station reads it on its next frame.
  let sending = 0, afterSent = []
  const send = (socket, proto, message) => {
    sending++
    socket.send(proto.serialize(message, seq++ & 255), gcsPort, '127.0.0.1', () => {
      if (--sending === 0) { const waiting = afterSent; afterSent = []; for (const f of waiting) f() }
    })
  }
  const whenSent = f => { if (sending === 0) f(); else afterSent.push(f) }
  const sendFrame = (socket, proto, type, body) => send(socket, proto, encapsulated(payloadFrame(type, body, frameSeq++)))
  const u16 = v => [(v >> 8) & 255, v & 255]
  const commands = {
    vehicle: ([landed, main, sub, lat, lon, relAlt, vn, ve]) => {
      send(sockets.vehicle, vehicleProto, Object.assign(new minimal.Heartbeat(), { type: minimal.MavType.QUADROTOR,
        autopilot: minimal.MavAutopilot.PX4, baseMode: minimal.MavModeFlag.CUSTOM_MODE_ENABLED,
        customMode: (Number(main) << 16) | (Number(sub) << 24), systemStatus: minimal.MavState.ACTIVE, mavlinkVersion: 3 }))
      send(sockets.vehicle, vehicleProto, Object.assign(new common.ExtendedSysState(), { vtolState: 0, landedState: Number(landed) }))
      send(sockets.vehicle, vehicleProto, Object.assign(new common.HomePosition(), { latitude: Math.round(Number(lat) * 1e7),
        longitude: Math.round(Number(lon) * 1e7), altitude: 478000 }))
      send(sockets.vehicle, vehicleProto, Object.assign(new common.GlobalPositionInt(), { timeBootMs: 1000,
        lat: Math.round(Number(lat) * 1e7), lon: Math.round(Number(lon) * 1e7), alt: 498000,
        relativeAlt: Math.round(Number(relAlt) * 1000), vx: Math.round(Number(vn) * 100), vy: Math.round(Number(ve) * 100),
        vz: 0, hdg: 0 }))
    },
    orvik: ([state, a, b, dropping, chute, word]) => {
      const status = [Number(state), ...u16(Number(a)), ...u16(Number(b)), 0, 0, 0, 0, 126, 50, Number(dropping), 0, 0, 0, 0,
        Number(chute) & 255, 20, 25]
      const bits = BigInt('0x' + word)
      for (let i = 7; i >= 0; i--) status.push(Number((bits >> BigInt(8 * i)) & 255n))
      sendFrame(sockets.vehicle, payloadProto, 5, status)
    },
    version: () => sendFrame(sockets.vehicle, payloadProto, 6, [0, 0, 0, 7, 1, 2, 3, 4, 0, 9,
      ...Buffer.from('2.1\0' + '2026-01-02\0' + '1.0\0' + '2025-12-01')]),
    vosk: ([unit, flags, safetyA, dropA, safetyB, dropB]) => {
      const body = [Number(flags) | Number(unit), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9,
        Number(safetyA), Number(dropA), ...u16(100), ...u16(200), Number(safetyB), Number(dropB), ...u16(300), ...u16(400)]
      const socket = Number(unit) === 0 ? sockets.voskA : sockets.voskB
      sendFrame(socket, unitProto[Number(unit)], 7, body)
    },
    light: ([brightness, pattern, mode]) => sendFrame(sockets.vehicle, payloadProto, 10, [Number(brightness), Number(pattern), Number(mode)]),
  }
  const finish = () => { for (const socket of Object.values(sockets)) socket.close(); process.exit(0) }
  let pendingInput = ''
  process.stdin.on('data', text => {
    pendingInput += String(text)
    let newline
    while ((newline = pendingInput.indexOf('\n')) >= 0) {
      const [name, ...words] = pendingInput.slice(0, newline).trim().split(/\s+/)
      pendingInput = pendingInput.slice(newline + 1)
      if (name === 'stop') finish()
      if (commands[name]) { commands[name](words); whenSent(() => console.log('done')) }
    }
  })
  for (const [name, socket] of Object.entries(sockets)) {
    socket.on('message', bytes => {
      if (answeredSync(bytes)) return
      const splitter = new MavLinkPacketSplitter()
      const parser = new MavLinkPacketParser()
      splitter.pipe(parser)
      parser.on('data', packet => {
        if (packet.header.msgid !== 131) return
        const frame = readPayloadFrame(packet.payload)
        if (!frame) { console.log(`rx ${name} bad`); return }
        console.log(`rx ${name} ${frame.type} ${frame.sequence} ${Buffer.from(frame.body).toString('hex')} ${packet.header.seq} ` +
          `${packet.buffer[0] === 0xFE ? 1 : 2}`)
      })
      splitter.write(bytes)
    })
  }
  setTimeout(finish, maxSeconds * 1000)
  let bound = 0
  const ports = { vehicle: vehiclePort, voskA: voskAPort, voskB: voskBPort }
  for (const [name, socket] of Object.entries(sockets)) {
    socket.bind(ports[name], '127.0.0.1', () => { if (++bound === 3) console.log('ready') })
  }
}

// The ArduCopter stand-in, paced by the ground station like the PX4 one. It starts on the ground,
// disarmed, in LOITER, holding a mission of 2 items, and streams nothing but its HEARTBEAT until it
// is asked with SET_MESSAGE_INTERVAL; then each asked stream goes out once per datagram of the
// station. Lines it prints:
//   interval ID MICROSECONDS | command CMD P1 P2 P3 | count N | clear | cancel | refused SEQ |
//   item SEQ CMD FRAME P1 P2 P3 P4 LAT LON ALT | mission_stored N | odid_system LAT LON TIMESTAMP SYS COMP |
//   basic_id ID_TYPE UA_TYPE UAS_ID SYS COMP | prearm | phase STATION_HEARTBEAT STATE MODE ALTITUDE | traffic STEP
// Options: streams=ID,ID streams those ids always and ignores the interval requests; refuse=SEQ:TYPE;
// prearm sends the Remote ID pre-arm text at the station's second HEARTBEAT; takeoff=N arms and
// climbs 1.5 m per station HEARTBEAT from the station's HEARTBEAT N up to 12 m (RTL and LAND come
// down 4 m per HEARTBEAT and disarm on the ground); traffic sends one step of the ADS-B script per
// station HEARTBEAT from the third on.
function arducopter(localPort, gcsPort, maxSeconds, options) {
  const proto = new MavLinkProtocolV2(1, 1)
  const socket = dgram.createSocket('udp4')
  let seq = 0
  const send = message => socket.send(proto.serialize(message, seq++ & 255), gcsPort, '127.0.0.1')
  let mode = 5, armed = false, altitude = 0
  let stored = [{}, {}]
  let expected = 0, items = [], refusal = null, itemSinceHeartbeat = false
  let heard = false, stationHeartbeats = 0, takeoffAt = 0
  let asked = new Set(), fixed = null
  for (const option of options) {
    if (option.startsWith('refuse=')) { const [at, type] = option.slice(7).split(':').map(Number); refusal = { at, type } }
    if (option.startsWith('streams=')) fixed = new Set(option.slice(8).split(',').map(Number))
    if (option.startsWith('takeoff=')) takeoffAt = Number(option.slice(8))
  }
  const lat = 473977420, lon = 85455940
  const heartbeatMessage = () => Object.assign(new minimal.Heartbeat(), { type: minimal.MavType.QUADROTOR,
    autopilot: minimal.MavAutopilot.ARDUPILOTMEGA,
    baseMode: minimal.MavModeFlag.CUSTOM_MODE_ENABLED | (armed ? minimal.MavModeFlag.SAFETY_ARMED : 0),
    customMode: mode, systemStatus: armed ? minimal.MavState.ACTIVE : minimal.MavState.STANDBY, mavlinkVersion: 3 })
  const streamMessages = {
    1: () => Object.assign(new common.SysStatus(), { voltageBattery: 15800, currentBattery: 100, batteryRemaining: 80 }),
    30: () => Object.assign(new common.Attitude(), { timeBootMs: 1000, roll: 0, pitch: 0, yaw: 1 }),
    33: () => Object.assign(new common.GlobalPositionInt(), { timeBootMs: 1000, lat, lon,
      alt: 488000 + Math.round(altitude * 1000), relativeAlt: Math.round(altitude * 1000), vx: 0, vy: 0, vz: 0, hdg: 0 }),
    24: () => Object.assign(new common.GpsRawInt(), { lat, lon, alt: 488000, fixType: 3, satellitesVisible: 14,
      eph: 90, epv: 120, vel: 0, cog: 0, hAcc: 800 }),
    242: () => Object.assign(new common.HomePosition(), { latitude: 473970000, longitude: 85450000, altitude: 488000 }),
  }
  const stream = () => { for (const id of (fixed || asked)) if (streamMessages[id]) send(streamMessages[id]()) }
  // The ADS-B script, around the vehicle at 47.397742 N 8.545594 E: an aircraft 800 m MSL passing
  // east of it at 1010, 900, 800, 1200 and 500 m; one 1500 m MSL 100 m away last heard 7 s ago and
// one at 0/0; then 64 more far above; then one more.
  const east = metres => lon + Math.round(metres / (111319.49 * Math.cos(47.397742 * Math.PI / 180)) * 1e7)
  const adsb = (icao, latitude, longitude, altitudeMm, tslc, callsign) => Object.assign(new common.AdsbVehicle(), {
    ICAOAddress: icao, lat: latitude, lon: longitude, altitudeType: 1, altitude: altitudeMm, heading: 9000,
    horVelocity: 5000, verVelocity: 0, callsign, emitterType: 1, tslc, flags: 3, squawk: 1200 })
  const trafficSteps = [
    () => [adsb(0xabcdef, lat, east(1010), 800000, 0, 'INTRUDER')],
    () => [adsb(0xabcdef, lat, east(900), 800000, 0, 'INTRUDER')],
    () => [adsb(0xabcdef, lat, east(800), 800000, 0, 'INTRUDER')],
    () => [adsb(0xabcdef, lat, east(1200), 800000, 0, 'INTRUDER')],
    () => [adsb(0xabcdef, lat, east(500), 800000, 0, 'INTRUDER')],
    () => [adsb(0x4000, lat, east(100), 1500000, 7, 'HIGH'), adsb(0x0, 0, 0, 100000, 0, 'NOWHERE')],
    () => Array.from({ length: 64 }, (_, i) => adsb(0x100 + i, lat + 200000 + 1000 * i, lon, 2000000, 0, 'F' + i)),
    () => [adsb(0x999, lat - 200000, lon, 2000000, 0, 'LATE')],
  ]
  const requestItem = () => send(Object.assign(new common.MissionRequest(), { seq: items.length, targetSystem: 255,
    targetComponent: 190, missionType: 0 }))
  const ack = type => send(Object.assign(new common.MissionAck(), { targetSystem: 255, targetComponent: 190, type,
    missionType: 0 }))
  const fly = () => {
    if (takeoffAt && stationHeartbeats === takeoffAt) { armed = true; mode = 5 }
    else if (armed && (mode === 6 || mode === 9)) {
      if (altitude === 0) armed = false
      else altitude = Math.max(0, altitude - 4)
    } else if (armed && takeoffAt && stationHeartbeats > takeoffAt && altitude < 12) altitude += 1.5
    console.log(`phase ${stationHeartbeats} ${armed ? 4 : 3} ${mode} ${altitude}`)
  }
  const handlers = {
    HEARTBEAT: () => {
      heard = true
      stationHeartbeats++
      fly()
      send(heartbeatMessage())
      if (stationHeartbeats === 2 && options.includes('prearm')) {
        send(Object.assign(new common.StatusText(), { severity: 4, text: 'PreArm: OpenDroneID: UA_TYPE required in BasicID' }))
        console.log('prearm')
      }
      const step = stationHeartbeats - 3
      if (options.includes('traffic') && step >= 0 && step < trafficSteps.length) {
        for (const message of trafficSteps[step]()) send(message)
        console.log('traffic ' + step)
      }
      if (expected && !itemSinceHeartbeat) requestItem()
      itemSinceHeartbeat = false
    },
    MISSION_REQUEST_LIST: () => send(Object.assign(new common.MissionCount(), { count: stored.length, targetSystem: 255,
      targetComponent: 190, missionType: 0 })),
    MISSION_CLEAR_ALL: () => { console.log('clear'); stored = []; ack(0) },
    MISSION_ACK: m => { if (m.type === 15) { console.log('cancel'); expected = 0; items = [] } },
    MISSION_COUNT: m => {
      console.log('count ' + m.count)
      stored = []; items = []
      expected = m.count
      if (m.count === 0) ack(0); else requestItem()
    },
    MISSION_ITEM: m => {
      if (!expected || m.seq !== items.length) return
      itemSinceHeartbeat = true
      items.push(m)
      console.log(`item ${m.seq} ${m.command} ${m.frame} ${m.param1} ${m.param2} ${m.param3} ${m.param4} ${Math.round(m.x * 1e7)} ${Math.round(m.y * 1e7)} ${m.z.toFixed(2)}`)
      if (refusal && m.seq === refusal.at) {
        console.log('refused ' + m.seq)
        ack(refusal.type); refusal = null; expected = 0; items = []
        return
      }
      if (items.length < expected) { requestItem(); return }
      stored = items; items = []; expected = 0
      console.log('mission_stored ' + stored.length)
      ack(0)
    },
    COMMAND_LONG: m => {
      let result = 3
      if (m.command === 511) {
        console.log(`interval ${m._param1} ${m._param2}`)
        if (!fixed) asked.add(m._param1)
        result = 0
      } else {
        console.log(`command ${m.command} ${m._param1} ${m._param2} ${m._param3}`)
        // AUTO only with a mission and in the air.
        if (m.command === 176 && (m._param2 !== 3 || (armed && stored.length))) { mode = Math.trunc(m._param2); result = 0 }
        if (m.command === 400 && m._param1 === 0) { armed = false; altitude = 0; result = 0 }
      }
      send(Object.assign(new common.CommandAck(), { command: m.command, result }))
      send(heartbeatMessage())
    },
    OPEN_DRONE_ID_SYSTEM: m => console.log(`odid_system ${m.operatorLatitude} ${m.operatorLongitude} ${m.timestamp} ${m.targetSystem} ${m.targetComponent}`),
    OPEN_DRONE_ID_BASIC_ID: m => console.log(`basic_id ${m.idType} ${m.uaType} ${Buffer.from(m.uasId).toString('latin1').replace(/\0+$/, '')} ${m.targetSystem} ${m.targetComponent}`),
  }
  const REGISTRY = { ...minimal.REGISTRY, ...common.REGISTRY }
  socket.on('message', bytes => {
    if (answeredSync(bytes)) return
    const splitter = new MavLinkPacketSplitter()
    const parser = new MavLinkPacketParser()
    splitter.pipe(parser)
    parser.on('data', packet => {
      const clazz = REGISTRY[packet.header.msgid]
      if (!clazz) return
      const message = packet.protocol.data(packet.payload, clazz)
      if (message.targetSystem !== undefined && (message.targetSystem !== 1 || message.targetComponent !== 1)) return
      const handler = handlers[clazz.MSG_NAME]
      if (handler) handler(message, packet.header)
    })
    splitter.write(bytes)
    if (heard) stream()
  })
  const finish = () => { socket.close(); process.exit(0) }
  process.stdin.on('data', text => { if (String(text).includes('stop')) finish() })
  setTimeout(finish, maxSeconds * 1000)
  socket.bind(localPort, '127.0.0.1', () => {
    console.log('ready')
    const early = setInterval(() => { if (heard) clearInterval(early); else { send(heartbeatMessage()); stream() } }, 50)
  })
}

// The ground station: parameters by name and by index (and indexes that name nothing), a set and
// a set of the wrong type, a 5-item mission up and back down, and the modes.
function gcs(localPort, vehiclePort, maxSeconds) {
  const proto = new MavLinkProtocolV1(255, 190)
  const socket = dgram.createSocket('udp4')
  let seq = 0
  const send = message => socket.send(proto.serialize(message, seq++ & 255), vehiclePort, '127.0.0.1')
  const REGISTRY = { ...minimal.REGISTRY, ...common.REGISTRY }
  let waiting = null  // { name, test, resolve }
  let lastHeartbeat = null
  socket.on('message', bytes => {
    const splitter = new MavLinkPacketSplitter()
    const parser = new MavLinkPacketParser()
    splitter.pipe(parser)
    parser.on('data', packet => {
      const clazz = REGISTRY[packet.header.msgid]
      if (!clazz || packet.header.sysid !== 1 || packet.header.compid !== 1) return
      const message = packet.protocol.data(packet.payload, clazz)
      if (clazz.MSG_NAME === 'HEARTBEAT') lastHeartbeat = message
      if (waiting && waiting.name === clazz.MSG_NAME && waiting.test(message)) {
        const done = waiting
        waiting = null
        done.resolve(message)
      }
    })
    splitter.write(bytes)
  })
  // Sends, then waits for a message; asks again every 200 ms, gives up (null) after `ms`.
  const ask = (sendIt, name, test = () => true, ms = 4000) => new Promise(resolve => {
    const started = Date.now()
    waiting = { name, test, resolve: m => { clearInterval(timer); resolve(m) } }
    const timer = setInterval(() => {
      if (Date.now() - started > ms) { clearInterval(timer); waiting = null; resolve(null); return }
      if (sendIt) sendIt()
    }, 200)
    if (sendIt) sendIt()
  })
  const heartbeat = () => send(Object.assign(new minimal.Heartbeat(), { type: minimal.MavType.GCS,
    autopilot: minimal.MavAutopilot.INVALID, baseMode: 0xC0, customMode: 0, systemStatus: 4, mavlinkVersion: 3 }))
  const readParam = (name, index) => send(Object.assign(new common.ParamRequestRead(), { targetSystem: 1,
    targetComponent: 1, paramId: name, paramIndex: index }))
  const printParam = m => {
    const bytes = Buffer.alloc(4); bytes.writeFloatLE(m.paramValue)
    const value = m.paramType === 6 ? bytes.readInt32LE(0) : Number(bytes.readFloatLE(0).toPrecision(7))
    console.log(`param ${m.paramId} ${m.paramIndex} ${m.paramType} ${m.paramCount} ${value}`)
  }
  const mission = [
    { command: 178, frame: 2, p: [1, 7.5, -1, 0], x: 0, y: 0, z: 0 },
    { command: 16, frame: 3, p: [0, 2, 0, 0], x: 473977420, y: 85455940, z: 30 },
    { command: 203, frame: 2, p: [0, 0, 0, 0], x: 0, y: 0, z: 0 },
    { command: 16, frame: 3, p: [0, 2.5, 0, 0], x: 473987420, y: 85465940, z: 40.25 },
    { command: 16, frame: 3, p: [0, 3, 0, 0], x: 473967420, y: 85445940, z: 12.5 },
  ]
  const itemMessage = i => Object.assign(new common.MissionItemInt(), { targetSystem: 1, targetComponent: 1, seq: i,
    frame: mission[i].frame, command: mission[i].command, current: 0, autocontinue: 1, param1: mission[i].p[0],
    param2: mission[i].p[1], param3: mission[i].p[2], param4: mission[i].p[3], x: mission[i].x, y: mission[i].y,
    z: mission[i].z, missionType: 0 })
  const setMode = (main, sub) => send(Object.assign(new common.CommandLong(), { targetSystem: 1, targetComponent: 1,
    command: 176, confirmation: 0, _param1: 1, _param2: main, _param3: sub, _param4: 0, _param5: 0, _param6: 0, _param7: 0 }))
  async function script() {
    const hb = await ask(heartbeat, 'HEARTBEAT')
    if (!hb) { console.log('no_answer heartbeat'); return }
    console.log(`heartbeat ${hb.type} ${hb.autopilot} ${hb.systemStatus} ${(hb.customMode >> 16) & 255} ${(hb.customMode >> 24) & 255}`)
    const beat = setInterval(heartbeat, 500)
    for (const name of ['MIS_DIST_1WP', 'NAV_RCL_ACT', 'MPC_XY_CRUISE', 'BOOM3_COLOR']) {
      const m = await ask(() => readParam(name, -1), 'PARAM_VALUE', v => v.paramId === name)
      if (m) printParam(m); else console.log('no_answer ' + name)
    }
    for (const index of [0, 61, 62, 83]) {
      const m = await ask(() => readParam('', index), 'PARAM_VALUE', v => v.paramIndex === index)
      if (m) printParam(m); else console.log('no_answer index ' + index)
    }
    for (const index of [84, 300, -2]) {
      // Any answer naming that index, or an index no slot has (a late repeat of an earlier answer
      // names its own slot).
      const m = await ask(() => readParam('', index), 'PARAM_VALUE', v => v.paramIndex === (index & 0xFFFF) ||
        v.paramIndex >= 84, 400)
      if (m) printParam(m); else console.log('no_answer index ' + index)
    }
    const nope = await ask(() => readParam('NOT_A_PARAM', -1), 'PARAM_VALUE', v => v.paramId === 'NOT_A_PARAM', 400)
    if (!nope) console.log('no_answer NOT_A_PARAM')
    // A set, then a set of an INT32 parameter as REAL32 (ignored), each read back.
    send(Object.assign(new common.ParamSet(), { targetSystem: 1, targetComponent: 1, paramId: 'MPC_XY_CRUISE',
      paramValue: 12.5, paramType: 9 }))
    send(Object.assign(new common.ParamSet(), { targetSystem: 1, targetComponent: 1, paramId: 'NAV_RCL_ACT',
      paramValue: 7.0, paramType: 9 }))
    for (const name of ['MPC_XY_CRUISE', 'NAV_RCL_ACT']) {
      const m = await ask(() => readParam(name, -1), 'PARAM_VALUE', v => v.paramId === name)
      if (m) printParam(m); else console.log('no_answer ' + name)
    }
    // Upload: the vehicle asks for each item.
    let request = await ask(() => send(Object.assign(new common.MissionCount(), { targetSystem: 1, targetComponent: 1,
      count: mission.length, missionType: 0 })), 'MISSION_REQUEST_INT', r => r.seq === 0)
    let ack = null
    while (request && !ack) {
      const next = request.seq + 1
      const reply = await ask(() => send(itemMessage(request.seq)),
        next < mission.length ? 'MISSION_REQUEST_INT' : 'MISSION_ACK', r => next < mission.length ? r.seq === next : true)
      if (next < mission.length) request = reply; else ack = reply
    }
    console.log(ack ? `ack ${ack.type}` : 'no_answer upload')
    // Download.
    const count = await ask(() => send(Object.assign(new common.MissionRequestList(), { targetSystem: 1,
      targetComponent: 1, missionType: 0 })), 'MISSION_COUNT')
    console.log(count ? `count ${count.count}` : 'no_answer count')
    for (let i = 0; count && i < count.count; i++) {
      const m = await ask(() => send(Object.assign(new common.MissionRequestInt(), { targetSystem: 1, targetComponent: 1,
        seq: i, missionType: 0 })), 'MISSION_ITEM_INT', r => r.seq === i)
      if (!m) { console.log('no_answer item ' + i); continue }
      console.log(`item ${m.seq} ${m.command} ${m.frame} ${m.param1} ${m.param2} ${m.param3} ${m.param4} ${m.x} ${m.y} ${m.z} ${m.autocontinue}`)
    }
    // Modes: return, then position control, then an arming command (not supported).
    for (const [main, sub] of [[4, 5], [3, 0]]) {
      const a = await ask(() => setMode(main, sub), 'COMMAND_ACK', r => r.command === 176)
      console.log(a ? `command_ack ${a.command} ${a.result}` : 'no_answer mode')
      const h = await ask(null, 'HEARTBEAT', r => ((r.customMode >> 16) & 255) === main && ((r.customMode >> 24) & 255) === sub)
      console.log(h ? `mode ${main} ${sub}` : 'no_answer heartbeat mode')
    }
    const arm = await ask(() => send(Object.assign(new common.CommandLong(), { targetSystem: 1, targetComponent: 1,
      command: 400, confirmation: 0, _param1: 1, _param2: 0, _param3: 0, _param4: 0, _param5: 0, _param6: 0, _param7: 0 })),
      'COMMAND_ACK', r => r.command === 400)
    console.log(arm ? `command_ack ${arm.command} ${arm.result}` : 'no_answer arm')
    clearInterval(beat)
  }
  const finish = () => { socket.close(); process.exit(0) }
  process.stdin.on('data', text => { if (String(text).includes('stop')) finish() })
  setTimeout(finish, maxSeconds * 1000)
  socket.bind(localPort, '127.0.0.1', () => {
    console.log('ready')
    script().then(() => { console.log('done'); finish() })
  })
}

function flight(count) {
  const proto = new MavLinkProtocolV2(1, 1)
  let seq = 0
  let ms = 0
  const f32 = value => Math.fround(value)
  for (let i = 0; i < count; i++) {
    ms += 40 + next() % 2500
    const lat = 473977420 + (next() % 200000) - 100000
    const lon = 85455940 + (next() % 200000) - 100000
    const relativeAlt = next() % 120000
    const roll = f32((next() % 2000 - 1000) / 1000)
    const pitch = f32((next() % 2000 - 1000) / 1000)
    const yaw = f32((next() % 6000 - 3000) / 1000)
    const frames = [
      heartbeat(minimal.MavType.QUADROTOR, minimal.MavAutopilot.PX4),
      Object.assign(new common.Attitude(), { timeBootMs: ms, roll, pitch, yaw }),
      Object.assign(new common.GlobalPositionInt(), { timeBootMs: ms, lat, lon, alt: 488000 + relativeAlt,
        relativeAlt, vx: 100, vy: -50, vz: 25, hdg: 9000 }),
    ].map(message => proto.serialize(message, seq++ & 255))
    console.log(`datagram ${ms} ${Buffer.concat(frames).toString('hex')}`)
    console.log(`expect ${lat} ${lon} ${relativeAlt} ${roll} ${pitch} ${yaw}`)
  }
}

function exportFlight() {
  const protocols = {}
  const sequences = {}
  const frame = (system, component, message) => {
    const key = system * 256 + component
    if (!protocols[key]) { protocols[key] = new MavLinkProtocolV2(system, component); sequences[key] = 0 }
    return protocols[key].serialize(message, sequences[key]++ & 255)
  }
  const datagram = (type, ms, frames) => console.log(`d ${type} ${ms} ${Buffer.concat(frames).toString('hex')}`)
  const bytes = (text, n) => Array.from({ length: n }, (_, i) => i < text.length ? text.charCodeAt(i) : 0)
  const f32 = value => Math.fround(value)
  const camera = message => frame(1, 100, message)
  console.log('camera 100')
  datagram(1, 100, [camera(Object.assign(new minimal.Heartbeat(), { type: 30, autopilot: 8, baseMode: 0, customMode: 0,
    systemStatus: 4, mavlinkVersion: 3 })), camera(Object.assign(new common.CameraInformation(), { timeBootMs: 5,
    vendorName: bytes('Sony', 32), modelName: bytes('Stand-in', 32), firmwareVersion: 1, focalLength: 4.5, sensorSizeH: 6,
    sensorSizeV: 4, resolutionH: 1920, resolutionV: 1080, lensId: 0, flags: 0, camDefinitionVersion: 0, camDefinitionUri: '' }))])
  let frameSeq = 0
  const payloadDatagram = (ms, type, body) =>
    datagram(1, ms, [frame(1, 25, encapsulated(payloadFrame(type, body, frameSeq++)))])
  const u16 = v => [(v >> 8) & 255, v & 255]
  const be = (v, n) => { const out = []; let x = BigInt(v); for (let i = n - 1; i >= 0; i--) out.push(Number((x >> BigInt(8 * i)) & 255n)); return out }
  const orvik = (ms, a, b) => {
    payloadDatagram(ms, 5, [3, ...u16(a), ...u16(b), 0, 0, 0, 0, 126, 50, 0, 0, 0, 0, 0, 20, 20, 25, 0, 0, 0, 0, 0, 0, 0, 0])
    console.log(`orvik ${ms} ${a} ${b}`)
  }
  const counters = (ms, count, period, range) => {
    const messageTs = 5000000 + ms, lastPhoto = messageTs - 50
    payloadDatagram(ms, 4, [...be(1, 4), ...be(2, 4), ...be(range, 4), 0, ...be(period, 2), ...be(messageTs, 8),
      ...be(lastPhoto, 8), ...be(count, 4)])
    console.log(`counters ${ms} ${count} ${period} ${messageTs} ${lastPhoto} ${range}`)
  }
  const start = Number(args[0])
  const photo = (ms, utcMs, name) => {
    datagram(1, ms, [camera(Object.assign(new common.CameraImageCaptured(), { timeUtc: BigInt(utcMs) * 1000n, timeBootMs: ms,
      lat: 0, lon: 0, alt: 0, relativeAlt: 0, q: [1, 0, 0, 0], imageIndex: 1, cameraId: 0, captureResult: 1, fileUrl: name }))])
    console.log(`photo ${ms} ${BigInt(utcMs) * 1000n} ${Buffer.from(name).toString('hex')}`)
  }
  const snapshot = (ms, name) => {
    const b = Buffer.alloc(254)
    b.writeUInt16LE(5, 0)
    Buffer.from(name).copy(b, 2)
    datagram(2, ms, [frame(255, 190, Object.assign(new common.V2Extension(), { messageType: b.readUInt16LE(0),
      targetNetwork: b[2], targetSystem: b[3], targetComponent: b[4], payload: Array.from(b.subarray(5)) }))])
    console.log(`snapshot ${ms} ${Buffer.from(name).toString('hex')}`)
  }
  const events = {
    1000: () => orvik(1000, 12, 0), 4000: () => orvik(4000, 13, 0), 6000: () => orvik(6000, 14, 1),
    8000: () => orvik(8000, 14, 1),
    3000: () => photo(3000, start + 2900, 'a,b.jpg'), 5000: () => photo(5000, start + 4950, 'q"uote.jpg'),
    7000: () => photo(7000, start + 7400, 'line\nfeed\r.jpg'),
    10000: () => counters(10000, 3, 200, 1234), 12000: () => counters(12000, 4, 200, 1250),
    14000: () => counters(14000, 11, 150, -7), 19000: () => snapshot(19000, 'nv_snap,1.jpg'),
  }
  let ms = 0
  for (let i = 0; i < 80; i++) {
    ms = 200 + 250 * i
    const lat = -335000000 + (next() % 200000) - 100000
    const lon = 1510000000 + (next() % 200000) - 100000
    const relativeAlt = next() % 120000
    const gpsAlt = 400000 + next() % 100000
    const roll = f32((next() % 2000 - 1000) / 2000)
    const pitch = f32((next() % 2000 - 1000) / 2000)
    const yaw = f32((next() % 6000 - 3000) / 1000)
    const vx = next() % 2000 - 1000, vy = next() % 2000 - 1000
    datagram(1, ms, [
      frame(1, 1, heartbeat(minimal.MavType.QUADROTOR, minimal.MavAutopilot.PX4)),
      frame(1, 1, Object.assign(new common.Attitude(), { timeBootMs: ms, roll, pitch, yaw })),
      frame(1, 1, Object.assign(new common.GpsRawInt(), { timeUsec: BigInt(ms) * 1000n, lat, lon, alt: gpsAlt, eph: 100,
        epv: 100, vel: 0, cog: 0, fixType: 3, satellitesVisible: 12 })),
      frame(1, 1, Object.assign(new common.GlobalPositionInt(), { timeBootMs: ms, lat, lon, alt: gpsAlt, relativeAlt,
        vx, vy, vz: 0, hdg: 9000 })),
    ])
    console.log(`pos ${ms} ${lat} ${lon} ${relativeAlt} ${gpsAlt} ${roll} ${pitch} ${yaw} ${vx} ${vy}`)
    if (i % 4 === 1) {
      const q = [next() % 2000 - 1000, next() % 2000 - 1000, next() % 2000 - 1000, next() % 2000 - 1000]
      const norm = Math.hypot(...q) || 1
      const unit = q.map(v => f32(v / norm))
      datagram(1, ms + 20, [frame(1, 154, Object.assign(new common.GimbalDeviceAttitudeStatus(), { timeBootMs: ms, q: unit,
        angularVelocityX: 0, angularVelocityY: 0, angularVelocityZ: 0, failureFlags: 0, flags: 0, targetSystem: 0,
        targetComponent: 0 }))])
      console.log(`gimbal ${ms + 20} ${unit.join(' ')}`)
    }
    for (const at of Object.keys(events).map(Number)) {
      if (at > ms - 250 && at <= ms) events[at]()
    }
  }
}

function camera(localPort, gcsPort, maxSeconds, kind, options) {
  const socket = dgram.createSocket('udp4')
  const protocols = {}
  const sequences = {}
  const sendAs = (system, component, message) => {
    const key = system * 256 + component
    if (!protocols[key]) { protocols[key] = new MavLinkProtocolV2(system, component); sequences[key] = 0 }
    socket.send(protocols[key].serialize(message, sequences[key]++ & 255), gcsPort, '127.0.0.1')
  }
  const option = name => { const found = options.find(o => o.startsWith(name + '=')); return found ? found.slice(name.length + 1) : null }
  let silentInfo = Number(option('silent-info') || 0)
  // "versions=X:Y:Z" gives the three version parameters as they are (7.9:2:0), "firmware" as digits.
  const firmware = option('versions') ? option('versions').split(':').map(Number)
    : (option('firmware') || '7.5.8').split('.').map(Number)
  const camera = kind === 'sony' || kind === 'workswell'
  const vendor = kind === 'sony' ? 'Sony' : 'WORKSWELL'
  const bytes = (text, n) => Array.from({ length: n }, (_, i) => i < text.length ? text.charCodeAt(i) : 0)
  let mode = 0, recording = 0, images = 0
  // Extended parameters: name -> [index, type, value]
  const ext = kind === 'sony'
    ? { CAM_MODE: [0, 1, 0], CAM_EV: [5, 1, 3], CAM_VND_80000000: [2, 1, 7], CAM_ISO: [6, 2, 9] }
    : { LAYOUT_MAIN: [4, 6, 1] }
  if (kind === 'sony' && option('exposure') !== null) ext.CAM_EXPMODE = [3, 1, Number(option('exposure'))]
  const extValue = name => {
    const [index, type, value] = ext[name]
    return Object.assign(new common.ParamExtValue(), { paramId: name, paramValue: value ? String.fromCharCode(value) : '',
      paramType: type, paramCount: 20, paramIndex: index })
  }
  const gremsyParams = { VERSION_X: [0, firmware[0]], VERSION_Y: [67, firmware[1]], VERSION_Z: [68, firmware[2]],
    HEARTBEAT_EMIT: [72, 1], STATUS_RATE: [73, 0], ENC_CNT_RATE: [74, 0], ENC_TYPE_SEND: [75, 0], ORIEN_RATE: [76, 10],
    IMU_RATE: [77, 0] }
  const gremsyValue = name => Object.assign(new common.ParamValue(), { paramId: name, paramValue: gremsyParams[name][1],
    paramType: 9, paramCount: 100, paramIndex: gremsyParams[name][0] })
  const nextVisionReport = (type, fill) => {
    const b = Buffer.alloc(254)
    b.writeUInt16LE(type, 0)
    fill(b)
    sendAs(255, 190, Object.assign(new common.V2Extension(), { messageType: b.readUInt16LE(0), targetNetwork: b[2],
      targetSystem: b[3], targetComponent: b[4], payload: Array.from(b.subarray(5)) }))
  }
  const heartbeat = () => {
    sendAs(1, 1, Object.assign(new minimal.Heartbeat(), { type: 2, autopilot: 0, baseMode: 0, customMode: 0,
      systemStatus: 4, mavlinkVersion: 3 }))
    if (camera) {
      sendAs(1, 100, Object.assign(new minimal.Heartbeat(), { type: 30, autopilot: 8, baseMode: 0, customMode: 0,
        systemStatus: 4, mavlinkVersion: 3 }))
    }
    if (kind === 'sony') {
      sendAs(1, 100, Object.assign(new common.GimbalManagerStatus(), { timeBootMs: 1, flags: 0, gimbalDeviceId: 154,
        primaryControlSysid: 255, primaryControlCompid: 190, secondaryControlSysid: 0, secondaryControlCompid: 0 }))
      // Level, facing north.
      sendAs(1, 154, Object.assign(new common.GimbalDeviceAttitudeStatus(), { q: [1, 0, 0, 0], flags: 0 }))
    }
    if (kind === 'gremsy') {
      sendAs(1, 154, Object.assign(new minimal.Heartbeat(), { type: 26, autopilot: 8, baseMode: 0, customMode: 0,
        systemStatus: 4, mavlinkVersion: 3 }))
      sendAs(1, 154, Object.assign(new common.MountOrientation(), { timeBootMs: 1, roll: 1, pitch: -10, yaw: 20,
        yawAbsolute: 20 }))
    }
    if (kind === 'nextvision') {
      nextVisionReport(0, b => { b.writeFloatLE(-20, 2); b.writeFloatLE(0, 6); b.writeFloatLE(40, 10); b[15] = recording
        b[16] = 0; b[43] = 2; b.writeFloatLE(31.5, 53); b.writeFloatLE(0, 57) })
      nextVisionReport(1, () => {})
    }
  }
  const handlers = {
    HEARTBEAT: (m, h) => { if (m.type === 6) heartbeat() },
    COMMAND_LONG: (m, h) => {
      const p = [m._param1, m._param2, m._param3, m._param4, m._param5, m._param6, m._param7]
      console.log(`command ${h.sysid} ${h.compid} ${m.targetSystem} ${m.targetComponent} ${m.command} ${p.join(' ')}`)
      const cam = (message) => sendAs(1, 100, message)
      if (m.command === 521 && camera) {
        if (silentInfo > 0) { silentInfo--; return }
        cam(Object.assign(new common.CameraInformation(), { timeBootMs: 5, vendorName: bytes(vendor, 32),
          modelName: bytes('Stand-in', 32), firmwareVersion: 1, focalLength: 4.5, sensorSizeH: 6, sensorSizeV: 4,
          resolutionH: 1920, resolutionV: 1080, lensId: 0, flags: 0, camDefinitionVersion: 0, camDefinitionUri: '' }))
      }
      if (m.command === 522 && camera) cam(Object.assign(new common.CameraSettings(), { timeBootMs: 5, modeId: mode, zoomLevel: 2, focusLevel: 0 }))
      if (m.command === 527 && camera) cam(Object.assign(new common.CameraCaptureStatus(), { timeBootMs: 5, imageStatus: 0,
        videoStatus: recording, imageInterval: 0, recordingTimeMs: recording ? 4000 : 0, availableCapacity: 100, imageCount: images }))
      if (m.command === 525 && camera) {
        const type = kind === 'sony' ? (m._param1 === 0 ? 2 : 1) : (m._param1 === 0 ? 3 : 7)
        cam(Object.assign(new common.StorageInformation(), { timeBootMs: 5, storageId: m._param1, storageCount: 3,
          status: 2, totalCapacity: 1000, usedCapacity: 400, availableCapacity: 600, readSpeed: 0, writeSpeed: 0, type }))
      }
      if (m.command === 530) mode = m._param2
      if (m.command === 2500) recording = 1
      if (m.command === 2501) recording = 0
      if (m.command === 2000 && camera) { images++; cam(new common.CameraImageCaptured()) }
      // The NextVision camera keeps its type-1 report coming while it is being commanded.
      if (m.command === 203 && kind === 'nextvision') nextVisionReport(1, () => {})
    },
    PARAM_EXT_SET: m => {
      const value = m.paramValue.length ? m.paramValue.charCodeAt(0) : 0
      console.log(`ext_set ${m.paramId} ${m.paramType} ${value}`)
      if (!ext[m.paramId] || options.includes('ignore-set')) return
      ext[m.paramId][2] = value
      sendAs(1, 100, extValue(m.paramId))
    },
    PARAM_EXT_REQUEST_READ: m => {
      console.log(`ext_read ${m.paramIndex} ${m.paramId}`)
      const name = m.paramIndex >= 0 ? Object.keys(ext).find(n => ext[n][0] === m.paramIndex) : m.paramId
      if (name && ext[name]) sendAs(1, 100, extValue(name))
    },
    PARAM_EXT_REQUEST_LIST: () => console.log('ext_list'),
    GIMBAL_MANAGER_SET_MANUAL_CONTROL: (m, h) => console.log(`manual ${h.sysid} ${h.compid} ${h.seq} ${m.flags} ` +
      `${m.pitchRate} ${m.yawRate} ${m.targetSystem} ${m.targetComponent}`),
    PARAM_REQUEST_READ: m => {
      console.log('param_read ' + m.paramId)
      if (kind === 'gremsy' && gremsyParams[m.paramId]) sendAs(1, 154, gremsyValue(m.paramId))
    },
    PARAM_SET: m => {
      console.log(`param_set ${m.paramId} ${m.paramValue}`)
      if (kind === 'gremsy' && gremsyParams[m.paramId]) { gremsyParams[m.paramId][1] = m.paramValue; sendAs(1, 154, gremsyValue(m.paramId)) }
    },
  }
  const REGISTRY = { ...minimal.REGISTRY, ...common.REGISTRY }
  socket.on('message', datagram => {
    if (answeredSync(datagram)) return
    const splitter = new MavLinkPacketSplitter()
    const parser = new MavLinkPacketParser()
    splitter.pipe(parser)
    parser.on('data', packet => {
      const clazz = REGISTRY[packet.header.msgid]
      if (!clazz) { console.log('raw ' + packet.buffer.toString('hex')); return }
      const message = packet.protocol.data(packet.payload, clazz)
      const handler = handlers[clazz.MSG_NAME]
      if (handler) handler(message, packet.header)
    })
    splitter.write(datagram)
  })
  const finish = () => { socket.close(); process.exit(0) }
  process.stdin.on('data', text => { if (String(text).includes('stop')) finish() })
  setTimeout(finish, maxSeconds * 1000)
  socket.bind(localPort, '127.0.0.1', () => console.log('ready'))
}

// The flight controller's frames with the given sequence numbers, once the station's first HEARTBEAT
// arrives: HEARTBEAT and ATTITUDE alternately from system 1, component 1, with frames of other
// senders (system 2, and component 154 of system 1) between them.
function sequence(localPort, gcsPort, maxSeconds, numbers) {
  const socket = dgram.createSocket('udp4')
  const fc = new MavLinkProtocolV2(1, 1)
  const others = [new MavLinkProtocolV2(2, 1), new MavLinkProtocolV2(1, 154)]
  const heartbeat = () => Object.assign(new minimal.Heartbeat(), { type: 2, autopilot: 12, baseMode: 0, customMode: 0,
    systemStatus: 4, mavlinkVersion: 3 })
  const attitude = () => Object.assign(new common.Attitude(), { timeBootMs: 1, roll: 0, pitch: 0, yaw: 0,
    rollspeed: 0, pitchspeed: 0, yawspeed: 0 })
  let sent = false
  socket.on('message', bytes => {
    if (answeredSync(bytes) || sent) return
    sent = true
    numbers.forEach((seq, i) => {
      socket.send(fc.serialize(i % 2 ? attitude() : heartbeat(), seq), gcsPort, '127.0.0.1')
      socket.send(others[i % 2].serialize(heartbeat(), (seq + 1) & 255), gcsPort, '127.0.0.1')
    })
    console.log('sent')
  })
  process.stdin.on('data', text => { if (String(text).includes('stop')) { socket.close(); process.exit(0) } })
  setTimeout(() => { socket.close(); process.exit(0) }, maxSeconds * 1000)
  socket.bind(localPort, '127.0.0.1', () => console.log('ready'))
}

function replayViews() {
  const vehicle = new MavLinkProtocolV2(1, 1)
  const payload = new MavLinkProtocolV2(1, 25)
  let seq = 0, frameSeq = 0
  const out = (ms, frames) => console.log(`datagram ${ms} ${Buffer.concat(frames).toString('hex')}`)
  const orvik = dropping => payload.serialize(encapsulated(payloadFrame(5, [2, 0, 0, 0, 0, 0, 0, 0, 0, 126, 50,
    dropping, 0, 0, 0, 0, 20, 20, 25, 0, 0, 0, 0, 0, 0, 0, 0], frameSeq++)), seq++ & 255)
  const sensors = { onboardControlSensorsPresent: 0x80000001, onboardControlSensorsEnabled: 0x80000001,
    onboardControlSensorsHealth: 0x00000001, voltageBattery: 15800, currentBattery: 1234, batteryRemaining: 76,
    onboardControlSensorsPresentExtended: 0x100, onboardControlSensorsEnabledExtended: 0x100,
    onboardControlSensorsHealthExtended: 0 }
  out(0, [vehicle.serialize(heartbeat(minimal.MavType.QUADROTOR, minimal.MavAutopilot.PX4), seq++ & 255),
    vehicle.serialize(Object.assign(new common.HomePosition(), { latitude: 470000000, longitude: 80000000,
      altitude: 400000 }), seq++ & 255)])
  for (let s = 1; s <= 100; s++) {
    const ms = 1000 * s
    const lat = 470000000 + 900 * s, lon = 80000000, relativeAlt = 60000
    const dropping = s >= 40 && s < 60 ? 1 : 0
    const frames = [vehicle.serialize(heartbeat(minimal.MavType.QUADROTOR, minimal.MavAutopilot.PX4), seq++ & 255),
      vehicle.serialize(Object.assign(new common.SysStatus(), sensors), seq++ & 255),
      vehicle.serialize(Object.assign(new common.GlobalPositionInt(), { timeBootMs: ms, lat, lon,
        alt: 400000 + relativeAlt, relativeAlt, vx: 1000, vy: 0, vz: 0, hdg: 0 }), seq++ & 255),
      orvik(dropping)]
    if (s === 95) {
      frames.push(vehicle.serialize(Object.assign(new common.StatusText(), { severity: 4, text: 'Low battery',
        id: 0, chunkSeq: 0 }), seq++ & 255))
    }
    out(ms, frames)
    console.log(`at ${ms} ${lat} ${lon} ${relativeAlt} ${dropping}`)
  }
}

if (mode === 'emit') emit(args[0])
else if (mode === 'sequence') sequence(Number(args[0]), Number(args[1]), Number(args[2]), args[3].split(',').map(Number))
else if (mode === 'flight') flight(Number(args[0]))
else if (mode === 'exportflight') exportFlight()
else if (mode === 'replayviews') replayViews()
else if (mode === 'parse') parse(args[0])
else if (mode === 'magic') {
  for (const clazz of Object.values({ ...minimal.REGISTRY, ...standard.REGISTRY, ...common.REGISTRY })) {
    console.log(`${clazz.MSG_ID} ${clazz.MAGIC_NUMBER} ${clazz.MSG_NAME}`)
  }
}
else if (mode === 'commands') {
  for (const name of Object.keys(common.MavCmd).filter(key => isNaN(Number(key)))) console.log(`${common.MavCmd[name]} ${name}`)
}
else if (mode === 'vehicle') vehicle(Number(args[0]), Number(args[1]), Number(args[2]), Number(args[3]), args[4] === 'spoof')
else if (mode === 'tcp-vehicle') tcpVehicle(Number(args[0]), Number(args[1]))
else if (mode === 'px4') px4(Number(args[0]), Number(args[1]), Number(args[2]), args.slice(3))
else if (mode === 'payloads') payloads(...args.slice(0, 5).map(Number))
else if (mode === 'gcs') gcs(Number(args[0]), Number(args[1]), Number(args[2]))
else if (mode === 'arducopter') arducopter(Number(args[0]), Number(args[1]), Number(args[2]), args.slice(3))
else if (mode === 'camera') camera(Number(args[0]), Number(args[1]), Number(args[2]), args[3], args.slice(4))
else { console.error('unknown mode ' + mode); process.exit(2) }
