#include "Decoders/GeoTiff.h"

#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Decoders/GeoTiffInternal.h"
#include "Core/Georeference.h"

namespace {

const char* const kParseRegion = "Parse GEOTIFF";

// More directories than this in one chain means a loop.
constexpr i32 kMaxDirectories = 4096;

struct TiePoint {
    f64 i, j, x, y;
};

// The values one image file directory gives, reset for every directory.
struct TiffDirectory {
    TiffImageLayout layout;
    f64 scaleX, scaleY;
    u64 geoKeyPosition, geoDoublePosition, geoAsciiPosition;
    u8 hasGeoKeys;
    TiePoint tiePoints[3];
    i32 tiePointCount;
    u64 sampleFormat;
    u64 samplesPerPixel;
    u64 planarConfiguration;
    i32 noData;
};

struct GeoKeys {
    u32 modelType;
    u8 projectedCodeGiven;  // a projected system or projection named by its code
    u8 projectedCitation;   // the projected system's citation is an ESRI projected system
    u32 rasterType;
    u32 geographicType;
    u32 geographicLinearUnit;
    u32 projectionMethod;
    u32 projectedLinearUnit;
    u32 verticalUnit;
    f64 semiMajorAxis, semiMinorAxis, inverseFlattening;
    u8 semiMajorGiven, semiMinorGiven;
    f64 standardParallel1, standardParallel2;
    f64 naturalOriginLongitude, naturalOriginLatitude, centreLongitude;
    u8 naturalOriginLongitudeGiven, centreLongitudeGiven;
    f64 falseEasting, falseNorthing, falseOriginEasting, falseOriginNorthing;
    u8 falseEastingGiven, falseNorthingGiven;
    FixedString citation;
};

void resetDirectory(TiffDirectory* d) {
    std::memset(d, 0, sizeof(*d));
    d->sampleFormat = 1;
    d->layout.predictor = 1;
    d->samplesPerPixel = 1;
    d->planarConfiguration = 1;
    d->noData = -32768;
}

i64 typeSize(u32 type) {
    switch (type) {
        case TiffByte: case TiffAscii: case TiffSByte: case TiffUndefined: return 1;
        case TiffShort: case TiffSShort: return 2;
        case TiffLong: case TiffSLong: case TiffFloat: case TiffIfd: return 4;
        case TiffRational: case TiffSRational: case TiffDouble: case TiffLong8: case TiffSLong8: case TiffIfd8: return 8;
        default: return 1;
    }
}

u64 readScalar(TiffBytes* file, u32 type, u64 count, u64 position) {
    if (count != 1) return 0;
    switch (type) {
        case TiffByte: return tiffReadUnsigned(file, position, 1);
        case TiffShort: return tiffRead16(file, position);
        case TiffLong: return tiffRead32(file, position);
        case TiffSByte: return (u64)(i64)(i8)tiffReadUnsigned(file, position, 1);
        case TiffSShort: return (u64)(i64)(i16)tiffRead16(file, position);
        case TiffSLong: return (u64)(i64)(i32)tiffRead32(file, position);
        case TiffLong8: case TiffSLong8: case TiffIfd8: return tiffRead64(file, position);
        default: return 0;
    }
}

f64 readF64(TiffBytes* file, u64 position) {
    u64 bits = tiffRead64(file, position);
    f64 value;
    std::memcpy(&value, &bits, 8);
    return value;
}

// A value as a scaled integer with `decimals` decimals, cut toward zero, for the "@" formatter.
i64 scaledTowardZero(f64 value, i32 decimals) {
    f64 scaled = std::trunc(value * std::pow(10.0, decimals));
    if (!(scaled == scaled)) return 0;
    if (scaled >= 9.0e18) return (i64)9.0e18;
    if (scaled <= -9.0e18) return (i64)-9.0e18;
    return (i64)scaled;
}

// "nan", "NaN", "-nan" and the like: the text GDAL writes when the missing samples are not-a-number.
bool isNotANumberText(const u8* text, i64 length) {
    i64 start = 0, end = length;
    while (start < end && (text[start] == ' ' || text[start] == '\t')) start++;
    while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == 0)) end--;
    if (start < end && (text[start] == '-' || text[start] == '+')) start++;
    if (end - start != 3) return false;
    return (text[start] | 0x20) == 'n' && (text[start + 1] | 0x20) == 'a' && (text[start + 2] | 0x20) == 'n';
}

