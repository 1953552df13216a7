// Recorded datagrams for the entries-list tests, written and read back by node-mavlink (an
// independent MAVLink implementation). Run from the folder where node-mavlink is installed.
//
//   node recorded_messages.mjs details SEED ROUNDS
//       For every message id the entries list explains, ROUNDS messages with random field values,
//       each framed as MAVLink 1 (ids below 256), as MAVLink 2 (trailing zero bytes cut) and as
//       signed MAVLink 2. Every frame is read back with node-mavlink's splitter and parser, and the
//       expected lines are computed from the fields node-mavlink decodes. Prints per frame:
//         case LABEL HEX
//         sender SYS.COMP
//         summary TEXT                      (the whole summary row, when it has no float)
//         summaryapprox PREFIX VALUE SUFFIX DECIMALS (a summary ending in a float)
//         line TEXT                         (one details line, without its newline)
//         approx PREFIX VALUE SUFFIX DECIMALS (a details line whose number is a float, in full,
//                                           written with at most DECIMALS decimals)
//         end
//       Fields are separated by tabs.
import { MavLinkPacketSplitter, MavLinkPacketParser, MavLinkProtocolV1, MavLinkProtocolV2, minimal, common } from 'node-mavlink'

const [mode, ...args] = process.argv.slice(2)
const REGISTRY = { ...minimal.REGISTRY, ...common.REGISTRY }
const DEG = '\u00B0'

// xorshift32: unsigned 32-bit values from a seed.
let state = 1
function next() { state ^= state << 13; state ^= state >>> 17; state ^= state << 5; state >>>= 0; return state }
const chance = n => next() % n === 0

// ---------------------------------------------------------------------------------------------------
// Random field values

function randomFloat() {
  switch (next() % 6) {
    case 0: return 0
    case 1: return Math.fround((next() % 2001) - 1000)
    case 2: return Math.fround(((next() % 2000001) - 1000000) / 1048576)
    default: return Math.fround(((next() % 20000001) - 10000000) / 1024)
  }
}
function randomInt(type) {
  const ranges = { int8_t: [-128, 127], uint8_t: [0, 255], int16_t: [-32768, 32767], uint16_t: [0, 65535],
    int32_t: [-2147483648, 2147483647], uint32_t: [0, 4294967295] }
  const [low, high] = ranges[type]
  if (chance(7)) return chance(2) ? low : high
  return low + Math.floor((next() / 4294967296) * (high - low + 1))
}
function random64(type) {
  const value = BigInt(next()) << 32n | BigInt(next())
  return type === 'int64_t' ? BigInt.asIntN(64, value) : BigInt.asUintN(64, value)
}
function randomText(length) {
  let text = ''
  const count = chance(3) ? length : next() % (length + 1)
  for (let i = 0; i < count; i++) text += String.fromCharCode(33 + next() % 94)
  return text
}
function randomValue(field) {
  const base = field.type.replace('[]', '').replace('_mavlink_version', '')
  if (base === 'char') return randomText(field.length)
  const one = () => base === 'float' ? randomFloat() : base.includes('64') ? random64(base) : randomInt(base)
  return field.type.endsWith('[]') ? Array.from({ length: field.length }, one) : one()
}
function zeroValue(field) {
  const base = field.type.replace('[]', '')
  if (base === 'char') return ''
  const one = () => base.includes('64') ? 0n : 0
  return field.type.endsWith('[]') ? Array.from({ length: field.length }, one) : one()
}
// Random fields; now and then the later fields are zero, so that MAVLink 2 cuts the payload short.
function randomMessage(clazz) {
  const message = new clazz()
  const zeroFrom = chance(3) ? next() % clazz.FIELDS.length : clazz.FIELDS.length
  clazz.FIELDS.forEach((field, index) => {
    message[field.name] = index >= zeroFrom ? zeroValue(field) : randomValue(field)
  })
  return message
}

// ---------------------------------------------------------------------------------------------------
// Number texts as the entries list writes them

function fixed(value, decimals) {
  let v = BigInt(value)
  const negative = v < 0n
  if (negative) v = -v
  let digits = v.toString().padStart(decimals + 1, '0')
  if (decimals > 0) digits = digits.slice(0, digits.length - decimals) + '.' + digits.slice(digits.length - decimals)
  return (negative ? '-' : '') + digits
}
const hex = (value, digits) => (BigInt(value) & ((1n << BigInt(4 * digits)) - 1n)).toString(16).toUpperCase().padStart(digits, '0')
function roundHalfAway(x) { return x > 0 ? Math.trunc(x + 0.5) : Math.trunc(x - 0.5) }
const celsius = value => `${roundHalfAway(value) || 0} ${DEG}C`
const text = value => String(value).replace(/\0.*$/s, '')

