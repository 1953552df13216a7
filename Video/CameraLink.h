// The cameras a drone connection can carry: finding out which camera it is, keeping each camera's
// state from the messages it sends, and turning the screens' requests and the pilot's inputs into
// the camera's own commands once per frame. Screens never build messages: they raise a request flag,
// write a wanted parameter value, or fill the pointing inputs; the per-frame control sends.
//
// A request flag (and a one-shot request) is cleared only once its command is in the send queue: a
// full queue delays a press to a later frame, it never loses it.
#pragma once
#include "Core/GeometryTypes.h"
#include "Mavlink/DroneOutput.h"

struct Preferences;
struct VehicleState;
struct InputState;

// Which camera code a connection runs each frame.
enum CameraKind : u32 {
    CameraNone = 0,
    CameraGimbal = 1,      // a gimbal on component 154 and/or the "WORKSWELL" camera
    CameraNextVision = 2,
    CameraProtocol = 3,    // a camera-protocol camera ("Sony")
};

enum CameraMessageId : u32 {
    MavlinkParamValue = 22,
    MavlinkParamExtRequestRead = 320,
    MavlinkParamExtRequestList = 321,
    MavlinkParamExtValue = 322,
    MavlinkParamExtSet = 323,
    MavlinkV2Extension = 248,
    MavlinkCameraInformation = 259,
    MavlinkCameraSettings = 260,
    MavlinkStorageInformation = 261,
    MavlinkCameraCaptureStatus = 262,
    MavlinkCameraImageCaptured = 263,
    MavlinkMountOrientation = 265,
    MavlinkGimbalManagerStatus = 281,
    MavlinkGimbalManagerSetManualControl = 288,
    MavlinkGimbalDeviceAttitudeStatus = 285,
};

constexpr u8 kMavTypeCamera = 30;
constexpr u64 kCameraInformationInterval = 1000000;  // 521 at most this often until identified
constexpr u64 kCameraStatusInterval = 500000;
constexpr u64 kGimbalCommandInterval = 100001;      // at least this long between gimbal messages
constexpr i32 kCameraParameters = 13;
constexpr i32 kExtParamNameBytes = 16;
constexpr i32 kExtParamFrameBytes = 161;
constexpr i32 kCameraFrameBytes = 256;

// The camera-protocol camera's extended parameters, 16 bytes each, zero-padded ("CAM_VND_80000000"
// fills all 16 without a terminator).
extern const char kCameraParameterNames[kCameraParameters][kExtParamNameBytes];

// The extended-parameter sync: a change is sent with PARAM_EXT_SET at most every 0.5 s for 3 s or
// until the camera reports the wanted value after the change; a read asked within the last 5 s goes
// out with PARAM_EXT_REQUEST_READ at most once a second, by index once the camera has named it.
constexpr u64 kExtParamSetInterval = 500001;
constexpr u64 kExtParamSetDuration = 3000000;
constexpr u64 kExtParamReadInterval = 1000001;
constexpr u64 kExtParamReadDuration = 5000000;

// One one-byte extended parameter (MAV_PARAM_EXT_TYPE_UINT8). A panel writes wanted and sets
// changeAskedTime = now; a panel that shows it sets readAskedTime = now.
struct ExtParamSlot {
    u64 receiveTime;  // 0 = unknown
    u64 readAskedTime;
    u64 changeAskedTime;
    u64 lastReadTime;
    u64 lastSetTime;
    u16 paramIndex;
    u8 value;
    u8 wanted;
    u32 indexKnown;
    u8 frame[kExtParamFrameBytes];  // the last PARAM_EXT_VALUE as received
    MavlinkFrameCopy frameCopy;
};

// The same for a parameter with a 64-bit value (the Workswell LAYOUT_MAIN).
struct WideExtParamSlot {
    u64 receiveTime;
    u64 readAskedTime;
    u64 changeAskedTime;
    u64 lastReadTime;
    u64 lastSetTime;
    u16 paramIndex;
    u8 paramType;  // as the camera reported it; 7 (UINT64) until it did
    u8 reserved;
    u32 indexKnown;
    u64 value;
    u64 wanted;
    u8 frame[kExtParamFrameBytes];
    MavlinkFrameCopy frameCopy;
};

