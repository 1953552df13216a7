// The table that describes the Preferences record field by field: the key of each preference in
// "Preferences.txt", where the field lies, its kind, the names of enum values and whether flight
// logs leave it out. The preferences file and the flight-log writer walk it in row order.
#pragma once
#include "Core/Preferences.h"

// Kinds, by the size of the stored field.
enum PreferenceKind : u32 {
    PreferenceU8 = 1,
    PreferenceU16 = 2,
    PreferenceEnum = 4,  // u32 index into enumNames; booleans are "False", "True"
    PreferenceNumber = 8,  // f64
    PreferenceEndpoint = 20,  // AddressRecord
    PreferenceText = 256,  // FixedString
};

struct PreferenceField {
    const char* key;
    u32 offset;  // byte offset of the field in Preferences
    u32 size;  // PreferenceKind
    const char* const* enumNames;  // PreferenceEnum only
    u64 enumCount;
    u32 notLogged;  // 1: never written to flight logs
};

constexpr u32 kPreferenceFieldCount = 92;
constexpr i64 kLongestPreferenceKey = 50;
constexpr u32 kControllerInputCount = 64;

extern const PreferenceField preferenceFields[kPreferenceFieldCount];
// The 64 ControllerInput names: 32 inputs, then each inverted.
extern const char* const controllerInputNames[kControllerInputCount];

// The row with a key (ASCII letters compared without regard to case), or null.
const PreferenceField* findPreferenceField(const u8* key, i64 keyLength);
// The row that describes a field of the record, or null.
const PreferenceField* preferenceFieldAt(u32 offset);

// Numbers are written as value x 10,000,000 in a signed 64-bit integer; larger values are held here.
constexpr f64 kMaxPreferenceNumber = 900000000000.0;

// A number as a preference can hold it: not-a-number gives fallback, anything beyond the limits
// (infinities included) is held at them.
inline f64 heldPreferenceNumber(f64 value, f64 fallback) {
    if (!(value == value)) return fallback;
    if (value > kMaxPreferenceNumber) return kMaxPreferenceNumber;
    if (value < -kMaxPreferenceNumber) return -kMaxPreferenceNumber;
    return value;
}
