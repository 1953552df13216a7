#include "Video/VideoSteps.h"

void controlQvVideoStream(Socket* videoSocket, Socket* videoRelaySocket, void* relayHost, void* secureLinkClient,
                          QvVideoStream* stream, H264StreamState* h264, Preferences* preferences, ImageSlotTable* slots,
                          FlightLogger* logger) {
    (void)videoSocket;
    (void)videoRelaySocket;
    (void)relayHost;
    (void)secureLinkClient;
    (void)stream;
    (void)h264;
    (void)preferences;
    (void)slots;
    (void)logger;
}

void controlRtspVideoStream(Socket* rtspSocket, Socket* rtpSocket, Socket* rtcpSocket, Socket* videoRelaySocket,
                            void* relayHost, RtspClient* client, H264StreamState* h264, Preferences* preferences,
                            ImageSlotTable* slots, FlightLogger* logger) {
    (void)rtspSocket;
    (void)rtpSocket;
    (void)rtcpSocket;
    (void)videoRelaySocket;
    (void)relayHost;
    (void)client;
    (void)h264;
    (void)preferences;
    (void)slots;
    (void)logger;
}
