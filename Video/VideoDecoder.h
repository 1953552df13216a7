// The H.264 decoder record kept in the window head. For now start-up only marks it unavailable; the
// decoder itself comes with the video streams.
#pragma once
#include "Core/FixedString.h"

struct VideoDecoder {
    u32 ready;
    u32 pad;
    FixedString error;  // empty while there is none
};

// Sets up the decoder once at start-up; the message is empty on success.
FixedString initializeH264Decoder(VideoDecoder* decoder);
