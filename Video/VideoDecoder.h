// The program's one H.264 decoder. Both stream clients feed it Annex-B NAL units as their
// depacketiser produces them (processH264BytestreamNalu); it gathers them into whole access units,
// each straight into a byte ring that the decode worker empties (runVideoDecodeWorker, on a thread of
// its own): the frame that completes a picture only hands it on. The worker feeds the platform
// decoder one access unit at a time and writes each picture to be shown as tightly packed NV12 into
// one of three picture buffers. Once a frame the application update takes the newest
// picture (processH264DecoderOutput) and publishes it as a renderer image slot of format 12, which
// screens draw by its id; pictures the worker finished in between are passed over.
//
// Threads: the main thread writes access units and their entries into the ring and the worker reads
// them; the picture buffers change hands by atomic exchange (the worker's back buffer, the newest
// finished one, the one shown); the worker's failures and counts reach the main thread through
// atomics. No locks. Without a worker (tests, fuzzing) processH264DecoderOutput does the worker's
// part itself first, and so does the gathering when the ring is full.
//
// Damage: when part of a picture was lost on the way (the stream clients say so), or the decoder
// met errors in it, no picture is shown from that one on until the next resume point (an IDR
// picture, or an I picture with a recovery point SEI; see H264AccessUnit.h), which is decoded by a
// fresh decoder context: a damaged picture costs at most the pictures up to the next resume point.
// A fresh context (after damage, at a new stream) is given, in front of its first access unit, the
// parameter sets the stream has in force there: the worker keeps the newest SPS and PPS of each id
// from every access unit it takes, fed or not, and forgets them where a stream ends. Senders that
// give their sets only once (in the SDP, or before their first picture) so resume like the others.
// While waiting, access units with slices that are not resume points are not fed at all, and
// pictures that come out of the fresh context before the resume picture (those that refer to
// pictures before it) are not shown.
//
// The stream clients write the picture geometry from each changed SPS (width, height, stride =
// coded width, coded height; see parseSequenceParameterSet). A decoder that opens while a stream
// runs first takes the stream's current sizes and the parameter sets it has sent (see
// feedVideoUnit), so that it shows pictures from the stream's next IDR picture on; so does one that
// dropped an access unit for want of room in the ring (its sets may have been in it). Until the first
// SPS the sizes are 0 and no picture is published. The shown size is the SPS's within the picture the decoder
// delivered: sizes an SPS claims beyond the picture are cut to it, and a picture larger than a
// picture buffer is not published (the error text says so).
#pragma once
#include <atomic>

#include "Core/FixedString.h"
#include "Platform/H264Decoder.h"
#include "Video/H264AccessUnit.h"

struct ImageSlotTable;

// One 1920 x 1080 picture (coded as 1088 rows) in NV12.
constexpr i64 kVideoPictureCapacity = 1920 * 1088 * 3 / 2;
constexpr u32 kVideoFormatNv12 = 12;
// A unit the decoder keeps refusing is dropped after this many pictures taken without success (the
// decoder holds at most 16 for reordering).
constexpr i32 kVideoDecoderDrainLimit = 20;
constexpr i64 kVideoNeverShown = INT64_MAX;
// Access units handed to the worker and not yet decoded, with the one being gathered, lie in a ring of
// this many bytes (each access unit in one piece) and this many entries. When the ring is full (the
// worker fell that far behind) the picture that does not fit is dropped as damaged.
constexpr i64 kVideoUnitRingBytes = 8 * 1024 * 1024;
constexpr u32 kVideoAccessUnitSlots = 64;

enum VideoAccessUnitFlags : u32 {
    VideoUnitIntact = 1,       // nothing known lost in or before it
    VideoUnitResumePoint = 2,  // see isResumePoint
    VideoUnitHasSlices = 4,
    VideoUnitStreamEnd = 8,    // no bytes: the stream ended here
};

