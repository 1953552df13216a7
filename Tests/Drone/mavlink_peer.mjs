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
import dgram from 'node:dgram'
import net from 'node:net'
import fs from 'node:fs'
import { MavLinkPacketSplitter, MavLinkProtocolV1, MavLinkProtocolV2, minimal, standard, common } from 'node-mavlink'

const [mode, ...args] = process.argv.slice(2)

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

if (mode === 'emit') emit(args[0])
else if (mode === 'parse') parse(args[0])
else if (mode === 'magic') {
  for (const clazz of Object.values({ ...minimal.REGISTRY, ...standard.REGISTRY, ...common.REGISTRY })) {
    console.log(`${clazz.MSG_ID} ${clazz.MAGIC_NUMBER} ${clazz.MSG_NAME}`)
  }
}
else if (mode === 'vehicle') vehicle(Number(args[0]), Number(args[1]), Number(args[2]), Number(args[3]), args[4] === 'spoof')
else if (mode === 'tcp-vehicle') tcpVehicle(Number(args[0]), Number(args[1]))
else { console.error('unknown mode ' + mode); process.exit(2) }
