#include "Screens/Test/DebugReport.h"

#include "AppState/AppState.h"
#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Platform/Platform.h"
#include "SourceCommon/Renderer/RendererState.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

void appendDateTime(i64 milliseconds, const char* suffix, ByteWriter* writer) {
    DateTimeParts t = calendarFromMilliseconds(milliseconds);
    const void* args[7];
    i64 values[7] = {t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond};
    u32 kinds[7];
    for (i32 i = 0; i < 7; i++) {
        args[i] = &values[i];
        kinds[i] = FormatArgInt;
    }
    appendFixedString(formatString("@-@-@ @:@:@.@", args, kinds, 7), writer);
    appendCString(suffix, writer);
}

// The files held in memory by one read table: in use, read successfully and, when asked, owning
// their buffer.
void appendHeldFiles(const FileReadTable* table, bool ownedOnly, ByteWriter* writer) {
    for (u32 i = 0; i < kFileTableSlots; i++) {
        if (!isSlotUsed(table->used, i)) continue;
        const FileReadRequest* slot = &table->slots[i];
        if (fileRequestStatus(slot) != FileStatusSuccess) continue;
        if (ownedOnly && slot->ownsBuffer != 1) continue;
        appendCString("\t", writer);
        appendFixedStringRef(&slot->path, writer);
        appendCString(": ", writer);
        appendInt64((i64)(slot->bytesRead + slot->headroom), writer);
        appendCString(" bytes\n", writer);
    }
}

void appendCountLine(u64 count, const char* one, const char* many, ByteWriter* writer) {
    if (count == 1) appendCString(one, writer);
    if (count > 1) appendFixedString(formatInt(many, (i64)count), writer);
}

// What the socket read and dropped, what its owner ignored for the sender, and what the system dropped
// before the socket read it: a line each, when not 0.
void appendSocketDrops(const Socket* socket, ByteWriter* writer) {
    appendCountLine(socket->emptyDatagrams, "   1 empty datagram dropped\n", "   @ empty datagrams dropped\n", writer);
    appendCountLine(socket->oversizeDatagrams, "   1 datagram over 6000 bytes dropped\n",
                    "   @ datagrams over 6000 bytes dropped\n", writer);
    appendCountLine(socket->unknownSenderDatagrams, "   1 datagram from an unknown sender ignored\n",
                    "   @ datagrams from unknown senders ignored\n", writer);
    appendCountLine(systemDroppedDatagrams(socket), "   1 datagram dropped by the system, its receive queue full\n",
                    "   @ datagrams dropped by the system, its receive queue full\n", writer);
}

