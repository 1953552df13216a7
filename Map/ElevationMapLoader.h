// Terrain heights as the application update and the drone link ask for them, and the per-frame step
// of elevation-map management. For now no raster is loaded and every look-up answers its default;
// the elevation-map manager replaces this.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

struct Platform;
struct DownloadPool;
struct ImageSlotTable;
struct Preferences;

// A longitude/latitude box in degrees; empty while lonMax < lonMin.
struct LonLatBox {
    f64 lonMin;
    f64 lonMax;
    f64 latMin;
    f64 latMax;
};

struct ElevationMapLoader {
    LonLatBox areaOfInterest;  // written by the application update before manageElevationMaps
    u32 loadedMapCount;
};

// Ground height in metres at a point; the default when no loaded raster covers it.
f32 getElevation(const ElevationMapLoader* loader, GeoPoint point, f32 defaultValue);
void manageElevationMaps(ElevationMapLoader* loader, Platform* platform, DownloadPool* downloads, ImageSlotTable* slots,
                         Preferences* preferences);

// The box that starts a frame's area of interest: empty, so any point replaces it.
constexpr LonLatBox kEmptyLonLatBox = {1e12, -1e12, 1e12, -1e12};
// Grows the box to hold the point. When the box is not empty the point's longitude is first moved
// by whole turns to within 180 degrees of lonMin.
void extendLonLatBounds(GeoPoint point, LonLatBox* box);
