// The tile map: the slippy-map tiles under every map view. A tile the view needs is drawn from its
// texture when one of the 128 is loaded; else it is read from the tile folder
// "Tile Maps/{style}/{z}/{x}/{y}.{extension}" (at most 8 reads at a time), else downloaded from the
// "Map URL" preference with its placeholders filled (at most 3 downloads at a time), decoded as PNG
// or JPEG on the job ring, made a texture, and a downloaded tile is written back to the folder for
// use offline. Meanwhile the nearest loaded ancestor's part stands in for it. The textures are kept
// in least-recently-used order; a failed download is tried again after 30 seconds and its reason
// becomes the status text drawn in the view's corner.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "Decoders/Png.h"
#include "Platform/FileTables.h"

struct MapView;
struct UiState;
struct Platform;
struct Preferences;
struct DownloadPool;
struct DownloadSlot;

constexpr i32 kTileTextureCount = 128;
constexpr i32 kTileDiskReads = 8;
constexpr i32 kTileDownloads = 3;
constexpr i32 kTileDecodeJobs = 4;
constexpr i32 kTileMaxLevel = 19;
constexpr u32 kTileSize = 256;  // pixels on a side
constexpr i64 kTileImageBytes = (i64)kTileSize * kTileSize * 4;
// The PNG decoder's inflated rows: up to 16-bit RGBA samples plus a filter byte per row.
constexpr i64 kTileDecodeScratchBytes = (i64)kTileSize * (1 + kTileSize * 8);
constexpr u64 kTileRetryMicroseconds = 30000000;
constexpr u64 kTileStatusMicroseconds = 10000000;  // how long a failure's text stays on the map
// More visible tiles than this at the chosen level take the level below instead.
constexpr i32 kTileMaxVisible = 96;

// The tile service key that fills "{qvgeoapifykey}" in the "Map URL". A build sets it with
// -DORVIK_TILE_SERVICE_KEY="..."; without it the key is empty and the user points "Map URL" at a
// tile server of their own.
extern const char* const tileServiceKey;

enum TileEntryState : u32 {
    TileEntryFree = 0,
    TileEntryReading = 1,      // the tile folder's file is being read
    TileEntryDownloading = 2,  // the download is running
    TileEntryDecoding = 3,     // the job ring decodes it
    TileEntryReady = 4,        // its texture is in an image slot
    TileEntryFailed = 5,       // waits for retryTime
    TileEntryReleasing = 6,    // its image slot is being given back
};

struct TileEntry {
    u32 state;  // TileEntryState
    u32 level;
    u32 x;
    u32 y;
    u64 lastUsed;  // the draw count at which it was last wanted
    u64 retryTime;  // microseconds; a failed entry is tried again from then on
    i32 imageSlot;  // while ready or releasing; 0 none
    u32 downloaded;  // the bytes came from a download: write them back once decoded
    FileReadRequest* read;
    DownloadSlot* download;
    u8* pixels;  // kTileImageBytes, the entry's own
    // The decode job's input and output; decodeDone is set by the job, last.
    const u8* encoded;
    i64 encodedLength;
    u8* scratch;
    i32 decodeSlot;  // index of the scratch buffer in use, -1 none
    i32 decodeDone;
    ImageResult result;
    FixedString message;  // why the last attempt failed
};

struct TileMaps {
    DownloadPool* downloads;  // the application's download manager; set up by the application
    u64 (*clock)();           // null: getMicroseconds; tests set their own
    u8* memory;               // the entries' pixels and the decode scratch, taken on first use
    u64 drawCount;            // one per drawTileMaps call
    // The tile source as it was when the entries were loaded; a change empties the cache.
    FixedString url;
    FixedString style;
    FixedString extension;
    FixedString status;  // the last failure, empty when none
    u64 statusTime;
    u32 decodeSlotBusy[kTileDecodeJobs];
    u32 lastLevel;  // the level the last drawing used
    u32 lastVisibleCount;
    TileEntry entries[kTileTextureCount];
};

// Draws the tiles the view shows at depth into the UI's textured batch (drawn under the shapes) and
// moves the loading of the missing ones on. The view's content is normalised Web-Mercator (a world
// one unit wide, x from -0.5 to 0.5 wrapping). The mini view takes the level below (fewer, coarser
// tiles) and shows no status text.
void drawTileMaps(MapView* view, UiState* ui, Platform* platform, const Preferences* preferences, TileMaps* tiles,
                  f32 depth, u32 miniView);

// Gives every texture, read and download back and frees the memory; the record can be used again.
void releaseTileMaps(TileMaps* tiles, UiState* ui, Platform* platform);

// The level for a scale: round(log2(pixels per unit / 256)) within [0, 19].
u32 tileLevelForScale(f64 pixelsPerUnit);
// The tile's file path "Tile Maps/{style}/{z}/{x}/{y}.{extension}", with every character of style
// and extension that is not a letter, digit, "-" or "_" replaced by "_", so that neither can leave the folder.
FixedString tileFilePath(const FixedString* style, const FixedString* extension, u32 level, u32 x, u32 y);
// The URL of a tile: every {style}, {z}, {x}, {y}, {extension} and {qvgeoapifykey} of the template
// replaced; other text is kept. The writer's overflow flag tells when it did not fit.
void tileUrl(const FixedString* urlTemplate, const FixedString* style, const FixedString* extension, u32 level, u32 x,
             u32 y, ByteWriter* out);
// The decode job: PNG or JPEG (by the first bytes) into the entry's pixels as RGBA.
i64 decodeTileJob(void* entry);
