// The datagrams a camera-protocol camera (system 1, component 100, vendor "Sony") and its vehicle
// send, written with node-mavlink for the flight-log viewer's tests: one line "datagram WHAT HEX"
// each: "vehicle" (the vehicle's HEARTBEAT), "camera" (the camera's HEARTBEAT), "information"
// (CAMERA_INFORMATION), "status-1-1500" (CAMERA_CAPTURE_STATUS recording for 1,500 ms),
// "status-0-0" (not recording), "status-1-0" (recording, just started) and "captured"
// (CAMERA_IMAGE_CAPTURED). Run from the folder node-mavlink is installed in.
import { MavLinkProtocolV2, minimal, common } from 'node-mavlink'

const vehicle = new MavLinkProtocolV2(1, 1)
const camera = new MavLinkProtocolV2(1, 100)
let seq = 0
const out = (what, proto, message) => console.log(`datagram ${what} ${proto.serialize(message, seq++ & 255).toString('hex')}`)
const bytes = (text, n) => Array.from({ length: n }, (_, i) => i < text.length ? text.charCodeAt(i) : 0)
const heartbeat = (type, autopilot) => Object.assign(new minimal.Heartbeat(), { type, autopilot, baseMode: 0,
  customMode: 0, systemStatus: 4, mavlinkVersion: 3 })

out('vehicle', vehicle, heartbeat(minimal.MavType.QUADROTOR, minimal.MavAutopilot.PX4))
out('camera', camera, heartbeat(30, 8))
out('information', camera, Object.assign(new common.CameraInformation(), { timeBootMs: 5, vendorName: bytes('Sony', 32),
  modelName: bytes('Stand-in', 32), firmwareVersion: 1, focalLength: 4.5, sensorSizeH: 6, sensorSizeV: 4,
  resolutionH: 1920, resolutionV: 1080, lensId: 0, flags: 0, camDefinitionVersion: 0, camDefinitionUri: '' }))
for (const [recording, elapsed] of [[1, 1500], [0, 0], [1, 0]]) {
  out(`status-${recording}-${elapsed}`, camera, Object.assign(new common.CameraCaptureStatus(), { timeBootMs: 5,
    imageStatus: 0, videoStatus: recording, imageInterval: 0, recordingTimeMs: elapsed, availableCapacity: 100,
    imageCount: 0 }))
}
out('captured', camera, new common.CameraImageCaptured())
