// A stream client with its sockets, preferences, decoder (with its decode worker thread) and image
// slots, stepped one frame at a time on an injected clock; and a child process whose standard output
// the test reads line by line.
//
// A server in another process sends in real time and may be starved on a busy machine: while one
// is alive, the steps that face it let the clock move on only as far as the server's slowness cannot
// trigger a time-out of the client (a request sent again, a session torn down for silence, a picture
// cut short). Their loops are bounded by kPeerPatience of real time, a guard against a hang only.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Core/ImageSlots.h"
#include "Core/Preferences.h"
#include "Network/Socket.h"
#include "Video/VideoSteps.h"

namespace videotest {

inline u64 rigNow = 1000000000;
inline u64 rigClock() { return rigNow; }

// Real time (the monotonic clock) in microseconds: only for the guards against a hang.
inline u64 realMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (u64)t.tv_sec * 1000000 + (u64)t.tv_nsec / 1000;
}

// Real time within which a live server answers, however busy the machine.
constexpr u64 kPeerPatience = 60000000;

// True while less than kPeerPatience of real time has passed since `start`.
inline bool withinPatience(u64 start) { return realMicroseconds() - start < kPeerPatience; }

inline const u8 kLoopback[4] = {127, 0, 0, 1};

// A UDP port on the loopback address that was free a moment ago (for a port the code under test binds
// itself).
inline u16 freeUdpPort() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(a);
    bind(s, (sockaddr*)&a, sizeof(a));
    getsockname(s, (sockaddr*)&a, &size);
    close(s);
    return ntohs(a.sin_port);
}

// Waits up to `milliseconds` of real time until one of the open sockets has something to read; true
// when one has (false at once when none is open yet).
inline bool waitForInput(std::initializer_list<const Socket*> sockets, int milliseconds) {
    pollfd waiting[8];
    nfds_t count = 0;
    for (const Socket* socket : sockets) {
        if (socket->initialised && socket->handle >= 0 && count < 8) waiting[count++] = pollfd{socket->handle, POLLIN, 0};
    }
    return count && poll(waiting, count, milliseconds) > 0;
}

// For a Qv stream whose server sends in real time: true when the clock may move on, that is before
// the stream began (after a pause of 2 ms, to leave the server the processor) or once a datagram
// waits (up to `milliseconds` of real time for one).
inline bool qvClockMayMove(const Socket* socket, const QvVideoStream* stream, int milliseconds) {
    return waitForInput({socket}, stream->streaming ? milliseconds : 2) || !stream->streaming;
}

struct VideoRig {
    Socket control{}, rtp{}, rtcp{}, qv{};
    RtspVideoStream rtsp{};
    QvVideoStream qvStream{};
    H264StreamState h264{};
    Preferences preferences{};
    ImageSlotTable slots{};
    std::unique_ptr<VideoDecoder> decoder{new VideoDecoder{}};
    std::thread worker;
    std::atomic<u32> shown{0};        // pictures the worker handed on to be shown
    u32 published = 0;                // of those, pictures that were shown: the newest at each frame
    u32 width = 0, height = 0;
    bool keepPictures = false;        // keep every picture handed on (NV12) in pictures
    std::vector<std::vector<u8>> pictures;  // written by the worker; read after collect()

    // Without startWorker the worker is attached but its thread waits for startWorker().
    explicit VideoRig(bool startsWorker = true) {
        rtsp.stats.clock = rigClock;
        qvStream.stats.clock = rigClock;
        initializeH264Decoder(decoder.get());
        decoder->pictureShown = [](void* context, const VideoPicture* picture) {
            VideoRig* rig = (VideoRig*)context;
            if (rig->keepPictures) {
                rig->pictures.emplace_back(picture->pixels,
                                           picture->pixels + (size_t)picture->width * picture->height * 3 / 2);
            }
            rig->shown.fetch_add(1, std::memory_order_release);
        };
        decoder->pictureShownContext = this;
        attachVideoDecodeWorker(decoder.get());
        if (startsWorker) startWorker();
    }
    void startWorker() {
        VideoDecoder* d = decoder.get();
        worker = std::thread([d] { runVideoDecodeWorker(d); });
    }
    ~VideoRig() {
        stopVideoDecodeWorker(decoder.get());
        if (worker.joinable()) worker.join();
        closeVideoDecoder(decoder.get());
    }
    // Pictures handed on to be shown so far.
    u32 shownCount() const { return shown.load(std::memory_order_acquire); }
    // Waits until the worker has decoded everything handed over, then the renderer's part: takes the
    // newest picture's size and frees released slots.
    void collect() {
        for (;;) {
            bool idle = videoDecoderIdle(decoder.get());
            processH264DecoderOutput(&slots);
            if (idle) break;
            std::this_thread::yield();
        }
        if (decoder->picturesPublished != published) {
            published = decoder->picturesPublished;
            if (ImageSlot* slot = getImageSlot(&slots, (i32)decoder->imageSlotId)) {
                width = slot->width;
                height = slot->height;
            }
        }
        for (i32 i = 0; i < kImageSlotCount; ++i) {
            if (slots.slots[i].releaseRequested) {
                slots.used[i / 64] &= ~(u64(1) << (i % 64));
                slots.slots[i] = ImageSlot{};
            }
        }
    }
    void stepQv(u64 advance = 20000) {
        rigNow += advance;
        controlQvVideoStream(&qv, nullptr, nullptr, nullptr, &qvStream, &h264, &preferences, &slots, nullptr);
        collect();
    }
    // A frame while a Qv server sends: once the stream has begun, the clock moves on by `advance`
    // only when a datagram waits (otherwise not at all, after up to 100 ms of real time), so
    // the stream sees no more silence than the server meant, however slowly the server runs. (Before,
    // it moves on at once: the request is sent again each second until the server answers.) True
    // when the clock moved on.
    bool stepQvWithServer(u64 advance = 10000) {
        bool moves = qvClockMayMove(&qv, &qvStream, 100);
        stepQv(moves ? advance : 0);
        return moves;
    }
    // A frame without a live server: the scripted server answers between frames within this thread.
    void stepRtsp(u64 advance = 20000) {
        runRtspFrame(advance);
        usleep(2000);
    }
    void runRtspFrame(u64 advance) {
        rigNow += advance;
        controlRtspVideoStream(&control, &rtp, &rtcp, nullptr, nullptr, &rtsp, &h264, &preferences, &slots, nullptr);
        collect();
    }

