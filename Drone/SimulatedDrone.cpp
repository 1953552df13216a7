// The simulated drone's step and flight model. Its MAVLink side is in SimulatedDroneMessages.cpp.
#include "Drone/SimulatedDrone.h"

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Core/Profiler.h"
#include "Drone/FlightController/Parameters.h"
#include "Drone/SimulatedDroneInternal.h"
#include "Map/ElevationMapLoader.h"
#include "Platform/Input.h"

#include <cmath>
#include <cstring>

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr f64 kStickSpeed = 15.0;       // m/s at full right stick
constexpr f64 kStickClimbRate = 3.0;    // m/s at full left Y
constexpr f64 kPitchSpeedScale = 15.0;  // pitch = -atan(speed / 15)
constexpr u64 kGestureHold = 1000000;
constexpr f64 kLandSpeed = 1.0;          // m/s down in land mode
// PX4's defaults for the return's descent: MPC_Z_V_AUTO_DN, MPC_LAND_SPEED (m/s), MPC_LAND_ALT1,
// MPC_LAND_ALT2 and RTL_DESCEND_ALT (m above home).
constexpr f64 kPx4AutoDescentSpeed = 1.5;
constexpr f64 kPx4LandSpeed = 0.7;
constexpr f64 kPx4LandAltitude1 = 10.0;
constexpr f64 kPx4LandAltitude2 = 5.0;
constexpr f64 kPx4ReturnDescendAltitude = 30.0;
constexpr f64 kTakeoffSpeed = 1.5;       // m/s up in take-off mode
constexpr f64 kDefaultTakeoffAltitude = 2.5;  // m, while MIS_TAKEOFF_ALT is not set
constexpr f64 kFallSpeed = 10.0;         // m/s, disarmed in the air
constexpr i32 kMaxDatagramsPerStep = 256;

void setInt(SimulatedDrone* drone, const char* name, i32 value) {
    i32 slot = px4ParameterSlotByName(name);
    if (slot >= 0) drone->parameters[slot] = (u32)value;
}

void setFloat(SimulatedDrone* drone, const char* name, f32 value) {
    i32 slot = px4ParameterSlotByName(name);
    if (slot >= 0) std::memcpy(&drone->parameters[slot], &value, 4);
}

f64 groundAt(const ElevationMapLoader* loader, f64 longitude, f64 latitude, f32 defaultValue) {
    if (!loader) return defaultValue;
    return getElevation(loader, GeoPoint{longitude, latitude}, defaultValue);
}

// MPC_XY_CRUISE as a speed: a value that is none (0, negative, NaN, as a ground station may set it)
// takes the initial 15 m/s, so the drone never flies away from where it is sent.
f64 cruiseSpeed(const SimulatedDrone* drone) {
    f64 cruise = simulatedParameterFloat(drone, "MPC_XY_CRUISE");
    return cruise > 0 && cruise < 1e6 ? cruise : 15.0;
}

void flyStickMode(SimulatedDrone* drone, const f32 sticks[4], f64 dt) {
    if (drone->currentItem == 0) drone->missionSpeed = cruiseSpeed(drone);
    f64 leftX = sticks[0], leftY = sticks[1], rightX = sticks[2], rightY = sticks[3];
    drone->heading += dt * kPi / 2 * leftX;
    f64 h = drone->heading;
    drone->velocityEast = kStickSpeed * (std::cos(-h) * rightX + std::cos(kPi / 2 - h) * rightY);
    drone->velocityNorth = kStickSpeed * (std::sin(-h) * rightX + std::sin(kPi / 2 - h) * rightY);
    drone->velocityUp = kStickClimbRate * leftY;
    drone->roll = std::atan(rightX);
    drone->pitch = std::atan(-rightY);
}

// Heading and pitch of horizontal flight at the given step.
void faceTravel(SimulatedDrone* drone, f64 step, f64 dt) {
    drone->heading = kPi / 2 - std::atan2(drone->velocityNorth, drone->velocityEast);
    drone->pitch = -std::atan((step / dt) / kPitchSpeedScale);
}

// PX4's speed down in an automatic descent: MPC_Z_V_AUTO_DN's default, never faster than
// MPC_Z_VEL_MAX_DN.
f64 autoDescentSpeed(const SimulatedDrone* drone) {
    f64 limit = simulatedParameterFloat(drone, "MPC_Z_VEL_MAX_DN");
    return limit > 0 && limit < kPx4AutoDescentSpeed ? limit : kPx4AutoDescentSpeed;
}