// A relay socket's hellos from peers not yet listed, those dropped over the frame's key exchanges,
// those under a listed peer id that did not open, those of listed devices dropped over their one check
// a frame, the sealed data of listed devices not in control, the plain hellos under listed peer ids
// from other ports, those from listed devices' ports under other peer ids, the video hellos of devices
// whose session has not proved its password yet, the ports given up by devices that proved nothing or
// fell silent there, the hellos of new devices that found the list full (and on the MAVLink port the
// devices that waited in the spare place beside it and proved nothing), the replayed hellos under peer
// ids that devices gave up by starting over (and on the video port the listed devices' video requests):
// a line each, when not 0.
void appendHelloCounts(const SecureLinkHost* host, u32 stream, ByteWriter* writer) {
    appendCountLine(host->unlistedHellos[stream], "   1 hello from a peer not yet listed\n",
                    "   @ hellos from peers not yet listed\n", writer);
    appendCountLine(host->hellosOverKeyExchanges[stream], "   1 hello dropped over the key exchanges a frame may do\n",
                    "   @ hellos dropped over the key exchanges a frame may do\n", writer);
    appendCountLine(host->unopenedHellos[stream], "   1 hello under a listed peer id that did not open\n",
                    "   @ hellos under listed peer ids that did not open\n", writer);
    appendCountLine(host->hellosOverEntryChecks[stream],
                    "   1 hello of a listed device dropped over the one a frame it may have checked\n",
                    "   @ hellos of listed devices dropped over the one a frame each may have checked\n", writer);
    appendCountLine(host->dataNotInControl[stream], "   1 datagram of a listed device not in control dropped unopened\n",
                    "   @ datagrams of listed devices not in control dropped unopened\n", writer);
    appendCountLine(host->hellosFromOtherPorts[stream],
                    "   1 hello under a peer id from another port of its address than its own ignored\n",
                    "   @ hellos under peer ids from other ports of their addresses than their own ignored\n", writer);
    appendCountLine(host->hellosAtOtherEntries[stream],
                    "   1 hello from a listed device's port under another peer id ignored\n",
                    "   @ hellos from listed devices' ports under other peer ids ignored\n", writer);
    appendCountLine(host->hellosAwaitingProof[stream],
                    "   1 hello of a device that has not proved its password yet ignored\n",
                    "   @ hellos of devices that have not proved their passwords yet ignored\n", writer);
    appendCountLine(host->portsGivenUp[stream],
                    "   1 port given up by a listed device that proved nothing or fell silent there\n",
                    "   @ ports given up by listed devices that proved nothing or fell silent there\n", writer);
    appendCountLine(host->hellosWithoutPlace[stream], "   1 hello of a new device that found the sharing list full\n",
                    "   @ hellos of new devices that found the sharing list full\n", writer);
    if (stream == RelayStreamMavlink) {
        appendCountLine(host->spareRunsUnproved,
                        "   1 device that waited in the spare place and proved no password there\n",
                        "   @ devices that waited in the spare place and proved no password there\n", writer);
    }
    appendCountLine(host->retiredHellos[stream],
                    "   1 hello under a peer id its device gave up by starting over dropped as a replay\n",
                    "   @ hellos under peer ids their devices gave up by starting over dropped as replays\n", writer);
    if (stream == RelayStreamVideo) {
        appendCountLine(host->peerVideoRequests, "   1 video request from a listed device\n",
                        "   @ video requests from listed devices\n", writer);
    }
}

void appendListenerLine(const char* label, const Socket* socket, ByteWriter* writer) {
    appendCString(label, writer);
    appendCString(": port ", writer);
    appendInt64(socket->localPort, writer);
    appendCString(", ", writer);
    appendFixedStringRef(&socket->status, writer);
    appendCString(", ", writer);
    appendInt64(queuedDatagrams(socket), writer);
    appendCString(" packets in queue\n", writer);
    appendSocketDrops(socket, writer);
}

void appendRendererText(const ByteWriter* log, ByteWriter* writer) {
    if (!log->data) return;
    i64 length = log->length < log->capacity ? log->length : log->capacity;
    i64 position = 0;
    for (;;) {
        i32 codepoint = utf8DecodeNext(log->data, length, &position);
        if (codepoint == kUtf8End || codepoint == kUtf8Truncated) break;
        if (codepoint == kUtf8Malformed) continue;
        appendCodepoint(codepoint, writer);
    }
}

}  // namespace

void appendMemoryLine(const char* label, i64 bytes, ByteWriter* writer) {
    i64 lineStart = writer->length;
    appendCString(label, writer);
    appendInt64Padded(bytes, lineStart + kDebugReportNumberColumn, writer);
    appendCString(" bytes\n", writer);
}

void appendSocketLine(const char* label, const Socket* socket, ByteWriter* writer) {
    appendCString(label, writer);
    appendCString(": ", writer);
    appendInt64(socket->localPort, writer);
    appendCString(", ", writer);
    appendFixedStringRef(&socket->status, writer);
    appendCString("\n", writer);
    appendSocketDrops(socket, writer);
}

i64 queuedDatagrams(const Socket* socket) {
    return (i64)((u32)(u8)(socket->sendQueue.writeIndex - socket->sendQueue.readIndex) % 64);
}

void appendReportHeader(ByteWriter* writer, i64 utcMs, i64 zoneOffsetMs) {
    appendCString(kApplicationName, writer);
    appendCString(" ", writer);
    appendCString(kApplicationVersion, writer);
    appendCString("\n", writer);
    appendCString("Generated ", writer);
    appendDateTime(utcMs, " UTC, ", writer);
    appendDateTime(utcMs + zoneOffsetMs, " Local Time\n\n", writer);
}

