#include "Mission/MissionCsv.h"

#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Core/PreferenceFields.h"

const char* const kMissionSettingKeys[kMissionSettingCount] = {
    "Waypoint mission cruise Speed (m/s)",
    "Waypoint curve range (m)",
    "Waypoint snap altitude mode",
    "Waypoint snap altitude above ground level (m)",
    "Waypoint snap altitude above takeoff location (m)",
    "Vertical flight path to first waypoint",
    "Orvik drop spacing (m)",
    "Transect Usage",
    "Transect Zig-Zag Heading (degrees)",
    "Transect Spacing (meters)",
    "Transect Overshoot Distance (meters)",
};

namespace {

const char* const kColumnNames[] = {"Type", "Latitude", "Longitude", "Altitude", "Ignite", "Field"};
enum Column : i32 { ColumnType, ColumnLatitude, ColumnLongitude, ColumnAltitude, ColumnIgnite, ColumnField, ColumnCount };

// A number rounded to the decimals (not cut off), trailing zeros kept unless trimmed. Values too
// large for the scaled integer, and non-finite ones, fall back to the plain writer.
void appendRounded(f64 value, i64 decimals, bool trim, ByteWriter* writer) {
    f64 scale = std::pow(10.0, (f64)decimals);
    if (!std::isfinite(value) || std::fabs(value * scale) > 9.0e15) {
        appendDouble(value, decimals, writer);
        return;
    }
    i64 scaled = std::llround(value * scale);
    while (trim && decimals > 0 && scaled % 10 == 0) {
        scaled /= 10;
        decimals--;
    }
    appendFixedPoint(scaled, decimals, writer);
}

void appendField(const char* text, i64 length, ByteWriter* writer) {
    bool quote = false;
    for (i64 i = 0; i < length; i++) {
        if (text[i] == ',' || text[i] == '"' || text[i] == '\n' || text[i] == '\r') quote = true;
    }
    if (!quote) return appendBytes(text, length, writer);
    appendU8('"', writer);
    for (i64 i = 0; i < length; i++) {
        if (text[i] == '"') appendU8('"', writer);
        appendU8((u8)text[i], writer);
    }
    appendU8('"', writer);
}

void appendPointRow(const char* type, const Vec2* point, ByteWriter* writer) {
    GeoPoint geo;
    mercatorToLatLng(&geo, point);
    appendCString(type, writer);
    appendU8(',', writer);
    appendRounded(geo.latitude, 9, false, writer);
    appendU8(',', writer);
    appendRounded(geo.longitude, 9, false, writer);
    appendCString(",,,\n", writer);
}

const PreferenceField* settingField(i32 setting) {
    const char* key = kMissionSettingKeys[setting];
    return findPreferenceField((const u8*)key, (i64)std::strlen(key));
}

// One field of a row: where it lies in the text, and whether it was quoted (its quotes doubled).
struct CsvField {
    i64 start, end;
    u32 quoted;
};

// The text of a field with its doubled quotes made single, cut to a FixedString.
FixedString fieldText(const u8* text, const CsvField& field) {
    return buildFixedString([&](ByteWriter* w) {
        for (i64 i = field.start; i < field.end; i++) {
            appendU8(text[i], w);
            if (field.quoted && text[i] == '"') i++;
        }
    });
}

bool isBlank(u8 c) { return c == ' ' || c == '\t'; }

// A whole field as a finite number: blanks around it allowed, nothing else.
bool fieldNumber(const u8* text, const CsvField& field, f64* out) {
    FixedString value = fieldText(text, field);
    i64 p = 0, end = value.length;
    while (p < end && isBlank((u8)value.text[p])) p++;
    while (end > p && isBlank((u8)value.text[end - 1])) end--;
    bool digit = false;
    for (i64 i = p; i < end; i++) digit |= value.text[i] >= '0' && value.text[i] <= '9';
    if (!digit || value.truncated) return false;
    f64 number = parseDouble((const u8*)value.text, &p, end, NAN);
    if (p != end || !std::isfinite(number)) return false;
    *out = number;
    return true;
}

bool fieldIsEmpty(const u8* text, const CsvField& field) {
    for (i64 i = field.start; i < field.end; i++) {
        if (!isBlank(text[i])) return false;
    }
    return true;
}

bool fieldEquals(const u8* text, const CsvField& field, const char* name) {
    FixedString value = fieldText(text, field);
    i64 p = 0, end = value.length;
    while (p < end && isBlank((u8)value.text[p])) p++;
    while (end > p && isBlank((u8)value.text[end - 1])) end--;
    return equalsIgnoringCase(name, value.text + p, end - p) != 0;
}

// Splits the row that starts at *position into fields, at most kMaxFields of them (the rest are
// skipped), and moves *position past its line end. A line end inside quotes belongs to the field.
constexpr i32 kMaxFields = 16;
i32 splitRow(const u8* text, i64 length, i64* position, CsvField* fields) {
    i64 p = *position;
    i32 count = 0;
    while (true) {
        CsvField field{p, p, 0};
        if (p < length && text[p] == '"') {
            field.quoted = 1;
            field.start = ++p;
            while (p < length) {
                if (text[p] == '"') {
                    if (p + 1 < length && text[p + 1] == '"') {
                        p += 2;
                        continue;
                    }
                    break;
                }
                p++;
            }
            field.end = p;
            if (p < length) p++;  // the closing quote
            // Text after the closing quote up to the separator is dropped.
            while (p < length && text[p] != ',' && text[p] != '\n' && text[p] != '\r') p++;
        } else {
            while (p < length && text[p] != ',' && text[p] != '\n' && text[p] != '\r') p++;
            field.end = p;
        }
        if (count < kMaxFields) fields[count++] = field;
        if (p < length && text[p] == ',') {
            p++;
            continue;
        }
        break;
    }
    if (p < length && text[p] == '\r') p++;
    if (p < length && text[p] == '\n') p++;
    *position = p;
    return count;
}

bool readPoint(const u8* text, const CsvField* fields, i32 count, const i32* columns, GeoPoint* out) {
    i32 lat = columns[ColumnLatitude], lon = columns[ColumnLongitude];
    if (lat >= count || lon >= count) return false;
    GeoPoint point;
    if (!fieldNumber(text, fields[lat], &point.latitude) || !fieldNumber(text, fields[lon], &point.longitude)) {
        return false;
    }
    // Web-Mercator ends before the poles.
    if (std::fabs(point.latitude) > 85.06 || std::fabs(point.longitude) > 180.0) return false;
    *out = point;
    return true;
}

bool readSetting(const u8* text, const CsvField* fields, i32 count, const i32* columns, MissionFileContent* out) {
    i32 keyColumn = columns[ColumnLatitude], valueColumn = columns[ColumnLongitude];
    if (keyColumn >= count || valueColumn >= count) return false;
    for (i32 s = 0; s < kMissionSettingCount; s++) {
        if (!fieldEquals(text, fields[keyColumn], kMissionSettingKeys[s])) continue;
        const PreferenceField* field = settingField(s);
        f64 value = 0;
        if (field && field->size == PreferenceEnum) {
            bool found = false;
            for (u64 e = 0; e < field->enumCount && !found; e++) {
                if (fieldEquals(text, fields[valueColumn], field->enumNames[e])) value = (f64)e, found = true;
            }
            if (!found) {
                if (!fieldNumber(text, fields[valueColumn], &value)) return false;
                if (value < 0 || value >= (f64)field->enumCount || value != std::floor(value)) return false;
            }
        } else if (!fieldNumber(text, fields[valueColumn], &value)) {
            return false;
        }
        out->settings[s] = heldPreferenceNumber(value, 0);
        out->settingsFound |= 1u << s;
        return true;
    }
    return false;
}

}  // namespace