// PX4's speed down while landing at a height above the ground: the automatic descent speed above
// MPC_LAND_ALT1, MPC_LAND_SPEED below MPC_LAND_ALT2 and in between a straight blend of the two.
f64 landingSpeed(const SimulatedDrone* drone, f64 height) {
    f64 land = simulatedParameterFloat(drone, "MPC_LAND_SPEED");
    if (!(land > 0 && land < 1e3)) land = kPx4LandSpeed;
    f64 fast = autoDescentSpeed(drone);
    if (land > fast) land = fast;
    if (height >= kPx4LandAltitude1) return fast;
    if (height <= kPx4LandAltitude2) return land;
    return land + (fast - land) * (height - kPx4LandAltitude2) / (kPx4LandAltitude1 - kPx4LandAltitude2);
}

// Down toward the origin at the given speed, drifting onto it on the way.
void descendHome(SimulatedDrone* drone, f64 speed, f64 floor, f64 dt) {
    f64 step = std::fmin(drone->altitude - floor, speed * dt);
    f64 scale = step / (dt * (drone->altitude - floor));
    drone->velocityEast = -drone->east * scale;
    drone->velocityNorth = -drone->north * scale;
    drone->velocityUp = -step / dt;
}

// PX4's return: up to RTL_RETURN_ALT when far out, home in a straight line, down to RTL_DESCEND_ALT,
// a hover of RTL_LAND_DELAY seconds (for ever when negative), then a landing at PX4's landing speeds.
void flyReturn(SimulatedDrone* drone, f64 dt) {
    f64 returnAltitude = simulatedParameterFloat(drone, "RTL_RETURN_ALT");
    f64 cruise = cruiseSpeed(drone);
    f64 d = std::sqrt(drone->east * drone->east + drone->north * drone->north);
    if (d >= 0.5) drone->returnHoverSeconds = 0;
    if (d >= 0.5 && d > 20 && returnAltitude > drone->altitude) {
        f64 step = std::fmin(returnAltitude - drone->altitude, cruise * dt);
        drone->velocityUp = step / dt;
    } else if (d >= 0.5) {
        f64 step = std::fmin(d, cruise * dt);
        drone->velocityEast = -drone->east / d * step / dt;
        drone->velocityNorth = -drone->north / d * step / dt;
        faceTravel(drone, step, dt);
    } else if (drone->altitude > kPx4ReturnDescendAltitude + 0.01) {
        descendHome(drone, autoDescentSpeed(drone), kPx4ReturnDescendAltitude, dt);
    } else if (drone->altitude > 0.1) {
        f64 delay = simulatedParameterFloat(drone, "RTL_LAND_DELAY");
        if (delay < 0 || drone->returnHoverSeconds < delay) {
            drone->returnHoverSeconds += dt;
            return;
        }
        descendHome(drone, landingSpeed(drone, drone->altitude), 0, dt);
        drone->landedState = 4;
    } else {
        drone->systemStatus = 3;
        drone->landedState = 1;
    }
}

// Climbs straight up to the take-off altitude, then holds there.
void flyTakeoff(SimulatedDrone* drone, f64 dt) {
    f64 target = simulatedParameterFloat(drone, "MIS_TAKEOFF_ALT");
    if (!(target > 0 && target < 1e4)) target = kDefaultTakeoffAltitude;
    if (drone->altitude >= target) {
        drone->subMode = kSimulatedSubLoiter;
        drone->landedState = 2;
        return;
    }
    drone->velocityUp = std::fmin(target - drone->altitude, kTakeoffSpeed * dt) / dt;
    drone->landedState = 3;
}

