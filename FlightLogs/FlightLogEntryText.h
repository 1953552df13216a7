// Readable texts of the program's own flight-log entries (types 7 to 17): a row title and the
// detail lines, read from the payload bytes alone. Every read stays within the payload: a field
// that lies outside it is left out, a text that runs past it is cut at its end.
#pragma once
#include "Core/FixedString.h"

struct Preferences;

// The row title of an entry of the program's own types; empty for any other type.
FixedString flightLogEntryTitle(u8 type, const u8* payload, u16 length);

// Appends the detail lines of an entry of the program's own types, each ending with a line break;
// lengths follow the "Units" preference of units. Nothing for any other type.
void appendFlightLogEntryDetails(u8 type, const u8* payload, u16 length, const Preferences* units,
                                 ByteWriter* details);
