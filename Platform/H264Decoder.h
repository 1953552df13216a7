// The system's H.264 decoder (libavcodec, loaded when first needed): low delay, one thread, fed one
// whole Annex-B access unit at a time (its parameter sets, SEI and every slice of one picture). A
// picture comes out in display order, as soon as the stream's reordering allows (at once without
// B-frames), and is handed out as tightly packed NV12 of its displayed (cropped) size: height rows
// of width luma bytes, then height / 2 rows of width bytes of interleaved Cb/Cr. Pictures in 4:2:2
// or 4:4:4 are brought to 4:2:0 by keeping every other chroma row and/or column, grey ones get
// neutral chroma; samples deeper than 8 bits keep their 8 most significant bits.
//
// Calls return an H264DecoderStatus; where the library itself failed, *libraryCode holds its
// (negative) error code, else 0.
#pragma once
#include "Core/Types.h"

enum H264DecoderStatus : i32 {
    H264DecoderOk = 0,
    H264DecoderNotAccepting = 1,   // a picture must be taken with receiveH264Picture first
    H264DecoderNoPicture = 2,      // nothing decoded since the last picture taken
    H264DecoderNotFound = 3,       // the library has no H.264 decoder
    H264DecoderOutOfMemory = 4,
    H264DecoderLibraryError = 5,   // the library refused the call; see *libraryCode
    H264DecoderUnsupported = 6,    // a picture format with no NV12 conversion (the picture is dropped)
    H264DecoderTooLarge = 7,       // the NV12 picture does not fit the caller's buffer (dropped)
    H264DecoderNotOpen = 8,
    H264DecoderNoLibrary = 9,      // the system's libavcodec could not be loaded
    H264DecoderDraining = 10,      // the end of the input was given; take the pictures left first
    H264DecoderInvalidData = 11,   // the unit could not be decoded: damaged, or without the parameter
                                   // sets it refers to (dropped)
};

// The library is loaded on first use, not with the program. Loads it once (from any thread; later
// calls wait for the first): 1 when it is there. openH264Decoder loads it too.
i32 loadH264Library();
// Whether a load has finished, either way, without waiting for one.
i32 h264LibraryLoadFinished();

// Zero-filled = not open.
struct H264Decoder {
    void* context;  // the library's decoder context
    void* picture;  // the library's frame, reused for every picture
    u32 draining;   // 1 from endH264Input until the last picture has been taken
};

// The size of a picture handed out by receiveH264Picture, and where it came from.
struct H264PictureLayout {
    i32 width;
    i32 height;
    i64 number;    // the number its access unit was fed with
    u32 damaged;   // the decoder met errors in it and concealed them
};

// Opens the decoder. Calling it on an open decoder changes nothing and returns H264DecoderOk.
i32 openH264Decoder(H264Decoder* decoder, i32* libraryCode);

// Feeds one access unit (start codes included) under a number its picture will carry, with the
// given parameter sets (Annex-B; none when setsLength is 0) in front of it in the same input.
// H264DecoderNotAccepting or H264DecoderDraining: take pictures first and feed the same unit again.
// Any other failure drops the unit; the decoder carries on with the next one.
i32 sendH264AccessUnit(H264Decoder* decoder, const u8* sets, i64 setsLength, const u8* bytes, i64 length, i64 number,
                       i32* libraryCode);

// The end of a stream: the pictures the decoder still holds for reordering come out through
// receiveH264Picture; once the last is taken the decoder is ready for a new stream (which must
// begin with an IDR picture).
void endH264Input(H264Decoder* decoder);

// Takes the next decoded picture and writes it as NV12 into output (capacity bytes), with its
// size, number and damage in *layout. H264DecoderNoPicture when none is waiting; H264DecoderTooLarge
// when it does not fit (the picture is dropped).
i32 receiveH264Picture(H264Decoder* decoder, u8* output, i64 capacity, H264PictureLayout* layout,
                       i32* libraryCode);

// Frees what the decoder holds and zero-fills it.
void closeH264Decoder(H264Decoder* decoder);