// Works through the stored items from the current one; false when the mission has ended.
bool flyMission(SimulatedDrone* drone, f64 dt, f64 takeoffLongitude, f64 takeoffLatitude, Socket* socket) {
    f64 perLongitude = metersPerDegreeLongitude(takeoffLatitude);
    f64 perLatitude = metersPerDegreeLatitude(takeoffLatitude);
    while (drone->currentItem >= 0 && drone->currentItem < drone->storedCount) {
        const SimulatedMissionItem* item = &drone->items[drone->currentItem];
        if (item->command == kSimulatedNavWaypoint) {
            f64 longitude = item->longitude / 1e7;
            while (longitude <= takeoffLongitude - 180) longitude += 360;
            while (longitude > takeoffLongitude + 180) longitude -= 360;
            f64 dEast = (longitude - takeoffLongitude) * perLongitude - drone->east;
            f64 dNorth = (item->latitude / 1e7 - takeoffLatitude) * perLatitude - drone->north;
            f64 dUp = (f64)item->altitude - drone->altitude;
            f64 dist = std::sqrt(dEast * dEast + dNorth * dNorth + dUp * dUp);
            // Exactly on the target counts as reached too: there is no direction left to fly in.
            if (!((f64)item->params[1] > dist) && dist > 0) {
                f64 speed = drone->missionSpeed > 0 ? drone->missionSpeed : cruiseSpeed(drone);
                f64 step = std::fmin(dist, speed * dt);
                drone->velocityEast = dEast / dist * step / dt;
                drone->velocityNorth = dNorth / dist * step / dt;
                drone->velocityUp = dUp / dist * step / dt;
                faceTravel(drone, step, dt);
                return true;
            }
        } else if (item->command == kSimulatedDoChangeSpeed) {
            // MAVLink's -1 (and any speed not above 0) keeps the current speed.
            if (item->params[1] > 0) drone->missionSpeed = item->params[1];
        }
        // Reached, applied, or a command this vehicle does not fly: on to the next item.
        drone->currentItem++;
        if (drone->currentItem < drone->storedCount) sendSimulatedMissionCurrent(drone, socket);
    }
    drone->mainMode = 3;
    drone->subMode = 0;
    drone->currentItem = 0;
    return false;
}

bool keyWentDown(const InputState* input, i32 code) {
    return input && isKeyDown(input, code) && !wasKeyDown(input, code);
}

void drainSocket(SimulatedDrone* drone, Socket* socket, u16 port, const Preferences* preferences, i32 unit,
                 u64 now) {
    FixedString anyInterface{};
    for (i32 i = 0; i < kMaxDatagramsPerStep; i++) {
        SocketResult result{};
        updateSocket(&result, socket, 4, SocketModeUdp, port, &anyInterface, nullptr, 0);
        if (!result.received) break;
        MavlinkMessage message{};
        i32 position = 0;
        for (;;) {
            position = parseMavlinkBytes(&message, result.data, position, (i32)result.length);
            if (!message.haveMessage) break;
            if (unit >= 0) {
                handleSimulatedKtqPacketA(&message, &drone->vosk[unit], now);
            } else {
                handleSimulatedDroneMessage(drone, &message, &result.source, preferences, socket, now);
            }
        }
    }
}

}  // namespace

f64 simulatedParameterFloat(const SimulatedDrone* drone, const char* name) {
    i32 slot = px4ParameterSlotByName(name);
    if (slot < 0) return 0;
    f32 value;
    std::memcpy(&value, &drone->parameters[slot], 4);
    return value;
}

void initialiseSimulatedDrone(SimulatedDrone* drone, u64 now) {
    drone->systemStatus = 3;
    drone->landedState = 1;
    drone->mainMode = 3;
    drone->subMode = 0;
    drone->lastUpdateTime = now ? now : 1;  // 0 means "not yet initialised"
    drone->bootTime = now;
    // A gesture is timed from now: one already held on the next frame must still be held a second.
    drone->armGestureStart = now;
    drone->disarmGestureStart = now;
    setInt(drone, "CBRK_PARAMBLOCK", 1);
    setInt(drone, "COM_LOW_BAT_ACT", 3);
    setInt(drone, "NAV_RCL_ACT", 2);
    setInt(drone, "NAV_DLL_ACT", 2);
    setInt(drone, "NAV_TRAFF_AVOID", 1);
    setInt(drone, "COM_RC_OVERRIDE", 1);
    setInt(drone, "BOOM4_COLOR", 1);
    setInt(drone, "BOOM1_COLOR", 4);
    setInt(drone, "BOOM2_COLOR", 8);
    setInt(drone, "BOOM3_COLOR", 8);
    setFloat(drone, "BAT_LOW_THR", 0.2f);
    setFloat(drone, "BAT_CRIT_THR", 0.1f);
    setFloat(drone, "BAT_EMERGEN_THR", 0.05f);
    setFloat(drone, "RTL_RETURN_ALT", 20.0f);
    setFloat(drone, "RTL_LAND_DELAY", 1.0f);
    setFloat(drone, "MPC_XY_CRUISE", 15.0f);
    setFloat(drone, "COM_RC_STICK_OV", 30.0f);
    setFloat(drone, "MPC_MAN_TILT_MAX", 35.0f);
    setFloat(drone, "MPC_TILTMAX_AIR", 35.0f);
    setFloat(drone, "MPC_Z_VEL_MAX_DN", 3.0f);
    setFloat(drone, "MPC_YAW_EXPO", 0.6f);
    setFloat(drone, "MIS_DIST_WPS", 10000.0f);
    setFloat(drone, "MIS_DIST_1WP", 10000.0f);
}

