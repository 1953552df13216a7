#include "Core/PreferenceFields.h"

#include <cstddef>

#define FIELD(name) (u32) offsetof(Preferences, name)
#define COUNT(names) (u64)(sizeof(names) / sizeof(names[0]))

namespace {

const char* const kBooleanNames[] = {"False", "True"};
const char* const kSnapModeNames[] = {"Above Ground Level", "Above Takeoff Location",
                                      "Above Ground Level & Above Takeoff Location"};
const char* const kVerticalPathNames[] = {"Safe", "Straight"};
const char* const kTransectUsageNames[] = {"Just Flying", "Ignition", "Mapping"};
const char* const kPayloadTypeNames[] = {"None", "Orvik", "VOSK", "Water Sampler"};
const char* const kDroneConnectionNames[] = {"N/A", "IP"};
const char* const kTransportNames[] = {"UDP", "TCP"};
const char* const kVideoProtocolNames[] = {"N/A", "QV", "RTSP"};
const char* const kDroneColorNames[] = {"Red", "Yellow"};
const char* const kUnitsNames[] = {"Metric (m/s)", "Metric (km/h)", "Imperial (ft/s)", "Imperial (mph)",
                                   "Nautical (kn)"};
const char* const kLatLngFormatNames[] = {"Decimal Degrees", "Degrees, Decimal Minutes",
                                          "Degrees, Minutes, Decimal Seconds"};
const char* const kMinimapCornerNames[] = {"Bottom Right", "Bottom", "Bottom Left", "Left", "Top Left",
                                           "Top", "Top Right", "Right", "Center"};
const char* const kSearchMonthNames[] = {"Month Zero", "January", "February", "March", "April",
                                         "May", "June", "July", "August", "September",
                                         "October", "November", "December"};
const char* const* const kControllerInputNames = controllerInputNames;

}  // namespace

const char* const controllerInputNames[kControllerInputCount] = {
    "Unbound",
    "Pilot Pro Left Rocker",
    "Pilot Pro Right Rocker",
    "Pilot Pro L1",
    "Pilot Pro R1",
    "Pilot Pro L2",
    "Pilot Pro R2",
    "Herelink Wheel",
    "Herelink A",
    "Herelink B",
    "Herelink Home",
    "Herelink C",
    "Herelink D",
    "Herelink Trigger",
    "RC Channel 1",
    "RC Channel 2",
    "RC Channel 3",
    "RC Channel 4",
    "RC Channel 5",
    "RC Channel 6",
    "RC Channel 7",
    "RC Channel 8",
    "RC Channel 9",
    "RC Channel 10",
    "RC Channel 11",
    "RC Channel 12",
    "RC Channel 13",
    "RC Channel 14",
    "RC Channel 15",
    "RC Channel 16",
    "RC Channel 17",
    "RC Channel 18",
    "Unbound (inverted)",
    "Pilot Pro Left Rocker (inverted)",
    "Pilot Pro Right Rocker (inverted)",
    "Pilot Pro L1 (inverted)",
    "Pilot Pro R1 (inverted)",
    "Pilot Pro L2 (inverted)",
    "Pilot Pro R2 (inverted)",
    "Herelink Wheel (inverted)",
    "Herelink A (inverted)",
    "Herelink B (inverted)",
    "Herelink Home (inverted)",
    "Herelink C (inverted)",
    "Herelink D (inverted)",
    "Herelink Trigger (inverted)",
    "RC Channel 1 (inverted)",
    "RC Channel 2 (inverted)",
    "RC Channel 3 (inverted)",
    "RC Channel 4 (inverted)",
    "RC Channel 5 (inverted)",
    "RC Channel 6 (inverted)",
    "RC Channel 7 (inverted)",
    "RC Channel 8 (inverted)",
    "RC Channel 9 (inverted)",
    "RC Channel 10 (inverted)",
    "RC Channel 11 (inverted)",
    "RC Channel 12 (inverted)",
    "RC Channel 13 (inverted)",
    "RC Channel 14 (inverted)",
    "RC Channel 15 (inverted)",
    "RC Channel 16 (inverted)",
    "RC Channel 17 (inverted)",
    "RC Channel 18 (inverted)"
};