FixedString readNoData(TiffBytes* file, u64 position, u64 count, i32* noData) {
    if (count == 0) count = 1;
    if (position > (u64)file->length || count - 1 > (u64)file->length - position) {
        file->outside = 1;
        file->outsidePosition = (i64)position;
        return tiffOutsideMessage(file);
    }
    // Not-a-number samples are missing whatever the no-data value says: a "nan" leaves no other.
    if (isNotANumberText(file->data + position, (i64)count - 1)) return FixedString{};
    i64 cursor = (i64)position;
    f64 value = parseDouble(file->data, &cursor, (i64)(position + count - 1), 0.0);
    if (value != value) return format("No-data value must be an integer. Found nan");
    if (value != std::round(value)) {
        return formatFixed("No-data value must be an integer. Found @", scaledTowardZero(value, 6), 6);
    }
    if (value < (f64)INT32_MIN || value > (f64)INT32_MAX) {
        // GDAL's float no-data of -3.4e38 lands here: no 32-bit height can stand for it. The value is
        // shown as the file writes it, which a conversion of so large a number could not.
        i64 start = (i64)position, end = (i64)(position + count - 1);
        while (start < end && (file->data[start] == ' ' || file->data[start] == '\t')) start++;
        while (end > start && (file->data[end - 1] == ' ' || file->data[end - 1] == '\t' || file->data[end - 1] == 0)) {
            end--;
        }
        char shown[64];
        i64 shownLength = end - start < 64 ? end - start : 64;
        for (i64 i = 0; i < shownLength; i++) {
            u8 c = file->data[start + i];
            shown[i] = c >= 0x20 && c < 0x7F ? (char)c : '?';
        }
        return formatStr("No-data value @ doesn't fit a 32-bit integer", stringFromBytes(shown, shownLength));
    }
    *noData = (i32)value;
    return FixedString{};
}

FixedString readEntry(TiffBytes* file, u64 entry, TiffDirectory* d) {
    u32 tag = tiffRead16(file, entry);
    u32 type = tiffRead16(file, entry + 2);
    u64 count = file->bigTiff ? tiffRead64(file, entry + 4) : tiffRead32(file, entry + 4);
    u64 valueField = entry + (file->bigTiff ? 12 : 8);
    u64 inlineBytes = file->bigTiff ? 8 : 4;
    i64 size = typeSize(type);
    u64 position = valueField;
    if (count > inlineBytes / (u64)size) {
        position = file->bigTiff ? tiffRead64(file, valueField) : tiffRead32(file, valueField);
    }
    u64 scalar = readScalar(file, type, count, position);
    TiffImageLayout* layout = &d->layout;
    switch (tag) {
        case 256: layout->width = scalar; break;
        case 257: layout->height = scalar; break;
        case 258: layout->bitsPerSample = scalar; break;
        case 259: layout->compression = scalar; break;
        case 273: layout->stripOffsets = TiffOffsetArray{type, position, count}; break;
        case 277: d->samplesPerPixel = scalar; break;
        case 278: layout->rowsPerStrip = scalar; break;
        case 284: d->planarConfiguration = scalar; break;
        case 317: layout->predictor = scalar; break;
        case 322: layout->tileWidth = scalar; break;
        case 323: layout->tileLength = scalar; break;
        case 324: layout->tileOffsets = TiffOffsetArray{type, position, count}; break;
        case 339: d->sampleFormat = scalar; break;
        case 33550:
            d->scaleX = readF64(file, position);
            d->scaleY = readF64(file, position + 8);
            break;
        case 33922: {
            u64 points = count / 6;
            if (points > 3) return formatInt("More than 3 tie points is not supported. Found @.", (i64)points);
            d->tiePointCount = (i32)points;
            for (u64 k = 0; k < points; k++) {
                u64 p = position + k * 48;
                d->tiePoints[k] = TiePoint{readF64(file, p), readF64(file, p + 8), readF64(file, p + 24),
                                           readF64(file, p + 32)};
            }
            break;
        }
        case 34735:
            d->geoKeyPosition = position;
            d->hasGeoKeys = 1;
            break;
        case 34736: d->geoDoublePosition = position; break;
        case 34737: d->geoAsciiPosition = position; break;
        case 42113: return readNoData(file, position, count, &d->noData);
        default: break;
    }
    return FixedString{};
}