FixedString missionSettingText(i32 setting, const Preferences* preferences) {
    const PreferenceField* field = settingField(setting);
    if (!field) return FixedString{};
    const u8* at = (const u8*)preferences + field->offset;
    if (field->size == PreferenceEnum) {
        u32 index;
        std::memcpy(&index, at, sizeof index);
        if (index < field->enumCount) return makeString(field->enumNames[index]);
        return stringFromInt(index);
    }
    f64 value;
    std::memcpy(&value, at, sizeof value);
    return buildFixedString([&](ByteWriter* w) { appendRounded(value, 7, true, w); });
}

i64 writeMissionCsv(const MissionPlanView* plan, const Preferences* preferences, ByteWriter* writer) {
    i64 start = writer->length;
    appendCString("Type,Latitude,Longitude,Altitude,Ignite,Field\n", writer);
    appendCString("Reference,", writer);
    appendRounded(plan->referenceLatitude, 9, false, writer);
    appendU8(',', writer);
    appendRounded(plan->referenceLongitude, 9, false, writer);
    appendCString(",,,\n", writer);
    for (i32 i = 0; i < plan->waypointCount; i++) {
        const Waypoint* waypoint = &plan->waypoints[i];
        Vec2 position = {waypoint->x, waypoint->y};
        GeoPoint geo;
        mercatorToLatLng(&geo, &position);
        appendCString("Waypoint,", writer);
        appendRounded(geo.latitude, 9, false, writer);
        appendU8(',', writer);
        appendRounded(geo.longitude, 9, false, writer);
        appendU8(',', writer);
        appendRounded(waypoint->altitude, 3, true, writer);
        appendCString(waypoint->ignitePreviousSegment ? ",1," : ",0,", writer);
        appendInt64(waypoint->missionItemNumber, writer);
        appendU8('\n', writer);
    }
    for (i32 i = 0; i < plan->transectPointCount; i++) appendPointRow("Transect", &plan->transectPoints[i], writer);
    for (i32 i = 0; i < plan->geofencePointCount; i++) appendPointRow("Geofence", &plan->geofencePoints[i], writer);
    for (i32 s = 0; s < kMissionSettingCount; s++) {
        appendCString("Setting,", writer);
        appendField(kMissionSettingKeys[s], (i64)std::strlen(kMissionSettingKeys[s]), writer);
        appendU8(',', writer);
        FixedString value = missionSettingText(s, preferences);
        appendField(value.text, value.length, writer);
        appendCString(",,,\n", writer);
    }
    return writer->length - start;
}