const PreferenceField preferenceFields[kPreferenceFieldCount] = {
    {"Custom elevation data file", FIELD(customElevationDataFile), PreferenceText, nullptr, 0, 0},
    {"Show topographic overlay", FIELD(showTopographicOverlay), PreferenceEnum, kBooleanNames, 2, 0},
    {"Show low altitude overlay", FIELD(showLowAltitudeOverlay), PreferenceEnum, kBooleanNames, 2, 0},
    {"Low altitude warning (m)", FIELD(lowAltitudeWarning), PreferenceNumber, nullptr, 0, 0},
    {"Airspace indicator altitude (m)", FIELD(airspaceIndicatorAltitude), PreferenceNumber, nullptr, 0, 0},
    {"Vector overlay file", FIELD(vectorOverlayFile), PreferenceText, nullptr, 0, 0},
    {"Raster overlay file", FIELD(rasterOverlayFile), PreferenceText, nullptr, 0, 0},
    {"Waypoint snap altitude mode", FIELD(waypointSnapAltitudeMode), PreferenceEnum, kSnapModeNames, COUNT(kSnapModeNames), 0},
    {"Waypoint snap altitude above ground level (m)", FIELD(waypointSnapAltitudeAboveGroundLevel), PreferenceNumber, nullptr, 0, 0},
    {"Waypoint snap altitude above takeoff location (m)", FIELD(waypointSnapAltitudeAboveTakeoffLocation), PreferenceNumber, nullptr, 0, 0},
    {"Waypoint mission cruise Speed (m/s)", FIELD(waypointMissionCruiseSpeed), PreferenceNumber, nullptr, 0, 0},
    {"Waypoint curve range (m)", FIELD(waypointCurveRange), PreferenceNumber, nullptr, 0, 0},
    {"Vertical flight path to first waypoint", FIELD(verticalFlightPathToFirstWaypoint), PreferenceEnum, kVerticalPathNames, COUNT(kVerticalPathNames), 0},
    {"Max number of waypoints to upload", FIELD(maxWaypointsToUpload), PreferenceU16, nullptr, 0, 0},
    {"Transect Usage", FIELD(transectUsage), PreferenceEnum, kTransectUsageNames, COUNT(kTransectUsageNames), 0},
    {"Transect Zig-Zag Heading (degrees)", FIELD(transectZigZagHeading), PreferenceNumber, nullptr, 0, 0},
    {"Transect Spacing (meters)", FIELD(transectSpacing), PreferenceNumber, nullptr, 0, 0},
    {"Transect Overshoot Distance (meters)", FIELD(transectOvershootDistance), PreferenceNumber, nullptr, 0, 0},
    {"Payload Type", FIELD(payloadType), PreferenceEnum, kPayloadTypeNames, COUNT(kPayloadTypeNames), 0},
    {"Map style", FIELD(mapStyle), PreferenceText, nullptr, 0, 1},
    {"Map style file extension", FIELD(mapStyleFileExtension), PreferenceText, nullptr, 0, 1},
    {"Map URL", FIELD(mapUrl), PreferenceText, nullptr, 0, 1},
    {"App System Id", FIELD(appSystemId), PreferenceU8, nullptr, 0, 0},
    {"App Component Id", FIELD(appComponentId), PreferenceU8, nullptr, 0, 0},
    {"Drone connection", FIELD(droneConnection), PreferenceEnum, kDroneConnectionNames, COUNT(kDroneConnectionNames), 0},
    {"Drone IP address and port", FIELD(droneAddress), PreferenceEndpoint, nullptr, 0, 0},
    {"Drone transport protocol", FIELD(droneTransportProtocol), PreferenceEnum, kTransportNames, COUNT(kTransportNames), 0},
    {"Drone connection local port", FIELD(droneLocalPort), PreferenceU16, nullptr, 0, 0},
    {"Drone network interface", FIELD(droneNetworkInterface), PreferenceText, nullptr, 0, 0},
    {"Custom drone connection IP address and port", FIELD(customDroneAddress), PreferenceEndpoint, nullptr, 0, 0},
    {"Custom drone connection transport protocol", FIELD(customDroneTransportProtocol), PreferenceEnum, kTransportNames, COUNT(kTransportNames), 0},
    {"Custom drone connection local port", FIELD(customDroneLocalPort), PreferenceU16, nullptr, 0, 0},
    {"Custom drone network interface", FIELD(customDroneNetworkInterface), PreferenceText, nullptr, 0, 0},
    {"Video stream protocol", FIELD(videoStreamProtocol), PreferenceEnum, kVideoProtocolNames, COUNT(kVideoProtocolNames), 0},
    {"QV video server IP address and port", FIELD(qvVideoServerAddress), PreferenceEndpoint, nullptr, 0, 0},
    {"RTSP URL", FIELD(rtspUrl), PreferenceText, nullptr, 0, 0},
    {"Video network interface", FIELD(videoNetworkInterface), PreferenceText, nullptr, 0, 0},
    {"Custom Video stream protocol", FIELD(customVideoStreamProtocol), PreferenceEnum, kVideoProtocolNames, COUNT(kVideoProtocolNames), 0},
    {"Custom QV video server IP address and port", FIELD(customQvVideoServerAddress), PreferenceEndpoint, nullptr, 0, 0},
    {"Custom RTSP URL", FIELD(customRtspUrl), PreferenceText, nullptr, 0, 0},
    {"Custom video network interface", FIELD(customVideoNetworkInterface), PreferenceText, nullptr, 0, 0},
    {"Relay mode port", FIELD(relayModePort), PreferenceU16, nullptr, 0, 0},
    {"Relay network interface", FIELD(relayNetworkInterface), PreferenceText, nullptr, 0, 0},
    {"Relay mode disable encryption", FIELD(relayModeDisableEncryption), PreferenceEnum, kBooleanNames, 2, 0},
    {"Drone color", FIELD(droneColor), PreferenceEnum, kDroneColorNames, COUNT(kDroneColorNames), 0},
    {"Units", FIELD(units), PreferenceEnum, kUnitsNames, COUNT(kUnitsNames), 0},
    {"Lat/Lng format", FIELD(latLngFormat), PreferenceEnum, kLatLngFormatNames, COUNT(kLatLngFormatNames), 0},
    {"Show Horizontal Ground Speed", FIELD(showHorizontalGroundSpeed), PreferenceEnum, kBooleanNames, 2, 0},
    {"Show Vertical Speed", FIELD(showVerticalSpeed), PreferenceEnum, kBooleanNames, 2, 0},
    {"Show Lat/Lng", FIELD(showLatLng), PreferenceEnum, kBooleanNames, 2, 0},
    {"Show Distance from Home", FIELD(showDistanceFromHome), PreferenceEnum, kBooleanNames, 2, 0},
    {"Show Alt MSL from Elevation Map", FIELD(showAltMslFromElevationMap), PreferenceEnum, kBooleanNames, 2, 0},
    {"Show Alt MSL from inputted takeoff elevation", FIELD(showAltMslFromTakeoffElevation), PreferenceEnum, kBooleanNames, 2, 0},
    {"Inputted takeoff elevation (m)", FIELD(inputtedTakeoffElevation), PreferenceNumber, nullptr, 0, 0},
    {"ADSB audible warning cylinder altitude (m MSL)", FIELD(adsbWarningCylinderAltitude), PreferenceNumber, nullptr, 0, 0},
    {"ADSB audible warning cylinder radius (m)", FIELD(adsbWarningCylinderRadius), PreferenceNumber, nullptr, 0, 0},
    {"Always show HUD", FIELD(alwaysShowHud), PreferenceEnum, kBooleanNames, 2, 0},
    {"Show battery voltage", FIELD(showBatteryVoltage), PreferenceEnum, kBooleanNames, 2, 0},
    {"Minimap/Minivideo corner", FIELD(minimapCorner), PreferenceEnum, kMinimapCornerNames, COUNT(kMinimapCornerNames), 0},
    {"Developer mode", FIELD(developerMode), PreferenceEnum, kBooleanNames, 2, 0},
    {"Simulator takeoff latitude", FIELD(simulatorTakeoffLatitude), PreferenceNumber, nullptr, 0, 0},
    {"Simulator takeoff longitude", FIELD(simulatorTakeoffLongitude), PreferenceNumber, nullptr, 0, 0},
    {"Simulate Orvik", FIELD(simulateOrvik), PreferenceEnum, kBooleanNames, 2, 0},
    {"Simulate VOSK", FIELD(simulateVosk), PreferenceEnum, kBooleanNames, 2, 0},
    {"Simulate Strobe", FIELD(simulateStrobe), PreferenceEnum, kBooleanNames, 2, 0},
    {"Orvik drop spacing (m)", FIELD(orvikDropSpacing), PreferenceNumber, nullptr, 0, 0},
    {"Orvik max drop period (s)", FIELD(orvikMaxDropPeriod), PreferenceNumber, nullptr, 0, 0},
    {"Orvik ground drop timing (s)", FIELD(orvikGroundDropTiming), PreferenceNumber, nullptr, 0, 0},
    {"Orvik drop location persistence (hours)", FIELD(orvikDropLocationPersistence), PreferenceNumber, nullptr, 0, 0},
    {"Vezod Mapping Kit Photo Interval (s, 0 for Single)", FIELD(mappingKitPhotoInterval), PreferenceNumber, nullptr, 0, 0},
    {"Pitch/yaw/zoom sticks scalar", FIELD(gimbalSticksScalar), PreferenceNumber, nullptr, 0, 0},
    {"Pitch gimbal", FIELD(pitchGimbalBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Yaw gimbal", FIELD(yawGimbalBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Zoom camera", FIELD(zoomCameraBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Recenter gimbal", FIELD(recenterGimbalBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Go to secondary gimbal position", FIELD(secondaryGimbalPositionBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Recenter position pitch", FIELD(recenterPositionPitch), PreferenceNumber, nullptr, 0, 0},
    {"Secondary position yaw", FIELD(secondaryPositionYaw), PreferenceNumber, nullptr, 0, 0},
    {"Secondary position pitch", FIELD(secondaryPositionPitch), PreferenceNumber, nullptr, 0, 0},
    {"Toggle pitch/yaw or recenter", FIELD(togglePitchYawBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Toggle pitch/zoom or recenter", FIELD(togglePitchZoomBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Toggle Vis/IR camera", FIELD(toggleVisIrCameraBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Shoot photo", FIELD(shootPhotoBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Record video", FIELD(recordVideoBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Minimize/maximize map", FIELD(minimizeMapBinding), PreferenceEnum, kControllerInputNames, kControllerInputCount, 0},
    {"Copernicus search month", FIELD(copernicusSearchMonth), PreferenceEnum, kSearchMonthNames, COUNT(kSearchMonthNames), 0},
    {"Copernicus search max cloud cover (%)", FIELD(copernicusMaxCloudCover), PreferenceNumber, nullptr, 0, 0},
    {"Copernicus save login info", FIELD(copernicusSaveLoginInfo), PreferenceEnum, kBooleanNames, 2, 1},
    {"Copernicus username", FIELD(copernicusUsername), PreferenceText, nullptr, 0, 1},
    {"Copernicus password", FIELD(copernicusPassword), PreferenceText, nullptr, 0, 1},
    {"Enable mavlink joysticks", FIELD(enableMavlinkJoysticks), PreferenceEnum, kBooleanNames, 2, 0},
    {"Enable Corning Shark 410", FIELD(enableCorningShark410), PreferenceEnum, kBooleanNames, 2, 0},
};

const PreferenceField* findPreferenceField(const u8* key, i64 keyLength) {
    for (u32 i = 0; i < kPreferenceFieldCount; i++) {
        if (equalsIgnoringCase(preferenceFields[i].key, key, keyLength)) return &preferenceFields[i];
    }
    return nullptr;
}

const PreferenceField* preferenceFieldAt(u32 offset) {
    for (u32 i = 0; i < kPreferenceFieldCount; i++) {
        if (preferenceFields[i].offset == offset) return &preferenceFields[i];
    }
    return nullptr;
}