// Expected lines: [kind, ...] with kind 'line' (exact) or 'approx' (prefix, number, suffix).
const L = t => ['line', t]
const A = (prefix, value, suffix, decimals = 6) => ['approx', prefix, String(value), suffix, String(decimals)]
const RAD = 57.29577951308232

const DETAILS = {
  0: m => [L(`custom_mode: ${m.customMode}`), L(`type: ${m.type}`), L(`autopilot: ${m.autopilot}`),
    L(`base_mode: ${m.baseMode}`), L(`system_status: ${m.systemStatus}`), L(`mavlink_version: ${m.mavlinkVersion}`)],
  1: m => [
    L(`onboard_control_sensors_present: 0x${hex(m.onboardControlSensorsPresent, 8)}`),
    L(`onboard_control_sensors_enabled: 0x${hex(m.onboardControlSensorsEnabled, 8)}`),
    L(`onboard_control_sensors_health: 0x${hex(m.onboardControlSensorsHealth, 8)}`),
    L(`load: ${fixed(m.load, 1)}%`), L(`voltage_battery: ${fixed(m.voltageBattery, 3)} V`),
    L(`current_battery: ${fixed(m.currentBattery, 2)} A`), L(`drop_rate_comm: ${fixed(m.dropRateComm, 2)}%`),
    L(`errors_comm: ${m.errorsComm}`), L(`errors_count1: ${m.errorsCount1}`), L(`errors_count2: ${m.errorsCount2}`),
    L(`errors_count3: ${m.errorsCount3}`), L(`errors_count4: ${m.errorsCount4}`),
    L(`battery_remaining: ${m.batteryRemaining}%`),
    L(`onboard_control_sensors_present_extended: 0x${hex(m.onboardControlSensorsPresentExtended, 8)}`),
    L(`onboard_control_sensors_enabled_extended: 0x${hex(m.onboardControlSensorsEnabledExtended, 8)}`),
    L(`onboard_control_sensors_health_extended: 0x${hex(m.onboardControlSensorsHealthExtended, 8)}`)],
  24: m => [L(`time_usec: ${fixed(m.timeUsec, 6)} s`), L(`lat: ${fixed(m.lat, 7)}${DEG}`), L(`lon: ${fixed(m.lon, 7)}${DEG}`),
    L(`alt: ${fixed(m.alt, 3)} m`), L(`eph: ${m.eph}`), L(`epv: ${m.epv}`), L(`vel: ${fixed(m.vel, 2)} m/s`),
    L(`cog: ${fixed(m.cog, 2)}${DEG}`), L(`fix_type: ${m.fixType}`), L(`satellites_visible: ${m.satellitesVisible}`),
    L(`alt_ellipsoid: ${fixed(m.altEllipsoid, 3)} m`), L(`horizontal position uncertainty: ${fixed(m.hAcc, 3)} m`),
    L(`vertical position uncertainty: ${fixed(m.vAcc, 3)} m`), L(`velocity uncertainty: ${fixed(m.velAcc, 3)} m/s`),
    L(`heading uncertainty: ${fixed(m.hdgAcc, 5)}${DEG}`), L(`yaw: ${fixed(m.yaw, 2)}${DEG}`)],
  30: m => [L(`time_boot_ms: ${fixed(m.timeBootMs, 3)} s`), A('roll: ', m.roll * RAD, DEG), A('pitch: ', m.pitch * RAD, DEG),
    A('yaw: ', m.yaw * RAD, DEG), A('rollspeed: ', m.rollspeed * RAD, ` ${DEG}/s`),
    A('pitchspeed: ', m.pitchspeed * RAD, ` ${DEG}/s`), A('yawspeed: ', m.yawspeed * RAD, ` ${DEG}/s`)],
  33: m => [L(`time_boot_ms: ${fixed(m.timeBootMs, 3)} s`), L(`lat: ${fixed(m.lat, 7)}${DEG}`), L(`lon: ${fixed(m.lon, 7)}${DEG}`),
    L(`alt: ${fixed(m.alt, 3)} m`), L(`relative_alt: ${fixed(m.relativeAlt, 3)} m`), L(`vx: ${fixed(m.vx, 2)} m/s north`),
    L(`vy: ${fixed(m.vy, 2)} m/s east`), L(`vz: ${fixed(m.vz, 2)} m/s down`), L(`hdg: ${fixed(m.hdg, 2)}${DEG}`)],
  76: m => [...[1, 2, 3, 4, 5, 6, 7].map(i => A(`param${i}: `, m[`_param${i}`], '')), L(`command: ${m.command}`),
    L(`target: ${m.targetSystem}.${m.targetComponent}`), L(`confirmation: ${m.confirmation}`)],
  131: m => counterLines(m),
  147: m => [L(`current_consumed: ${fixed(m.currentConsumed, 3)} Ah`), L(`energy_consumed: ${BigInt(m.energyConsumed) * 100n} J`),
    L(`temperature: ${fixed(m.temperature, 2)} ${DEG}C`),
    ...m.voltages.map((v, k) => L(`cell ${k + 1}: ${fixed(v, 3)} V`)),
    L(`current_battery: ${fixed(m.currentBattery, 2)} A`), L(`id: ${m.id}`), L(`function: ${m.batteryFunction}`),
    L(`type: ${m.type}`), L(`battery_remaining: ${m.batteryRemaining}%`), L(`time_remaining: ${m.timeRemaining} s`),
    L(`charge_state: ${m.chargeState}`), ...m.voltagesExt.map((v, k) => L(`cell ${k + 11}: ${fixed(v, 3)} V`)),
    L(`mode: ${m.mode}`), L(`fault_bitmask: 0x${hex(m.faultBitmask, 8)}`)],
  253: m => [L(`severity: ${m.severity}`), L(`text: ${text(m.text)}`), L(`id: ${m.id}`), L(`seq: ${m.chunkSeq}`)],
  248: m => nextVisionLines(m),
  261: m => [L(`time_boot: ${fixed(m.timeBootMs, 3)} s`), A('total_capacity: ', m.totalCapacity, ' MiB'),
    A('used_capacity: ', m.usedCapacity, ' MiB'), A('available_capacity: ', m.availableCapacity, ' MiB'),
    A('read_speed: ', m.readSpeed, ' MiB/s'), A('write_speed: ', m.writeSpeed, ' MiB/s'), L(`storage_id: ${m.storageId}`),
    L(`storage_count: ${m.storageCount}`), L(`status: ${m.status}`), L(`type: ${m.type}`), L(`name: ${text(m.name)}`),
    L(`storage_usage: ${m.storageUsage}`)],
  262: m => [L(`time_boot: ${fixed(m.timeBootMs, 3)} s`), A('image_interval: ', m.imageInterval, ' s'),
    L(`recording_time: ${fixed(m.recordingTimeMs, 3)} s`), A('available_capacity: ', m.availableCapacity, ' MiB'),
    L(`image_status: ${m.imageStatus}`), L(`video_status: ${m.videoStatus}`), L(`image_count: ${m.imageCount}`)],
  263: m => [L(`time_utc: ${fixed(m.timeUtc, 6)} s`), L(`time_boot: ${fixed(m.timeBootMs, 3)} s`),
    L(`lat: ${fixed(m.lat, 7)}${DEG}`), L(`lon: ${fixed(m.lon, 7)}${DEG}`), L(`alt: ${fixed(m.alt, 3)} m`),
    L(`relative_alt: ${fixed(m.relativeAlt, 3)} m`), ...['qw', 'qx', 'qy', 'qz'].map((n, i) => A(`${n}: `, m.q[i], '')),
    L(`image_index: ${m.imageIndex}`), L(`camera_id: ${m.cameraId}`), L(`capture_success: ${m.captureResult & 255}`),
    L(`url: ${text(m.fileUrl)}`)],
  22: () => [],
  322: () => [],
  // The other camera-protocol messages have no lines of their own: only the raw bytes show them.
  ...Object.fromEntries([259, 260, 269, 270, 271, 275, 276, 320, 321, 323, 324].map(id => [id, () => []])),
}