void moveSimulatedDrone(SimulatedDrone* drone, const f32 sticks[4], f64 dt, f64 takeoffLongitude,
                        f64 takeoffLatitude, Socket* socket) {
    drone->velocityEast = drone->velocityNorth = drone->velocityUp = 0;
    drone->roll = drone->pitch = 0;
    if (!(drone->mainMode == 4 && drone->subMode == 5)) drone->returnHoverSeconds = 0;
    // A step without time (a repeated or earlier clock reading) moves nothing.
    if (!(dt > 0)) return;
    if (drone->systemStatus < 4) {
        // Disarmed in the air (an emergency disarm): it falls until the ground stops it.
        if (drone->landedState != 1) drone->velocityUp = -kFallSpeed;
        drone->altitude += drone->velocityUp * dt;
        return;
    }
    if (drone->mainMode == kSimulatedMainAuto && drone->subMode == kSimulatedSubTakeoff) {
        flyTakeoff(drone, dt);
    } else if (drone->mainMode == kSimulatedMainAuto && drone->subMode == kSimulatedSubLand) {
        drone->velocityUp = -kLandSpeed;
        drone->landedState = 4;
    } else if (drone->mainMode == 4 && drone->subMode == 5) {
        flyReturn(drone, dt);
    } else if (drone->mainMode == 4 && drone->subMode == 4) {
        if (!flyMission(drone, dt, takeoffLongitude, takeoffLatitude, socket)) flyStickMode(drone, sticks, dt);
    } else {
        flyStickMode(drone, sticks, dt);
    }
    drone->east += drone->velocityEast * dt;
    drone->north += drone->velocityNorth * dt;
    drone->altitude += drone->velocityUp * dt;
}

void updateSimulatedArming(SimulatedDrone* drone, const f32 sticks[4], u64 now) {
    f32 leftX = sticks[0], leftY = sticks[1];
    if (!(drone->systemStatus == 3 && leftX > 0.6f && leftY < -0.6f)) drone->armGestureStart = now;
    if (!(drone->systemStatus == 4 && leftY < -0.9f && drone->velocityUp > -0.01)) {
        drone->disarmGestureStart = now;
        if (drone->systemStatus == 3 && now - drone->armGestureStart > kGestureHold) {
            drone->systemStatus = 4;
            drone->landedState = 2;
            // Armed again after a landing or a return home: it flies by the sticks, not down again
            // (a return that has reached home would disarm it on the next step).
            if (drone->mainMode == kSimulatedMainAuto &&
                (drone->subMode == kSimulatedSubLand || drone->subMode == kSimulatedSubReturn)) {
                drone->mainMode = 3;
                drone->subMode = 0;
            }
        }
    }
    if (drone->systemStatus > 3 && now - drone->disarmGestureStart > kGestureHold) {
        drone->systemStatus = 3;
        drone->landedState = 1;
    }
}

