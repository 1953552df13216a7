// The recorded datagrams (types 1 to 4) in the entries list of the View Flight Log screen. Until
// their decoding arrives such a row shows its time only, and its details only the hexadecimal dump
// that every selected row ends with.
#include "Screens/ViewFlightLogScreen.h"

Color datagramRowColour(u8 type) {
    (void)type;
    return 0xFFAAAAAA;
}

void drawDatagramRowText(u8 type, const u8* payload, u16 length, Rect textArea, const Rect* crop, f32 textSize,
                         UiState* ui) {
    (void)type;
    (void)payload;
    (void)length;
    (void)textArea;
    (void)crop;
    (void)textSize;
    (void)ui;
}

void appendDatagramDetails(u8 type, const u8* payload, u16 length, ByteWriter* details) {
    (void)type;
    (void)payload;
    (void)length;
    (void)details;
}
