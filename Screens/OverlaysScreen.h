// The Overlays Screen's scratch state. The screen imports overlay files through the system's file
// picker (".kml" and ".kmz" go to the vector overlay loader, ".pdf" to the raster overlay loader, and
// their caches ".kmlbin", ".kmzbin" and ".pdfbin" likewise), shows the loaders' progress and
// messages, and lists the imported overlays with "View" and "Delete".
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "Platform/FileTables.h"
#include "SourceCommon/UserInterface/MapView.h"

constexpr u32 kOverlaysScreenStatusRows = 8;

// A progress or message row above the list, as the operator reads it.
struct OverlaysScreenRow {
    FixedString title;
    FixedString text;
};

struct OverlaysScreenState {
    u32 initialised;
    MapView listView;
    FileReadRequest* pick;  // the picker request from the import button until the picker answers
    FixedString unrecognisedName;  // a picked file of a type that cannot be imported
    FixedString pendingView;  // the overlay whose "View" was pressed, opened once it is loaded
    u32 statusRowCount;  // this frame's progress and message rows
    OverlaysScreenRow statusRows[kOverlaysScreenStatusRows];
    Rect viewButton, deleteButton;  // of the open row this frame; all zero when none is open
};

// The MIME types the picker offers.
constexpr const char* kOverlayPickTypes = "application/kmz application/kml application/pdf";
