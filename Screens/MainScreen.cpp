#include "Screens/MainScreen.h"

#include <cmath>

#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Drone/SharingRequest.h"
#include "Network/Address.h"
#include "Platform/Platform.h"
#include "Screens/ChildScreens.h"
#include "Screens/PickQvFolderScreen.h"
#include "Screens/SettingsScreen.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "Video/VideoDecoder.h"

const char* const mainScreenButtonLabels[kMainScreenButtons] = {
    "DOWNLOAD MAPS", "APP SETTINGS", "FLY",
    "MAP OVERLAYS", "ORVIK SETUP", "FLIGHT LOGS",
    "ELEVATION MAPS", "DRONE SETUP", "DEBUG",
};

const ScreenFunction mainScreenButtonTargets[kMainScreenButtons] = {
    selectCopernicusRegionScreen, settingsScreen, flyScreen,
    overlaysScreen, selectOrvikSetupConnectionScreen, flightLogsScreen,
    selectElevationDataSourceScreen, droneSetupScreen, testSelectorScreen,
};

namespace {

bool grantsMissing(const Platform* platform) {
    return platform->documentsFolderAccess == 0 || platform->appFolderAccess == 0;
}

// Microseconds since an event, or the largest value for an event in the future.
u64 since(u64 now, u64 time) { return now >= time ? now - time : ~0ull; }

TextSlice withoutLastBreak(TextSlice text) {
    if (text.length > 0 && text.text[text.length - 1] == '\n') text.length--;
    return text;
}

const VideoDecoder* currentVideoDecoder() {
    return globalMemory ? globalMemory->head.videoDecoder : nullptr;
}

}  // namespace

void setClearColor(UiState* ui, Color color) {
    ui->clearColor[0] = (u8)(color & 0xFF);
    ui->clearColor[1] = (u8)((color >> 8) & 0xFF);
    ui->clearColor[2] = (u8)((color >> 16) & 0xFF);
}

TextStyle mainStatusTextStyle(const UiMetrics* m) {
    return TextStyle{kTextWhite, kMainStatusOutlineColor, kSelectionOrange, m->textHeight, kMainStatusOutline, 0};
}

namespace {

// The height of a box that holds this many lines of the status style (half a pixel more, so that no
// rounding drops the last).
f32 statusBoxHeight(const UiMetrics* m, i64 lines) {
    return (f32)lines * m->textHeight + 2 * kMainStatusOutline * m->textHeight + 0.5f;
}

}  // namespace

MainScreenLayout mainScreenLayout(const UiMetrics* m, Rect screen, f32 logoHeight, f32 clearWidth) {
    MainScreenLayout layout{};
    f32 gap = 2 * m->margin;
    Rect content{screen.x0 + gap, screen.x1 - gap, screen.y0 + gap, screen.y1 - gap};
    f32 box = statusBoxHeight(m, kMainStatusLines);
    f32 sizes[11] = {0.35f * logoHeight, -1, m->buttonHeight, 0, m->buttonHeight, m->buttonHeight,
                     m->buttonHeight, -1, box, box, -1};
    // What the content cannot give is taken from the logo's room above the title.
    f32 available = content.y1 - content.y0 - 10 * gap;
    f32 fixed = 0;
    for (f32 size : sizes) fixed += size > 0 ? size : 0;
    if (fixed > available) sizes[0] = sizes[0] > fixed - available ? sizes[0] - (fixed - available) : 0;
    layout.cells = splitLayout(LayoutAlongY, sizes, 11, gap, &content);
    for (i32 row = 0; row < 3; row++) {
        Rect cell = layout.cells.cells[4 + row];
        f32 width = (cell.x1 - cell.x0 - 4 * m->margin) / 3;
        for (i32 column = 0; column < 3; column++) {
            f32 x0 = cell.x0 + column * (width + gap);
            layout.buttons[row][column] = Rect{x0, x0 + width, cell.y0, cell.y1};
        }
    }
    const Rect* c = layout.cells.cells;
    // The texts are centred: kept clear of the corner button on the left, and as far from the right.
    f32 x0 = screen.x0 + clearWidth > c[7].x0 ? screen.x0 + clearWidth : c[7].x0;
    f32 x1 = screen.x1 - clearWidth < c[7].x1 ? screen.x1 - clearWidth : c[7].x1;
    if (x1 < x0) x1 = x0;
    layout.linkStatus = Rect{x0, x1, c[8].y0, c[7].y1};
    layout.videoStatus = Rect{x0, x1, c[10].y0, c[9].y1};
    return layout;
}

