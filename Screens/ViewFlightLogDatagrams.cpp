// The recorded datagrams (types 1 to 4) in the entries list of the View Flight Log screen: the row
// colour, the sender and summary of the row, and the field lines of the selected row. Types 5 and 6
// (output withheld while a relay peer controlled) are not decoded: their rows show the time only.
#include <cstring>

#include "FlightLogReplay/RecordedMavlink.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr Color kBlack = 0xFF000000;
constexpr f32 kRowTextDepth = 0.55f;
// The sender column, "system.component", right-aligned at the start of the text area.
constexpr f32 kSenderColumnTextUnits = 2.8f;

}  // namespace

Color datagramRowColour(u8 type) { return mavlinkEntryRowColor(type); }

void drawDatagramRowText(u8 type, const u8* payload, u16 length, Rect textArea, const Rect* crop, f32 textSize,
                         UiState* ui) {
    if (!isDecodedMavlinkEntry(type)) return;
    u8 text[kMavlinkSummaryBytes];
    ByteWriter summary = makeByteWriter(text, sizeof(text));
    MavlinkEntrySummary result = summarizeMavlinkEntry(payload, length, &summary);
    TextStyle style{kBlack, kNoOutline, kSelectionOrange, textSize, 0, 0};
    // The row's text stays inside the row.
    Rect clip = intersectRect(*crop, textArea);
    if (result.messageCount == 0) {
        TextSlice error{(const u8*)kMavlinkEntryParseError, (i64)std::strlen(kMavlinkEntryParseError)};
        drawCharsInRect(ui, error, AnchorLeftCentre, kRowTextDepth, textArea, clip, style);
        return;
    }
    Rect senderColumn{textArea.x0, textArea.x0 + kSenderColumnTextUnits * textSize, textArea.y0, textArea.y1};
    drawTextInRectAt(ui, mavlinkSenderText(result.sender), AnchorRightCentre, kRowTextDepth, senderColumn, clip, style);
    Rect summaryArea{senderColumn.x1 + 0.5f * textSize, textArea.x1, textArea.y0, textArea.y1};
    drawCharsInRect(ui, TextSlice{text, summary.length}, AnchorLeftCentre, kRowTextDepth, summaryArea, clip, style);
}

void appendDatagramDetails(u8 type, const u8* payload, u16 length, const Preferences* units, ByteWriter* details) {
    if (isDecodedMavlinkEntry(type)) appendMavlinkEntryDetails(payload, length, units, details);
}
