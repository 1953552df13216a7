#include "Platform/H264Decoder.h"

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

namespace {

AVCodecContext* contextOf(H264Decoder* decoder) { return (AVCodecContext*)decoder->context; }

// How a library picture's chroma planes map onto NV12's half-width, half-height Cb/Cr rows.
struct ChromaSampling {
    i32 supported;
    i32 planar;       // 1: Cb and Cr in planes 1 and 2; 0: no chroma (grey pictures get 128)
    i32 columnStep;   // source chroma samples per NV12 chroma sample, across
    i32 rowStep;      // and down
};

ChromaSampling chromaSampling(i32 format) {
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
        return {1, 1, 1, 1};
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        return {1, 1, 1, 2};
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
        return {1, 1, 2, 2};
    case AV_PIX_FMT_GRAY8:
        return {1, 0, 1, 1};
    default:
        return {0, 0, 0, 0};
    }
}

}  // namespace

i32 openH264Decoder(H264Decoder* decoder, i32* libraryCode) {
    *libraryCode = 0;
    if (decoder->context) return H264DecoderOk;
    // Damaged units are expected on a lossy link; the library's own reports of them would only
    // flood the terminal.
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) return H264DecoderNotFound;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVFrame* picture = av_frame_alloc();
    if (!context || !picture) {
        avcodec_free_context(&context);
        av_frame_free(&picture);
        return H264DecoderOutOfMemory;
    }
    // Each picture leaves as soon as its last slice is in: no reordering delay, no frame threads,
    // and a unit may carry part of a picture.
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->flags2 |= AV_CODEC_FLAG2_CHUNKS;
    context->thread_count = 1;
    context->thread_type = 0;
    // The picture is handed out whole, with its cropping, as the decoder's buffer holds it.
    context->apply_cropping = 0;
    i32 result = avcodec_open2(context, codec, nullptr);
    if (result < 0) {
        *libraryCode = result;
        avcodec_free_context(&context);
        av_frame_free(&picture);
        return H264DecoderLibraryError;
    }
    decoder->context = context;
    decoder->picture = picture;
    return H264DecoderOk;
}

i32 sendH264Unit(H264Decoder* decoder, const u8* bytes, i64 length, i32* libraryCode) {
    *libraryCode = 0;
    AVCodecContext* context = contextOf(decoder);
    if (!context) return H264DecoderNotOpen;
    if (!bytes || length <= 0) return H264DecoderOk;
    if (length > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return H264DecoderTooLarge;
    // A packet without its own buffer: the library copies the bytes into a padded buffer of its own.
    AVPacket packet;
    std::memset(&packet, 0, sizeof packet);
    packet.data = (u8*)bytes;
    packet.size = (i32)length;
    packet.pts = AV_NOPTS_VALUE;
    packet.dts = AV_NOPTS_VALUE;
    packet.pos = -1;
    i32 result = avcodec_send_packet(context, &packet);
    if (result == AVERROR(EAGAIN)) return H264DecoderNotAccepting;
    if (result == AVERROR(ENOMEM)) return H264DecoderOutOfMemory;
    if (result < 0) {
        *libraryCode = result;
        return H264DecoderLibraryError;
    }
    return H264DecoderOk;
}

i32 receiveH264Picture(H264Decoder* decoder, u8* output, i64 capacity, H264PictureLayout* layout,
                       i32* libraryCode) {
    *libraryCode = 0;
    *layout = H264PictureLayout{};
    AVCodecContext* context = contextOf(decoder);
    AVFrame* picture = (AVFrame*)decoder->picture;
    if (!context || !picture) return H264DecoderNotOpen;
    i32 result = avcodec_receive_frame(context, picture);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return H264DecoderNoPicture;
    if (result < 0) {
        *libraryCode = result;
        return H264DecoderLibraryError;
    }
    struct Unref {
        AVFrame* f;
        ~Unref() { av_frame_unref(f); }
    } unref{picture};

    ChromaSampling sampling = chromaSampling(picture->format);
    if (!sampling.supported) return H264DecoderUnsupported;
    i64 width = picture->width;
    i64 height = picture->height;
    if (width <= 0 || height <= 0 || (width & 1) || (height & 1)) return H264DecoderUnsupported;
    i64 stride = width;
    if (stride * height * 3 / 2 > capacity) return H264DecoderTooLarge;

    for (i64 row = 0; row < height; ++row) {
        std::memcpy(output + row * stride, picture->data[0] + row * picture->linesize[0], (size_t)width);
    }
    u8* chroma = output + stride * height;
    for (i64 row = 0; row < height / 2; ++row) {
        u8* out = chroma + row * stride;
        if (!sampling.planar) {
            std::memset(out, 128, (size_t)width);
            continue;
        }
        const u8* cb = picture->data[1] + row * sampling.rowStep * picture->linesize[1];
        const u8* cr = picture->data[2] + row * sampling.rowStep * picture->linesize[2];
        i64 step = sampling.columnStep;
        for (i64 column = 0; column < width / 2; ++column) {
            out[2 * column] = cb[column * step];
            out[2 * column + 1] = cr[column * step];
        }
    }

    // Cropping the library reports beyond the picture is ignored rather than trusted.
    i64 left = (i64)picture->crop_left, right = (i64)picture->crop_right;
    i64 top = (i64)picture->crop_top, bottom = (i64)picture->crop_bottom;
    if (left < 0 || right < 0 || left + right >= width) left = right = 0;
    if (top < 0 || bottom < 0 || top + bottom >= height) top = bottom = 0;
    layout->stride = (i32)stride;
    layout->codedHeight = (i32)height;
    layout->cropLeft = (i32)left;
    layout->cropTop = (i32)top;
    layout->width = (i32)(width - left - right);
    layout->height = (i32)(height - top - bottom);
    return H264DecoderOk;
}

void closeH264Decoder(H264Decoder* decoder) {
    AVCodecContext* context = contextOf(decoder);
    AVFrame* picture = (AVFrame*)decoder->picture;
    avcodec_free_context(&context);
    av_frame_free(&picture);
    *decoder = H264Decoder{};
}