void readGeoKeys(TiffBytes* file, const TiffDirectory* d, GeoKeys* keys) {
    std::memset(keys, 0, sizeof(*keys));
    u64 directory = d->geoKeyPosition;
    u32 keyCount = tiffRead16(file, directory + 6);
    for (u32 k = 0; k < keyCount && !file->outside; k++) {
        u64 entry = directory + 8 + (u64)k * 8;
        u32 key = tiffRead16(file, entry);
        u32 location = tiffRead16(file, entry + 2);
        u32 count = tiffRead16(file, entry + 4);
        u32 value = tiffRead16(file, entry + 6);
        if (location == 0) {
            switch (key) {
                case 1024: keys->modelType = value; break;
                case 1025: keys->rasterType = value; break;
                case 3072: case 3074: keys->projectedCodeGiven = 1; break;
                case 2048: keys->geographicType = value; break;
                case 2052: keys->geographicLinearUnit = value; break;
                case 3075: keys->projectionMethod = value; break;
                case 3076: keys->projectedLinearUnit = value; break;
                case 4099: keys->verticalUnit = value; break;
                default: break;
            }
        } else if (location == 34736) {
            f64 x = readF64(file, d->geoDoublePosition + (u64)value * 8);
            switch (key) {
                case 2057: keys->semiMajorAxis = x; keys->semiMajorGiven = 1; break;
                case 2058: keys->semiMinorAxis = x; keys->semiMinorGiven = 1; break;
                case 2059: keys->inverseFlattening = x; break;
                case 3078: keys->standardParallel1 = x; break;
                case 3079: keys->standardParallel2 = x; break;
                case 3080: keys->naturalOriginLongitude = x; keys->naturalOriginLongitudeGiven = 1; break;
                case 3081: keys->naturalOriginLatitude = x; break;
                case 3082: keys->falseEasting = x; keys->falseEastingGiven = 1; break;
                case 3083: keys->falseNorthing = x; keys->falseNorthingGiven = 1; break;
                case 3086: keys->falseOriginEasting = x; break;
                case 3087: keys->falseOriginNorthing = x; break;
                case 3088: keys->centreLongitude = x; keys->centreLongitudeGiven = 1; break;
                default: break;
            }
        } else if (location == 34737 && key == 3073) {
            // GDAL's ESRI flavour of keys may give a projected system by its ESRI text alone.
            static const char prefix[] = "ESRI PE String = PROJCS";
            u64 start = d->geoAsciiPosition + value, length = sizeof(prefix) - 1;
            keys->projectedCitation = start <= (u64)file->length && length <= (u64)file->length - start &&
                                      std::memcmp(file->data + start, prefix, length) == 0;
        } else if (location == 34737 && key == 2049) {
            u32 characters = count - 1;
            if (count == 0 || count >= 255) characters = 253;
            if (count == 1) characters = 0;
            u64 start = d->geoAsciiPosition + value;
            if (start > (u64)file->length) start = (u64)file->length;
            if (characters > (u64)file->length - start) characters = (u32)((u64)file->length - start);
            keys->citation = stringFromBytes(file->data + start, characters);
        }
    }
}

// Whether the model's coordinates are projected ones rather than longitude and latitude: a projected
// model type, a projected system or projection named by its code, or a user-defined model (GDAL's
// ESRI flavour of keys) with a projected linear unit or an ESRI projected citation. A user-defined
// model with neither is the ESRI flavour's geographic grid.
bool modelIsProjected(const GeoKeys* keys) {
    if (keys->modelType == 1 || keys->projectedCodeGiven) return true;
    return keys->modelType == 32767 && (keys->projectedLinearUnit != 0 || keys->projectedCitation);
}

