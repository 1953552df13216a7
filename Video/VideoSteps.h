// The video records and per-frame steps that the application update hands on: the QV and RTSP
// streams and the decoder output. For now the steps do nothing; the video subsystem replaces this.
#pragma once
#include "Core/FixedString.h"

struct Socket;
struct Preferences;
struct ImageSlotTable;
struct FlightLogger;

// What the stream knows of the H.264 pictures: their size from the sequence parameter set.
struct H264Stream {
    u32 frameWidth;
    u32 frameHeight;
};

struct QvVideoStream {
    FixedString status;
};

struct RtspClient {
    FixedString status;
};

void controlQvVideoStream(Socket* videoSocket, Socket* videoRelaySocket, void* relayHost, void* secureLinkClient,
                          QvVideoStream* stream, H264Stream* h264, Preferences* preferences, ImageSlotTable* slots,
                          FlightLogger* logger);
void controlRtspVideoStream(Socket* rtspSocket, Socket* rtpSocket, Socket* rtcpSocket, Socket* videoRelaySocket,
                            void* relayHost, RtspClient* client, H264Stream* h264, Preferences* preferences,
                            ImageSlotTable* slots, FlightLogger* logger);
void processH264DecoderOutput(ImageSlotTable* slots);