const commandNames = Object.fromEntries(Object.keys(common.MavCmd).filter(k => isNaN(+k)).map(k => [common.MavCmd[k], k]))
const REPORTS = ['System Report', 'LOS', 'Ground Crossing', null, null, 'Snap Shot', 'SD Card', 'Video', 'LOS Rate',
  'Object Detection', 'IMU', 'Fire', 'Tracking', 'LPR', 'AR Marker', 'Parameter', 'Car Count', 'OGLR']

// The summary row's suffix: [text] or [prefix, float] for a value written as a float.
function suffix(id, m) {
  if (id === 22) return ['   ' + text(m.paramId)]
  if (id === 76) return [commandNames[m.command] ? '   MAV_CMD_' + commandNames[m.command] : '']
  if (id === 253) return ['   ' + text(m.text)]
  if (id === 263) return ['   ' + text(m.fileUrl)]
  if (id === 248) return [REPORTS[m.messageType] ? '   ' + REPORTS[m.messageType] : '']
  if (id === 322) {
    const bytes = Buffer.alloc(128)
    Buffer.from(m.paramValue, 'latin1').copy(bytes)
    const head = '   ' + text(m.paramId)
    if (m.paramType === 1) return [head + ' = ' + bytes[0]]
    if (m.paramType === 8) return [head + ' = ' + bytes.readBigInt64LE(0)]
    if (m.paramType === 10) return [head + ' = ', bytes.readDoubleLE(0)]
    return [head]
  }
  return ['']
}

