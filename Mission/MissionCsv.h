// The mission file: the plan (reference point, waypoints, transect region, geofence) and the eleven
// mission settings as a CSV text that a spreadsheet opens. UTF-8, LF line ends, "." decimals,
// degrees with 9 decimals:
//   Type,Latitude,Longitude,Altitude,Ignite,Field
//   Reference,lat,lon,,,
//   Waypoint,lat,lon,altitude above the reference,0|1,mission item number
//   Transect,lat,lon,,,
//   Geofence,lat,lon,,,
//   Setting,<preference key>,<value>,,,
// A field holding a comma, a quote or a line end is quoted, its quotes doubled.
// The reader takes rows in any order, LF or CRLF line ends, quoted fields, a header naming the
// columns in another order, and keeps every row it can read: rows it cannot read and objects beyond
// the plan's capacity are counted and reported, never fatal.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "Core/Preferences.h"
#include "Mission/MissionPlan.h"

constexpr i32 kMissionSettingCount = 11;
// The mission settings' preference keys, in the order they are written.
extern const char* const kMissionSettingKeys[kMissionSettingCount];

struct MissionFileWaypoint {
    GeoPoint position;
    f64 altitude;  // metres above the file's reference ground
    u32 ignitePreviousSegment;
    i32 missionItemNumber;
};

// What a mission file holds, as far as the plan has room for it.
struct MissionFileContent {
    u32 hasReference;
    GeoPoint reference;
    i32 waypointCount;
    MissionFileWaypoint waypoints[kMaxWaypoints];
    i32 transectCount;
    GeoPoint transect[kMaxTransectPoints];
    i32 geofenceCount;
    GeoPoint geofence[kMaxGeofencePoints];
    u32 settingsFound;  // bit i: kMissionSettingKeys[i] was read into settings
    f64 settings[kMissionSettingCount];  // numbers; enum settings hold their index
    // What the file held in all, kept or not.
    i64 waypointsInFile, transectInFile, geofenceInFile;
    i64 badRows;   // rows that could not be read
    i64 firstBadLine;  // 1-based line of the first of them
};

// Writes the plan and the settings from the preferences; returns the bytes written (a measuring
// writer gives the size to allocate).
i64 writeMissionCsv(const MissionPlanView* plan, const Preferences* preferences, ByteWriter* writer);

// Reads a mission file. Never fails: what it could not read is counted in the content.
void readMissionCsv(MissionFileContent* out, const u8* text, i64 length);

// The report of a read: one sentence per loss (objects beyond capacity given by the caller's room,
// unreadable rows); empty when everything was read.
FixedString missionCsvReport(const MissionFileContent* content, i32 waypointRoom);

// The setting as it is written: a number, or an enum's name.
FixedString missionSettingText(i32 setting, const Preferences* preferences);
// Stores the settings the content holds into the preferences.
void applyMissionSettings(const MissionFileContent* content, Preferences* preferences);