// The ellipsoid must be WGS 84 within 1 cm.
FixedString checkEllipsoid(GeoKeys* keys) {
    if (keys->geographicType == 4269) {
        if (!keys->semiMajorGiven) keys->semiMajorAxis = 6378137.0;
        if (!keys->semiMinorGiven) keys->semiMinorAxis = 6356752.3141;
    } else if (keys->geographicType == 4326 && !keys->semiMajorGiven && !keys->semiMinorGiven) {
        // EPSG 4326 is WGS 84 itself: its code names the ellipsoid.
        keys->semiMajorAxis = 6378137.0;
        keys->semiMinorAxis = 6378137.0 - 6378137.0 / 298.257223563;
    } else if (!keys->semiMinorGiven) {
        if (!keys->semiMajorGiven) {
            FixedString message = formatInt("This file does not specify the ellipsoid for geographic coordinate system @",
                                            keys->geographicType);
            if (keys->citation.length > 0) message = formatStrStr("@ (@)", message, keys->citation);
            return message;
        }
        if (keys->inverseFlattening != 0.0) {
            keys->semiMinorAxis = keys->semiMajorAxis - keys->semiMajorAxis / keys->inverseFlattening;
        }
    }
    f64 a = keys->semiMajorAxis;
    f64 b = keys->semiMinorAxis;
    if (!(a >= 6378136.99 && a <= 6378137.01) || !(b >= 6356752.304245 && b <= 6356752.324245)) {
        return formatFixedFixed("Earth ellipsoid is more than 1cm different from WGS84. Semi-major axis: @, "
                                "Semi-minor axis: @",
                                scaledTowardZero(a, 3), 3, scaledTowardZero(b, 3), 3);
    }
    return FixedString{};
}

FixedString buildGeoreference(const TiffDirectory* d, const GeoKeys* keys, RasterGeoreference* whole) {
    if (d->tiePointCount != 1 && d->tiePointCount != 3) {
        return formatInt("Unsupported number of tie points: @", d->tiePointCount);
    }
    Vec2 pixels[3];
    Vec2 model[3];
    for (i32 k = 0; k < d->tiePointCount; k++) {
        pixels[k] = Vec2{d->tiePoints[k].i, d->tiePoints[k].j};
        model[k] = Vec2{d->tiePoints[k].x, d->tiePoints[k].y};
    }
    if (d->tiePointCount == 1) {
        pixels[1] = Vec2{pixels[0].x + 1.0, pixels[0].y};
        model[1] = Vec2{model[0].x + d->scaleX, model[0].y};
        pixels[2] = Vec2{pixels[0].x, pixels[0].y - 1.0};
        model[2] = Vec2{model[0].x, model[0].y + d->scaleY};
    }
    if (keys->rasterType == 1) {
        for (Vec2& p : pixels) {
            p.x -= 0.5;
            p.y -= 0.5;
        }
    }
    std::memset(whole, 0, sizeof(*whole));
    f64 width = (f64)d->layout.width;
    f64 height = (f64)d->layout.height;
    // A projected system named only by its code or by its citation has no transformation key; its
    // coordinates are metres, never degrees.
    bool projected = modelIsProjected(keys);
    if (keys->projectionMethod == 0 && !projected) {
        // The tie point may name any sample, not only the first one; with pixel-is-area it names the
        // sample's corner, half a sample before its centre.
        whole->kind = kGeoreferenceLonLatGrid;
        whole->west = model[0].x - pixels[0].x * d->scaleX;
        whole->north = model[0].y + pixels[0].y * d->scaleY;
        whole->east = whole->west + (width - 1.0) * d->scaleX;
        whole->south = whole->north - (height - 1.0) * d->scaleY;
        whole->lastColumn = width - 1.0;
        whole->lastRow = height - 1.0;
        return FixedString{};
    }
    if (keys->projectionMethod != 11) {
        return formatInt("Unsupported projective coordinate system transformation: @", keys->projectionMethod);
    }
    if (keys->projectedLinearUnit != 9001) {
        return formatInt("Unsupported linear unit for projected coordinate system: @", keys->projectedLinearUnit);
    }
    GeoPoint origin{keys->naturalOriginLongitude, keys->naturalOriginLatitude};
    if (!keys->naturalOriginLongitudeGiven && keys->centreLongitudeGiven) origin.longitude = keys->centreLongitude;
    Transformation fit;
    fitAffineFromThreePoints(&fit, &pixels[0], &pixels[1], &pixels[2], &model[0], &model[1], &model[2]);
    const f64* c = fit.forward;
    // Projected coordinates count from the false origin; the projection counts from the true one.
    f64 falseEasting = keys->falseEastingGiven ? keys->falseEasting : keys->falseOriginEasting;
    f64 falseNorthing = keys->falseNorthingGiven ? keys->falseNorthing : keys->falseOriginNorthing;
    RasterAffine affine{c[0], c[1], c[2] - falseEasting, c[3], c[4], c[5] - falseNorthing};
    albersConicParameters(whole, keys->semiMajorAxis, keys->semiMinorAxis, origin, keys->standardParallel1,
                          keys->standardParallel2, &affine);
    return FixedString{};
}

