#include "Video/H264Stream.h"

#include <cstring>

#include "Core/Profiler.h"

namespace {

constexpr u8 kStartCode[4] = {0, 0, 0, 1};
constexpr i64 kRbspCapacity = 65536;

// Appends a start code and the unit to the aggregation buffer; false when it does not fit.
bool appendAggregated(H264StreamState* state, const u8* unit, i64 length) {
    if (length + 4 > kH264AggregateCapacity - state->aggregateLength) return false;
    u8* out = state->aggregateBuffer + state->aggregateLength;
    std::memcpy(out, kStartCode, 4);
    std::memcpy(out + 4, unit, (size_t)length);
    state->aggregateLength += (i32)(length + 4);
    return true;
}

H264NalUnit aggregatedResult(H264StreamState* state) {
    if (state->aggregateLength == 0) return {};
    return {state->aggregateBuffer, state->aggregateLength};
}

H264NalUnit splitAggregation(H264StreamState* state, const u8* payload, i64 length, i64 firstSize) {
    state->aggregateLength = 0;
    i64 at = firstSize;
    while (at + 2 <= length) {
        i64 size = (i64)payload[at] << 8 | payload[at + 1];
        at += 2;
        if (size == 0 || size > length - at) break;  // a size past the payload ends the packet
        if (!appendAggregated(state, payload + at, size)) break;
        at += size;
    }
    return aggregatedResult(state);
}

H264NalUnit collectFragment(H264StreamState* state, const u8* payload, i64 length, u32 type, u16 sequenceNumber) {
    i64 headerSize = type == NalFuA ? 2 : 4;  // FU-B also carries a decoding order number
    if (length < headerSize) return {};
    u8 indicator = payload[0];
    u8 fuHeader = payload[1];
    bool start = (fuHeader & 0x80) != 0;
    bool end = (fuHeader & 0x40) != 0;
    if (start) {
        std::memcpy(state->fragmentBuffer, kStartCode, 4);
        state->fragmentBuffer[4] = (u8)((((indicator >> 5) & 3) << 5) | (fuHeader & 0x1F));
        state->fragmentLength = 5;
    } else if (state->expectedSequence != sequenceNumber) {
        state->fragmentLength = 0;
    }
    state->expectedSequence = (u16)(sequenceNumber + 1);
    if (state->fragmentLength > 0) {
        i64 count = length - headerSize;
        if (count > kH264FragmentCapacity - state->fragmentLength) {
            // Cut, the unit would decode as damage: it goes whole.
            state->fragmentLength = 0;
            state->unitsTooLarge++;
            state->lossPending = 1;
            return {};
        }
        std::memcpy(state->fragmentBuffer + state->fragmentLength, payload + headerSize, (size_t)count);
        state->fragmentLength += (i32)count;
        if (end) {
            H264NalUnit unit{state->fragmentBuffer, state->fragmentLength};
            state->fragmentLength = 0;
            return unit;
        }
    }
    return {};
}

// The index just after the next start code (00 00 01) at or after `from`, or -1.
i64 findUnitStart(const u8* bytes, i64 length, i64 from) {
    for (i64 i = from; i + 2 < length; ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) return i + 3;
    }
    return -1;
}

// Copies RBSP bytes out of a NAL unit's payload, dropping the emulation-prevention bytes (00 00 03 ->
// 00 00); at most kRbspCapacity bytes come out.
i64 unescapeRbsp(u8* out, const u8* bytes, i64 length) {
    i64 written = 0;
    i64 i = 0;
    while (i < length && written < kRbspCapacity) {
        if (i + 2 < length && bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 3) {
            out[written++] = 0;
            if (written < kRbspCapacity) out[written++] = 0;
            i += 3;
        } else {
            out[written++] = bytes[i++];
        }
    }
    return written;
}


// The id of an SPS or PPS (its NAL header first), or -1 when it cannot be read or is out of range.
i64 parameterSetId(const u8* unit, i64 length) {
    u8 rbsp[16];
    i64 n = unescapeRbsp(rbsp, unit + 1, length - 1 < 16 ? length - 1 : 16);  // never longer than its input
    BitReader r{rbsp, (u32)(n * 8), 0};
    bool sps = (unit[0] & 0x1F) == NalSps;
    if (sps) {
        if (r.bitLength < 24) return -1;
        readBits(&r, 24);  // profile_idc, constraint flags, level_idc
    }
    u64 id = readExpGolomb(&r);
    // More fields follow the id in every parameter set.
    if (r.bitPosition >= r.bitLength || id >= (u64)(sps ? kH264SpsCount : kH264PpsCount)) return -1;
    return (i64)id;
}

// The kept unit at [at, end) goes.
void dropKeptUnit(H264ParameterSets* sets, i64 at, i64 end) {
    std::memmove(sets->bytes + at, sets->bytes + end, (size_t)(sets->length - end));
    sets->length -= (i32)(end - at);
    if (at < sets->spsLength) sets->spsLength -= (i32)(end - at);
}