// The worker's failures, as the main thread turns them into the error text.
enum VideoFailureKind : u32 {
    VideoFailureRefused = 1,      // value: the access unit's length
    VideoFailureOutOfMemory = 2,  // value: the access unit's length
    VideoFailureUnitTooLarge = 3, // value: the access unit's length
    VideoFailureInput = 4,        // value: the library's code
    VideoFailureNoNv12 = 5,
    VideoFailurePictureTooLarge = 6,
    VideoFailureReopen = 7,       // value: the library's code
    VideoFailureDamaged = 8,      // value: the access unit's length
};

// An access unit handed over: its bytes lie at ring byte start % kVideoUnitRingBytes.
struct VideoAccessUnitSlot {
    i64 start;   // counts every ring byte ever used: never wraps
    i64 length;
    u32 flags;   // VideoAccessUnitFlags
    u32 parameterSetsEnd;  // its SPS and PPS lie within its first this many bytes; 0: it has none
};

struct VideoPicture {
    i32 width;
    i32 height;
    i64 number;
    u8 pixels[kVideoPictureCapacity];  // height rows of width luma bytes, then height / 2 rows of
                                       // width bytes of interleaved Cb/Cr
};

// What the worker alone touches.
struct VideoDecodeWork {
    H264Decoder decoder;       // the platform decoder; not open when set-up failed
    i64 accessUnitCount;       // access units taken so far, fed or not; a picture carries its unit's number
    i64 damagedFrom;           // pictures of access units numbered from here ...
    i64 shownFrom;             // ... up to here are not shown (kVideoNeverShown: waiting for a resume point)
    i64 resumeNumber;          // the resume picture, until it came out: pictures after it come before it
    u32 awaitingResume;
    u32 outputPending;         // the decoder may hold pictures to take
    u32 draining;              // the decoder was told the input ended; a fresh context follows
    u32 freshContext;          // the context has been fed nothing since it was made
    u32 back;                  // the picture buffer being written
    i32 refusals;              // times the access unit in turn was refused
    H264ParameterSets parameterSets;  // the stream's, from the access units taken before the one in turn
};

// Zero-filled at start, inside the program's state block.
struct VideoDecoder {
    u32 ready;             // 1 once set-up completed
    i32 width;             // displayed luma width, from the SPS
    i32 height;            // displayed luma height
    i32 stride;            // the SPS's coded width
    i32 codedHeight;       // the SPS's coded height
    u32 joinedStream;      // 1 once given the running stream's sizes and parameter sets; 0 when opened
                           // and when an access unit was dropped for want of room
    u32 imageSlotId;       // renderer image slot of the newest picture; 0 while there is none
    u32 picturesPublished;         // pictures registered as image slots so far
    FixedString error;             // text of the most recent failure; empty once it no longer holds
    i64 errorUnit;                 // the access units the error tells of end with this one: the error
                                   // goes when a picture of a later one is shown (kVideoNeverShown:
                                   // it stays, as set-up failures do)
    H264AccessUnit accessUnit;     // the picture being gathered (its bytes in the ring)
    u32 gatherSlot;                // 1 while the access unit's bytes go to the ring from gatherStart
    i64 gatherStart;               // ring position of the access unit being gathered
    i64 ringEnd;                   // ring position after the last access unit handed over
    u32 gatherShort;               // the ring had no room for all of the access unit being gathered
    u32 endPending;                // the end of a stream waits for a free slot to be handed over
    u32 front;                     // the picture buffer shown
    i64 accessUnitsDroppedBehind;  // pictures dropped because the ring had no room for them
    u32 parameterSetsMissing;      // the last picture handed over has slices whose SPS or PPS never came

