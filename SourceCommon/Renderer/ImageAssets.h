// The image assets: a fixed, ordered table of the program's icons, markers, tool images, the logo
// and the SDF font atlas, loaded a few at a time by the renderer. An asset too large for one stored
// piece is kept as numbered parts that joinAssetParts reads one after another into one buffer.
#pragma once
#include "Core/FixedString.h"
#include "Decoders/Png.h"
#include "SourceCommon/Renderer/AssetReader.h"

constexpr i32 kImageAssetCount = 89;
constexpr i32 kAssetLoadsAtOnce = 5;
constexpr u64 kAssetPartMaxBytes = 1000000;
constexpr const char* kAssetsFolder = "AppOrvik\\Assets";

// Indices of the table, named where the program refers to them.
enum ImageAssetIndex : i32 {
    AssetFontSdf = 0,
    AssetLogo = 1,
    AssetBattery0 = 2,
    AssetCamera = 7,
    AssetController = 8,
    AssetGps = 9,
    AssetPencil = 10,
    AssetFolder = 11,
    AssetSignalBars0 = 12,
    AssetWhiteMarker = 19,
    AssetBlueMarker = 25,
    AssetYellowMarker = 26,
    AssetAddWaypoint = 27,
    AssetDroneIconSideView = 28,
    AssetOrvik = 88,
};

struct ImageAsset {
    const char* name;
    i32 state;          // FileStatus of its load: 0 not started, 1 loading, 2 loaded, above 2 failed
    ImageResult image;  // width, height, row stride, channels, pixels, error text
};

// One load in flight.
struct AssetLoad {
    u8 nextPart;        // the part to read next
    u8 partCount;       // 1 for a plain asset
    u32 status;         // 0 not started, 1 reading, 2 done, above 2 a FileStatus of failure
    u32 totalSize;
    u32 bytesRead;
    u8* buffer;         // the joined bytes, owned by the load until the renderer decodes them
    void* request;      // the current read request, or null
    FixedString path;   // without a ".part_" suffix
};

struct ImageAssetTable {
    ImageAsset assets[kImageAssetCount];
};

ImageAssetTable initImageAssets();

// Splits a ".part_N" suffix off an asset name: the load's path (folder "/" name without the suffix)
// and part count N + 1 (1 without a suffix, 0 for a name that ends in ".part_").
void prepareAssetLoad(AssetLoad* load, const char* name);

// One step of a load's state machine; called once per frame while its status is 0 or 1.
void joinAssetParts(AssetLoad* load, AssetReader* reader);

// The path of part `part` of an asset kept as parts: path ".part_" part.
FixedString assetPartPath(const FixedString& path, i32 part);

// Frees a load's buffer, if it still has one.
void discardAssetLoadBuffer(AssetLoad* load);