void appendMemorySection(ByteWriter* writer, const Platform* platform, const UiState* ui) {
    appendCString("--- Memory Usage ---\n", writer);
    appendCString("Global Variables\n", writer);
    appendMemoryLine("   Profiling Regions: ", (i64)sizeof(Profiler), writer);
    appendMemoryLine("Static Allocation: ", (i64)platform->blockSize, writer);
    appendMemoryLine("   Platform: ", (i64)sizeof(Platform), writer);
    appendMemoryLine("   Renderer and Application: ", (i64)platform->applicationSize, writer);
    {
        i64 lineStart = writer->length;
        appendCString("      Image Memory Buffer: ", writer);
        appendInt64Padded((i64)ui->imageMemoryCapacity, lineStart + kDebugReportNumberColumn, writer);
        appendCString(" bytes (", writer);
        appendInt64((i64)ui->imageMemoryUsedBytes, writer);
        appendCString(" bytes used)\n", writer);
    }
    appendMemoryLine("      Renderer Interface: ", (i64)sizeof(Renderer), writer);
    appendMemoryLine("      Application: ", (i64)sizeof(AppState), writer);
    appendMemoryLine("         TileMaps: ", (i64)sizeof(TileMaps), writer);
    appendMemoryLine("         CopernicusDownloader: ", (i64)sizeof(CopernicusDownloader), writer);
    appendMemoryLine("         Drone: ", (i64)sizeof(DroneConnection), writer);
    appendMemoryLine("         FlightLogger: ", (i64)sizeof(FlightLogger), writer);
    appendMemoryLine("         FlightLogList: ", (i64)sizeof(FlightLogList), writer);
    appendMemoryLine("         OrvikGeofence: ", (i64)sizeof(OrvikGeofence), writer);
    appendMemoryLine("         OrvikDropLocations: ", (i64)sizeof(OrvikDropLocations), writer);
    appendMemoryLine("         DodireruDropLocations: ", (i64)sizeof(DodireruDropLocations), writer);
    appendMemoryLine("         WaypointMissionEditor: ", (i64)sizeof(WaypointMissionEditor), writer);
    appendMemoryLine("         TransectRegion: ", (i64)sizeof(TransectRegion), writer);
    appendMemoryLine("         MissionList: ", (i64)sizeof(MissionList), writer);
    appendMemoryLine("         VectorOverlayLoader: ", (i64)sizeof(VectorOverlayLoader), writer);
    appendMemoryLine("         RasterOverlayLoader: ", (i64)sizeof(RasterOverlayLoader), writer);
    appendMemoryLine("         OverlayList: ", (i64)sizeof(OverlayList), writer);
    appendMemoryLine("         KmzEditor: ", (i64)sizeof(KmzEditor), writer);
    appendMemoryLine("         ExportedKmzList: ", (i64)sizeof(ExportedKmzList), writer);
    appendMemoryLine("         ElevationMapLoader: ", (i64)sizeof(ElevationMapLoader), writer);
}

void appendFilesSection(ByteWriter* writer, const Platform* platform) {
    appendCString("Asset Files:\n", writer);
    appendHeldFiles(&platform->resourceReads, false, writer);
    appendCString("Filesystem Files:\n", writer);
    appendHeldFiles(&platform->fileReads, true, writer);
}