    // Shared between the main thread and the worker.
    std::atomic<u32> unitsWritten;    // access units handed over (main thread)
    std::atomic<u32> unitsRead;       // access units done with (worker)
    std::atomic<u32> newest;          // picture buffer index, | 4 when not taken yet
    std::atomic<u32> signal;          // changes whenever the worker may have work; it waits on it
    std::atomic<u32> workerAttached;  // 1 from attachVideoDecodeWorker until closeVideoDecoder
    std::atomic<u32> stopWorker;
    std::atomic<u32> idleThrough;     // unitsRead when the worker last found nothing to do
    std::atomic<u32> waitingForResume;     // 1 while pictures are held back after damage
    std::atomic<u64> failure;              // the worker's last failure: kind << 56 | value; 0 none
    std::atomic<i64> failureUnit;          // the access units fed when it happened (written before it)
    std::atomic<i64> picturesDropped;      // pictures not shown because of damage
    std::atomic<i64> accessUnitsSkipped;   // access units not fed while waiting for a resume point
    // Tests: called on the worker's thread with every picture it hands on to be shown.
    void (*pictureShown)(void* context, const VideoPicture* picture);
    void* pictureShownContext;

    VideoDecodeWork work;
    VideoAccessUnitSlot slots[kVideoAccessUnitSlots];
    VideoPicture pictures[3];
    u8 unitRing[kVideoUnitRingBytes];
};

// Sets up the decoder once at start-up, before its worker starts, and makes `decoder` the program's
// decoder. On failure the error text says why and video stays black; on success it is empty.
void initializeH264Decoder(VideoDecoder* decoder);

// Closes the platform decoder (after the worker's thread was joined) and, when it is the program's
// decoder, leaves the program without one.
void closeVideoDecoder(VideoDecoder* decoder);

// On the main thread, before the worker's thread starts: from now on the worker decodes, not the
// output step.
void attachVideoDecodeWorker(VideoDecoder* decoder);
// The decode worker's thread procedure: decodes the access units handed over until
// stopVideoDecodeWorker. Returns 0.
i64 runVideoDecodeWorker(VideoDecoder* decoder);
// Asks the worker to return (from the main thread; join the thread afterwards).
void stopVideoDecodeWorker(VideoDecoder* decoder);

// Hands Annex-B NAL units (one, or several each behind its start code) to the program's decoder.
// They are gathered into access units; a complete one goes to the worker.
void processH264BytestreamNalu(const u8* bytes, i64 length, ImageSlotTable* slots);

// The transport marks the end of a picture: the access unit gathered so far goes to the worker now.
void endH264AccessUnit(ImageSlotTable* slots);

// The stream lost data on the way (a sequence gap, a unit too large to collect): the picture being
// gathered is damaged, or with none begun, whatever follows up to a resume point.
void noteH264DataLost();

// The stream ended or changes: the access unit gathered so far goes to the worker, the pictures the
// decoder holds back for reordering come out, and the next stream starts with a fresh decoder
// context and fresh parameter sets.
void endH264Stream(ImageSlotTable* slots);

// Publishes the newest picture the worker finished, if it has not been: the previous image slot is
// released and the picture registered as a new one (id 0 when all slots are taken). Also turns the
// worker's failures into the error text, which goes again once a picture decoded after the failure
// is shown.
void processH264DecoderOutput(ImageSlotTable* slots);

// Without a worker thread: one piece of the worker's work (an access unit fed, or a picture taken
// from the platform decoder); 0 when there was nothing it could do.
i32 runVideoDecodeStep(VideoDecoder* decoder);

// 1 when the worker has nothing left to do: every access unit handed over is decoded and every
// picture it gave is handed on.
i32 videoDecoderIdle(const VideoDecoder* decoder);

// 1 while pictures are held back after damage until the next resume point.
i32 videoDecoderWaitsForIdr(const VideoDecoder* decoder);

// 1 while the pictures come without the SPS or PPS they need (none was given in the stream, nor by
// the stream client beforehand): none of them can be decoded.
i32 videoDecoderLacksParameterSets(const VideoDecoder* decoder);

// The newest picture published (null before the first), for tests and the debug screens.
const VideoPicture* shownVideoPicture(const VideoDecoder* decoder);

// The decoder set by initializeH264Decoder, or null.
VideoDecoder* programVideoDecoder();