FixedString checkSamples(const TiffDirectory* d) {
    const TiffImageLayout& l = d->layout;
    if (d->samplesPerPixel != 1) {
        return formatInt("Rasters with @ samples per pixel aren't supported. Use one band.", (i64)d->samplesPerPixel);
    }
    if (d->planarConfiguration != 1) {
        return formatInt("Planar configuration @ isn't supported", (i64)d->planarConfiguration);
    }
    if (l.predictor != 1 && l.predictor != 2) return formatInt("Unrecognized LZW Predictor @", (i64)l.predictor);
    if (tiffSampleKind(d->sampleFormat, l.bitsPerSample) != TiffSamplesUnsupported) return FixedString{};
    if (d->sampleFormat == 1 || d->sampleFormat == 2) {
        return formatCstrInt("@ with @ bits per sample isn't supported. Use Float 32 instead.",
                             d->sampleFormat == 1 ? "Unsigned Integer" : "Signed Integer", (i64)l.bitsPerSample);
    }
    if (d->sampleFormat == 3) {
        return formatInt("Float with @ bits per sample isn't supported. Use Float 32 instead.", (i64)l.bitsPerSample);
    }
    return formatInt("Unrecognized SampleFormat @", (i64)d->sampleFormat);
}

FixedString checkLayout(const TiffImageLayout* l) {
    if (l->width == 0 || l->height == 0 || l->width > UINT32_MAX || l->height > UINT32_MAX) {
        return formatIntInt("Image size @ x @ isn't supported", (i64)l->width, (i64)l->height);
    }
    if (l->tileWidth != 0 && (l->tileLength == 0 || l->tileWidth > UINT32_MAX || l->tileLength > UINT32_MAX)) {
        return formatIntInt("Tile size @ x @ isn't supported", (i64)l->tileWidth, (i64)l->tileLength);
    }
    return FixedString{};
}

