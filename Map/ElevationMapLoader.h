// Terrain heights as the application update, the drone link and the planners ask for them, and the
// per-frame step that keeps up to four elevation rasters loaded around the area of interest.
//
// The source is the "Custom elevation data file" preference: empty means SRTM tiles, the one-degree
// ".hgt" tiles in "SRTM/" (at most four: those nearest the centre of the area of interest first),
// downloaded from the elevation service when missing and written back; otherwise the user's own file
// in "Elevation Maps/" (".tif"/".tiff" GeoTIFF, ".bil" with its ".hdr", or a ".hgt" tile). Files are
// read by the file thread and parsed on the job worker; nothing waits inside a frame.
#pragma once
#include <cassert>

#include "Core/GeometryTypes.h"
#include "Core/Types.h"
#include "Map/ElevationFiles.h"
#include "Map/ElevationLookup.h"
#include "Map/ElevationTiles.h"
#include "Platform/FileTables.h"

struct Platform;
struct DownloadPool;
struct DownloadSlot;
struct ImageSlotTable;
struct Preferences;

// A longitude/latitude box in degrees; empty while lonMax < lonMin.
struct LonLatBox {
    f64 lonMin;
    f64 lonMax;
    f64 latMin;
    f64 latMax;
};

constexpr u32 kElevationMapSlots = 4;
constexpr i64 kElevationSampleBudget = 64ll << 20;  // bytes of samples one raster may keep
constexpr i64 kElevationFileMaxBytes = 1ll << 30;  // largest user file read
constexpr i64 kElevationHeaderMaxBytes = 65536;
constexpr u64 kElevationRetryInterval = 30000000;  // microseconds before a failed raster is tried again
// The download limit for elevation files: the large-download limit, raised to hold a whole SRTM1
// tile, which is larger.
constexpr u64 kElevationDownloadBytes = (u64)kSrtm1Bytes > 20000000 ? (u64)kSrtm1Bytes : 20000000;

enum ElevationMapState : u32 {
    ElevationMapEmpty = 0,
    ElevationMapReadingHeader = 1,  // a BIL's ".hdr"
    ElevationMapReading = 2,
    ElevationMapDownloading = 3,
    ElevationMapParsing = 4,  // queued or running on the job worker
    ElevationMapLoaded = 5,
    ElevationMapFailed = 6,
};

enum ElevationFileKind : u32 {
    ElevationFileSrtm = 0,
    ElevationFileGeoTiff = 1,
    ElevationFileBil = 2,
};

// One raster and the road by which it arrives.
struct ElevationMapSlot {
    u32 state;  // ElevationMapState
    u32 kind;  // ElevationFileKind
    FixedString name;  // file name, the slot's identity
    FixedString path;  // below the data folder
    i32 rank;  // place in this frame's wanted list; -1 when no longer wanted
    i32 southLatitude;  // an SRTM tile's corner
    i32 westLongitude;
    u32 downloadable;  // a missing file is fetched from the elevation service
    ElevationRaster raster;  // the loaded raster
    ElevationTiles tiles;  // the loaded raster's samples handed to the renderer as textures; none: 0 columns
    FileReadRequest* read;
    FileReadRequest* headerRead;
    DownloadSlot* download;
    u8* downloaded;  // a downloaded tile (a file buffer) until it is written back or refused
    i64 downloadedLength;
    FixedString message;  // why the slot failed
    u64 failedAt;
    FileJobResult writeBack;
    // The parse job: the main thread fills these before queueing it; the worker fills `parsed` and
    // `progress`, and sets `jobDone` last.
    u32 jobQueued;
    u32 jobDone;
    const u8* jobBytes;
    i64 jobLength;
    f64 jobArea[4];
    const f64* jobAreaPointer;  // jobArea or null
    BilHeader header;
    ElevationRaster parsed;
    u8 progress;  // percentage of a GeoTIFF parse
};

// Where missing SRTM tiles come from: "<url>/<tile name>" with HTTP Basic credentials. An empty URL
// means no downloads.
struct ElevationService {
    const char* url;
    const char* user;
    const char* password;
};

