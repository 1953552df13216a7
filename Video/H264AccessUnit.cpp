#include "Video/H264AccessUnit.h"

#include <cstring>

namespace {

struct SliceStart {
    u32 firstMb;
    u32 pps;
};

// The first fields of a slice header. The few bytes they take are unescaped first.
SliceStart readSliceStart(const u8* unit, i64 length) {
    u8 rbsp[16];
    i64 n = 0;
    for (i64 i = 1; i < length && n < (i64)sizeof rbsp; ++i) {
        if (i >= 3 && unit[i] == 3 && unit[i - 1] == 0 && unit[i - 2] == 0) continue;
        rbsp[n++] = unit[i];
    }
    BitReader reader{rbsp, (u32)(n * 8), 0};
    SliceStart start;
    start.firstMb = (u32)readExpGolomb(&reader);
    readExpGolomb(&reader);  // slice_type
    start.pps = (u32)readExpGolomb(&reader);
    return start;
}

bool isSlice(u32 type) { return type == NalSlice || type == NalIdr; }

}  // namespace

i32 beginsNewAccessUnit(const H264AccessUnit* unitSoFar, const u8* unit, i64 length) {
    if (unitSoFar->slices == 0 || length <= 0) return 0;
    u32 type = unit[0] & 0x1F;
    if (type == NalSei || type == NalSps || type == NalPps || type == NalDelimiter || (type >= 15 && type <= 18)) {
        return 1;
    }
    if (!isSlice(type)) return 0;
    SliceStart start = readSliceStart(unit, length);
    return start.firstMb == 0 || start.firstMb <= unitSoFar->lastFirstMb || (type == NalIdr) != (unitSoFar->idr != 0) ||
           start.pps != unitSoFar->lastPps;
}

void addToAccessUnit(H264AccessUnit* accessUnit, const u8* unit, i64 length) {
    if (length <= 0) return;
    if (length > kH264AccessUnitCapacity - 4 - accessUnit->length) {
        accessUnit->damaged = 1;
        return;
    }
    u8* out = accessUnit->bytes + accessUnit->length;
    out[0] = 0;
    out[1] = 0;
    out[2] = 0;
    out[3] = 1;
    std::memcpy(out + 4, unit, (size_t)length);
    accessUnit->length += 4 + length;
    u32 type = unit[0] & 0x1F;
    if (isSlice(type)) {
        SliceStart start = readSliceStart(unit, length);
        accessUnit->slices++;
        accessUnit->idr = type == NalIdr;
        accessUnit->lastFirstMb = start.firstMb;
        accessUnit->lastPps = start.pps;
    }
}

void clearAccessUnit(H264AccessUnit* accessUnit) {
    accessUnit->length = 0;
    accessUnit->slices = 0;
    accessUnit->idr = 0;
    accessUnit->damaged = 0;
    accessUnit->lastFirstMb = 0;
    accessUnit->lastPps = 0;
}
