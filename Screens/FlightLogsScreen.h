// The Flight Logs screen (flightLogsScreen, declared with the other child screens) and its row order.
#pragma once
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/MapView.h"

struct FileReadRequest;

constexpr u32 kMaxFlightLogRows = 3000;
constexpr u64 kMaxFlightLogListingEntries = 65536;

// The rows of a listing: its file entries among the first 65,536 entries, at most 3,000, in listing
// order, then sorted newest first (equal times keep listing order). Returns the row count; order
// holds indices into the listing. A listing that did not succeed gives no rows.
i32 flightLogRowOrder(const FileReadRequest* listing, u16* order);

// The screen's scratch state.
struct FlightLogsScreenState {
    u32 initialised;
    MapView listView;
    i32 rowCount;
    u16 rowOrder[kMaxFlightLogRows];  // indices into the current listing, newest first
    FixedString chosenLog;            // the log whose "View" was pressed
};