    // A frame while a live RTSP server answers in real time. The clock runs at ten times real time
    // (the server's own session time-out runs on real time, and the receiver reports must beat it)
    // but stands still while the server owes the reply to a request (no request goes out twice, no
    // TEARDOWN is given up), and while the session plays it stays within 0.9 s of the last RTP
    // packet (no picture is cut short) or, before the first, within 5 s of the PLAY reply (no
    // session ends for silence). It moves at least a microsecond a frame, so that a reply is always
    // later than the request it answers.
    void stepRtspWithServer() {
        u64 real = realMicroseconds();
        if (!rtspRealTime) rtspRealTime = real;
        u64 advance = std::max<u64>(1, 10 * (real - rtspRealTime));
        rtspRealTime = real;
        bool waiting = false;
        if (rtspReplyOwed()) {
            advance = 1;
            waiting = true;
        } else if (rtsp.state == RtspPlaying) {
            i64 limit = rtsp.streaming ? rtsp.stats.lastPacketTime + 900000
                                       : std::max(rtsp.stats.lastPacketTime, rtsp.lastReplyTime) + 5000000;
            i64 room = std::max<i64>(1, limit - (i64)rigNow);
            if ((i64)advance >= room) {
                advance = (u64)room;
                waiting = true;
            }
        }
        runRtspFrame(advance);
        // Waits for the server (a reply or a datagram) rather than spinning; briefly when not held.
        waitForInput({&control, &rtp, &rtcp}, waiting ? 100 : 2);
    }
    // A request (DESCRIBE, SETUP, PLAY, TEARDOWN) has gone out and its reply has not come.
    bool rtspReplyOwed() const {
        bool asking = rtsp.state == RtspDescribe || rtsp.state == RtspSetup || rtsp.state == RtspPlay ||
                      rtsp.state == RtspTeardownSent;
        return asking && rtsp.lastRequestTime != 0 && rtsp.lastRequestTime >= rtsp.lastReplyTime;
    }
    u64 rtspRealTime = 0;  // real time of the last stepRtspWithServer
};

// A UDP socket of the test's own on a loopback address (by default a second one, 127.0.0.9) that
// sends datagrams to the station's ports and reads what comes back.
struct Stranger {
    int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    u16 port = 0;
    int sent = 0;
    explicit Stranger(u32 address = 0x7F000009) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(address);
        socklen_t size = sizeof(a);
        if (bind(socket, (sockaddr*)&a, sizeof(a)) == 0 && getsockname(socket, (sockaddr*)&a, &size) == 0) {
            port = ntohs(a.sin_port);
        }
    }
    ~Stranger() { close(socket); }
    // Whether a datagram of this type came (those read before it are dropped).
    bool received(u8 type) const {
        u8 buffer[2048];
        for (ssize_t n; (n = recv(socket, buffer, sizeof(buffer), MSG_DONTWAIT)) >= 0;) {
            if (n > 0 && buffer[0] == type) return true;
        }
        return false;
    }
    // To the port on 127.0.0.1 (nothing while the port is not known yet).
    void send(u16 port, const std::vector<u8>& datagram) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (port && sendto(socket, datagram.data(), datagram.size(), 0, (sockaddr*)&a, sizeof(a)) > 0) sent++;
    }
};

inline std::string text(const FixedString& value) { return std::string(value.text, value.length); }

inline void setText(FixedString* field, const std::string& value) { *field = stringFromBytes(value.data(), (i64)value.size()); }

struct ChildProcess {
    pid_t pid = -1;
    int output = -1;
    std::string pending;

    bool start(const std::vector<std::string>& arguments) {
        int pipes[2];
        if (pipe(pipes) != 0) return false;
        pid = fork();
        if (pid == 0) {
            dup2(pipes[1], 1);
            close(pipes[0]);
            std::vector<char*> argv;
            for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipes[1]);
        output = pipes[0];
        return pid > 0;
    }
    // The next whole line, waiting up to timeoutMs (0: only what is there); empty when none.
    std::string line(int timeoutMs) {
        for (int waited = 0;; waited++) {
            size_t end = pending.find('\n');
            if (end != std::string::npos) {
                std::string result = pending.substr(0, end);
                pending.erase(0, end + 1);
                return result;
            }
            fcntl(output, F_SETFL, O_NONBLOCK);
            char buffer[256];
            ssize_t n = read(output, buffer, sizeof(buffer));
            if (n > 0) {
                pending.append(buffer, (size_t)n);
                continue;
            }
            if (waited >= timeoutMs) return "";
            usleep(1000);
        }
    }
    void stop() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
        if (output >= 0) close(output);
        output = -1;
    }
    ~ChildProcess() { stop(); }
};

}  // namespace videotest