void readMissionCsv(MissionFileContent* out, const u8* text, i64 length) {
    std::memset(out, 0, sizeof *out);
    i32 columns[ColumnCount] = {0, 1, 2, 3, 4, 5};
    i64 position = 0, line = 0;
    // A UTF-8 byte-order mark, as some spreadsheets write one.
    if (length >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) position = 3;
    CsvField fields[kMaxFields];
    while (position < length) {
        i64 rowStart = position;
        i64 rowLine = line + 1;
        i32 count = splitRow(text, length, &position, fields);
        for (i64 i = rowStart; i < position; i++) line += text[i] == '\n';
        if (count == 1 && fieldIsEmpty(text, fields[0])) continue;  // an empty line
        auto bad = [&]() {
            if (out->badRows++ == 0) out->firstBadLine = rowLine;
        };
        i32 typeColumn = columns[ColumnType];
        if (typeColumn >= count) {
            bad();
            continue;
        }
        const CsvField& type = fields[typeColumn];
        bool header = false;
        for (i32 f = 0; f < count && !header; f++) header = fieldEquals(text, fields[f], kColumnNames[ColumnType]);
        if (header) {
            // A header: the columns by their names; names it lacks keep their place.
            for (i32 f = 0; f < count; f++) {
                for (i32 c = 0; c < ColumnCount; c++) {
                    if (fieldEquals(text, fields[f], kColumnNames[c])) columns[c] = f;
                }
            }
            continue;
        }
        GeoPoint point;
        if (fieldEquals(text, type, "Reference")) {
            if (!readPoint(text, fields, count, columns, &point)) {
                bad();
                continue;
            }
            out->hasReference = 1;
            out->reference = point;
        } else if (fieldEquals(text, type, "Waypoint")) {
            MissionFileWaypoint waypoint{};
            if (!readPoint(text, fields, count, columns, &waypoint.position)) {
                bad();
                continue;
            }
            i32 a = columns[ColumnAltitude], g = columns[ColumnIgnite], f = columns[ColumnField];
            f64 ignite = 0, item = 0;
            bool ok = a < count && fieldNumber(text, fields[a], &waypoint.altitude);
            if (ok && g < count && !fieldIsEmpty(text, fields[g])) {
                ok = fieldNumber(text, fields[g], &ignite) && (ignite == 0 || ignite == 1);
            }
            if (ok && f < count && !fieldIsEmpty(text, fields[f])) {
                ok = fieldNumber(text, fields[f], &item) && item == std::floor(item) && std::fabs(item) <= 2147483647.0;
            }
            if (!ok || std::fabs(waypoint.altitude) > 1.0e6) {
                bad();
                continue;
            }
            waypoint.ignitePreviousSegment = ignite != 0;
            waypoint.missionItemNumber = (i32)item;
            if (out->waypointsInFile++ < kMaxWaypoints) out->waypoints[out->waypointCount++] = waypoint;
        } else if (fieldEquals(text, type, "Transect")) {
            if (!readPoint(text, fields, count, columns, &point)) {
                bad();
                continue;
            }
            if (out->transectInFile++ < kMaxTransectPoints) out->transect[out->transectCount++] = point;
        } else if (fieldEquals(text, type, "Geofence")) {
            if (!readPoint(text, fields, count, columns, &point)) {
                bad();
                continue;
            }
            if (out->geofenceInFile++ < kMaxGeofencePoints) out->geofence[out->geofenceCount++] = point;
        } else if (fieldEquals(text, type, "Setting")) {
            if (!readSetting(text, fields, count, columns, out)) bad();
        } else {
            bad();
        }
    }
}