void appendSocketSection(ByteWriter* writer, const AppState* app) {
    appendCString("\n", writer);
    appendCString("--- Socket Status ---\n", writer);
    // Each DNS query leaves from a socket of its own, on a fresh port: a lookup's newest one is shown.
    for (i32 i = 0; i < kDnsLookups; i++) {
        FixedString label = formatInt("DNS Queries of lookup @", i + 1);
        label.text[label.length] = 0;
        appendSocketLine(label.text, newestDnsSocket(&app->dnsResolver, i), writer);
    }
    for (u32 i = 0; i < kDownloadSockets; i++) {
        appendCString("Generic File Download Socket ", writer);
        appendInt64(i + 1, writer);
        appendCString(": ", writer);
        appendInt64(app->downloadSockets[i].localPort, writer);
        appendCString(", ", writer);
        appendFixedStringRef(&app->downloadSockets[i].status, writer);
        appendCString("\n", writer);
    }
    appendSocketLine("Copernicus Downloads", &app->copernicusSocket, writer);
    const Socket* drone = &app->droneSocket;
    appendSocketLine("Drone MAVLink", drone, writer);
    if (drone->mode == SocketModeUdp) {
        for (i32 i = 0; i < kSocketPeers; i++) {
            if (!((drone->peerMask >> i) & 1)) continue;
            appendCString("   ", writer);
            appendFixedString(endpointString(&drone->peers[i].peer), writer);
            const AddressRecord* endpoint = &app->droneConnection.droneEndpoint;
            if (endpoint->family != 0 && sameEndpoint(&drone->peers[i].peer, endpoint)) {
                appendCString(" <-- Drone", writer);
            }
            appendCString("\n", writer);
        }
    }
    appendSocketLine("Camera MAVLink", &app->cameraSocket, writer);
    appendSocketLine("QV Video Stream", &app->qvVideoSocket, writer);
    appendListenerLine("MAVLink Listener", &app->relaySocket, writer);
    appendHelloCounts(&app->relayHost, RelayStreamMavlink, writer);
    appendListenerLine("Video Listener", &app->videoRelaySocket, writer);
    appendHelloCounts(&app->relayHost, RelayStreamVideo, writer);
    appendSocketLine("RTSP", &app->rtspSocket, writer);
    appendSocketLine("RTP", &app->rtpSocket, writer);
    appendSocketLine("RTCP", &app->rtcpSocket, writer);
    appendSocketLine("Simulator", &app->simulatorSocket, writer);
    appendSocketLine("Simulator KTQ Primary", &app->simulatorPayloadPrimarySocket, writer);
    appendSocketLine("Simulator KTQ Secondary", &app->simulatorPayloadSecondarySocket, writer);
}

void appendRendererSection(ByteWriter* writer, const UiState* ui) {
    appendCString("\n", writer);
    appendCString("--- Renderer Status ---\n", writer);
    appendRendererText(&ui->rendererLog, writer);
    appendCString("\n", writer);
}

void writeDebugReportText(ByteWriter* writer, AppState* app, const Platform* platform, const UiState* ui, i64 utcMs,
                          i64 zoneOffsetMs) {
    appendReportHeader(writer, utcMs, zoneOffsetMs);
    appendMemorySection(writer, platform, ui);
    appendFilesSection(writer, platform);
    // What the app cache's load did with the plan it kept: restored, or why nothing was.
    if (app->keptPlanNote.length) {
        FixedString line = formatStr("Plan in the app cache: @\n", app->keptPlanNote);
        appendFixedStringRef(&line, writer);
    }
    // Why a DualShock 4 that is there is read through the game-controller layer instead.
    if (platform->gamepadNote.length) {
        appendFixedStringRef(&platform->gamepadNote, writer);
        appendCString("\n", writer);
    }
    appendSocketSection(writer, app);
    appendRendererSection(writer, ui);
    appendProfilingReport(&globalProfiler, writer);
}

void queueDebugReport(AppState* app, Platform* platform, UiState* ui) {
    i64 utcMs = app->clocks.utcMilliseconds ? app->clocks.utcMilliseconds() : currentTimeMilliseconds();
    ByteWriter measure = makeMeasuringWriter();
    writeDebugReportText(&measure, app, platform, ui, utcMs, getTimeZoneOffsetMs());
    if (measure.length <= 0 || measure.length > 0xFFFFFFFFll) return;
    u8* buffer = allocateFileBuffer((u64)measure.length);
    if (!buffer) return;
    // The clocks are read again; text that grew since the measuring pass is cut at its length.
    utcMs = app->clocks.utcMilliseconds ? app->clocks.utcMilliseconds() : currentTimeMilliseconds();
    ByteWriter fill = makeByteWriter(buffer, measure.length);
    writeDebugReportText(&fill, app, platform, ui, utcMs, getTimeZoneOffsetMs());
    enqueueFileJob(makeString(kDebugReportPath), "text/plain", buffer, (u32)fill.length, 1, FileJobWrite,
                   &platform->fileJobs, nullptr);
}