// ---------------------------------------------------------------------------------------------------
// The payload-link counters frame inside ENCAPSULATED_DATA, and the NextVision report

function payloadFrame(type, body) {
  const frame = Buffer.alloc(body.length + 7)
  frame[0] = 0xb7; frame[1] = frame.length; frame[2] = next() & 255; frame[3] = 1; frame[4] = type
  body.copy(frame, 5)
  let s1 = 0, s2 = 0
  for (let i = 0; i < frame.length - 2; i++) { s1 = (s1 + (frame[i] ^ 0xb7)) % 255; s2 = (s2 + s1) % 255 }
  frame[frame.length - 2] = s2; frame[frame.length - 1] = s1
  return frame
}
let counterFrameAt = new Map()   // message -> [offset in data, frame length, type]
function encapsulatedMessage() {
  const message = new common.EncapsulatedData()
  const seqnr = () => { let v; do { v = next() & 0xffff } while ((v & 255) === 0xb7 || (v >> 8) === 0xb7); return v }
  message.seqnr = seqnr()
  const bodyLength = [8, 12, 13, 35, 40, next() % 60][next() % 6]
  const body = Buffer.from(Array.from({ length: bodyLength }, () => next() & 255))
  const type = chance(5) ? 1 + next() % 11 : 4
  const frame = payloadFrame(type, body)
  const data = Buffer.alloc(253)
  let at = next() % 4
  for (let i = 0; i < at; i++) { let b; do { b = next() & 255 } while (b === 0xb7); data[i] = b }
  frame.copy(data, at)
  message.data = [...data]
  counterFrameAt.set(message, { at, length: frame.length, type })
  return message
}
function counterLines(m) {
  // The frame as node-mavlink decoded it, at the place it was laid.
  const { at, length, type } = counterFrameAt.get(m.original)
  if (type !== 4) return []
  const data = Buffer.from(m.data)
  const body = Buffer.alloc(248)
  data.copy(body, 0, at + 5, at + length - 2)
  const bodyLength = length - 7
  const lines = [L(`forward rangefinder: ${fixed(body.readInt32BE(0), 2)} m`), L(`downward rangefinder: ${fixed(body.readInt32BE(4), 2)} m`)]
  if (bodyLength >= 12) lines.push(L(`camera rangefinder: ${fixed(body.readInt32BE(8), 2)} m`))
  if (bodyLength >= 13) {
    lines.push(L(`turbo mode: ${body[12]}`), L(`photo period: ${fixed(body.readUInt16BE(13), 3)} s`),
      L(`message timestamp: ${body.readBigUInt64BE(15)} ms`), L(`last photo timestamp: ${body.readBigUInt64BE(23)} ms`),
      L(`photo count: ${body.readInt32BE(31)} photos`))
  }
  return lines
}