FixedString missionCsvReport(const MissionFileContent* content, i32 waypointRoom) {
    return buildFixedString([&](ByteWriter* w) {
        auto sentence = [&](FixedString text) {
            if (w->length) appendCString(" ", w);
            appendFixedString(text, w);
        };
        if (content->waypointsInFile > waypointRoom) {
            sentence(formatIntInt("File contained @ waypoints but our buffer can only hold @.", content->waypointsInFile,
                                  waypointRoom));
        }
        if (content->transectInFile > kMaxTransectPoints) {
            sentence(formatIntInt("File contained @ transect points but our buffer can only hold @.",
                                  content->transectInFile, kMaxTransectPoints));
        }
        if (content->geofenceInFile > kMaxGeofencePoints) {
            sentence(formatIntInt("File contained @ geofence points but our buffer can only hold @.",
                                  content->geofenceInFile, kMaxGeofencePoints));
        }
        if (content->badRows == 1) sentence(formatInt("Skipped the unreadable row on line @.", content->firstBadLine));
        if (content->badRows > 1) {
            sentence(formatIntInt("Skipped @ unreadable rows, the first on line @.", content->badRows,
                                  content->firstBadLine));
        }
    });
}

void applyMissionSettings(const MissionFileContent* content, Preferences* preferences) {
    for (i32 s = 0; s < kMissionSettingCount; s++) {
        if (!(content->settingsFound & (1u << s))) continue;
        const PreferenceField* field = settingField(s);
        if (!field) continue;
        u8* at = (u8*)preferences + field->offset;
        if (field->size == PreferenceEnum) {
            u32 index = (u32)content->settings[s];
            std::memcpy(at, &index, sizeof index);
        } else if (field->size == PreferenceNumber) {
            f64 value = content->settings[s];
            std::memcpy(at, &value, sizeof value);
        }
    }
}
