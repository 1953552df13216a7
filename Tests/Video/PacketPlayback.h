// Plays recorded RTP packets into a rig (a new one unless given) over RTP or as Qv datagrams, a
// millisecond apart, then lets the reorder wait run out and ends the stream, so every picture the
// packets hold has been shown.
#pragma once
#include <memory>
#include <vector>

#include "Video/H264TestStreams.h"
#include "Video/VideoStreamRig.h"

namespace videotest {

inline std::unique_ptr<VideoRig> playPackets(const std::vector<RtpPacket>& packets, bool qv,
                                             std::unique_ptr<VideoRig> rig = nullptr) {
    if (!rig) rig = std::make_unique<VideoRig>();
    rig->keepPictures = true;
    i64 now = 1000000;
    for (const RtpPacket& packet : packets) {
        now += 1000;
        if (qv) {
            Bytes datagram = qvDatagram(packet);
            handleQvDatagram(&rig->qvStream, datagram.data(), (u32)datagram.size(), &rig->h264, nullptr, nullptr,
                             &rig->preferences, &rig->slots, now);
        } else {
            Bytes datagram = packet.bytes;
            handleRtpDatagram(&rig->rtsp, datagram.data(), (i64)datagram.size(), &rig->h264, nullptr, nullptr,
                              &rig->preferences, &rig->slots, now);
        }
        rig->collect();
    }
    now += kReorderWait + 1;
    if (qv) {
        expireQvVideo(&rig->qvStream, &rig->h264, &rig->slots, now);
        endH264Stream(&rig->slots);
    } else {
        expireRtpVideo(&rig->rtsp, &rig->h264, &rig->slots, now);
        endRtpVideo(&rig->rtsp, &rig->h264, &rig->slots);
    }
    rig->collect();
    return rig;
}

}  // namespace videotest
