// Gathering NAL units into access units: all the units of one picture (its access unit delimiter,
// parameter sets, SEI and every slice), which the decoder takes whole. A new access unit begins
// with a delimiter, a parameter set or SEI after a slice, or with a slice that cannot belong to the
// picture gathered so far: one that starts at macroblock 0 or at or before the last slice's first
// macroblock, or that differs from it in being an IDR slice or in its picture parameter set. Where
// the transport marks the end of a picture (the RTP marker bit or a new timestamp) the caller ends
// the access unit at once instead of waiting for the next one to begin.
#pragma once
#include "Video/H264Stream.h"

// Room for the largest picture the fragment buffer can bring, with its parameter sets and SEI.
constexpr i64 kH264AccessUnitCapacity = kH264FragmentCapacity + 65536;

struct H264AccessUnit {
    i64 length;         // bytes gathered: each unit behind a 4-byte start code
    u32 slices;         // slices gathered
    u32 idr;            // 1 when they are IDR slices
    u32 damaged;        // part of the picture was lost on the way or did not fit
    u32 lastFirstMb;    // first_mb_in_slice of the last slice
    u32 lastPps;        // pic_parameter_set_id of the last slice
    u8 bytes[kH264AccessUnitCapacity];
};

// 1 when the unit (its NAL header first, no start code) begins a new access unit after the one
// gathered, which must then be taken before the unit is added.
i32 beginsNewAccessUnit(const H264AccessUnit* unitSoFar, const u8* unit, i64 length);

// Adds the unit behind a start code. A unit that does not fit is left out and marks the access
// unit damaged.
void addToAccessUnit(H264AccessUnit* accessUnit, const u8* unit, i64 length);

// Empties the access unit for the next picture.
void clearAccessUnit(H264AccessUnit* accessUnit);