void controlSimulatedPx4Drone(SimulatedDrone* drone, const GamepadState* gamepad, const InputState* input,
                              const ElevationMapLoader* loader, const Preferences* preferences, Socket* simulatorSocket,
                              Socket* primaryPayloadSocket, Socket* secondaryPayloadSocket, u64 now) {
    enterProfilingRegionChecked("Control Simulated Px4 Drone");
    f64 takeoffLatitude = preferences->simulatorTakeoffLatitude;
    f64 takeoffLongitude = preferences->simulatorTakeoffLongitude;
    f64 perLatitude = metersPerDegreeLatitude(takeoffLatitude);
    f64 perLongitude = metersPerDegreeLongitude(takeoffLatitude);
    f64 takeoffGround = groundAt(loader, takeoffLongitude, takeoffLatitude, 0);
    f32 sticks[4] = {0, 0, 0, 0};
    if (gamepad) {
        sticks[0] = gamepad->leftStickX;
        sticks[1] = gamepad->leftStickY;
        sticks[2] = gamepad->rightStickX;
        sticks[3] = gamepad->rightStickY;
        for (f32& stick : sticks) {
            if (!(stick >= -1)) stick = stick > 0 ? 1 : -1;  // NaN and below -1
            if (stick > 1) stick = 1;
        }
    }

    if (drone->lastUpdateTime == 0) {
        initialiseSimulatedDrone(drone, now);
        drone->latitude = takeoffLatitude;
        drone->longitude = takeoffLongitude;
    } else {
        f64 dt = (f64)(i64)(now - drone->lastUpdateTime) / 1e6;
        drone->lastUpdateTime = now ? now : 1;
        moveSimulatedDrone(drone, sticks, dt, takeoffLongitude, takeoffLatitude, simulatorSocket);
        drone->latitude = perLatitude > 0 ? drone->north / perLatitude + takeoffLatitude : takeoffLatitude;
        drone->longitude = perLongitude > 0 ? drone->east / perLongitude + takeoffLongitude : takeoffLongitude;
        f64 ground = groundAt(loader, drone->longitude, drone->latitude, (f32)takeoffGround) - takeoffGround;
        if (ground > drone->altitude) {
            drone->altitude = ground;
            drone->velocityEast = drone->velocityNorth = drone->velocityUp = 0;
        }
        drone->groundAltitude = ground;
        bool onGround = drone->altitude <= ground + kSimulatedGroundTolerance;
        bool landing = drone->mainMode == kSimulatedMainAuto && drone->subMode == kSimulatedSubLand;
        // Landed: a landing drone disarms, a falling one lies still.
        if (onGround && ((landing && drone->systemStatus >= 4) || drone->systemStatus < 4)) {
            drone->systemStatus = 3;
            drone->landedState = 1;
            drone->altitude = ground;
            drone->velocityUp = 0;
        }
        updateSimulatedArming(drone, sticks, now);
        if (keyWentDown(input, kSimulatorReturnToggleCode)) {
            bool returning = drone->mainMode == 4 && drone->subMode == 5;
            drone->mainMode = returning ? 3 : 4;
            drone->subMode = returning ? 0 : 5;
        }
    }

    u16 dronePort = drone->localPorts[0] ? drone->localPorts[0] : kSimulatorDronePort;
    drainSocket(drone, simulatorSocket, dronePort, preferences, -1, now);
    Socket* unitSockets[2] = {primaryPayloadSocket, secondaryPayloadSocket};
    for (i32 unit = 0; unit < 2; unit++) {
        if (!unitSockets[unit]) continue;
        if (preferences->simulateVosk) {
            u16 port = drone->localPorts[unit + 1] ? drone->localPorts[unit + 1] : kSimulatorVoskPorts[unit];
            drainSocket(drone, unitSockets[unit], port, preferences, unit, now);
        } else {
            SocketResult ignored{};
            FixedString anyInterface{};
            updateSocket(&ignored, unitSockets[unit], 0, SocketModeUdp, 0, &anyInterface, nullptr, 0);
        }
    }

    if (drone->groundStation.family != 0) {
        if (preferences->simulateOrvik) simPayloadSendStatus(simulatorSocket, &drone->groundStation, &drone->orvik, now);
        if (preferences->simulateVosk) {
            for (u16 unit = 0; unit < 2; unit++) {
                if (unitSockets[unit]) {
                    simPayloadSendFrame7(unitSockets[unit], &drone->groundStation, &drone->vosk[unit], unit, now);
                }
            }
        }
        if (preferences->simulateStrobe) simPayloadSendFrame10(simulatorSocket, &drone->groundStation, &drone->strobe, now);
        sendSimulatedPeriodicMessages(drone, simulatorSocket, takeoffLongitude, takeoffLatitude, takeoffGround, now);
    }
    exitProfilingRegion("Control Simulated Px4 Drone");
}
