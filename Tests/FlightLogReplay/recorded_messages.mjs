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
  248: (m, length) => nextVisionLines(m, length),
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
  259: m => [L(`time_boot: ${ms(m.timeBootMs)}`), L(`firmware_version: ${version(m.firmwareVersion)}`),
    A('focal_length: ', m.focalLength, ' mm'), A('sensor_size_h: ', m.sensorSizeH, ' mm'),
    A('sensor_size_v: ', m.sensorSizeV, ' mm'), L(`flags: 0x${hex(m.flags, 8)}`), L(`resolution_h: ${m.resolutionH} px`),
    L(`resolution_v: ${m.resolutionV} px`), L(`cam_definition_version: ${m.camDefinitionVersion}`),
    L(`vendor_name: ${nameText(m.vendorName)}`), L(`model_name: ${nameText(m.modelName)}`), L(`lens_id: ${m.lensId}`),
    L(`cam_definition_uri: ${text(m.camDefinitionUri)}`), L(`gimbal_device_id: ${m.gimbalDeviceId}`),
    L(`camera_device_id: ${m.cameraDeviceId}`)],
  260: m => [L(`time_boot: ${ms(m.timeBootMs)}`), L(`mode_id: ${m.modeId}`), A('zoomLevel: ', m.zoomLevel, ''),
    A('focusLevel: ', m.focusLevel, ''), L(`camera_device_id: ${m.cameraDeviceId}`)],
  269: m => [...videoStream(m), L(`count: ${m.count}`), L(`type: ${m.type}`), L(`name: ${text(m.name)}`),
    L(`uri: ${text(m.uri)}`), L(`encoding: ${m.encoding}`), L(`camera_device_id: ${m.cameraDeviceId}`)],
  270: m => [...videoStream(m), L(`camera_device_id: ${m.cameraDeviceId}`)],
  271: m => [L(`time_boot: ${ms(m.timeBootMs)}`), L(`lat_camera: ${fixed(m.latCamera, 7)}${DEG}`),
    L(`lon_camera: ${fixed(m.lonCamera, 7)}${DEG}`), L(`alt_camera: ${fixed(m.altCamera, 3)} m`),
    L(`lat_image: ${fixed(m.latImage, 7)}${DEG}`), L(`lon_image: ${fixed(m.lonImage, 7)}${DEG}`),
    L(`alt_image: ${fixed(m.altImage, 3)} m`), ...['qw', 'qx', 'qy', 'qz'].map((n, i) => A(`${n}: `, m.q[i], '')),
    A('hfov: ', m.hfov, DEG), A('vfov: ', m.vfov, DEG), L(`camera_device_id: ${m.cameraDeviceId}`)],
  275: m => [A('point_x: ', m.pointX, ''), A('point_y: ', m.pointY, ''), A('radius: ', m.radius, ''),
    A('rec_top_x: ', m.recTopX, ''), A('rec_top_y: ', m.recTopY, ''), A('rec_bottom_x: ', m.recBottomX, ''),
    A('rec_bottom_y: ', m.recBottomY, ''), L(`tracking_status: ${m.trackingStatus}`),
    L(`tracking_mode: ${m.trackingMode}`), L(`target_data: ${m.targetData}`), L(`camera_device_id: ${m.cameraDeviceId}`)],
  276: m => [L(`lat: ${fixed(m.lat, 7)}${DEG}`), L(`lon: ${fixed(m.lon, 7)}${DEG}`), A('alt: ', m.alt, ' m'),
    A('h_acc: ', m.hAcc, ' m'), A('v_acc: ', m.vAcc, ' m'), A('vel_n: ', m.velN, ' m/s'), A('vel_e: ', m.velE, ' m/s'),
    A('vel_d: ', m.velD, ' m/s'), A('vel_acc: ', m.velAcc, ' m/s'), A('dist: ', m.dist, ' m'),
    A('hdg: ', m.hdg * RAD, DEG), A('hdg_acc: ', m.hdgAcc * RAD, DEG), L(`tracking_status: ${m.trackingStatus}`),
    L(`camera_device_id: ${m.cameraDeviceId}`)],
  320: m => [L(`param_index: ${m.paramIndex}`), L(`target: ${m.targetSystem}.${m.targetComponent}`),
    L(`param_id: ${text(m.paramId)}`)],
  321: m => [L(`target: ${m.targetSystem}.${m.targetComponent}`)],
  322: m => [L(`param_count: ${m.paramCount}`), L(`param_index: ${m.paramIndex}`), L(`param_id: ${text(m.paramId)}`),
    ...paramValueLines(m)],
  323: m => [L(`target: ${m.targetSystem}.${m.targetComponent}`), L(`param_id: ${text(m.paramId)}`), ...paramValueLines(m)],
  324: m => [L(`param_id: ${text(m.paramId)}`), ...paramValueLines(m), L(`param_result: ${m.paramResult}`)],
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