struct CameraIdentity {
    u16 cameraSource;  // system << 8 | component; 0 until a camera HEARTBEAT
    u64 informationTime;  // 0 until a CAMERA_INFORMATION
    u64 informationRequestTime;
    u8 vendorName[32];
    u8 modelName[32];
    u32 timeBootMs;
    u32 firmwareVersion;
    f32 focalLength;
    f32 sensorSizeH;
    f32 sensorSizeV;
    u32 flags;
    u16 resolutionH;
    u16 resolutionV;
    u16 camDefinitionVersion;
    u8 lensId;
    u8 heartbeatFrame[kCameraFrameBytes];
    MavlinkFrameCopy heartbeat;
    u8 informationFrame[kCameraFrameBytes];
    MavlinkFrameCopy information;
};

// The camera's field of view and the part of the video picture that shows it; the zoom request of
// the screens that show the camera (cleared by the drone connection after each frame's control).
struct CameraView {
    u32 imagesCaptured;
    f64 horizontalTangent;
    f64 verticalTangent;
    Rect crop;  // x0, x1, y0, y1 as fractions of the picture
    u32 zoomWanted;
    f64 wantedTangent;
};

// The camera's attitude and the pilot's gimbal inputs (degrees per second, held buttons).
struct GimbalPointing {
    Quaternion attitude;
    f64 gimbalAngle;  // radians
    f32 pitchInput;
    f32 yawInput;
    u32 recenterHeld;
    u32 secondaryHeld;
};

enum ProtocolCameraRequest : u32 {
    ProtocolRequestPhotoMode = 0,
    ProtocolRequestVideoMode,
    ProtocolRequestStartInterval,
    ProtocolRequestStopCapture,
    ProtocolRequestSinglePhoto,
    ProtocolRequestStartVideo,
    ProtocolRequestStopVideo,
    ProtocolRequestParameterList,
    kProtocolCameraRequests,
};

struct ProtocolCameraState {
    u32 recording;
    u32 intervalCaptureActive;
    u8 cameraMode;  // 0 photo, 1 video
    u32 pictureShape;  // 0 unknown, 1 photo (3:2), 2 video (16:9)
    u32 recordingTimeMs;
    u64 gimbalManagerStatusTime;
    u16 gimbalControllerId;  // primary_control_sysid << 8 | primary_control_compid
    Quaternion gimbalAttitude;  // east-north-up
    // The gimbal's roll angle (rad) and the attitude it was taken from.
    u32 gimbalAngleKnown;
    Quaternion gimbalAngleAttitude;
    f64 gimbalAngle;
    u32 sdPresent;
    f32 sdFreeBytes;
    u32 usbPresent;
    f32 usbFreeBytes;
    u64 captureStatusTime;
    u32 imageCount;
    u32 captureSequence;
    u64 lastPitchInputTime;  // i64 in meaning: -1,000,000 ends the zero-rate repeat at once
    u64 gimbalMessageTime;
    u64 statusRoundTime;
    u8 controllerSequence;
    ExtParamSlot parameters[kCameraParameters];
    u32 requests[kProtocolCameraRequests];
};

enum WorkswellRequest : u32 {
    WorkswellRequestInfrared = 0,
    WorkswellRequestVisible,
    WorkswellRequestTakePhoto,
    WorkswellRequestStartVideo,
    WorkswellRequestStopVideo,
    WorkswellRequestVendor1,
    WorkswellRequestVendor2,
    WorkswellRequestVendor4,
    WorkswellRequestVendor3,
    kWorkswellRequests,
};

struct WorkswellCameraState {
    u32 recording;
    u64 statusRoundTime;
    WideExtParamSlot layout;  // LAYOUT_MAIN
    u64 zoomCommandTime;
    u8 cameraMode;  // 0 infrared, 1 visible
    f32 zoomLevel;
    u32 recordingTimeMs;
    u64 recordingTimeReceived;
    u32 sdPresent;
    f32 sdFreeBytes;
    f32 ssdFreeBytes;
    u32 requests[kWorkswellRequests];
};

enum NextVisionRequest : u32 {
    NextVisionRequestCode11 = 0,
    NextVisionRequestSensor1,
    NextVisionRequestSensor0,
    NextVisionRequestSnapshot,
    NextVisionRequestStartRecording,
    NextVisionRequestStopRecording,
    NextVisionRequestPointAt,
    kNextVisionRequests,
};

