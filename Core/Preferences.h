// The user's settings: one record of 92 fields in the line order of "Preferences.txt". Every field is
// one of six kinds: u8, u16, u32 enum index (booleans are 0 "False" and 1 "True"), f64, an
// AddressRecord endpoint or a FixedString text. The field table that names them and the file logic
// live with the preferences module.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"

enum WaypointSnapAltitudeMode : u32 {
    SnapAboveGroundLevel = 0,
    SnapAboveTakeoffLocation = 1,
    SnapAboveGroundLevelAndTakeoffLocation = 2,
};

enum VerticalFlightPath : u32 {
    VerticalFlightPathSafe = 0,
    VerticalFlightPathStraight = 1,
};

enum TransectUsage : u32 {
    TransectJustFlying = 0,
    TransectIgnition = 1,
    TransectMapping = 2,
};

enum PayloadType : u32 {
    PayloadNone = 0,
    PayloadOrvik = 1,
    PayloadVosk = 2,
    PayloadWaterSampler = 3,
};

enum DroneConnectionKind : u32 {
    DroneConnectionNone = 0,  // "N/A"
    DroneConnectionIp = 1,
};

enum TransportProtocol : u32 {
    TransportUdp = 0,
    TransportTcp = 1,
};

enum VideoStreamProtocol : u32 {
    VideoStreamNone = 0,  // "N/A"
    VideoStreamQv = 1,
    VideoStreamRtsp = 2,
};

enum DroneColor : u32 {
    DroneColorRed = 0,
    DroneColorYellow = 1,
};

// "Units": above UnitsMetricKmh, lengths are in feet and temperatures in degrees Fahrenheit.
enum Units : u32 {
    UnitsMetricMps = 0,    // "Metric (m/s)"
    UnitsMetricKmh = 1,    // "Metric (km/h)"
    UnitsImperialFps = 2,  // "Imperial (ft/s)"
    UnitsImperialMph = 3,  // "Imperial (mph)"
    UnitsNauticalKn = 4,   // "Nautical (kn)"
};

enum LatLngFormat : u32 {
    LatLngDecimalDegrees = 0,
    LatLngDegreesDecimalMinutes = 1,
    LatLngDegreesMinutesDecimalSeconds = 2,
};

enum MinimapCorner : u32 {
    MinimapBottomRight = 0,
    MinimapBottom = 1,
    MinimapBottomLeft = 2,
    MinimapLeft = 3,
    MinimapTopLeft = 4,
    MinimapTop = 5,
    MinimapTopRight = 6,
    MinimapRight = 7,
    MinimapCenter = 8,
};

// "Copernicus search month": 0 is "Month Zero", then January (1) to December (12).
enum SearchMonth : u32 {
    SearchMonthZero = 0,
    SearchMonthJuly = 7,
};

