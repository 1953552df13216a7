// What the GeoTIFF reader's directory walk hands to its sample reader.
#pragma once
#include "Decoders/GeoTiff.h"

// The file, read in place with every access checked against its length.
struct TiffBytes {
    const u8* data;
    i64 length;
    u8 bigEndian;
    u8 bigTiff;
    u8 outside;           // set by the first read past the end
    i64 outsidePosition;  // where that read started
};

u64 tiffReadUnsigned(TiffBytes* file, u64 position, i32 size);
inline u16 tiffRead16(TiffBytes* file, u64 position) { return (u16)tiffReadUnsigned(file, position, 2); }
inline u32 tiffRead32(TiffBytes* file, u64 position) { return (u32)tiffReadUnsigned(file, position, 4); }
inline u64 tiffRead64(TiffBytes* file, u64 position) { return tiffReadUnsigned(file, position, 8); }
FixedString tiffOutsideMessage(const TiffBytes* file);

enum TiffFieldType : u32 {
    TiffByte = 1,
    TiffAscii = 2,
    TiffShort = 3,
    TiffLong = 4,
    TiffRational = 5,
    TiffSByte = 6,
    TiffUndefined = 7,
    TiffSShort = 8,
    TiffSLong = 9,
    TiffSRational = 10,
    TiffFloat = 11,
    TiffDouble = 12,
    TiffIfd = 13,
    TiffLong8 = 16,
    TiffSLong8 = 17,
    TiffIfd8 = 18,
};

// An array of offsets (StripOffsets or TileOffsets): its field type, the position of its first
// value and its value count.
struct TiffOffsetArray {
    u32 type;
    u64 position;
    u64 count;
};

// The sample types the reader turns into 32-bit float heights.
enum TiffSampleKind : u32 {
    TiffSamplesUnsupported = 0,
    TiffSamplesF32,
    TiffSamplesF64,
    TiffSamplesI16,
    TiffSamplesU16,
    TiffSamplesI32,
};
inline TiffSampleKind tiffSampleKind(u64 sampleFormat, u64 bitsPerSample) {
    if (sampleFormat == 3 && bitsPerSample == 32) return TiffSamplesF32;
    if (sampleFormat == 3 && bitsPerSample == 64) return TiffSamplesF64;
    if (sampleFormat == 2 && bitsPerSample == 16) return TiffSamplesI16;
    if (sampleFormat == 1 && bitsPerSample == 16) return TiffSamplesU16;
    if (sampleFormat == 2 && bitsPerSample == 32) return TiffSamplesI32;
    return TiffSamplesUnsupported;
}

// The per-directory values the sample reader needs.
struct TiffImageLayout {
    u64 width;
    u64 height;
    u64 bitsPerSample;
    u64 compression;
    u64 rowsPerStrip;
    u64 tileWidth;
    u64 tileLength;
    u64 predictor;
    TiffOffsetArray stripOffsets;
    TiffOffsetArray tileOffsets;
    TiffSampleKind samples;
    i32 noData;  // integer and 64-bit samples equal to it are stored as float no-data
};

// Fills the raster's samples from the strips or tiles after the georeference is known: chooses
// the window, takes the sample block and decodes what the window covers.
void readGeoTiffSamples(ElevationRaster* out, TiffBytes* file, const TiffImageLayout* layout,
                        const RasterGeoreference* whole, i64 sampleByteBudget, u32 rowAlignment,
                        const f64* areaOfInterest, u8* progress);