// The NextVision reports: each field as [form, label, offset, size or suffix]. Forms: 'f' a float
// (written with at most 6 decimals), 'a' an angle or rate in degrees (6 decimals), 'd' a float64
// latitude or longitude (7 decimals), 'u' an unsigned integer of `size` bytes, 't' a text of at
// most `size` bytes.
const f = (label, offset, suffix = '') => ['f', label, offset, suffix]
const a = (label, offset, suffix = DEG) => ['a', label, offset, suffix]
const u = (label, offset, size) => ['u', label, offset, size]
const STAMPS = [u('Time Since Boot: ', 2, 4), u('UTC Timestamp: ', 6, 8)]
const NV = {
  1: [f('LOS X: ', 2), f('LOS Y: ', 6), f('LOS Z: ', 10), a('Upper Left Corner Latitude: ', 14),
    a('Upper Left Corner Longitude: ', 18), a('Upper Right Corner Latitude: ', 22), a('Upper Right Corner Longitude: ', 26),
    a('Lower Right Corner Latitude: ', 30), a('Lower Right Corner Longitude: ', 34), a('Lower Left Corner Latitude: ', 38),
    a('Lower Left Corner Longitude: ', 42), a('LOS Elevation: ', 46), a('LOS Azimuth: ', 50)],
  2: [a('Ground Crossing Latitude: ', 2), a('Ground Crossing Longitude: ', 6), f('Ground Crossing Altitude: ', 10, ' m'),
    f('Slant Range: ', 14, ' m')],
  5: [['t', 'File Name: ', 2, 48], u('Video Channel: ', 50, 1)],
  6: [u('SD Card Detected: ', 2, 1), f('SD Card Total Capacity: ', 3, ' MiB'), f('SD Card Available Capacity: ', 7, ' MiB')],
  7: [u('Stream Bitrate Channel 0: ', 2, 2), u('Record Bitrate Channel 0: ', 4, 2), u('Stream Bitrate Channel 1: ', 6, 2),
    u('Record Bitrate Channel 1: ', 8, 2)],
  8: [a('LOS Rate X: ', 2, `${DEG}/s`), a('LOS Rate Y: ', 6, `${DEG}/s`), a('LOS Pan: ', 10), f('LOS X: ', 14),
    a('LOS Tilt: ', 18), f('LOS Y: ', 22), u('Time Since Boot: ', 26, 4), u('UTC Timestamp: ', 30, 8)],
  10: [a('Camera Roll: ', 2), a('Camera Pitch: ', 6), f('Camera X: ', 10), f('Camera Y: ', 14),
    a('LOS Rate X: ', 18, `${DEG}/s`), a('LOS Rate Y: ', 22, `${DEG}/s`), f('Acceleration X: ', 26), f('Acceleration Y: ', 30),
    f('Acceleration Z: ', 34), f('Gyro X: ', 38), f('Gyro Y: ', 42), f('Gyro Z: ', 46), f('Compass X: ', 50),
    f('Compass Y: ', 54), f('Compass Z: ', 58), u('Timestamp: ', 62, 2), u('Time Since Boot: ', 64, 4),
    u('UTC Timestamp: ', 68, 8)],
  11: [a('Ground Crossing Latitude: ', 2), a('Ground Crossing Longitude: ', 6), f('Ground Crossing Altitude: ', 10, ' m'),
    a('FOV: ', 14), u('Saturated Pixels: ', 18, 2), ...[0, 1, 2, 3, 4, 5, 6, 7].map(i => u(`Regional Line ${i}: `, 20 + i, 1)),
    u('Time Since Boot: ', 28, 4), u('UTC Timestamp: ', 32, 8)],
  12: [f('LOS X: ', 2), f('LOS Y: ', 6), f('LOS Z: ', 10), a('LOS Rate X: ', 14, `${DEG}/s`), a('LOS Rate Y: ', 18, `${DEG}/s`),
    a('ROI Azimuth: ', 22), a('ROI Elevation: ', 26), a('ROI Latitude: ', 30), a('ROI Longitude: ', 34),
    f('ROI Altitude: ', 38, ' m'), f('ROI X: ', 42), f('ROI Y: ', 46), u('Time Since Boot: ', 50, 4), u('UTC Timestamp: ', 54, 8)],
  15: [u('Status: ', 2, 1), u('Parameter ID: ', 3, 2), f('Parameter Value: ', 5)],
  16: [...STAMPS, u('Car Count: ', 14, 4)],
  17: [...STAMPS, u('PTS Timestamp: ', 14, 4), ['d', 'Refined Target Latitude: ', 18, DEG],
    ['d', 'Refined Target Longitude: ', 26, DEG], f('Refined Target Altitude MSL: ', 34, ' m'),
    f('Refined Target Altitude AGL: ', 38, ' m')],
}
// The reports that list records after their time stamps, from byte 14.
const NV_LISTS = {
  9: { name: 'Detection', bytes: 32, fields: [u('Class ID: ', 0, 2), u('Unique ID: ', 2, 2), f('X: ', 4), f('Y: ', 8),
    f('Width: ', 12), f('Height: ', 16), a('Latitude: ', 20), a('Longitude: ', 24), f('Altitude: ', 28, ' m')] },
  13: { name: 'Plate', bytes: 36, fields: [['t', 'Plate: ', 0, 16], f('X: ', 16), f('Y: ', 20), a('Latitude: ', 24),
    a('Longitude: ', 28), f('Altitude: ', 32, ' m')] },
  14: { name: 'Marker', bytes: 34, fields: [u('Marker ID: ', 0, 2), ...[1, 2, 3, 4].flatMap(i =>
    [f(`X${i}: `, 2 + 8 * (i - 1)), f(`Y${i}: `, 6 + 8 * (i - 1))])] },
}