// The report laid by hand over the target bytes and payload of V2_EXTENSION.
function nextVisionMessage() {
  const report = Buffer.alloc(254)
  for (let i = 2; i < 62; i++) report[i] = next() & 255
  for (const offset of [2, 6, 10, 24, 29, 33, 45, 49, 53, 57]) report.writeFloatLE(randomFloat(), offset)
  const message = new common.V2Extension()
  message.messageType = chance(3) ? next() % 20 : 0
  message.targetNetwork = report[2]; message.targetSystem = report[3]; message.targetComponent = report[4]
  message.payload = [...report.subarray(5)]
  return message
}
function nextVisionLines(m) {
  const r = Buffer.alloc(254)
  r.writeUInt16LE(m.messageType, 0); r[2] = m.targetNetwork; r[3] = m.targetSystem; r[4] = m.targetComponent
  Buffer.from(m.payload).copy(r, 5)
  const lines = [L(`Report type: ${r.readUInt16LE(0)}`)]
  if (r.readUInt16LE(0) !== 0) return lines
  const f = o => r.readFloatLE(o)
  return lines.concat([A('Roll: ', f(2), DEG), A('Pitch: ', f(6), DEG), A('FOV: ', f(10), DEG),
    L(`Tracker status: ${r[14]}`), L(`Recording status: 0x${hex(r[15], 2)}`), L(`Active Sensor: ${r[16]}`),
    L(`I/R Sensor polarity: ${r[17]}`), L(`System mode: ${r[18]}`), L(`Laser status: ${r[19]}`),
    L(`Tracker ROI x: ${r.readUInt16LE(20)}`), L(`Tracker ROI y: ${r.readUInt16LE(22)}`),
    A('Single Yaw Command: ', f(24), DEG), L(`Snapshot status: 0x${hex(r[28], 2)}`), L(`CPU Temperature: ${celsius(f(29))}`),
    A('Camera Version Number: ', f(33), '', 3), L(`TRIP Version Number: ${r[39]}.${r[38]}.${r[37]}`),
    L(`TRIP Capabilities: 0x${hex(r[40], 2)}`), L(`BIT Report: 0x${hex(r.readUInt16LE(41), 4)}`),
    L(`Status Flags: 0x${hex(r[43], 2)}`), L(`Camera Type: ${r[44]}`), A('Roll Rate: ', f(45), `${DEG}/s`),
    A('Pitch Rate: ', f(49), `${DEG}/s`), L(`Camera Temperature: ${celsius(f(53))}`),
    A('Roll Derotation angle: ', f(57), DEG), L(`Network Type: ${r[61]}`)])
}

function paramExtMessage() {
  const message = randomMessage(common.ParamExtValue)
  message.paramType = [1, 8, 9, 10, next() % 12][next() % 5]
  const bytes = Buffer.alloc(8)
  if (message.paramType === 10) bytes.writeDoubleLE((next() % 2000001 - 1000000) / 4096)
  else bytes.writeBigInt64LE(random64('int64_t'))
  // char[] fields travel as latin1 text; a zero byte ends it.
  let end = bytes.indexOf(0)
  message.paramValue = bytes.subarray(0, end < 0 ? 8 : end).toString('latin1')
  return message
}

function commandMessage() {
  const message = randomMessage(common.CommandLong)
  const known = Object.keys(commandNames)
  if (chance(2)) message.command = Number(known[next() % known.length])
  return message
}

// ---------------------------------------------------------------------------------------------------

function decode(frame) {
  const packets = []
  const splitter = new MavLinkPacketSplitter()
  const parser = new MavLinkPacketParser()
  splitter.pipe(parser)
  parser.on('data', packet => packets.push(packet))
  splitter.write(frame)
  splitter.end()
  return new Promise(resolve => parser.on('end', () => resolve(packets)))
}

async function details(seed, rounds) {
  state = seed >>> 0 || 1
  const key = Buffer.alloc(32, 9)
  const makers = {
    131: encapsulatedMessage, 248: nextVisionMessage, 322: paramExtMessage, 76: commandMessage,
  }
  let seq = 0
  for (const id of Object.keys(DETAILS).map(Number)) {
    const clazz = REGISTRY[id]
    for (let round = 0; round < rounds; round++) {
      const message = makers[id] ? makers[id]() : randomMessage(clazz)
      const sys = 1 + next() % 255, comp = next() % 256
      const variants = []
      if (id < 256) variants.push(['v1', new MavLinkProtocolV1(sys, comp).serialize(message, seq++ & 255)])
      variants.push(['v2', new MavLinkProtocolV2(sys, comp).serialize(message, seq++ & 255)])
      const signer = new MavLinkProtocolV2(sys, comp, MavLinkProtocolV2.IFLAG_SIGNED)
      variants.push(['signed', signer.sign(signer.serialize(message, seq++ & 255), 3, key, 1700000000000 + round)])
      for (const [label, frame] of variants) {
        const packets = await decode(frame)
        if (packets.length !== 1) throw new Error(`node-mavlink did not read back ${clazz.MSG_NAME} ${label}`)
        const packet = packets[0]
        const m = packet.protocol.data(packet.payload, clazz)
        m.original = message
        console.log(`case\t${clazz.MSG_NAME} ${label}\t${frame.toString('hex')}`)
        console.log(`sender\t${packet.header.sysid}.${packet.header.compid}`)
        const [head, float] = suffix(id, m)
        const name = `${clazz.MSG_NAME} (${id})`
        if (float === undefined) console.log(`summary\t${name}${head}`)
        else console.log(`summaryapprox\t${name}${head}\t${float}\t\t6`)
        for (const line of DETAILS[id](m)) console.log(line.join('\t'))
        console.log('end')
      }
    }
  }
}

if (mode === 'details') await details(Number(args[0]), Number(args[1]))
else { console.error('unknown mode ' + mode); process.exit(2) }
