// The system's H.264 decoder (libavcodec, loaded when first needed): low delay, one thread, fed one Annex-B NAL unit at a
// time (parameter sets, SEI and single slices alike). A picture is ready as soon as its last slice
// has been fed, and is handed out as tightly packed NV12 of its displayed (cropped) size: height
// rows of width luma bytes, then height / 2 rows of width bytes of interleaved Cb/Cr. Pictures in
// 4:2:2 or 4:4:4 are brought to 4:2:0 by keeping every other chroma row and/or column, grey ones
// get neutral chroma; bit depths above 8 are not converted.
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
};

// The size of a picture handed out by receiveH264Picture.
struct H264PictureLayout {
    i32 width;
    i32 height;
};

// Opens the decoder. Calling it on an open decoder changes nothing and returns H264DecoderOk.
i32 openH264Decoder(H264Decoder* decoder, i32* libraryCode);

// Feeds one NAL unit (start code included). H264DecoderNotAccepting: take a picture first and feed
// the same unit again. Any other failure drops the unit; the decoder carries on with the next one.
i32 sendH264Unit(H264Decoder* decoder, const u8* bytes, i64 length, i32* libraryCode);

// Takes the oldest decoded picture and writes it as NV12 into output (capacity bytes), with its
// size in *layout. H264DecoderNoPicture when none is waiting; H264DecoderTooLarge when it does not
// fit (the picture is dropped).
i32 receiveH264Picture(H264Decoder* decoder, u8* output, i64 capacity, H264PictureLayout* layout,
                       i32* libraryCode);

// Frees what the decoder holds and zero-fills it.
void closeH264Decoder(H264Decoder* decoder);