void fitMainStatusBoxes(MainScreenLayout* layout, const UiMetrics* m, i64 linkLines, i64 videoLines) {
    Rect* link = &layout->linkStatus;
    Rect* video = &layout->videoStatus;
    f32 linkOver = statusBoxHeight(m, linkLines) - (link->y1 - link->y0);
    f32 videoOver = statusBoxHeight(m, videoLines) - (video->y1 - video->y0);
    // The gap between the boxes stays; the line between the texts moves by what one box lacks and
    // the other has to spare (down when the link box lacks room, up when the video box does).
    f32 move = 0;
    if (linkOver > 0 && videoOver < 0) move = -(linkOver < -videoOver ? linkOver : -videoOver);
    if (videoOver > 0 && linkOver < 0) move = videoOver < -linkOver ? videoOver : -linkOver;
    link->y0 += move;
    video->y1 += move;
}

bool mainScreenButtonShown(i32 button, u32 developerMode) {
    if (button == MainButtonDownloadMaps || button == MainButtonDebug) return developerMode != 0;
    return button >= 0 && button < kMainScreenButtons;
}

static FixedString sharingPeerName(const SecureLinkPeer* peer) {
    return peer->name.length ? peer->name : addressString(&peer->address);
}

void writeLinkStatusText(ByteWriter* writer, const Platform* platform, const AppState* app, u64 now) {
    if (grantsMissing(platform) && (now / kPermissionWarningPeriod) % 2 == 1) {
        appendCString("The app is missing necessary permissions. Restart to re-request them.\n"
                      "The app won't be able to save anything.",
                      writer);
        return;
    }
    appendCString("MAVLink Connection:\t", writer);
    if (app->preferences.droneConnection != DroneConnectionIp && app->simulatorRunning == 0) {
        appendCString("None selected\n", writer);
        return;
    }
    u64 last = app->droneConnection.lastDroneMessageTime;
    if (last != 0 && since(now, last) <= kDroneConnectedWithin) {
        appendCString("Connected to Drone", writer);
    } else {
        appendFixedStringRef(&app->droneSocket.status, writer);
    }
    const SecureLinkClient* client = &app->droneConnection.secureLinkClient;
    if (client->active && since(now, client->lastHostDatagramTime) < kRelayHostHeardWithin) {
        bool controls = since(now, client->lastControlGrantTime) <= kRelayHostHeardWithin;
        if (since(now, client->lastTelemetryTime) > kRelayHostHeardWithin) {
            appendCString("\nEnable \"Share Telemetry\" on the other app", writer);
        } else if (!controls && since(now, client->lastControlAwaitedTime) <= kRelayHostHeardWithin) {
            appendCString("\nControl granted, waiting for the other app to confirm it", writer);
        } else if (!controls) {
            appendCString("\nControl is not granted by the other app", writer);
        }
        // The other app shows the same fingerprint where it grants control.
        FixedString fingerprint = secureLinkClientFingerprint(client);
        if (fingerprint.length) {
            appendCString("\nLink fingerprint ", writer);
            appendFixedStringRef(&fingerprint, writer);
        }
    }
    // The device granted control: relaying its control, or what the grant waits for.
    const SecureLinkPeer* peer = app->relayHost.controllingPeer;
    const SecureLinkPeer* grantee = secureLinkControlGrantee(&app->relayHost);
    if (peer && since(now, peer->heardTimes[RelayStreamMavlink]) < kControllingPeerHeardWithin) {
        appendCString("\nRelaying control from ", writer);
        appendFixedString(sharingPeerName(peer), writer);
    } else if (grantee && app->preferences.relayModePort != 0) {
        appendCString("\nControl granted to ", writer);
        appendFixedString(sharingPeerName(grantee), writer);
        if (grantee->lastHeardTime && since(now, grantee->lastHeardTime) < kSecureLinkPeerSilence) {
            appendCString(", waiting for it to confirm its password", writer);
        } else {
            appendCString(", waiting to hear from it", writer);
        }
    }
    appendCString("\n", writer);
}

void writeVideoStatusText(ByteWriter* writer, const AppState* app, const VideoDecoder* decoder, u64 now) {
    appendCString("Video Stream:\t", writer);
    u32 protocol = app->preferences.videoStreamProtocol;
    if (protocol == VideoStreamQv) {
        appendFixedStringRef(&app->qvVideoStream.stats.status, writer);
        const SecureLinkClient* client = &app->droneConnection.secureLinkClient;
        if (client->active && since(now, client->lastHostDatagramTime) < kRelayHostHeardWithin &&
            since(now, client->lastVideoTime) > kRelayHostHeardWithin) {
            appendCString("\nEnable \"Share Video\" on the other app", writer);
        }
    } else if (protocol == VideoStreamRtsp) {
        appendFixedStringRef(&app->rtspVideoStream.stats.status, writer);
    } else {
        appendCString("None selected", writer);
    }
    appendCString("\n", writer);
    if (decoder && decoder->error.length) {
        appendFixedStringRef(&decoder->error, writer);
        appendCString("\n", writer);
    }
}

