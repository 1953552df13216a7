#include "Map/ElevationMapLoader.h"

#include "Core/MathEarth.h"

f32 getElevation(const ElevationMapLoader* loader, GeoPoint point, f32 defaultValue) {
    (void)loader;
    (void)point;
    return defaultValue;
}

void manageElevationMaps(ElevationMapLoader* loader, Platform* platform, DownloadPool* downloads, ImageSlotTable* slots,
                         Preferences* preferences) {
    (void)loader;
    (void)platform;
    (void)downloads;
    (void)slots;
    (void)preferences;
}

void extendLonLatBounds(GeoPoint point, LonLatBox* box) {
    f64 longitude = point.longitude;
    if (box->lonMax >= box->lonMin) longitude = wrapLongitudeNear(longitude, box->lonMin);
    if (longitude < box->lonMin) box->lonMin = longitude;
    if (longitude > box->lonMax) box->lonMax = longitude;
    if (point.latitude < box->latMin) box->latMin = point.latitude;
    if (point.latitude > box->latMax) box->latMax = point.latitude;
}