// Random bytes for a report's fields at `base`: floats where a float goes, printable text for texts.
function fillFields(report, base, fields) {
  for (const [form, , offset, size] of fields) {
    const at = base + offset
    if (form === 'f' || form === 'a') report.writeFloatLE(randomFloat(), at)
    else if (form === 'd') report.writeDoubleLE(((next() % 3600000001) - 1800000000) / 1e7, at)
    else if (form === 't') Buffer.from(randomText(size)).copy(report, at)
    else for (let i = 0; i < size; i++) report[at + i] = next() & 255
  }
}
// The report laid by hand over the target bytes and payload of V2_EXTENSION.
function nextVisionMessage() {
  const report = Buffer.alloc(254)
  const known = [0, 0, 0, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17]
  const type = chance(5) ? next() % 20 : known[next() % known.length]
  if (type === 0) {
    for (let i = 2; i < 62; i++) report[i] = next() & 255
    for (const offset of [2, 6, 10, 24, 29, 33, 45, 49, 53, 57]) report.writeFloatLE(randomFloat(), offset)
  } else if (NV[type]) {
    fillFields(report, 0, NV[type])
  } else if (NV_LISTS[type]) {
    const list = NV_LISTS[type]
    fillFields(report, 0, STAMPS)
    const records = next() % (Math.floor(240 / list.bytes) + 1)
    for (let r = 0; r < records; r++) fillFields(report, 14 + r * list.bytes, list.fields)
  } else {
    for (let i = 2; i < 40; i++) report[i] = next() & 255
  }
  const message = new common.V2Extension()
  message.messageType = type
  message.targetNetwork = report[2]; message.targetSystem = report[3]; message.targetComponent = report[4]
  message.payload = [...report.subarray(5)]
  return message
}
function fieldLines(r, base, fields) {
  return fields.map(([form, label, offset, extra]) => {
    const at = base + offset
    if (form === 'f') return A(label, r.readFloatLE(at), extra)
    if (form === 'a') return A(label, r.readFloatLE(at), extra)
    if (form === 'd') return A(label, r.readDoubleLE(at), extra, 7)
    if (form === 't') return L(label + text(r.subarray(at, at + extra).toString('latin1')))
    return L(label + (extra === 8 ? r.readBigUInt64LE(at) : r.readUIntLE(at, extra)))
  })
}
function nextVisionLines(m, payloadLength) {
  const r = Buffer.alloc(254)
  r.writeUInt16LE(m.messageType, 0); r[2] = m.targetNetwork; r[3] = m.targetSystem; r[4] = m.targetComponent
  Buffer.from(m.payload).copy(r, 5)
  const type = r.readUInt16LE(0)
  const lines = [L(`Report type: ${type}`)]
  if (NV[type]) return lines.concat(fieldLines(r, 0, NV[type]))
  if (NV_LISTS[type]) {
    // As many records as the received payload holds, the last one perhaps cut by MAVLink 2's
    // trimming of trailing zero bytes.
    const list = NV_LISTS[type]
    const records = Math.min(Math.floor(240 / list.bytes), Math.max(0, Math.ceil((payloadLength - 14) / list.bytes)))
    lines.push(...fieldLines(r, 0, STAMPS), L(`Records: ${records}`))
    for (let i = 0; i < records; i++) lines.push(L(`${list.name} ${i + 1}:`), ...fieldLines(r, 14 + i * list.bytes, list.fields))
    return lines
  }
  if (type !== 0) return lines
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

// An extended parameter message whose value bytes fit its type: numbers little-endian in the value's
// first bytes, text for CUSTOM and unknown types.
function paramExtMessage(clazz) {
  return () => {
    const message = randomMessage(clazz)
    message.paramType = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 12][next() % 13]
    let bytes = Buffer.alloc(8)
    if (message.paramType === 10) bytes.writeDoubleLE((next() % 2000001 - 1000000) / 4096)
    else if (message.paramType === 9) bytes.writeFloatLE(randomFloat())
    else if (message.paramType >= 1 && message.paramType <= 8) bytes.writeBigInt64LE(random64('int64_t'))
    else bytes = Buffer.from(randomText(128))
    // char[] fields travel as latin1 text; a zero byte ends it.
    let end = bytes.indexOf(0)
    message.paramValue = bytes.subarray(0, end < 0 ? bytes.length : end).toString('latin1')
    return message
  }
}
function paramValueLines(m) {
  const b = Buffer.alloc(128)
  Buffer.from(m.paramValue, 'latin1').copy(b)
  const readers = [null, () => b[0], () => b.readInt8(0), () => b.readUInt16LE(0), () => b.readInt16LE(0),
    () => b.readUInt32LE(0), () => b.readInt32LE(0), () => b.readBigUInt64LE(0), () => b.readBigInt64LE(0)]
  let value
  if (m.paramType >= 1 && m.paramType <= 8) value = L(`param_value: ${readers[m.paramType]()}`)
  else if (m.paramType === 9) value = A('param_value: ', b.readFloatLE(0), '')
  else if (m.paramType === 10) value = A('param_value: ', b.readDoubleLE(0), '')
  else value = L(`param_value: ${text(m.paramValue)}`)
  return [value, L(`param_type: ${m.paramType}`)]
}
// CAMERA_INFORMATION with its two uint8 name arrays holding printable text.
function cameraInformationMessage() {
  const message = randomMessage(common.CameraInformation)
  for (const name of ['vendorName', 'modelName']) {
    message[name] = Array.from({ length: 32 }, () => 0)
    Buffer.from(randomText(32)).forEach((byte, i) => { message[name][i] = byte })
  }
  return message
}
const nameText = bytes => text(Buffer.from(bytes).toString('latin1'))
const version = v => `${v & 255}.${(v >>> 8) & 255}.${(v >>> 16) & 255}.${v >>> 24}`
const ms = v => `${fixed(v, 3)} s`
const videoStream = m => [A('framerate: ', m.framerate, ' Hz'), L(`bitrate: ${m.bitrate} bits/s`),
  L(`flags: 0x${hex(m.flags, 4)}`), L(`resolution_h: ${m.resolutionH} px`), L(`resolution_v: ${m.resolutionV} px`),
  L(`rotation: ${m.rotation}${DEG}`), L(`hfov: ${m.hfov}${DEG}`), L(`stream_id: ${m.streamId}`)]

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
    131: encapsulatedMessage, 248: nextVisionMessage, 76: commandMessage, 259: cameraInformationMessage,
    322: paramExtMessage(common.ParamExtValue), 323: paramExtMessage(common.ParamExtSet),
    324: paramExtMessage(common.ParamExtAck),
  }
  let seq = 0
  for (const id of Object.keys(DETAILS).map(Number)) {
    const clazz = REGISTRY[id]
    // The NextVision report types each need their own rounds.
    for (let round = 0; round < (id === 248 ? rounds * 8 : rounds); round++) {
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
        for (const line of DETAILS[id](m, packet.header.payloadLength)) console.log(line.join('\t'))
        console.log('end')
      }
    }
  }
}

if (mode === 'details') await details(Number(args[0]), Number(args[1]))
else { console.error('unknown mode ' + mode); process.exit(2) }
