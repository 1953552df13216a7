// The video records and per-frame steps that the application update hands on: the QV and RTSP
// streams. For now the steps do nothing; the stream clients replace this. The decoder output step
// is in Video/VideoDecoder.h.
#pragma once
#include "Core/FixedString.h"
#include "Video/H264Stream.h"
#include "Video/VideoDecoder.h"

struct Socket;
struct Preferences;
struct ImageSlotTable;
struct FlightLogger;

struct QvVideoStream {
    FixedString status;
};

struct RtspClient {
    FixedString status;
};

void controlQvVideoStream(Socket* videoSocket, Socket* videoRelaySocket, void* relayHost, void* secureLinkClient,
                          QvVideoStream* stream, H264StreamState* h264, Preferences* preferences, ImageSlotTable* slots,
                          FlightLogger* logger);
void controlRtspVideoStream(Socket* rtspSocket, Socket* rtpSocket, Socket* rtcpSocket, Socket* videoRelaySocket,
                            void* relayHost, RtspClient* client, H264StreamState* h264, Preferences* preferences,
                            ImageSlotTable* slots, FlightLogger* logger);
