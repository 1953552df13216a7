// The elevation screens: the data-source list ("ELEVATION MAPS", declared with the Main Screen's
// other children), which chooses between SRTM tiles and one of the user's files in "Elevation Maps/"
// and keeps the choice in the "Custom elevation data file" preference; and the elevation-map viewer
// it opens, a map of the tiles with the chosen source's terrain shading and contour lines. Before the
// application knows a flight area (no drone, home or mission yet), the viewer lends the area it
// shows to the loader, so that SRTM tiles load where the operator looks.
#pragma once
#include "Core/FixedString.h"
#include "Map/ElevationMapLoader.h"
#include "Platform/FileTables.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/UserInterface/Screen.h"

constexpr i32 kMaxListedElevationFiles = 64;
constexpr f32 kViewerTilesDepth = 0.1f;
constexpr f32 kViewerElevationDepth = 0.102f;

struct ElevationFileRow {
    FixedString name;
    u64 size;  // bytes
};

struct ElevationSourceScreenState {
    u32 initialised;
    u32 listed;  // the folder's listing has come back (found or not)
    MapView listView;
    FileReadRequest* listing;  // the folder listing in flight; null when none
    FixedString listingProblem;  // why the folder could not be listed; empty when it could (or is missing)
    i32 fileCount;
    ElevationFileRow files[kMaxListedElevationFiles];  // by name
};

// The widest area (degrees a side) the viewer lends the elevation loader for SRTM tiles.
constexpr f64 kViewerAreaMaxDegrees = 2.0;

struct ElevationViewerState {
    u32 initialised;
    u32 fitted;  // the view has been fitted to the chosen raster
    MapView view;
    u32 lentArea;  // the loader's area of interest is the one this viewer lent it
    LonLatBox lent;
};

// The viewer: Back (the corner button) returns to the list.
ORVIK_SCREEN_FUNCTION(elevationMapViewerScreen);