struct ElevationMapLoader {
    LonLatBox areaOfInterest;  // written by the application update before manageElevationMaps; all zero: none yet
    ElevationMapSlot slots[kElevationMapSlots];
    u32 order[kElevationMapSlots];  // the loaded slots, nearest the centre first
    // The quick look-ups of the loaded rasters in that order, made by prepareElevationLookups, which
    // runs after every change of the rasters (a look-up with stale ones is a fault that the test
    // build's assertion catches).
    QuickElevationLookup quick[kElevationMapSlots];
    u32 loadedCount;
    u32 wantedCount;
    FixedString status;  // "Loaded and Parsed" when every wanted raster is in
    const ElevationService* service;  // null: the service this program was built with
    ImageSlotTable* imageSlots;  // the table the rasters' textures are claimed from (the last manageElevationMaps)
    u64 (*clock)();  // null: getMicroseconds
};

// Ground height in metres at a point: the first loaded raster, nearest the area's centre first, that
// covers the point with four valid neighbouring samples, interpolated bilinearly; else the default.
// The first raster's quick look-up is inline, so that a caller's loop keeps many look-ups going.
inline f32 getElevation(const ElevationMapLoader* loader, GeoPoint point, f32 defaultValue);
// The same from the k-th loaded raster on.
// Reads the loader alone (pure), so that a caller's loop may keep what it read from it.
[[gnu::pure]] f32 getElevationFrom(const ElevationMapLoader* loader, GeoPoint point, f32 defaultValue, u32 k);
// Makes the quick look-up of every loaded raster that allows one; the others are looked up the
// general way, with the same heights. manageElevationMaps and releaseElevationMaps run it after
// every change of the rasters; code that fills or changes a loader by other means runs it after.
void prepareElevationLookups(ElevationMapLoader* loader);
// The per-frame step: chooses the wanted rasters, reads, downloads and parses them, releases the ones
// no longer wanted and sets the status text. Each loaded raster's samples go to the renderer through
// an image slot of the table (of format 37316 or 37332), which drawElevationMaps draws; a raster that
// goes asks for its slot's release first. slots may be null (no textures).
void manageElevationMaps(ElevationMapLoader* loader, Platform* platform, DownloadPool* downloads, ImageSlotTable* slots,
                         Preferences* preferences);
// Releases every raster and buffer the loader holds, waiting for nothing: slots whose file read,
// download or parse job is still out are left as they are. For the end of the program and tests.
void releaseElevationMaps(ElevationMapLoader* loader, Platform* platform, DownloadPool* downloads);

// Whether a file name is one of the elevation files the loader reads (".tif", ".tiff", ".bil" or an
// SRTM tile name ending in ".hgt"), in either letter case.
bool isElevationFileName(FixedString name);

// The elevation service this program was built with (empty unless configured at build time).
const ElevationService* builtInElevationService();

// The SRTM tiles for an area: at most `capacity` tiles that meet the area, nearest its centre first.
// Returns how many, with each tile's south-west corner.
u32 chooseSrtmTiles(const LonLatBox* area, i32 capacity, i32* southLatitudes, i32* westLongitudes);

// The box that starts a frame's area of interest: empty, so any point replaces it.
constexpr LonLatBox kEmptyLonLatBox = {1e12, -1e12, 1e12, -1e12};
// Grows the box to hold the point. When the box is not empty the point's longitude is first moved
// by whole turns to within 180 degrees of lonMin.
void extendLonLatBounds(GeoPoint point, LonLatBox* box);

inline f32 getElevation(const ElevationMapLoader* loader, GeoPoint point, f32 defaultValue) {
    const QuickElevationLookup* first = &loader->quick[0];
    if (__builtin_expect(loader->loadedCount == 0 || !first->samples, 0)) {
        return getElevationFrom(loader, point, defaultValue, 0);
    }
    assert(first->samples == loader->slots[loader->order[0]].raster.samples && "rasters changed without prepareElevationLookups");
    f64 height;
    i32 found = sampleQuickElevation(first, point.longitude, point.latitude, &height);
    if (__builtin_expect(found > 0, 1)) return (f32)height;
    return getElevationFrom(loader, point, defaultValue, found == 0 ? 1 : 0);
}
