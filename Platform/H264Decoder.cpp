#include "Platform/H264Decoder.h"

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

namespace {

// The library's functions, found once it is loaded. The program does not link it: loading its
// hundred-odd dependencies would add tens of milliseconds to every start, video or not.
struct LibraryFunctions {
    void (*logSetLevel)(int level);
    const AVCodec* (*findDecoder)(enum AVCodecID id);
    AVCodecContext* (*allocContext)(const AVCodec* codec);
    void (*freeContext)(AVCodecContext** context);
    int (*open)(AVCodecContext* context, const AVCodec* codec, AVDictionary** options);
    int (*sendPacket)(AVCodecContext* context, const AVPacket* packet);
    int (*receiveFrame)(AVCodecContext* context, AVFrame* frame);
    AVFrame* (*frameAlloc)();
    void (*frameFree)(AVFrame** frame);
    void (*frameUnref)(AVFrame* frame);
    void (*flushBuffers)(AVCodecContext* context);
    int (*newPacket)(AVPacket* packet, int size);
    void (*packetUnref)(AVPacket* packet);
};

#define ORVIK_TEXT(x) #x
#define ORVIK_SONAME(name, major) "lib" name ".so." ORVIK_TEXT(major)

LibraryFunctions av{};
std::once_flag libraryOnce;
std::atomic<i32> libraryState{0};  // 0 not loaded yet, 1 loaded, 2 failed

template <typename Function>
bool find(void* library, const char* name, Function* function) {
    *function = (Function)dlsym(library, name);
    return *function != nullptr;
}

void loadLibrary() {
    void* codec = dlopen(ORVIK_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    void* util = dlopen(ORVIK_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    bool found = codec && util && find(util, "av_log_set_level", &av.logSetLevel) &&
                 find(codec, "avcodec_find_decoder", &av.findDecoder) &&
                 find(codec, "avcodec_alloc_context3", &av.allocContext) &&
                 find(codec, "avcodec_free_context", &av.freeContext) && find(codec, "avcodec_open2", &av.open) &&
                 find(codec, "avcodec_send_packet", &av.sendPacket) &&
                 find(codec, "avcodec_receive_frame", &av.receiveFrame) &&
                 find(util, "av_frame_alloc", &av.frameAlloc) && find(util, "av_frame_free", &av.frameFree) &&
                 find(util, "av_frame_unref", &av.frameUnref) &&
                 find(codec, "avcodec_flush_buffers", &av.flushBuffers) &&
                 find(codec, "av_new_packet", &av.newPacket) && find(codec, "av_packet_unref", &av.packetUnref);
    // The handles stay open for the rest of the run: the functions live in them.
    libraryState.store(found ? 1 : 2, std::memory_order_release);
}

AVCodecContext* contextOf(H264Decoder* decoder) { return (AVCodecContext*)decoder->context; }

// How a library picture's planes map onto NV12: half-width, half-height Cb/Cr rows, 8-bit samples.
struct ChromaSampling {
    i32 supported;
    i32 planar;       // 1: Cb and Cr in planes 1 and 2; 0: no chroma (grey pictures get 128)
    i32 columnStep;   // source chroma samples per NV12 chroma sample, across
    i32 rowStep;      // and down
    i32 shift;        // bits dropped from each sample: 0 for 8-bit samples, else 16-bit words
};

ChromaSampling chromaSampling(i32 format) {
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
        return {1, 1, 1, 1, 0};
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        return {1, 1, 1, 2, 0};
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
        return {1, 1, 2, 2, 0};
    case AV_PIX_FMT_GRAY8:
        return {1, 0, 1, 1, 0};
    case AV_PIX_FMT_YUV420P9: return {1, 1, 1, 1, 1};
    case AV_PIX_FMT_YUV420P10: return {1, 1, 1, 1, 2};
    case AV_PIX_FMT_YUV420P12: return {1, 1, 1, 1, 4};
    case AV_PIX_FMT_YUV420P14: return {1, 1, 1, 1, 6};
    case AV_PIX_FMT_YUV422P9: return {1, 1, 1, 2, 1};
    case AV_PIX_FMT_YUV422P10: return {1, 1, 1, 2, 2};
    case AV_PIX_FMT_YUV422P12: return {1, 1, 1, 2, 4};
    case AV_PIX_FMT_YUV422P14: return {1, 1, 1, 2, 6};
    case AV_PIX_FMT_YUV444P9: return {1, 1, 2, 2, 1};
    case AV_PIX_FMT_YUV444P10: return {1, 1, 2, 2, 2};
    case AV_PIX_FMT_YUV444P12: return {1, 1, 2, 2, 4};
    case AV_PIX_FMT_YUV444P14: return {1, 1, 2, 2, 6};
    case AV_PIX_FMT_GRAY9: return {1, 0, 1, 1, 1};
    case AV_PIX_FMT_GRAY10: return {1, 0, 1, 1, 2};
    case AV_PIX_FMT_GRAY12: return {1, 0, 1, 1, 4};
    case AV_PIX_FMT_GRAY14: return {1, 0, 1, 1, 6};
    default:
        return {0, 0, 0, 0, 0};
    }
}

// Interleaves count Cb and Cr samples into Cb Cr pairs.
void interleaveChroma(u8* out, const u8* cb, const u8* cr, i64 count) {
    i64 c = 0;
#if defined(__SSE2__)
    for (; c + 16 <= count; c += 16) {
        __m128i b = _mm_loadu_si128((const __m128i*)(cb + c));
        __m128i r = _mm_loadu_si128((const __m128i*)(cr + c));
        _mm_storeu_si128((__m128i*)(out + 2 * c), _mm_unpacklo_epi8(b, r));
        _mm_storeu_si128((__m128i*)(out + 2 * c + 16), _mm_unpackhi_epi8(b, r));
    }
#endif
    for (; c < count; ++c) {
        out[2 * c] = cb[c];
        out[2 * c + 1] = cr[c];
    }
}

// One row of deep samples (16-bit words in the machine's order) cut to their 8 high bits.
void narrowRow(u8* out, const u8* row, i64 count, i32 shift) {
    const u16* words = (const u16*)row;
    for (i64 i = 0; i < count; ++i) out[i] = (u8)(words[i] >> shift);
}

// Copies the displayed part of a library picture into output as NV12.
void copyAsNv12(u8* output, const AVFrame* picture, ChromaSampling sampling, i64 left, i64 top, i64 width,
                i64 height) {
    i64 sampleBytes = sampling.shift ? 2 : 1;
    const u8* luma = picture->data[0] + top * picture->linesize[0] + left * sampleBytes;
    for (i64 row = 0; row < height; ++row) {
        const u8* from = luma + row * picture->linesize[0];
        if (sampling.shift) narrowRow(output + row * width, from, width, sampling.shift);
        else std::memcpy(output + row * width, from, (size_t)width);
    }
    u8* chroma = output + width * height;
    i64 pairs = width / 2;
    for (i64 row = 0; row < height / 2; ++row) {
        u8* out = chroma + row * width;
        if (!sampling.planar) {
            std::memset(out, 128, (size_t)width);
            continue;
        }
        // NV12 chroma sample (row, c) sits at luma (top + 2 row, left + 2 c); the source plane
        // holds one sample per rowStep luma rows and columnStep luma columns there.
        i64 sourceRow = sampling.rowStep == 2 ? top + 2 * row : top / 2 + row;
        i64 sourceColumn = sampling.columnStep == 2 ? left : left / 2;
        const u8* cb = picture->data[1] + sourceRow * picture->linesize[1] + sourceColumn * sampleBytes;
        const u8* cr = picture->data[2] + sourceRow * picture->linesize[2] + sourceColumn * sampleBytes;
        if (sampling.shift) {
            const u16* cbWords = (const u16*)cb;
            const u16* crWords = (const u16*)cr;
            for (i64 c = 0; c < pairs; ++c) {
                out[2 * c] = (u8)(cbWords[c * sampling.columnStep] >> sampling.shift);
                out[2 * c + 1] = (u8)(crWords[c * sampling.columnStep] >> sampling.shift);
            }
        } else if (sampling.columnStep == 1) {
            interleaveChroma(out, cb, cr, pairs);
        } else {
            for (i64 c = 0; c < pairs; ++c) {
                out[2 * c] = cb[2 * c];
                out[2 * c + 1] = cr[2 * c];
            }
        }
        if (width & 1) out[width - 1] = 128;
    }
}

}  // namespace

i32 loadH264Library() {
    std::call_once(libraryOnce, loadLibrary);
    return libraryState.load(std::memory_order_acquire) == 1 ? 1 : 0;
}

i32 h264LibraryLoadFinished() { return libraryState.load(std::memory_order_acquire) != 0 ? 1 : 0; }

i32 openH264Decoder(H264Decoder* decoder, i32* libraryCode) {
    *libraryCode = 0;
    if (decoder->context) return H264DecoderOk;
    if (!loadH264Library()) return H264DecoderNoLibrary;
    // Damaged units are expected on a lossy link; the library's own reports of them would only
    // flood the terminal.
    av.logSetLevel(AV_LOG_QUIET);
    const AVCodec* codec = av.findDecoder(AV_CODEC_ID_H264);
    if (!codec) return H264DecoderNotFound;
    AVCodecContext* context = av.allocContext(codec);
    AVFrame* picture = av.frameAlloc();
    if (!context || !picture) {
        av.freeContext(&context);
        av.frameFree(&picture);
        return H264DecoderOutOfMemory;
    }
    // Each picture leaves as soon as the stream's reordering allows: no frame threads. The decoder is
    // given whole access units: fed slice by slice it stops for good after one damaged slice.
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->thread_count = 1;
    context->thread_type = 0;
    // The picture is handed out whole, with its cropping, as the decoder's buffer holds it.
    context->apply_cropping = 0;
    i32 result = av.open(context, codec, nullptr);
    if (result < 0) {
        *libraryCode = result;
        av.freeContext(&context);
        av.frameFree(&picture);
        return H264DecoderLibraryError;
    }
    decoder->context = context;
    decoder->picture = picture;
    return H264DecoderOk;
}

i32 sendH264AccessUnit(H264Decoder* decoder, const u8* sets, i64 setsLength, const u8* bytes, i64 length, i64 number,
                       i32* libraryCode) {
    *libraryCode = 0;
    AVCodecContext* context = contextOf(decoder);
    if (!context) return H264DecoderNotOpen;
    if (decoder->draining) return H264DecoderDraining;
    if (!bytes || length <= 0) return H264DecoderOk;
    if (!sets || setsLength < 0) setsLength = 0;
    if (length > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE - setsLength) return H264DecoderTooLarge;
    AVPacket packet;
    std::memset(&packet, 0, sizeof packet);
    if (setsLength) {
        // The sets and the unit in one buffer of the library's, which it takes without a copy.
        if (av.newPacket(&packet, (int)(setsLength + length)) < 0) return H264DecoderOutOfMemory;
        std::memcpy(packet.data, sets, (size_t)setsLength);
        std::memcpy(packet.data + setsLength, bytes, (size_t)length);
    } else {
        // A packet without its own buffer: the library copies the bytes into a padded buffer of its own.
        packet.data = (u8*)bytes;
        packet.size = (i32)length;
    }
    packet.pts = number;
    packet.dts = AV_NOPTS_VALUE;
    packet.pos = -1;
    i32 result = av.sendPacket(context, &packet);
    if (setsLength) av.packetUnref(&packet);
    if (result == AVERROR(EAGAIN)) return H264DecoderNotAccepting;
    if (result == AVERROR(ENOMEM)) return H264DecoderOutOfMemory;
    if (result < 0) {
        *libraryCode = result;
        return result == AVERROR_INVALIDDATA ? H264DecoderInvalidData : H264DecoderLibraryError;
    }
    return H264DecoderOk;
}

void endH264Input(H264Decoder* decoder) {
    AVCodecContext* context = contextOf(decoder);
    if (!context || decoder->draining) return;
    // A null packet asks for what is held back; the decoder answers the end once all is out.
    if (av.sendPacket(context, nullptr) == 0) decoder->draining = 1;
}

i32 receiveH264Picture(H264Decoder* decoder, u8* output, i64 capacity, H264PictureLayout* layout,
                       i32* libraryCode) {
    *libraryCode = 0;
    *layout = H264PictureLayout{};
    AVCodecContext* context = contextOf(decoder);
    AVFrame* picture = (AVFrame*)decoder->picture;
    if (!context || !picture) return H264DecoderNotOpen;
    i32 result = av.receiveFrame(context, picture);
    if (result == AVERROR_EOF) {
        // The last held picture is out: ready for the next stream.
        av.flushBuffers(context);
        decoder->draining = 0;
        return H264DecoderNoPicture;
    }
    if (result == AVERROR(EAGAIN)) return H264DecoderNoPicture;
    if (result < 0) {
        *libraryCode = result;
        return H264DecoderLibraryError;
    }
    struct Unref {
        AVFrame* f;
        ~Unref() { av.frameUnref(f); }
    } unref{picture};
    layout->number = picture->pts;
    layout->damaged = picture->decode_error_flags != 0 || (picture->flags & AV_FRAME_FLAG_CORRUPT) != 0;

    ChromaSampling sampling = chromaSampling(picture->format);
    if (!sampling.supported) return H264DecoderUnsupported;
    // The displayed picture: cropping the library reports beyond the picture is ignored.
    i64 left = (i64)picture->crop_left, right = (i64)picture->crop_right;
    i64 top = (i64)picture->crop_top, bottom = (i64)picture->crop_bottom;
    if (left < 0 || right < 0 || left + right >= picture->width) left = right = 0;
    if (top < 0 || bottom < 0 || top + bottom >= picture->height) top = bottom = 0;
    i64 width = picture->width - left - right;
    i64 height = picture->height - top - bottom;
    if (width <= 0 || height <= 0) return H264DecoderUnsupported;
    if (width * height + width * (height / 2) > capacity) return H264DecoderTooLarge;
    copyAsNv12(output, picture, sampling, left, top, width, height);
    layout->width = (i32)width;
    layout->height = (i32)height;
    return H264DecoderOk;
}

void closeH264Decoder(H264Decoder* decoder) {
    AVCodecContext* context = contextOf(decoder);
    AVFrame* picture = (AVFrame*)decoder->picture;
    // A decoder that never opened holds nothing, and the library may never have been loaded.
    if (context) av.freeContext(&context);
    if (picture) av.frameFree(&picture);
    *decoder = H264Decoder{};
}