FixedString parse(ElevationRaster* out, TiffBytes* file, i64 budget, u32 rowAlignment, const f64* area,
                  u8* progress) {
    const u8* bytes = file->data;
    i64 length = file->length;
    if (!bytes) return format("TIFF bytes pointer was NULL");
    if (length < 8) return format("TIFF bytes length was too small for the file header");
    u32 order = (u32)bytes[0] << 8 | bytes[1];
    if (order != 0x4949 && order != 0x4D4D) {
        return formatHex("Incorrect Start Bytes @, should be 0x4949 or 0x4D4D", order, 4);
    }
    file->bigEndian = order == 0x4D4D;
    u32 magic = tiffRead16(file, 2);
    u64 offset;
    if (magic == 42) {
        offset = tiffRead32(file, 4);
    } else if (magic == 43) {
        if (length < 16) return format("TIFF bytes length was too small for the file header");
        file->bigTiff = 1;
        u32 offsetSize = tiffRead16(file, 4);
        if (offsetSize != 8) return formatInt("Offset byte size was @, but only 8 is supported", offsetSize);
        u32 zero = tiffRead16(file, 6);
        if (zero != 0) return formatHex("Expected 0 after offset byte size, but found 0x@", zero, 4);
        offset = tiffRead64(file, 8);
    } else {
        return formatInt("Magic number was supposed to be 42 or 43, found @", magic);
    }
    u64 countSize = file->bigTiff ? 8 : 2;
    u64 entrySize = file->bigTiff ? 20 : 12;
    if (offset >= (u64)length || offset + countSize >= (u64)length) {
        return formatIntInt("Offset to first IFD doesn't leave enough room for the IFD. Offset = @, Size = @",
                            offset > (u64)INT64_MAX ? INT64_MAX : (i64)offset, length);
    }
    if (offset == 0) return format("TIFF file didn't contain any images");

    TiffDirectory d;
    bool found = false;
    // Directories of a sound file do not overlap, so together they hold no more entries than the
    // file has room for; a chain that reads more loops back on itself and ends here.
    const u64 entryLimit = (u64)length / entrySize;
    u64 entriesRead = 0;
    for (i32 directories = 0; offset != 0 && directories < kMaxDirectories && entriesRead <= entryLimit;
         directories++) {
        resetDirectory(&d);
        u64 entries = file->bigTiff ? tiffRead64(file, offset) : tiffRead16(file, offset);
        if (file->outside) return tiffOutsideMessage(file);
        u64 entry = offset + countSize;
        entriesRead += entries;
        for (u64 k = 0; k < entries; k++, entry += entrySize) {
            if (entry + entrySize >= (u64)length) return format("Insufficient space for next IFD Entry");
            FixedString message = readEntry(file, entry, &d);
            if (message.length) return message;
            if (file->outside) return tiffOutsideMessage(file);
        }
        offset = file->bigTiff ? tiffRead64(file, entry) : tiffRead32(file, entry);
        if (file->outside) return tiffOutsideMessage(file);
        if (d.hasGeoKeys) {
            found = true;
            break;
        }
    }
    if (!found) return format("Tiff does not contain a Geo Key Directory");

    out->width = (u32)d.layout.width;
    out->height = (u32)d.layout.height;
    out->noData = d.noData;
    GeoKeys keys;
    readGeoKeys(file, &d, &keys);
    if (file->outside) return tiffOutsideMessage(file);
    u32 unit = keys.geographicLinearUnit ? keys.geographicLinearUnit
               : keys.projectedLinearUnit ? keys.projectedLinearUnit
                                          : keys.verticalUnit;
    // Heights without a unit key are metres, as every elevation service writes them.
    if (unit == 0) unit = 9001;
    if (unit != 9001) return formatInt("Unsupported linear unit for geographic coordinate system: @", unit);
    if (keys.projectionMethod == 0 && modelIsProjected(&keys)) {
        // A projected system named only by its code (UTM and the like) or by an ESRI citation: its
        // ellipsoid and projection come from a table or a text this reader does not carry.
        if (keys.projectedCitation && !keys.projectedCodeGiven) {
            return format("Projected coordinate systems given only by an ESRI text aren't supported. Reproject "
                          "the file to longitude and latitude on WGS 84 (EPSG:4326).");
        }
        return format("Projected coordinate systems given only by their code aren't supported. Reproject the "
                      "file to longitude and latitude on WGS 84 (EPSG:4326).");
    }
    FixedString message = checkEllipsoid(&keys);
    if (message.length) return message;
    RasterGeoreference whole;
    message = buildGeoreference(&d, &keys, &whole);
    if (message.length) return message;
    message = checkSamples(&d);
    if (message.length) return message;
    d.layout.samples = tiffSampleKind(d.sampleFormat, d.layout.bitsPerSample);
    d.layout.noData = d.noData;
    out->sampleFormat = kRasterSamplesF32;
    message = checkLayout(&d.layout);
    if (message.length) return message;
    readGeoTiffSamples(out, file, &d.layout, &whole, budget, rowAlignment, area, progress);
    return out->error;
}

}  // namespace

u64 tiffReadUnsigned(TiffBytes* file, u64 position, i32 size) {
    if (position > (u64)file->length || (u64)size > (u64)file->length - position) {
        if (!file->outside) {
            file->outside = 1;
            file->outsidePosition = position > (u64)INT64_MAX ? INT64_MAX : (i64)position;
        }
        return 0;
    }
    const u8* p = file->data + position;
    u64 value = 0;
    if (file->bigEndian) {
        for (i32 i = 0; i < size; i++) value = value << 8 | p[i];
    } else {
        for (i32 i = size - 1; i >= 0; i--) value = value << 8 | p[i];
    }
    return value;
}

FixedString tiffOutsideMessage(const TiffBytes* file) {
    return formatIntInt("TIFF data at offset @ lies outside the file of @ bytes", file->outsidePosition,
                        file->length);
}

ElevationRaster* parseGeoTiff(ElevationRaster* out, const u8* bytes, i64 length, i64 sampleByteBudget,
                              u32 rowAlignment, const f64* areaOfInterest, u8* progress) {
    ProfilingScope scope(kParseRegion);
    if (progress) *progress = 0;
    std::memset(out, 0, sizeof(*out));
    TiffBytes file{};
    file.data = bytes;
    file.length = length < 0 ? 0 : length;
    FixedString message = parse(out, &file, sampleByteBudget, rowAlignment, areaOfInterest, progress);
    out->error = message;
    if (!message.length && progress) *progress = 100;
    return out;
}
