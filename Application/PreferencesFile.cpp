#include "Application/PreferencesFile.h"

#include <cstddef>
#include <cstring>

#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Platform/Platform.h"

namespace {

constexpr const char* kPreferencesFileName = "Preferences.txt";
constexpr const char* kDefaultMapUrl =
    "https://maps.geoapify.com/v1/tile/{style}/{z}/{x}/{y}.{extension}?apiKey={qvgeoapifykey}";

// ControllerInput values of the default bindings.
constexpr u32 kPilotProLeftRocker = 1;
constexpr u32 kPilotProRightRocker = 2;
constexpr u32 kPilotProL1 = 3;
constexpr u32 kPilotProR1 = 4;
constexpr u32 kPilotProL2 = 5;
constexpr u32 kPilotProR2 = 6;
constexpr u32 kHerelinkWheel = 7;
constexpr u32 kHerelinkD = 12;
constexpr u32 kHerelinkTrigger = 13;

constexpr u32 kControllerHerelink = 2;
constexpr u32 kControllerPilotPro = 3;

constexpr u64 kBindingGroupStart = offsetof(Preferences, gimbalSticksScalar);
constexpr u64 kBindingGroupEnd = offsetof(Preferences, minimizeMapBinding) + sizeof(u32);

u8* fieldBytes(Preferences* preferences, const PreferenceField* row) { return (u8*)preferences + row->offset; }
const u8* fieldBytes(const Preferences* preferences, const PreferenceField* row) {
    return (const u8*)preferences + row->offset;
}

bool isBlank(u8 c) { return c == ' ' || c == '\t'; }

// A decimal integer held within [low, high]: digits past the limit saturate instead of wrapping.
// Returns 0 when the text holds no number.
i64 readClampedInteger(const u8* text, i64 length, i64 low, i64 high) {
    i64 p = 0;
    while (p < length && isBlank(text[p])) p++;
    bool negative = false;
    if (p < length && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    if (p >= length || text[p] < '0' || text[p] > '9') return 0;
    i64 value = 0;
    while (p < length && text[p] >= '0' && text[p] <= '9') {
        if (value < 1000000000000000LL) value = value * 10 + (text[p] - '0');
        p++;
    }
    if (negative) value = -value;
    return value < low ? low : value > high ? high : value;
}

bool isDigitByte(u8 c) { return c >= '0' && c <= '9'; }

// Whether the whole value is one decimal number: blanks, an optional sign, digits with an optional
// fraction (at least one digit in all), an optional exponent with digits, blanks.
bool isWholeDecimalNumber(const u8* text, i64 length) {
    i64 p = 0;
    while (p < length && isBlank(text[p])) p++;
    if (p < length && (text[p] == '+' || text[p] == '-')) p++;
    i64 digits = 0;
    while (p < length && isDigitByte(text[p])) p++, digits++;
    if (p < length && text[p] == '.') {
        p++;
        while (p < length && isDigitByte(text[p])) p++, digits++;
    }
    if (digits == 0) return false;
    if (p < length && (text[p] == 'e' || text[p] == 'E')) {
        p++;
        if (p < length && (text[p] == '+' || text[p] == '-')) p++;
        if (p >= length || !isDigitByte(text[p])) return false;
        while (p < length && isDigitByte(text[p])) p++;
    }
    while (p < length && isBlank(text[p])) p++;
    return p == length;
}

void applyValue(Preferences* preferences, const PreferenceField* row, const u8* value, i64 length) {
    u8* field = fieldBytes(preferences, row);
    switch (row->size) {
        case PreferenceU8: {
            u8 v = (u8)readClampedInteger(value, length, 0, 255);
            std::memcpy(field, &v, 1);
            break;
        }
        case PreferenceU16: {
            u16 v = (u16)readClampedInteger(value, length, 0, 65535);
            std::memcpy(field, &v, 2);
            break;
        }
        case PreferenceNumber: {
            // A damaged number leaves the row as it was rather than taking its leading digits.
            if (!isWholeDecimalNumber(value, length)) break;
            i64 position = 0;
            while (position < length && isBlank(value[position])) position++;
            f64 v = parseDouble(value, &position, length, 0.0);
            if (v != v) break;  // 0 x 10^huge: no value; a decimal too large for a double is held below
            v = heldPreferenceNumber(v, 0.0);
            std::memcpy(field, &v, 8);
            break;
        }
        case PreferenceEnum: {
            for (u64 i = 0; i < row->enumCount; i++) {
                if (equalsIgnoringCase(row->enumNames[i], value, length)) {
                    u32 v = (u32)i;
                    std::memcpy(field, &v, 4);
                    break;
                }
            }
            break;
        }
        case PreferenceEndpoint: {
            u64 position = 0;
            AddressRecord address = parseIpAddress(value, &position, length);
            std::memcpy(field, &address, sizeof(address));
            break;
        }
        case PreferenceText: {
            // A value longer than a text holds is cut at a whole code point, so that it is written
            // back as it reads.
            ByteWriter bytes{length, length, 0, (u8*)value};
            FixedString text = stringFromUtf8Bytes(&bytes);
            std::memcpy(field, &text, sizeof(text));
            break;
        }
        default:
            break;
    }
}

void parseLine(Preferences* preferences, const u8* line, i64 length) {
    i64 p = 0;
    while (p < length && isBlank(line[p])) p++;
    i64 keyStart = p;
    while (p < length && line[p] != ':') p++;
    if (p >= length) return;  // no ":": not a preference line
    i64 keyEnd = p;
    while (keyEnd > keyStart && isBlank(line[keyEnd - 1])) keyEnd--;
    const PreferenceField* row = findPreferenceField(line + keyStart, keyEnd - keyStart);
    if (!row) return;
    p++;
    while (p < length && isBlank(line[p])) p++;
    i64 end = length;
    if (end > p && line[end - 1] == '\r') end--;
    applyValue(preferences, row, line + p, end - p);
}

void writeNumber(f64 value, ByteWriter* writer) {
    if (value - value != 0.0) value = 0.0;  // infinities and not-a-number are written as 0
    value = heldPreferenceNumber(value, 0.0);
    i64 scaled = (i64)(value * 10000000.0);
    if (value < 0.0 && scaled == 0) appendCString("-", writer);
    appendFixedPoint(scaled, 7, writer);
}

void writeRow(const Preferences* preferences, const PreferenceField* row, ByteWriter* writer) {
    const u8* field = fieldBytes(preferences, row);
    if (row->size == PreferenceEnum) {
        u32 index;
        std::memcpy(&index, field, 4);
        if (index >= row->enumCount) return;  // a value outside its names is left out
    }
    appendCStringRightAligned(row->key, writer->length + kLongestPreferenceKey, writer);
    appendCString(": ", writer);
    switch (row->size) {
        case PreferenceU8:
            appendInt64(field[0], writer);
            break;
        case PreferenceU16: {
            u16 v;
            std::memcpy(&v, field, 2);
            appendInt64(v, writer);
            break;
        }
        case PreferenceNumber: {
            f64 v;
            std::memcpy(&v, field, 8);
            writeNumber(v, writer);
            break;
        }
        case PreferenceEnum: {
            u32 index;
            std::memcpy(&index, field, 4);
            appendCString(row->enumNames[index], writer);
            break;
        }
        case PreferenceEndpoint: {
            AddressRecord address;
            std::memcpy(&address, field, sizeof(address));
            // An empty endpoint is written as an empty value, which reads back as empty.
            if (address.family == 4 || address.family == 6) appendFixedString(endpointString(&address), writer);
            break;
        }
        case PreferenceText: {
            const FixedString* text = (const FixedString*)field;
            u32 length = text->length < sizeof(text->text) ? text->length : sizeof(text->text) - 1;
            // A line feed inside a text would split the line; it is written as a blank. Carriage
            // returns are kept; a text ending in one gets a CR LF line end, as the reader takes one
            // carriage return before the line feed for the line end.
            for (u32 i = 0; i < length; i++) {
                char c = text->text[i];
                appendBytes(c == '\n' ? " " : &text->text[i], 1, writer);
            }
            if (length > 0 && text->text[length - 1] == '\r') appendCString("\r", writer);
            break;
        }
        default:
            break;
    }
    appendCString("\n", writer);
}

bool isRetryableReadStatus(u32 status) {
    return status == FileStatusCantAccessAppFolder || status == FileStatusTooManyOpenFiles;
}

bool queueSave(Preferences* preferences, PreferencesState* state, Platform* platform) {
    ByteWriter measure = makeMeasuringWriter();
    writePreferencesText(preferences, &measure);
    if (measure.overflow || measure.length <= 0 || measure.length > 0xffffffffLL) return false;
    u8* buffer = allocateFileBuffer((u64)measure.length);
    if (!buffer) return false;  // tried again next frame: the saved copy stays as it was
    ByteWriter fill = makeByteWriter(buffer, measure.length);
    writePreferencesText(preferences, &fill);
    state->saveJob = FileJobResult{};
    enqueueFileJob(makeString(kPreferencesFileName), "text/plain", buffer, (u32)fill.length, 1, FileJobWrite,
                   &platform->fileJobs, &state->saveJob);
    state->saveQueued = 1;
    state->saveRetryDue = 0;
    state->saved = *preferences;
    return true;
}

}  // namespace

void setBindingDefaults(Preferences* out, u32 controllerKind) {
    Preferences group{};
    group.gimbalSticksScalar = 1.0;
    group.secondaryPositionYaw = -180.0;
    if (controllerKind == kControllerHerelink) {
        group.pitchGimbalBinding = kHerelinkWheel;
        group.togglePitchZoomBinding = kHerelinkTrigger;
        group.toggleVisIrCameraBinding = kHerelinkD;
    } else if (controllerKind == kControllerPilotPro) {
        group.pitchGimbalBinding = kPilotProLeftRocker;
        group.zoomCameraBinding = kPilotProRightRocker;
        group.recenterGimbalBinding = kPilotProR1;
        group.secondaryGimbalPositionBinding = kPilotProL1;
        group.toggleVisIrCameraBinding = kPilotProL2;
        group.minimizeMapBinding = kPilotProR2;
    }
    copyBindingGroup(out, &group);
}

bool bindingGroupsEqual(const Preferences* a, const Preferences* b) {
    return std::memcmp((const u8*)a + kBindingGroupStart, (const u8*)b + kBindingGroupStart,
                       kBindingGroupEnd - kBindingGroupStart) == 0;
}

void copyBindingGroup(Preferences* to, const Preferences* from) {
    std::memcpy((u8*)to + kBindingGroupStart, (const u8*)from + kBindingGroupStart,
                kBindingGroupEnd - kBindingGroupStart);
}

void setDefaultPreferences(Preferences* p, u32 controllerKind) {
    p->lowAltitudeWarning = 20.0;
    p->airspaceIndicatorAltitude = 120.0;
    p->waypointSnapAltitudeAboveGroundLevel = 20.0;
    p->waypointSnapAltitudeAboveTakeoffLocation = 20.0;
    p->waypointMissionCruiseSpeed = 10.0;
    p->waypointCurveRange = 1.0;
    p->maxWaypointsToUpload = 65535;
    p->mapStyle = makeString("osm-carto");
    p->mapStyleFileExtension = makeString("png");
    p->mapUrl = makeString(kDefaultMapUrl);
    p->appSystemId = 0xB7;
    p->appComponentId = 0;
    p->showHorizontalGroundSpeed = 1;
    p->showVerticalSpeed = 1;
    p->showDistanceFromHome = 1;
    p->adsbWarningCylinderAltitude = 3000.0;
    p->adsbWarningCylinderRadius = 6000.0;
    p->orvikDropSpacing = 10.0;
    p->orvikMaxDropPeriod = 7.0;
    p->orvikDropLocationPersistence = 24.0;
    p->copernicusSearchMonth = SearchMonthJuly;
    p->copernicusMaxCloudCover = 30.0;
    setBindingDefaults(p, controllerKind);
}

void parsePreferencesText(Preferences* preferences, const u8* text, i64 length) {
    i64 position = 0;
    while (position < length) {
        i64 lineStart = position;
        i64 lineEnd = position;
        // A line ends at a line feed, at a malformed UTF-8 sequence or at the end of the text.
        while (position < length) {
            i64 before = position;
            i32 codepoint = utf8DecodeNext(text, length, &position);
            if (codepoint == '\n' || codepoint < 0) {
                lineEnd = before;
                if (position <= before) position = before + 1;
                break;
            }
            lineEnd = position;
        }
        // A line is read whole: a cut line would lose the end of a long text the program wrote
        // itself, after its key and the blanks that align the colons.
        parseLine(preferences, text + lineStart, lineEnd - lineStart);
    }
}

void writePreferencesText(const Preferences* preferences, ByteWriter* writer) {
    for (u32 i = 0; i < kPreferenceFieldCount; i++) {
        const PreferenceField* row = &preferenceFields[i];
        // Both video endpoints are always written, so switching protocol loses neither.
        if ((row->offset == offsetof(Preferences, copernicusUsername) ||
             row->offset == offsetof(Preferences, copernicusPassword)) &&
            preferences->copernicusSaveLoginInfo != 1) {
            continue;
        }
        writeRow(preferences, row, writer);
    }
}

void requestPreferencesFile(PreferencesState* state, Platform* platform) {
    if (state->loaded || state->pendingRead) return;
    state->pendingRead = requestFile(makeString(kPreferencesFileName), kPreferencesFileMaxSize, 0, &platform->fileReads);
}

u32 updatePreferences(Preferences* preferences, PreferencesState* state, Platform* platform) {
    ProfilingScope scope("Update Preferences");
    u32 kind = platform->gamepad.controllerKind;
    bool special = kind == kControllerHerelink || kind == kControllerPilotPro;
    state->controllerKind = kind;
    setBindingDefaults(&state->bindingDefaults, kind);

    if (!state->started) {
        state->started = 1;
        setDefaultPreferences(preferences, kind);
        state->applyControllerDefaults = special ? 0 : 1;
        state->saved = *preferences;
    }
    if (state->resetBindingsRequest) {
        copyBindingGroup(preferences, &state->bindingDefaults);
        state->resetBindingsRequest = 0;
        state->applyControllerDefaults = special ? 0 : 1;
    }

    if (!state->loaded) {
        if (state->retryCountdown > 0) state->retryCountdown--;
        if (!state->pendingRead && state->retryCountdown == 0) {
            state->pendingRead =
                requestFile(makeString(kPreferencesFileName), kPreferencesFileMaxSize, 0, &platform->fileReads);
        }
        FileReadRequest* request = state->pendingRead;
        u32 status = request ? fileRequestStatus(request) : FileStatusNotYetProcessed;
        if (request && status >= FileStatusSuccess) {
            state->loadStatus = status;
            if (status == FileStatusSuccess) {
                // The saved copy is what the file holds, so a change made before the load finished
                // still differs from it and gets saved.
                const u8* text = request->data + request->headroom;
                parsePreferencesText(preferences, text, (i64)request->bytesRead);
                parsePreferencesText(&state->saved, text, (i64)request->bytesRead);
                state->loaded = 1;
                Preferences otherDefaults{};
                setBindingDefaults(&otherDefaults, 1);
                state->applyControllerDefaults = bindingGroupsEqual(preferences, &otherDefaults) ? 1 : 0;
            } else if (status == FileStatusNotFound) {
                // A first run: the defaults stand.
                state->loaded = 1;
                state->applyControllerDefaults = 1;
            } else if (!isRetryableReadStatus(status)) {
                // The file exists but cannot be read now: never overwrite it, read it again later.
                state->retryCountdown = kPreferencesRetryFrames;
            }
            releaseFileReadRequest(request, &platform->fileReads);
            state->pendingRead = nullptr;
        }
    }

    if (state->applyControllerDefaults && special) {
        state->applyControllerDefaults = 0;
        copyBindingGroup(preferences, &state->bindingDefaults);
    }
    state->bindingsAtDefaults = bindingGroupsEqual(preferences, &state->bindingDefaults) ? 1 : 0;
    if (!state->bindingsAtDefaults) state->applyControllerDefaults = 0;
    if (preferences->maxWaypointsToUpload == 0) preferences->maxWaypointsToUpload = 1;

    if (!state->loaded) return 0;
    u32 jobStatus = state->saveQueued ? fileJobStatus(&state->saveJob) : FileStatusSuccess;
    bool inFlight = jobStatus <= FileStatusProcessing;
    if (inFlight) return 0;
    if (jobStatus > FileStatusSuccess && !state->saveRetryDue) {
        // The last write failed: the file does not hold the saved copy, so write again a little later.
        state->saveRetryDue = 1;
        state->retryCountdown = kPreferencesRetryFrames;
    }
    if (state->saveRetryDue && state->retryCountdown > 0) {
        state->retryCountdown--;
        return 0;
    }
    bool changed = std::memcmp(preferences, &state->saved, sizeof(Preferences)) != 0;
    if (!changed && !state->saveRetryDue) return 0;
    return queueSave(preferences, state, platform) && changed ? 1 : 0;
}

u32 savePreferencesAtQuit(Preferences* preferences, PreferencesState* state, Platform* platform) {
    if (!state->loaded) return 0;  // the file's content is not known: never overwrite it
    if (preferences->maxWaypointsToUpload == 0) preferences->maxWaypointsToUpload = 1;
    bool changed = std::memcmp(preferences, &state->saved, sizeof(Preferences)) != 0;
    if (!changed && !state->saveRetryDue) return 0;
    return queueSave(preferences, state, platform) ? 1 : 0;
}