constexpr u16 kNextVisionSource = 65470;  // system 255, component 190
constexpr u16 kNextVisionTarget = 256;    // system 1, component 0
constexpr i32 kAngleHistory = 10;

struct NextVisionState {
    // The system report's roll (bytes 2-5), pitch (6-9) and roll derotation angle (57-60), in degrees.
    f32 tilt, pan, roll, horizontalFov;
    u8 statusByte14;
    u8 recordingChannel1, recordingChannel2;
    u8 activeSensor;
    u32 stabilised;
    u8 statusByte44;
    f32 temperature;
    u8 cardPresent;
    f32 cardValue;
    f32 cardFreeMiB;
    u64 reportTime[4];  // types 0, 1, 2 and 6
    u64 reportRoundTime;
    u64 pointingCommandTime;
    u64 zoomCommandTime;
    f32 pitchTarget, yawTarget;
    u32 pointingHold;
    u64 pointCommandTime;
    u64 pitchHistoryTime[kAngleHistory];
    f32 pitchHistory[kAngleHistory];
    u64 yawHistoryTime[kAngleHistory];
    f32 yawHistory[kAngleHistory];
    f32 pitchRate, yawRate;
    f32 lastPitchInput, lastYawInput;
    f32 zoomState;  // 0 stop, 1 in, 2 out
    f64 previousWantedTangent;
    u32 requests[kNextVisionRequests];
    f32 pointAt[2];
    // The last pointing command sent: its mode (4 local, 5 global) and its two angles (local: pitch
    // and roll; global: pitch and yaw), in degrees; 0 before the first.
    f32 commandedMode;
    f32 commandedAngles[2];
    i32 imageFlip;  // the picture's flip as the camera reports it; no report fills it yet
};

// Each returns 1 when it took the message.
u32 handleCameraInformation(const MavlinkMessage* message, CameraIdentity* identity, u64 now);
u32 handleCameraProtocolMessage(const MavlinkMessage* message, ProtocolCameraState* state, u16 cameraSource,
                                CameraView* view, u64 now);
u32 handleLayoutCameraMessage(const MavlinkMessage* message, WorkswellCameraState* state, u16 cameraSource,
                              CameraView* view, u64 now);
u32 handleNextVisionExtension(const MavlinkMessage* message, NextVisionState* state, u32* imagesCaptured, u64 now);

// The camera kind a CAMERA_INFORMATION received within the last second names (1 "WORKSWELL",
// 3 "Sony", the 32 bytes compared whole), or -1 when it names none.
i32 cameraKindFromInformation(const CameraIdentity* identity, u64 now);
// COMMAND_LONG 521 to the camera at most once a second while it has not identified itself.
void requestCameraInformation(CameraIdentity* identity, DroneOutput* output, u64 now);

// The camera-protocol camera, once per frame.
void controlCamera(ProtocolCameraState* state, u16 cameraSource, CameraView* view, GimbalPointing* pointing,
                   const VehicleState* vehicle, const Preferences* preferences, i32 videoHeight, DroneOutput* output,
                   u64 now);
// The Workswell camera, once per frame after the gimbal control.
void updateCameraControl(WorkswellCameraState* state, u16 cameraSource, CameraView* view, DroneOutput* output,
                         u64 now);
void controlNextVisionCamera(NextVisionState* state, CameraView* view, GimbalPointing* pointing,
                             const VehicleState* vehicle, const Preferences* preferences, DroneOutput* output, u64 now);

// One frame of keeping an extended parameter in step with the camera at target.
void syncExtParamB(ExtParamSlot* slot, const char* name, u16 target, DroneOutput* output, u64 now);
void syncExtParamA(WideExtParamSlot* slot, const char* name, u16 target, DroneOutput* output, u64 now);

// The hyperspectral sensor's address; tests point it at the loopback.
extern AddressRecord hyperspectralSensorAddress;
// Key 242 going down sends the start text with the local time of the press (UTC plus the time-zone
// offset, both in ms; UTC counted from 1601-01-01), key 244 the stop text; one UDP datagram each
// through the socket's send queue (a full queue drops it).
void sendHyperspectralCommand(const InputState* input, Socket* socket, i64 utcMilliseconds, i64 timeZoneOffsetMs);
