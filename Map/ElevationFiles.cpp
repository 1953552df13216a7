#include "Map/ElevationFiles.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "Core/Format.h"

namespace {

bool isBlank(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// A whole-number header value; false for anything else.
bool headerInteger(const u8* text, i64 start, i64 end, i64* out) {
    i64 position = start;
    f64 value = parseDouble(text, &position, end, NAN);
    if (position != end || !std::isfinite(value) || value != std::floor(value)) return false;
    if (value < -9e15 || value > 9e15) return false;
    *out = (i64)value;
    return true;
}

bool headerNumber(const u8* text, i64 start, i64 end, f64* out) {
    i64 position = start;
    f64 value = parseDouble(text, &position, end, NAN);
    if (position != end || !std::isfinite(value)) return false;
    *out = value;
    return true;
}

}  // namespace

FixedString parseBilHeader(BilHeader* out, const u8* text, i64 length) {
    std::memset(out, 0, sizeof(*out));
    out->noData = kSrtmVoid;
    out->bitsPerSample = 16;
    i64 bands = 1;
    bool haveX = false, haveY = false, haveXDim = false, haveYDim = false;
    i64 position = 0;
    while (text && position < length) {
        i64 lineEnd = position;
        while (lineEnd < length && text[lineEnd] != '\n') lineEnd++;
        i64 keyStart = position;
        while (keyStart < lineEnd && isBlank(text[keyStart])) keyStart++;
        i64 keyEnd = keyStart;
        while (keyEnd < lineEnd && !isBlank(text[keyEnd])) keyEnd++;
        i64 valueStart = keyEnd;
        while (valueStart < lineEnd && isBlank(text[valueStart])) valueStart++;
        i64 valueEnd = lineEnd;
        while (valueEnd > valueStart && isBlank(text[valueEnd - 1])) valueEnd--;
        const u8* key = text + keyStart;
        i64 keyLength = keyEnd - keyStart;
        auto is = [&](const char* name) { return equalsIgnoringCase(name, key, keyLength) != 0; };
        FixedString value = stringFromBytes(text + valueStart, valueEnd - valueStart);
        bool ok = true;
        if (is("NROWS")) {
            ok = headerInteger(text, valueStart, valueEnd, &out->rows);
        } else if (is("NCOLS")) {
            ok = headerInteger(text, valueStart, valueEnd, &out->columns);
        } else if (is("NBANDS")) {
            ok = headerInteger(text, valueStart, valueEnd, &bands);
        } else if (is("NBITS")) {
            i64 bits = 0;
            ok = headerInteger(text, valueStart, valueEnd, &bits) && (bits == 16 || bits == 32);
            out->bitsPerSample = (u32)bits;
        } else if (is("BYTEORDER")) {
            out->bigEndian = value.length > 0 && (value.text[0] == 'M' || value.text[0] == 'm') ? 1 : 0;
        } else if (is("PIXELTYPE")) {
            out->floatSamples = equalsIgnoringCase("FLOAT", value.text, value.length) ? 1 : 0;
        } else if (is("ULXMAP")) {
            ok = haveX = headerNumber(text, valueStart, valueEnd, &out->upperLeftLongitude);
        } else if (is("ULYMAP")) {
            ok = haveY = headerNumber(text, valueStart, valueEnd, &out->upperLeftLatitude);
        } else if (is("XDIM")) {
            ok = haveXDim = headerNumber(text, valueStart, valueEnd, &out->columnSpacing);
        } else if (is("YDIM")) {
            ok = haveYDim = headerNumber(text, valueStart, valueEnd, &out->rowSpacing);
        } else if (is("SKIPBYTES")) {
            ok = headerInteger(text, valueStart, valueEnd, &out->skipBytes) && out->skipBytes >= 0;
        } else if (is("BANDROWBYTES")) {
            ok = headerInteger(text, valueStart, valueEnd, &out->rowBytes) && out->rowBytes >= 0;
        } else if (is("NODATA") || is("NODATA_VALUE")) {
            i64 noData = 0;
            ok = headerInteger(text, valueStart, valueEnd, &noData) && noData >= INT32_MIN && noData <= INT32_MAX;
            out->noData = (i32)noData;
        }
        if (!ok) {
            return formatStrStr("Header value @ of @ can't be used", value, stringFromBytes(key, keyLength));
        }
        position = lineEnd + 1;
    }
    if (out->rows <= 0 || out->columns <= 0 || out->rows > 1000000 || out->columns > 1000000) {
        return formatIntInt("Header gives @ rows of @ samples", out->rows, out->columns);
    }
    if (bands != 1) return formatInt("Header gives @ bands, but elevation files have one", bands);
    if (!haveX || !haveY || !haveXDim || !haveYDim || !(out->columnSpacing > 0) || !(out->rowSpacing > 0)) {
        return format("Header lacks a position or a positive sample spacing (ULXMAP, ULYMAP, XDIM, YDIM)");
    }
    if (out->floatSamples != (out->bitsPerSample == 32 ? 1u : 0u)) {
        return formatInt("@ bits per sample are supported as signed integers of 16 bits or floats of 32 only",
                         out->bitsPerSample);
    }
    i64 bytesPerSample = out->bitsPerSample / 8;
    if (out->rowBytes == 0) out->rowBytes = out->columns * bytesPerSample;
    if (out->rowBytes < out->columns * bytesPerSample) {
        return formatIntInt("Header gives rows of @ bytes for @ samples", out->rowBytes, out->columns);
    }
    return FixedString{};
}

ElevationRaster* readBilRaster(ElevationRaster* out, const u8* bytes, i64 length, const BilHeader* header,
                               i64 sampleByteBudget, u32 rowAlignment, const f64* areaOfInterest) {
    std::memset(out, 0, sizeof(*out));
    const u32 bytesPerSample = header->bitsPerSample / 8;
    if (header->rows <= 0 || header->columns <= 0 || (bytesPerSample != 2 && bytesPerSample != 4)) {
        out->error = format("Elevation grid header was not read");
        return out;
    }
    // The file must hold every row the header gives.
    i64 needed = header->skipBytes + (header->rows - 1) * header->rowBytes + header->columns * bytesPerSample;
    if (!bytes || length < needed) {
        out->error = formatIntInt("Elevation grid is @ bytes long, but its header needs @", bytes ? length : 0, needed);
        return out;
    }
    RasterGeoreference whole{};
    whole.kind = kGeoreferenceLonLatGrid;
    whole.west = header->upperLeftLongitude;
    whole.north = header->upperLeftLatitude;
    whole.east = whole.west + (f64)(header->columns - 1) * header->columnSpacing;
    whole.south = whole.north - (f64)(header->rows - 1) * header->rowSpacing;
    whole.lastColumn = (f64)(header->columns - 1);
    whole.lastRow = (f64)(header->rows - 1);

    RasterWindow window;
    setupElevationRasterGeoreference(&window, &whole, (u32)header->columns, (u32)header->rows, bytesPerSample,
                                     rowAlignment, sampleByteBudget, areaOfInterest);
    out->noData = header->noData;
    out->sampleFormat = bytesPerSample == 2 ? kRasterSamplesI16 : kRasterSamplesF32;
    out->georeference = window.georeference;
    out->rowStride = window.rowStride;
    i64 size = (i64)window.rowStride * window.height;
    out->samples = allocateRasterBlock(size);
    if (!out->samples) {
        out->error = formatStr("Failed to allocate @ for the elevation grid", byteSizeString(size));
        return out;
    }
    out->allocationSize = size;
    out->width = window.width;
    out->height = window.height;
    const bool swap = header->bigEndian != 0;
    for (u32 q = 0; q < window.height; q++) {
        i64 fileRow = window.firstRow + (i64)q * window.step;
        const u8* source = bytes + header->skipBytes + fileRow * header->rowBytes +
                           (i64)window.firstColumn * bytesPerSample;
        u8* target = out->samples + (i64)q * window.rowStride;
        i64 advance = (i64)window.step * bytesPerSample;
        if (bytesPerSample == 2) {
            for (u32 k = 0; k < window.width; k++, source += advance, target += 2) {
                target[0] = swap ? source[1] : source[0];
                target[1] = swap ? source[0] : source[1];
            }
        } else {
            for (u32 k = 0; k < window.width; k++, source += advance, target += 4) {
                for (u32 b = 0; b < 4; b++) target[b] = swap ? source[3 - b] : source[b];
            }
        }
    }
    computeElevationImageMinMax(out, out->samples, rowAlignment);
    return out;
}

FixedString srtmTileName(i32 southLatitude, i32 westLongitude) {
    i32 longitude = ((westLongitude + 180) % 360 + 360) % 360 - 180;
    char text[16];
    u32 latitudeDigits = (u32)(southLatitude < 0 ? -southLatitude : southLatitude);
    u32 longitudeDigits = (u32)(longitude < 0 ? -longitude : longitude);
    text[0] = southLatitude < 0 ? 'S' : 'N';
    text[1] = (char)('0' + latitudeDigits / 10 % 10);
    text[2] = (char)('0' + latitudeDigits % 10);
    text[3] = longitude < 0 ? 'W' : 'E';
    text[4] = (char)('0' + longitudeDigits / 100 % 10);
    text[5] = (char)('0' + longitudeDigits / 10 % 10);
    text[6] = (char)('0' + longitudeDigits % 10);
    std::memcpy(text + 7, ".hgt", 5);
    return makeString(text);
}

i32 parseSrtmTileName(FixedString name, i32* southLatitude, i32* westLongitude) {
    if (name.length != 11 || !endsWithIgnoringCase(name.text, name.length, ".hgt")) return 0;
    const char* t = name.text;
    char ns = (char)(t[0] & ~0x20), ew = (char)(t[3] & ~0x20);
    if ((ns != 'N' && ns != 'S') || (ew != 'E' && ew != 'W')) return 0;
    for (i32 i : {1, 2, 4, 5, 6}) {
        if (t[i] < '0' || t[i] > '9') return 0;
    }
    i32 latitude = (t[1] - '0') * 10 + (t[2] - '0');
    i32 longitude = (t[4] - '0') * 100 + (t[5] - '0') * 10 + (t[6] - '0');
    if (latitude > 90 || longitude > 180) return 0;
    *southLatitude = ns == 'S' ? -latitude : latitude;
    *westLongitude = ew == 'W' ? -longitude : longitude;
    return 1;
}

ElevationRaster* readSrtmTile(ElevationRaster* out, const u8* bytes, i64 length, i32 southLatitude,
                              i32 westLongitude, i64 sampleByteBudget, u32 rowAlignment, const f64* areaOfInterest) {
    std::memset(out, 0, sizeof(*out));
    i64 side = length == kSrtm1Bytes ? kSrtm1Samples : length == kSrtm3Bytes ? kSrtm3Samples : 0;
    if (side == 0 || !bytes) {
        out->error = formatIntIntStr("SRTM tile is @ bytes long, but it must be @ (SRTM1) or @ (SRTM3)", length,
                                     kSrtm1Bytes, stringFromInt(kSrtm3Bytes));
        return out;
    }
    // Every sample is checked before anything is kept, so a corrupt tile is refused whole.
    for (i64 i = 0; i < length; i += 2) {
        i32 value = (i16)(u16)((u32)bytes[i] << 8 | bytes[i + 1]);
        if (value != kSrtmVoid && (value < -1000 || value > 9000)) {
            out->error = formatIntInt("SRTM tile holds a height of @ m at sample @, so it is corrupt", value, i / 2);
            return out;
        }
    }
    BilHeader header{};
    header.rows = side;
    header.columns = side;
    header.upperLeftLongitude = westLongitude;
    header.upperLeftLatitude = southLatitude + 1.0;
    header.columnSpacing = 1.0 / (f64)(side - 1);
    header.rowSpacing = header.columnSpacing;
    header.rowBytes = side * 2;
    header.bigEndian = 1;
    header.bitsPerSample = 16;
    header.noData = kSrtmVoid;
    readBilRaster(out, bytes, length, &header, sampleByteBudget, rowAlignment, areaOfInterest);
    // The corners exactly, rather than as sums of spacings.
    if (out->error.length == 0 && out->georeference.lastColumn == (f64)(side - 1)) {
        out->georeference.east = westLongitude + 1.0;
    }
    if (out->error.length == 0 && out->georeference.lastRow == (f64)(side - 1)) {
        out->georeference.south = southLatitude;
    }
    return out;
}