Color sharingPulse(Color base, u64 now) {
    f64 fraction = (f64)(now % 1000000) / 1000000.0;
    return blendColor(base, kSharingPulseColor, (f32)(0.5 + 0.5 * std::cos(2 * M_PI * fraction)));
}

void mainScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                void* scratch) {
    (void)scratch;
    u32* folderPickerOffered = &app->mainScreenWord;
    if (grantsMissing(platform) && *folderPickerOffered == 0) {
        setClearColor(ui, 0xFF000000);
        *folderPickerOffered = 1;
        result->next = pickQvFolderScreen;
        return;
    }
    ProfilingScope scope("Main Screen");
    setClearColor(ui, kMainScreenClearColor);
    u64 now = stack->now;
    const UiMetrics* m = &app->uiMetrics;
    Rect screen = ui->screenRect;

    Rect logo = drawIconInRect(&screen, &screen, 0.001f, AnchorTopCentre, IconKindAsset, AssetLogo,
                               &ui->batches.textured2d, ui);
    TextStyle statusStyle = mainStatusTextStyle(m);
    u8 linkBytes[kMainStatusTextBytes];
    ByteWriter link = makeByteWriter(linkBytes, sizeof(linkBytes));
    writeLinkStatusText(&link, platform, app, now);
    u8 videoBytes[kMainStatusTextBytes];
    ByteWriter video = makeByteWriter(videoBytes, sizeof(videoBytes));
    writeVideoStatusText(&video, app, currentVideoDecoder(), now);
    const FontRecord* font = uiTextTarget(ui).font;
    // The texts' last line break ends their last line: no empty line is drawn after it.
    TextSlice linkText = withoutLastBreak(TextSlice{linkBytes, link.length});
    TextSlice videoText = withoutLastBreak(TextSlice{videoBytes, video.length});
    MainScreenLayout layout = mainScreenLayout(m, screen, logo.y1 - logo.y0, stack->runner.reservedWidth);
    f32 textWidth = layout.linkStatus.x1 - layout.linkStatus.x0;
    fitMainStatusBoxes(&layout, m, textBoxLineCount(linkText, textWidth, statusStyle, font),
                       textBoxLineCount(videoText, textWidth, statusStyle, font));

    TextStyle title{kTextWhite, kNoOutline, kSelectionOrange, 1.7f * m->buttonTextHeight, 0, 0};
    const Rect& titleCell = layout.cells.cells[2];
    drawTextAt(ui, makeString("TARNWICK"), AnchorCentre,
               Vec2F32{(titleCell.x0 + titleCell.x1) / 2, (titleCell.y0 + titleCell.y1) / 2}, 0.002f, screen, title);

    drawCharsInRect(ui, linkText, AnchorBottomCentre, 0.002f, layout.linkStatus, screen, statusStyle);
    drawCharsInRect(ui, videoText, AnchorTopCentre, 0.002f, layout.videoStatus, screen, statusStyle);

    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, m->buttonTextHeight, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = m->margin;
    style.cornerRadius = 0.1f * m->buttonHeight;
    style.fill = kMainButtonFill;
    style.pressedFill = kMainButtonPressed;
    style.outlineWidth = 0.5f * m->margin;
    ButtonStyle settingsStyle = style;
    if (hasPendingSharingRequest(&app->relayHost, &app->preferences)) {
        settingsStyle.fill = sharingPulse(kMainButtonFill, now);
    }

    // One id per button, each from its own line.
    const WidgetId ids[kMainScreenButtons] = {
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
    };
    for (i32 i = 0; i < kMainScreenButtons; i++) {
        if (!mainScreenButtonShown(i, app->preferences.developerMode)) continue;
        const Rect& rect = layout.buttons[i / 3][i % 3];
        const ButtonStyle* s = i == MainButtonAppSettings ? &settingsStyle : &style;
        if (button(makeString(mainScreenButtonLabels[i]), &rect, &screen, 0.5f, s, ui, stack, &ids[i]).clicked) {
            result->next = mainScreenButtonTargets[i];
        }
    }
}