// Kept units never end in a zero byte nor hold a start code (they were cut at the next one), so the
// next start code ends each.
void keepParameterSet(H264ParameterSets* sets, const u8* unit, i64 length) {
    bool sps = (unit[0] & 0x1F) == NalSps;
    i64 id = parameterSetId(unit, length);
    if (id < 0) return;
    u8* kept = sets->bytes;
    for (i64 at = sps ? 0 : sets->spsLength; at < (sps ? sets->spsLength : sets->length);) {
        i64 end = h264UnitEnd(kept, sets->length, at + 4);
        if (parameterSetId(kept + at + 4, end - at - 4) == id) {
            if (end - at - 4 == length && std::memcmp(kept + at + 4, unit, (size_t)length) == 0) return;
            dropKeptUnit(sets, at, end);
            break;
        }
        at = end;
    }
    i64 size = length + 4;
    if (size > kH264ParameterSetsCapacity) return;
    while (sets->length + size > kH264ParameterSetsCapacity) {
        i64 oldest = sets->length > sets->spsLength ? sets->spsLength : 0;
        dropKeptUnit(sets, oldest, h264UnitEnd(kept, sets->length, oldest + 4));
    }
    i64 place = sps ? sets->spsLength : sets->length;
    std::memmove(kept + place + size, kept + place, (size_t)(sets->length - place));
    std::memcpy(kept + place, kStartCode, 4);
    std::memcpy(kept + place + 4, unit, (size_t)length);
    sets->length += (i32)size;
    if (sps) sets->spsLength += (i32)size;
}

u32 clampToU32(u64 value) { return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : (u32)value; }

// Walks one SPS RBSP as far as the cropping offsets and stores the sizes; returns 1 on a size change.
i32 walkSequenceParameterSet(BitReader* r, H264StreamState* state) {
    u64 profile = readBits(r, 8);
    readBits(r, 8);  // constraint flags and reserved bits
    readBits(r, 8);  // level_idc
    readExpGolomb(r);  // seq_parameter_set_id
    u64 chromaFormat = 1;
    if (isH264HighProfile(profile)) {
        chromaFormat = readExpGolomb(r);
        if (chromaFormat == 3) readBits(r, 1);  // separate_colour_plane_flag
        readExpGolomb(r);  // bit_depth_luma_minus8
        readExpGolomb(r);  // bit_depth_chroma_minus8
        readBits(r, 1);    // qpprime_y_zero_transform_bypass_flag
        if (readBits(r, 1)) skipH264ScalingLists(r, chromaFormat == 3 ? 12 : 8);  // seq_scaling_matrix_present_flag
    }
    readExpGolomb(r);  // log2_max_frame_num_minus4
    u64 pocType = readExpGolomb(r);
    if (pocType == 0) {
        readExpGolomb(r);  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        readBits(r, 1);        // delta_pic_order_always_zero_flag
        readExpGolomb(r);      // offset_for_non_ref_pic
        readExpGolomb(r);      // offset_for_top_to_bottom_field
        u64 cycle = readExpGolomb(r);
        // At most 255 in a valid stream; the walk also ends with the data.
        for (u64 i = 0; i < cycle && i < 256 && r->bitPosition < r->bitLength; ++i) readExpGolomb(r);
    }
    readExpGolomb(r);  // max_num_ref_frames
    readBits(r, 1);    // gaps_in_frame_num_value_allowed_flag
    u64 widthInMbs = readExpGolomb(r) + 1;
    u64 heightInMapUnits = readExpGolomb(r) + 1;
    u64 frameMbsOnly = readBits(r, 1);
    if (!frameMbsOnly) readBits(r, 1);  // mb_adaptive_frame_field_flag
    readBits(r, 1);  // direct_8x8_inference_flag
    u64 left = 0, right = 0, top = 0, bottom = 0;
    if (readBits(r, 1)) {
        left = readExpGolomb(r);
        right = readExpGolomb(r);
        top = readExpGolomb(r);
        bottom = readExpGolomb(r);
    }

    u64 fieldFactor = 2 - frameMbsOnly;
    u64 unitX = 1, unitY = fieldFactor;
    if (chromaFormat == 1) {
        unitX = 2;
        unitY = 2 * fieldFactor;
    } else if (chromaFormat == 2) {
        unitX = 2;
    }
    u64 codedWidth = widthInMbs * 16;
    u64 codedHeight = heightInMapUnits * fieldFactor * 16;
    u64 cropX = (left + right) * unitX;  // each offset is below 2^33, so no product overflows
    u64 cropY = (top + bottom) * unitY;
    u32 width = clampToU32(cropX < codedWidth ? codedWidth - cropX : 0);
    u32 height = clampToU32(cropY < codedHeight ? codedHeight - cropY : 0);
    i32 changed = width != state->width || height != state->height;
    state->codedWidth = clampToU32(codedWidth);
    state->codedHeight = clampToU32(codedHeight);
    state->width = width;
    state->height = height;
    return changed;
}

}  // namespace

i64 h264UnitEnd(const u8* bytes, i64 length, i64 start) {
    i64 end = findUnitStart(bytes, length, start);
    end = end < 0 ? length : end - 3;
    while (end > start && bytes[end - 1] == 0) --end;
    return end;
}

