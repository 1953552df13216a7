// Gathering NAL units into access units: all the units of one picture (its access unit delimiter,
// parameter sets, SEI and every slice), which the decoder takes whole.
//
// Where a new picture begins is decided by the first slice of the next one (H.264's rule for the
// first VCL unit of a primary coded picture): a slice begins a new picture when its frame_num,
// pic_parameter_set_id, field_pic_flag, bottom_field_flag, picture order count fields, idr_pic_id,
// IDR-ness, or whether its nal_ref_idc is 0 differ from the last slice's, or when it starts at
// macroblock 0 a second time. Parameter sets, SEI and the other units that may precede a picture are
// held when they follow a slice until the next slice decides: senders repeat SPS and PPS in front of
// every slice of an IDR picture, and those repeats belong to the picture they sit in. An access unit
// delimiter always begins a new access unit. Where the transport marks the end of a picture (the RTP
// marker bit or a new timestamp) the caller takes the access unit at once instead of waiting for the
// next one to begin.
//
// The slice header fields are read with the SPS and PPS seen so far (ids, frame_num and picture
// order count sizes); a slice whose parameter sets were not seen falls back on its first macroblock
// and PPS id alone.
#pragma once
#include "Video/H264Stream.h"

// Room for the largest picture the fragment buffer can bring, with its parameter sets and SEI.
constexpr i64 kH264AccessUnitCapacity = kH264FragmentCapacity + 65536;
// Units held after a slice until the next slice says which picture they belong to.
constexpr i32 kH264HeldUnitsCapacity = 16384;

// The SPS fields the slice header depends on.
struct H264SpsFields {
    u8 known;
    u8 separateColourPlane;
    u8 log2MaxFrameNum;
    u8 frameMbsOnly;
    u8 pocType;
    u8 log2MaxPocLsb;
    u8 deltaPicOrderAlwaysZero;
    u8 pad;
};

struct H264PpsFields {
    u8 known;
    u8 sps;
    u8 bottomFieldPicOrderPresent;
    u8 pad;
};

// The slice header fields that tell pictures apart.
struct H264SliceStart {
    u32 complete;       // 1 when its SPS and PPS were known and every field below was read
    u32 firstMb;
    u32 sliceType;      // 0-9
    u32 pps;
    u32 frameNum;
    u32 fieldPic;
    u32 bottomField;
    u32 referenced;     // nal_ref_idc != 0
    u32 idr;
    u32 idrPicId;
    u32 pocLsb;
    i64 deltaPocBottom;
    i64 deltaPoc0;
    i64 deltaPoc1;
};

struct H264AccessUnit {
    // Where the bytes go: each unit behind a 4-byte start code. With no room (bytes null or full)
    // units are still looked at but left out, and the access unit is damaged.
    u8* bytes;
    i64 capacity;
    i64 length;
    u32 units;          // units gathered (those left out included)
    u32 slices;         // slices gathered
    u32 idr;            // 1 when they are IDR slices
    u32 intra;          // 1 while every slice is an I (or SI) slice
    u32 recoveryPoint;  // an SEI recovery point message came with it
    u32 damaged;        // part of the picture was lost on the way or did not fit
    u32 lossBefore;     // data was lost before its first unit: whole pictures, or its own start
    u32 firstMbZero;    // a slice starting at macroblock 0 was gathered
    u32 startsAtMbZero; // its first slice starts at macroblock 0
    i64 parameterSetsEnd; // bytes up to the end of its last SPS or PPS; 0 when it has none
    u32 setsMissing;      // a slice came whose PPS, or that PPS's SPS, had not been seen
    H264SliceStart last;  // of the last slice
    // Units after the last slice, held until the next slice decides their picture.
    i32 heldLength;
    u32 heldUnits;
    u32 heldRecoveryPoint;
    u32 heldLossBefore;   // a loss was noted while units were held
    u32 heldParameterSets;  // an SPS or PPS is among them
    u8 held[kH264HeldUnitsCapacity];
    H264SpsFields sps[kH264SpsCount];
    H264PpsFields pps[kH264PpsCount];
};

// Takes one unit (its NAL header first, no start code). Returns 1 when the access unit gathered so
// far is complete and must be taken (then cleared with clearAccessUnit) before the same unit is
// given again; 0 when the unit was taken in.
i32 gatherH264Unit(H264AccessUnit* accessUnit, const u8* unit, i64 length);

// Data was lost on the way: the picture being gathered is damaged; with no slice gathered yet the
// loss lies before it (see resumesCleanly).
void noteAccessUnitLoss(H264AccessUnit* accessUnit);

// 1 when the access unit can be decoded on its own after damage: an IDR picture, or an I picture
// with a recovery point, whose first slice starts at macroblock 0.
i32 isResumePoint(const H264AccessUnit* accessUnit);

// 1 when the access unit decodes correctly as far as the transport knows: not damaged, and when data
// was lost before it, a resume point (after a loss between pictures, any other picture refers to
// what was lost).
i32 accessUnitIntact(const H264AccessUnit* accessUnit);

// Empties the access unit for the next picture, keeping the held units, the parameter set fields and
// the place for the bytes.
void clearAccessUnit(H264AccessUnit* accessUnit);

// Forgets everything, held units and parameter sets too (a new stream).
void resetAccessUnit(H264AccessUnit* accessUnit);
