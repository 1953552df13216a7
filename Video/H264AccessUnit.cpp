#include "Video/H264AccessUnit.h"

#include <cstring>

namespace {

// Bytes of a unit unescaped for its header fields: enough for every field a slice header, SPS or PPS
// is read for here, with the longest Exp-Golomb codes.
constexpr i64 kHeaderBytes = 96;

struct Rbsp {
    u8 bytes[kHeaderBytes];
    BitReader reader;
};

// The first bytes after the NAL header, emulation-prevention bytes dropped.
void unescapeHeader(Rbsp* rbsp, const u8* unit, i64 length) {
    i64 n = 0;
    i32 zeros = 0;
    for (i64 i = 1; i < length && n < kHeaderBytes; ++i) {
        if (zeros >= 2 && unit[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = unit[i] == 0 ? zeros + 1 : 0;
        rbsp->bytes[n++] = unit[i];
    }
    rbsp->reader = BitReader{rbsp->bytes, (u32)(n * 8), 0};
}

bool isSlice(u32 type) { return type == NalSlice || type == NalIdr; }

// Units that may precede the first slice of a picture and, after a slice, wait for the next one.
bool isHeldType(u32 type) { return type == NalSei || type == NalSps || type == NalPps || (type >= 14 && type <= 18); }

void readSps(H264AccessUnit* au, const u8* unit, i64 length) {
    Rbsp rbsp;
    unescapeHeader(&rbsp, unit, length);
    BitReader* r = &rbsp.reader;
    u64 profile = readBits(r, 8);
    readBits(r, 16);  // constraint flags, level_idc
    u64 id = readExpGolomb(r);
    if (id >= (u64)kH264SpsCount) return;
    H264SpsFields f{};
    if (isH264HighProfile(profile)) {
        u64 chroma = readExpGolomb(r);
        if (chroma == 3) f.separateColourPlane = (u8)readBits(r, 1);
        readExpGolomb(r);
        readExpGolomb(r);
        readBits(r, 1);
        if (readBits(r, 1)) skipH264ScalingLists(r, chroma == 3 ? 12 : 8);
    }
    u64 log2MaxFrameNum = readExpGolomb(r) + 4;
    u64 pocType = readExpGolomb(r);
    if (log2MaxFrameNum > 16 || pocType > 2) return;  // not a valid SPS: its slices are read without it
    f.log2MaxFrameNum = (u8)log2MaxFrameNum;
    f.pocType = (u8)pocType;
    if (pocType == 0) {
        u64 log2MaxPocLsb = readExpGolomb(r) + 4;
        if (log2MaxPocLsb > 16) return;
        f.log2MaxPocLsb = (u8)log2MaxPocLsb;
    } else if (pocType == 1) {
        f.deltaPicOrderAlwaysZero = (u8)readBits(r, 1);
        readExpGolomb(r);
        readExpGolomb(r);
        u64 cycle = readExpGolomb(r);
        for (u64 i = 0; i < cycle && i < 256 && r->bitPosition < r->bitLength; ++i) readExpGolomb(r);
    }
    readExpGolomb(r);  // max_num_ref_frames
    readBits(r, 1);    // gaps_in_frame_num_value_allowed_flag
    readExpGolomb(r);  // pic_width_in_mbs_minus1
    readExpGolomb(r);  // pic_height_in_map_units_minus1
    if (r->bitPosition >= r->bitLength) return;  // cut short: the flag below would read as 0
    f.frameMbsOnly = (u8)readBits(r, 1);
    f.known = 1;
    au->sps[id] = f;
}

void readPps(H264AccessUnit* au, const u8* unit, i64 length) {
    Rbsp rbsp;
    unescapeHeader(&rbsp, unit, length);
    BitReader* r = &rbsp.reader;
    u64 id = readExpGolomb(r);
    u64 sps = readExpGolomb(r);
    if (id >= (u64)kH264PpsCount || sps >= (u64)kH264SpsCount) return;
    readBits(r, 1);  // entropy_coding_mode_flag
    if (r->bitPosition >= r->bitLength) return;
    H264PpsFields f{};
    f.bottomFieldPicOrderPresent = (u8)readBits(r, 1);
    f.sps = (u8)sps;
    f.known = 1;
    au->pps[id] = f;
}

// 1 when the SEI unit carries a recovery point message (payload type 6).
u32 hasRecoveryPoint(const u8* unit, i64 length) {
    i64 at = 1;
    while (at < length && unit[at] != 0x80) {  // 0x80: the RBSP trailing bits
        u64 type = 0, size = 0;
        while (at < length && unit[at] == 0xFF) type += unit[at++];
        if (at >= length) return 0;
        type += unit[at++];
        while (at < length && unit[at] == 0xFF) size += unit[at++];
        if (at >= length) return 0;
        size += unit[at++];
        if (type == 6) return 1;
        // Emulation-prevention bytes inside the payload make the step short, never past the unit.
        if (size > (u64)(length - at)) return 0;
        at += (i64)size;
    }
    return 0;
}

H264SliceStart readSliceStart(const H264AccessUnit* au, const u8* unit, i64 length) {
    Rbsp rbsp;
    unescapeHeader(&rbsp, unit, length);
    BitReader* r = &rbsp.reader;
    H264SliceStart s{};
    s.referenced = (unit[0] >> 5) & 3 ? 1 : 0;
    s.idr = (unit[0] & 0x1F) == NalIdr;
    s.firstMb = (u32)readExpGolomb(r);
    u64 sliceType = readExpGolomb(r);
    s.sliceType = sliceType <= 9 ? (u32)sliceType : 0;
    u64 ppsId = readExpGolomb(r);
    s.pps = (u32)(ppsId < 0xFFFFFFFFull ? ppsId : 0xFFFFFFFFull);
    if (ppsId >= (u64)kH264PpsCount || !au->pps[ppsId].known) return s;
    const H264PpsFields* pps = &au->pps[ppsId];
    const H264SpsFields* sps = &au->sps[pps->sps];
    if (!sps->known) return s;
    if (sps->separateColourPlane) readBits(r, 2);
    s.frameNum = (u32)readBits(r, sps->log2MaxFrameNum);
    if (!sps->frameMbsOnly) {
        s.fieldPic = (u32)readBits(r, 1);
        if (s.fieldPic) s.bottomField = (u32)readBits(r, 1);
    }
    if (s.idr) s.idrPicId = (u32)readExpGolomb(r);
    if (sps->pocType == 0) {
        s.pocLsb = (u32)readBits(r, sps->log2MaxPocLsb);
        if (pps->bottomFieldPicOrderPresent && !s.fieldPic) s.deltaPocBottom = readSignedExpGolomb(r);
    } else if (sps->pocType == 1 && !sps->deltaPicOrderAlwaysZero) {
        s.deltaPoc0 = readSignedExpGolomb(r);
        if (pps->bottomFieldPicOrderPresent && !s.fieldPic) s.deltaPoc1 = readSignedExpGolomb(r);
    }
    s.complete = r->bitPosition < r->bitLength;
    return s;
}

bool isIntraSliceType(u32 sliceType) { return sliceType % 5 == 2 || sliceType % 5 == 4; }

// The first-slice rule: whether slice s begins a picture other than the one whose last slice was p.
bool beginsNewPicture(const H264AccessUnit* au, const H264SliceStart* s) {
    const H264SliceStart* p = &au->last;
    if (s->firstMb == 0 && au->firstMbZero) return true;
    if (s->pps != p->pps || s->idr != p->idr) return true;
    if (!s->complete || !p->complete) return s->firstMb == 0 || s->firstMb <= p->firstMb;
    return s->frameNum != p->frameNum || s->fieldPic != p->fieldPic || s->bottomField != p->bottomField ||
           s->referenced != p->referenced || (s->idr && s->idrPicId != p->idrPicId) || s->pocLsb != p->pocLsb ||
           s->deltaPocBottom != p->deltaPocBottom || s->deltaPoc0 != p->deltaPoc0 || s->deltaPoc1 != p->deltaPoc1;
}

// Writes a start code and the bytes; bytes that do not fit damage the access unit.
void append(H264AccessUnit* au, const u8* bytes, i64 length, bool startCode) {
    i64 size = length + (startCode ? 4 : 0);
    if (!au->bytes || size > au->capacity - au->length) {
        au->damaged = 1;
        return;
    }
    u8* out = au->bytes + au->length;
    if (startCode) {
        out[0] = out[1] = out[2] = 0;
        out[3] = 1;
        out += 4;
    }
    std::memcpy(out, bytes, (size_t)length);
    au->length += size;
}

void hold(H264AccessUnit* au, const u8* unit, i64 length) {
    au->heldUnits++;
    if (length + 4 > kH264HeldUnitsCapacity - au->heldLength) {
        // Lost: whichever picture the unit belongs to may decode wrongly.
        au->heldLossBefore = 1;
        return;
    }
    u8* out = au->held + au->heldLength;
    out[0] = out[1] = out[2] = 0;
    out[3] = 1;
    std::memcpy(out + 4, unit, (size_t)length);
    au->heldLength += (i32)(length + 4);
}

// The held units join the access unit (before the slice that decided for it).
void releaseHeld(H264AccessUnit* au) {
    if (au->heldUnits == 0) return;
    if (au->heldLength) append(au, au->held, au->heldLength, false);
    if (au->heldParameterSets) au->parameterSetsEnd = au->length;
    au->units += au->heldUnits;
    au->recoveryPoint |= au->heldRecoveryPoint;
    if (au->heldLossBefore) {
        if (au->slices) au->damaged = 1;
        else au->lossBefore = 1;
    }
    au->heldLength = 0;
    au->heldUnits = 0;
    au->heldRecoveryPoint = 0;
    au->heldLossBefore = 0;
    au->heldParameterSets = 0;
}

}  // namespace

i32 gatherH264Unit(H264AccessUnit* au, const u8* unit, i64 length) {
    if (length <= 0) return 0;
    u32 type = unit[0] & 0x1F;
    if (type == NalDelimiter && au->slices) {
        releaseHeld(au);
        return 1;
    }
    if (type == NalSps) readSps(au, unit, length);
    if (type == NalPps) readPps(au, unit, length);
    u32 recovery = type == NalSei ? hasRecoveryPoint(unit, length) : 0;
    bool parameterSet = type == NalSps || type == NalPps;
    if (isHeldType(type) && au->slices) {
        hold(au, unit, length);
        au->heldRecoveryPoint |= recovery;
        au->heldParameterSets |= parameterSet ? 1u : 0u;
        return 0;
    }
    if (isSlice(type)) {
        H264SliceStart start = readSliceStart(au, unit, length);
        if (au->slices && beginsNewPicture(au, &start)) return 1;
        releaseHeld(au);
        bool setsSeen = start.pps < (u32)kH264PpsCount && au->pps[start.pps].known &&
                        au->sps[au->pps[start.pps].sps].known;
        if (!setsSeen) au->setsMissing = 1;
        if (au->slices == 0) {
            au->startsAtMbZero = start.firstMb == 0;
            au->intra = 1;
        }
        au->slices++;
        au->idr = start.idr;
        au->intra &= isIntraSliceType(start.sliceType) ? 1u : 0u;
        au->firstMbZero |= start.firstMb == 0 ? 1u : 0u;
        au->last = start;
    } else {
        au->recoveryPoint |= recovery;
    }
    au->units++;
    append(au, unit, length, true);
    if (parameterSet) au->parameterSetsEnd = au->length;
    return 0;
}

void noteAccessUnitLoss(H264AccessUnit* au) {
    if (au->heldUnits) au->heldLossBefore = 1;
    if (au->slices) au->damaged = 1;
    else au->lossBefore = 1;
}

i32 isResumePoint(const H264AccessUnit* au) {
    return au->slices && au->startsAtMbZero && (au->idr || (au->intra && au->recoveryPoint)) ? 1 : 0;
}

i32 accessUnitIntact(const H264AccessUnit* au) {
    if (au->damaged) return 0;
    return !au->lossBefore || isResumePoint(au) ? 1 : 0;
}

void clearAccessUnit(H264AccessUnit* au) {
    au->length = 0;
    au->units = 0;
    au->slices = 0;
    au->idr = 0;
    au->intra = 0;
    au->recoveryPoint = 0;
    au->damaged = 0;
    au->lossBefore = 0;
    au->firstMbZero = 0;
    au->startsAtMbZero = 0;
    au->parameterSetsEnd = 0;
    au->setsMissing = 0;
    au->last = H264SliceStart{};
}

void resetAccessUnit(H264AccessUnit* au) {
    clearAccessUnit(au);
    au->heldLength = 0;
    au->heldUnits = 0;
    au->heldRecoveryPoint = 0;
    au->heldLossBefore = 0;
    au->heldParameterSets = 0;
    std::memset(au->sps, 0, sizeof au->sps);
    std::memset(au->pps, 0, sizeof au->pps);
}