H264NalUnit convertPacketTransportNalUnit(u8* packet, i64 payloadOffset, i64 packetEnd, H264StreamState* state,
                                          u16 sequenceNumber) {
    ProfilingScope profile("H264 Convert Packet Transport NAL Unit to Bytestream NAL Unit");
    if (!packet || payloadOffset < 0 || packetEnd <= payloadOffset) return {};
    u8* payload = packet + payloadOffset;
    i64 length = packetEnd - payloadOffset;
    u32 type = payload[0] & 0x1F;
    if (type <= 23) {
        if (payloadOffset >= 4) {
            std::memcpy(payload - 4, kStartCode, 4);
            return {payload - 4, length + 4};
        }
        // No room in front of the payload: the unit is copied.
        state->aggregateLength = 0;
        appendAggregated(state, payload, length);
        return aggregatedResult(state);
    }
    if (type == NalFuA || type == NalFuB) return collectFragment(state, payload, length, type, sequenceNumber);
    if (type == NalStapA) return splitAggregation(state, payload, length, 1);
    if (type == NalStapB) return splitAggregation(state, payload, length, 3);  // after the decoding order number
    return {};
}

i32 parseSequenceParameterSet(H264NalUnit unit, H264StreamState* state) {
    if (!unit.bytes || unit.length <= 0) return 0;
    i64 start = 0;
    while ((start = findUnitStart(unit.bytes, unit.length, start)) >= 0 && start < unit.length) {
        u32 type = unit.bytes[start] & 0x1F;
        // Parameter sets come before the slices they serve: the (long) slice data is not searched.
        if ((type >= 1 && type <= 5) || type == 20) return 0;
        if (type != NalSps) continue;
        i64 end = findUnitStart(unit.bytes, unit.length, start);
        end = end < 0 ? unit.length : end - 3;
        i64 length = end - start;
        ProfilingScope profile("Parse Sequence Parameter Set NAL Unit for Width/Height");
        state->spsSeen = 1;
        u8 rbsp[kRbspCapacity];
        i64 rbspLength = unescapeRbsp(rbsp, unit.bytes + start + 1, length - 1);
        BitReader reader{rbsp, (u32)(rbspLength * 8), 0};
        return walkSequenceParameterSet(&reader, state);
    }
    return 0;
}

void keepH264ParameterSets(const u8* bytes, i64 length, H264ParameterSets* sets, bool throughSlices) {
    if (!bytes || length <= 0) return;
    i64 start = 0;
    while ((start = findUnitStart(bytes, length, start)) >= 0 && start < length) {
        u32 type = bytes[start] & 0x1F;
        // Parameter sets come before the slices they serve: the (long) slice data is not searched.
        if (!throughSlices && ((type >= 1 && type <= 5) || type == 20)) return;
        if (type != NalSps && type != NalPps) continue;
        i64 end = h264UnitEnd(bytes, length, start);
        keepParameterSet(sets, bytes + start, end - start);
        start = end;
    }
}

void forgetH264ParameterSets(H264ParameterSets* sets) {
    sets->length = 0;
    sets->spsLength = 0;
}

u64 readBits(BitReader* reader, i32 n) {
    if (n <= 0 || n > 64 || reader->bitPosition > reader->bitLength ||
        (u32)n > reader->bitLength - reader->bitPosition) {
        return 0;
    }
    u64 value = 0;
    u32 position = reader->bitPosition;
    for (i32 i = 0; i < n; ++i, ++position) {
        value = value << 1 | ((reader->data[position >> 3] >> (7 - (position & 7))) & 1);
    }
    reader->bitPosition = position;
    return value;
}

u64 readExpGolomb(BitReader* reader) {
    i32 zeros = 0;
    for (;;) {
        if (reader->bitPosition >= reader->bitLength || zeros > 32) {
            reader->bitPosition = reader->bitLength;
            return 0;
        }
        if (readBits(reader, 1)) break;
        ++zeros;
    }
    if (zeros == 0) return 0;
    if ((u32)zeros > reader->bitLength - reader->bitPosition) {
        reader->bitPosition = reader->bitLength;
        return 0;
    }
    return ((u64)1 << zeros) - 1 + readBits(reader, zeros);
}

i64 readSignedExpGolomb(BitReader* reader) {
    u64 k = readExpGolomb(reader);
    return (k & 1) ? (i64)((k + 1) / 2) : -(i64)(k / 2);
}

bool isH264HighProfile(u64 profile) {
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
        return true;
    default:
        return false;
    }
}

void skipH264ScalingLists(BitReader* reader, i32 lists) {
    for (i32 i = 0; i < lists; ++i) {
        if (!readBits(reader, 1)) continue;  // this list is not present
        i32 size = i < 6 ? 16 : 64;
        i64 lastScale = 8;
        i64 nextScale = 8;
        for (i32 j = 0; j < size && nextScale != 0; ++j) {
            nextScale = ((lastScale + readSignedExpGolomb(reader)) % 256 + 256) % 256;
            if (nextScale != 0) lastScale = nextScale;
        }
    }
}
