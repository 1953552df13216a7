// The application's state record: the fields that the per-frame update owns at its head, then every
// subsystem's long-lived record that the update hands on. It lives inside ApplicationMemory
// (Application/ApplicationMemory.h), zero-filled at start. It stands below the screens so that they
// read it without including the application update.
#pragma once
#include "AppState/AppCacheState.h"
#include "AppState/PreferencesState.h"
#include "Core/AddressRecord.h"
#include "Core/Sound.h"
#include "Drone/DroneConnection.h"
#include "Drone/SimulatedDrone.h"
#include "Drone/TarnwickPayloads/DropLocations.h"
#include "FlightLogReplay/FlightLogExportJob.h"
#include "FlightLogReplay/FlightLogList.h"
#include "FlightLogs/FlightLogSession.h"
#include "Map/CopernicusDownloader.h"
#include "Map/ElevationMapLoader.h"
#include "Map/TileMaps.h"
#include "Mission/MissionSteps.h"
#include "Network/Dns.h"
#include "Network/Download.h"
#include "Network/Socket.h"
#include "Overlays/OverlaySteps.h"
#include "KmzEditor/ExportedKmzList.h"
#include "KmzEditor/KmzExport.h"
#include "KmzEditor/KmzImport.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "Video/VideoSteps.h"

constexpr u32 kDownloadSockets = kDownloadConnections;

struct CompanionAppPresence {
    u32 present;
    u32 cleared;
};

// The ArduCopter id that the app cache keeps.
struct ArduCopterId {
    u8 idType[4];
    u8 id[20];
};

// The clocks the update reads; null entries take the system's. Tests put their own here.
struct AppClocks {
    u64 (*monotonicMicroseconds)();
    i64 (*utcMilliseconds)();
};

struct PendingLoads {
    FileReadRequest* missionRead;
    FileReadRequest* kmzRead;
    u32 kmzImportMode;
    FixedString kmzImportName;  // the last import's message (what it left out, or why it gave nothing)
    FileReadRequest* overlayPick;
};

struct AppState {
    u32 started;  // 0 until the first frame has run
    u8 installationId[32];
    i64 lastDebugReportTime;  // monotonic us
    u32 mainScreenWord;  // owned by the Main Screen
    CompanionAppPresence companionAppPresent[2];  // "com.auterion", "com.auterion.skyway"
    u32 simulatorRunning;  // set and cleared by the screens; the update starts and stops the simulator
    // The drone socket's local port while the simulator runs; 0 takes 14550 (tests choose their own,
    // as they do the simulated drone's localPorts).
    u16 simulatorLinkLocalPort;

    AppClocks clocks;
    u32 cacheLoadedThisRun;  // the frame's app cache step loaded the file
    // Drop-location expiry waits from the cache's load for the preferences' load, so that it uses the
    // user's persistence; the counts are the stored points, the only ones it may remove.
    u32 dropExpiryPending;
    u32 storedOrvikDrops;
    u32 storedVoskDrops;
    u32 preferencesSaved;  // the result of this frame's preferences step

    SoundMixer sound;  // the queue that screens fill and the voices the audio thread mixes
    TuneCopies designedTunes;  // the Design Sound screen's tune as the audio thread plays it

    DnsResolver dnsResolver;
    DownloadPool downloadPool;
    Socket downloadSockets[kDownloadSockets];
    TileMaps tileMaps;
    CopernicusDownloader copernicusDownloader;
    Socket copernicusSocket;
    Socket droneSocket;
    Socket cameraSocket;
    Socket relaySocket;
    Socket qvVideoSocket;
    Socket videoRelaySocket;
    Socket rtspSocket;
    Socket rtpSocket;
    Socket rtcpSocket;
    H264StreamState h264Stream;
    QvVideoStream qvVideoStream;
    RtspVideoStream rtspVideoStream;
    Socket simulatorSocket;
    Socket simulatorPayloadPrimarySocket;  // "Simulator KTQ Primary"
    Socket simulatorPayloadSecondarySocket;  // "Simulator KTQ Secondary"
    DroneConnection droneConnection;
    SimulatedDrone simulatedDrone;
    SecureLinkHost relayHost;
    RelayHostIdentity relayHostIdentity;
    SecureLinkClientIdentity secureLinkClientIdentity;
    SecureLinkClient videoLinkClient;  // the video stream's side of the link to a relaying app
    ArduCopterId arduCopterId;
    FlightLogger flightLogger;
    u32 forceLogging;  // nonzero keeps a log open whatever the flight state
    ElevationMapLoader elevationMapLoader;
    WaypointMissionEditor waypointMissionEditor;
    TransectRegion transectRegion;
    OrvikGeofence orvikGeofence;
    OrvikDropLocations orvikDropLocations;
    DodireruDropLocations dodireruDropLocations;
    MissionList missionList;
    PendingLoads pendingLoads;
    OverlayList overlayList;
    ExportedKmzList exportedKmzList;
    KmzEditor kmzEditor;
    KmzImportJob kmzImport;  // a KMZ being read into the editor in slices
    KmzExportRun kmzExport;  // the export being saved, stepped every frame
    VectorOverlayLoader vectorOverlayLoader;
    RasterOverlayLoader rasterOverlayLoader;
    FlightLogList flightLogList;
    // The flight-log viewer: its own replay of the list's kept log, and whether it has that log
    // open (set by the viewer on each of its frames, cleared when it is left).
    FlightLogReplay flightLogReplay;
    FileJobResult flightLogExportProgress;  // the newest flight-log export's write
    FlightLogExportJob flightLogExport;     // an export of the viewed log in slices
    u32 flightLogViewerOpen;
    ScreenStack screenStack;
    UiMetrics uiMetrics;
    Preferences preferences;
    PreferencesState preferencesState;
    AppCacheState appCache;
    // What the app cache's load did with the plan it kept (restored, or why nothing was), for the
    // debug report.
    FixedString keptPlanNote;
};