struct Preferences {
    // Texts start on 8-byte boundaries, which gives the record its 4,344-byte layout.
    alignas(8) FixedString customElevationDataFile;       // "Custom elevation data file"
    u32 showTopographicOverlay;                      // boolean
    u32 showLowAltitudeOverlay;                      // boolean
    f64 lowAltitudeWarning;                          // "Low altitude warning (m)"
    f64 airspaceIndicatorAltitude;                   // "Airspace indicator altitude (m)"
    alignas(8) FixedString vectorOverlayFile;             // "Vector overlay file"
    alignas(8) FixedString rasterOverlayFile;             // "Raster overlay file"
    u32 waypointSnapAltitudeMode;                    // WaypointSnapAltitudeMode
    f64 waypointSnapAltitudeAboveGroundLevel;        // "Waypoint snap altitude above ground level (m)"
    f64 waypointSnapAltitudeAboveTakeoffLocation;    // "Waypoint snap altitude above takeoff location (m)"
    f64 waypointMissionCruiseSpeed;                  // "Waypoint mission cruise Speed (m/s)"
    f64 waypointCurveRange;                          // "Waypoint curve range (m)"
    u32 verticalFlightPathToFirstWaypoint;           // VerticalFlightPath
    u16 maxWaypointsToUpload;                        // "Max number of waypoints to upload"
    u32 transectUsage;                               // TransectUsage
    f64 transectZigZagHeading;                       // "Transect Zig-Zag Heading (degrees)"
    f64 transectSpacing;                             // "Transect Spacing (meters)"
    f64 transectOvershootDistance;                   // "Transect Overshoot Distance (meters)"
    u32 payloadType;                                 // PayloadType
    alignas(8) FixedString mapStyle;                      // "Map style"
    alignas(8) FixedString mapStyleFileExtension;         // "Map style file extension"
    alignas(8) FixedString mapUrl;                        // "Map URL"
    u8 appSystemId;                                  // "App System Id"
    u8 appComponentId;                               // "App Component Id"
    u32 droneConnection;                             // DroneConnectionKind
    AddressRecord droneAddress;                      // "Drone IP address and port"
    u32 droneTransportProtocol;                      // TransportProtocol
    u16 droneLocalPort;                              // "Drone connection local port"
    alignas(8) FixedString droneNetworkInterface;         // "Drone network interface"
    AddressRecord customDroneAddress;                // "Custom drone connection IP address and port"
    u32 customDroneTransportProtocol;                // TransportProtocol
    u16 customDroneLocalPort;                        // "Custom drone connection local port"
    alignas(8) FixedString customDroneNetworkInterface;   // "Custom drone network interface"
    u32 videoStreamProtocol;                         // VideoStreamProtocol
    AddressRecord qvVideoServerAddress;              // "QV video server IP address and port"
    alignas(8) FixedString rtspUrl;                       // "RTSP URL"
    alignas(8) FixedString videoNetworkInterface;         // "Video network interface"
    u32 customVideoStreamProtocol;                   // VideoStreamProtocol
    AddressRecord customQvVideoServerAddress;        // "Custom QV video server IP address and port"
    alignas(8) FixedString customRtspUrl;                 // "Custom RTSP URL"
    alignas(8) FixedString customVideoNetworkInterface;   // "Custom video network interface"
    u16 relayModePort;                               // "Relay mode port"
    alignas(8) FixedString relayNetworkInterface;         // "Relay network interface"
    u32 relayModeDisableEncryption;                  // boolean
    u32 droneColor;                                  // DroneColor
    u32 units;                                       // Units
    u32 latLngFormat;                                // LatLngFormat
    u32 showHorizontalGroundSpeed;                   // boolean
    u32 showVerticalSpeed;                           // boolean
    u32 showLatLng;                                  // boolean
    u32 showDistanceFromHome;                        // boolean
    u32 showAltMslFromElevationMap;                  // boolean
    u32 showAltMslFromTakeoffElevation;              // boolean
    f64 inputtedTakeoffElevation;                    // "Inputted takeoff elevation (m)"
    f64 adsbWarningCylinderAltitude;                 // "ADSB audible warning cylinder altitude (m MSL)"
    f64 adsbWarningCylinderRadius;                   // "ADSB audible warning cylinder radius (m)"
    u32 alwaysShowHud;                               // boolean
    u32 showBatteryVoltage;                          // boolean
    u32 minimapCorner;                               // MinimapCorner
    u32 developerMode;                               // boolean
    f64 simulatorTakeoffLatitude;                    // "Simulator takeoff latitude"
    f64 simulatorTakeoffLongitude;                   // "Simulator takeoff longitude"
    u32 simulateOrvik;                               // boolean
    u32 simulateVosk;                                // boolean
    u32 simulateStrobe;                              // boolean
    f64 orvikDropSpacing;                            // "Orvik drop spacing (m)"
    f64 orvikMaxDropPeriod;                          // "Orvik max drop period (s)"
    f64 orvikGroundDropTiming;                       // "Orvik ground drop timing (s)"
    f64 orvikDropLocationPersistence;                // "Orvik drop location persistence (hours)"
    f64 mappingKitPhotoInterval;                     // "Vezod Mapping Kit Photo Interval (s, 0 for Single)"
    // The binding group: from here to minimizeMapBinding, compared and replaced as one block.
    f64 gimbalSticksScalar;                          // "Pitch/yaw/zoom sticks scalar"
    u32 pitchGimbalBinding;                          // ControllerInput
    u32 yawGimbalBinding;                            // ControllerInput
    u32 zoomCameraBinding;                           // ControllerInput
    u32 recenterGimbalBinding;                       // ControllerInput
    u32 secondaryGimbalPositionBinding;              // ControllerInput, "Go to secondary gimbal position"
    f64 recenterPositionPitch;                       // "Recenter position pitch"
    f64 secondaryPositionYaw;                        // "Secondary position yaw"
    f64 secondaryPositionPitch;                      // "Secondary position pitch"
    u32 togglePitchYawBinding;                       // ControllerInput, "Toggle pitch/yaw or recenter"
    u32 togglePitchZoomBinding;                      // ControllerInput, "Toggle pitch/zoom or recenter"
    u32 toggleVisIrCameraBinding;                    // ControllerInput
    u32 shootPhotoBinding;                           // ControllerInput
    u32 recordVideoBinding;                          // ControllerInput
    u32 minimizeMapBinding;                          // ControllerInput, "Minimize/maximize map"
    u32 copernicusSearchMonth;                       // SearchMonth
    f64 copernicusMaxCloudCover;                     // "Copernicus search max cloud cover (%)"
    u32 copernicusSaveLoginInfo;                     // boolean
    alignas(8) FixedString copernicusUsername;            // "Copernicus username"
    alignas(8) FixedString copernicusPassword;            // "Copernicus password", in its stored (encrypted) form
    u32 enableMavlinkJoysticks;                      // boolean
    u32 enableCorningShark410;                       // boolean
};
static_assert(sizeof(Preferences) == 4344);
