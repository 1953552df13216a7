#include "Video/VideoDecoder.h"

FixedString initializeH264Decoder(VideoDecoder* decoder) {
    decoder->ready = 0;
    decoder->error = makeString("H.264 decoder not available");
    return decoder->error;
}
