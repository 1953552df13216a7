// Where video comes from, and the video itself: the list of sources that fit the device this
// program runs on, the operator's own source, and the decoded picture full screen. The first two only
// write preferences; the stream clients follow them on their next frame.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Network/NetworkInterfaces.h"
#include "Network/SecureLink.h"
#include "Platform/Platform.h"
#include "Screens/DroneSetup/DroneSetupRows.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/TextEdit.h"
#include "SourceCommon/UserInterface/Widgets.h"
#include "Video/VideoDecoder.h"

namespace {

constexpr Color kTagTextColor = 0xFFFFFFFF;
constexpr Color kTagColor = 0xFFE36400;
constexpr i32 kVideoInterfaceChoices = 10;

const char* const kProtocolNames[] = {"N/A", "QV", "RTSP"};

struct RtspPreset {
    const char* title;
    u8 address[4];
    u16 port;
    const char* path;
};

const RtspPreset kRtspPresets[] = {
    {"This app is running on a RU Veve Controller / Herelink, HDMI video", {192, 168, 0, 10}, 8554, "/H264Video"},
    {"This app is running on a Pilot Pro, HDMI video", {192, 168, 144, 10}, 8554, "/H264Video"},
    {"NextVision TRIP Ethernet video", {192, 168, 144, 203}, 8554, "/video"},
    {"Vezod 1 (Mapping Kit or USB Camera)", {192, 168, 144, 20}, 8553, "/stream1"},
    {"Vezod 2 (Mapping Kit if USB Camera is also connected)", {192, 168, 144, 20}, 8553, "/stream2"},
    {"MegaPixel Network FPV Cam", {192, 168, 144, 200}, 554, "/stream0"},
};

struct QvPreset {
    const char* title;
    u8 address[4];
    i32 icon;
};

const QvPreset kQvPresets[] = {
    {"Connected to RU Veve Controller / Herelink Hotspot running Pelvar app", {192, 168, 43, 1}, 87},
    {"Connected to Pilot Pro with Herelink radio via Ethernet running Orvik app", {192, 168, 144, 11}, 88},
};

FixedString presetUrl(const RtspPreset* preset) {
    AddressRecord address = makeAddressRecord(4, preset->address, preset->port);
    return formatCstrCstr("rtsp://@@", endpointString(&address).text, preset->path);
}

void drawTag(const RowResult* row, const char* tag, const MapView* view, UiState* ui) {
    if (!row->visible) return;
    const Rect& r = row->layout.rowRect;
    f32 size = 0.6f * (r.y1 - r.y0);
    Rect box{r.x1 - 4 * size, r.x1 - view->padding, (r.y0 + r.y1) / 2 - size / 2, (r.y0 + r.y1) / 2 + size / 2};
    TextStyle style{kTagTextColor, kTagColor, kTagColor, size * 0.8f, 0.15f, 0};
    drawLabelInRect(ui, makeString(tag), AnchorCentre, kRowDepth - 0.01f, box, style);
}

struct CustomVideoScreenState {
    u32 initialised;
    MapView listView;
    FixedString protocolLabels[3];
    FixedString editBuffer;
    FixedString portMessage;  // why the last port entry was refused
    i32 interfaceCount;
    FixedString interfaceLabels[kVideoInterfaceChoices + 1];
    FixedString interfaceValues[kVideoInterfaceChoices + 1];
};

}  // namespace

FixedString customVideoPortEntry(const FixedString* entry, AddressRecord* server) {
    i64 position = 0;
    i64 port = parseInteger((const u8*)entry->text, &position, entry->length, 0);
    if (port < 0 || port > 65535) return formatInt("Port @ is not between 0 and 65535", port);
    server->port = (u16)port;
    return FixedString{};
}

ORVIK_SCREEN_FUNCTION(selectVideoStreamConnectionScreen) {
    (void)scratch;
    ProfilingScope scope("Select Video Stream Connection Screen");
    MapView* view = (MapView*)scratch;
    u32* initialised = (u32*)((u8*)scratch + sizeof(MapView));
    if (!*initialised) {
        *initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    Preferences* preferences = &app->preferences;
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = makeString("Configure custom video stream connection");
        FixedString text = makeString("Specify a different IP address and port to connect to");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = configureCustomVideoStreamConnectionScreen;
    }
    {
        FixedString title = makeString("No Video Stream");
        FixedString text = makeString("Disables video streaming");
        RowResult row = buttonRow(&title, &text, 0, stack, ui, view);
        drawTag(&row, "N/A", view, ui);
        if (row.clicked) {
            preferences->videoStreamProtocol = VideoStreamNone;
            preferences->qvVideoServerAddress = AddressRecord{};
            result->back = 1;
        }
    }
    u32 custom = preferences->customVideoStreamProtocol;
    if (custom != VideoStreamNone) {
        FixedString title = makeString("Custom Connection");
        FixedString text = custom == VideoStreamRtsp ? preferences->customRtspUrl
                                                     : endpointString(&preferences->customQvVideoServerAddress);
        RowResult row = buttonRow(&title, &text, 0, stack, ui, view);
        drawTag(&row, custom < 3 ? kProtocolNames[custom] : "?", view, ui);
        if (row.clicked) {
            preferences->videoStreamProtocol = custom;
            if (custom == VideoStreamRtsp) preferences->rtspUrl = preferences->customRtspUrl;
            if (custom == VideoStreamQv) preferences->qvVideoServerAddress = preferences->customQvVideoServerAddress;
            result->back = 1;
        }
    }
    const FixedString* product = &platform->biosProductName;
    const FixedString* maker = &platform->biosManufacturer;
    i32 firstRtsp = -1;
    if (equals(*product, "optimus") && equals(*maker, "CubePilot")) firstRtsp = 0;
    else if (equals(*product, "gtactive3") && equals(*maker, "samsung")) firstRtsp = 1;
    if (firstRtsp >= 0) {
        for (i32 i = 0; i < 6; i++) {
            if (i < 2 && i != firstRtsp) continue;
            FixedString title = makeString(kRtspPresets[i].title);
            FixedString url = presetUrl(&kRtspPresets[i]);
            RowResult row = buttonRow(&title, &url, 0, stack, ui, view);
            drawTag(&row, "RTSP", view, ui);
            if (row.clicked) {
                preferences->rtspUrl = url;
                preferences->videoStreamProtocol = VideoStreamRtsp;
                result->back = 1;
            }
        }
    } else {
        for (const QvPreset& preset : kQvPresets) {
            FixedString title = makeString(preset.title);
            AddressRecord server = makeAddressRecord(4, preset.address, kSecureLinkVideoPort);
            FixedString text = endpointString(&server);
            RowResult row = buttonRow(&title, &text, 1, stack, ui, view);
            if (row.visible) {
                drawIconInRect(&row.layout.iconRect, &view->clipRect, kRowDepth - 0.01f, AnchorCentre, IconKindAsset,
                               preset.icon, &ui->batches.textured2d, ui);
            }
            if (row.clicked) {
                preferences->qvVideoServerAddress = server;
                preferences->videoStreamProtocol = VideoStreamQv;
                result->back = 1;
            }
        }
    }
    endMapView(stack, ui, view);
}

ORVIK_SCREEN_FUNCTION(configureCustomVideoStreamConnectionScreen) {
    (void)result;
    ProfilingScope scope("Configure Custom Video Stream Connection Screen");
    CustomVideoScreenState* state = (CustomVideoScreenState*)scratch;
    MapView* view = &state->listView;
    Preferences* preferences = &app->preferences;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
        for (i32 i = 0; i < 3; i++) state->protocolLabels[i] = makeString(kProtocolNames[i]);
        AddressRecord addresses[kVideoInterfaceChoices];
        FixedString names[kVideoInterfaceChoices];
        i32 found = listNetworkInterfaces(addresses, names, kVideoInterfaceChoices, 4);
        state->interfaceLabels[0] = makeString("Any");
        state->interfaceValues[0] = FixedString{};
        state->interfaceCount = 1;
        for (i32 i = 0; i < found && i < kVideoInterfaceChoices; i++) {
            FixedString address = addressString(&addresses[i]);
            state->interfaceLabels[state->interfaceCount] = formatStrStr("@ (@)", names[i], address);
            state->interfaceValues[state->interfaceCount] = names[i].length ? names[i] : address;
            state->interfaceCount++;
        }
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = makeString("Protocol");
        u32 protocol = preferences->customVideoStreamProtocol;
        i32 current = protocol < 3 ? (i32)protocol : -1;
        FixedString fallback{};
        if (current < 0) fallback = formatInt("Unknown Value (@)", (i64)protocol);
        i32 selected = current;
        WidgetId rowId = WIDGET_ID;
        ChoiceRowResult r = choiceRow(&title, &fallback, current, &selected, state->protocolLabels, 3, 0, stack, ui,
                                      view, &rowId);
        if (r.changed && selected >= 0 && selected < 3) preferences->customVideoStreamProtocol = (u32)selected;
    }
    if (preferences->customVideoStreamProtocol == VideoStreamRtsp) {
        FixedString title = makeString("RTSP URL");
        FixedString value = preferences->customRtspUrl;
        WidgetId rowId = WIDGET_ID;
        // Each field's edit starts from what it holds (the rows share one edit buffer).
        startEntryWithText(view, &rowId, &stack->runner.textFocus, TextKeyboardFull, &state->editBuffer,
                           preferences->customRtspUrl);
        TextFieldRowResult r = textFieldRow(&title, &value, &state->editBuffer, &value, TextKeyboardFull, 0, stack, ui,
                                            &stack->runner.textFocus, view, &rowId);
        if (r.submitted) {
            preferences->customRtspUrl = state->editBuffer;
            view->openRowId = WidgetId{};
        }
    }
    if (preferences->customVideoStreamProtocol == VideoStreamQv) {
        AddressRecord* server = &preferences->customQvVideoServerAddress;
        u8 zero[16] = {};
        {
            FixedString title = makeString("Server IP Address");
            FixedString value = memcmp(server->address, zero, 16) == 0 ? makeString("Unspecified") : addressString(server);
            WidgetId rowId = WIDGET_ID;
            startEntryWithText(view, &rowId, &stack->runner.textFocus, TextKeyboardNumpad, &state->editBuffer,
                               memcmp(server->address, zero, 16) == 0 ? FixedString{} : addressString(server));
            TextFieldRowResult r = textFieldRow(&title, &value, &state->editBuffer, &value, TextKeyboardNumpad, 0, stack,
                                                ui, &stack->runner.textFocus, view, &rowId);
            if (r.submitted) {
                u64 position = 0;
                AddressRecord entered =
                    parseIpAddress((const u8*)state->editBuffer.text, &position, state->editBuffer.length);
                server->family = entered.family;
                memcpy(server->address, entered.address, 16);
                view->openRowId = WidgetId{};
            }
        }
        {
            FixedString title = makeString("Server Port");
            FixedString value = state->portMessage.length ? state->portMessage
                                : server->port                ? formatInt("@", server->port)
                                                              : makeString("Unspecified");
            WidgetId rowId = WIDGET_ID;
            startEntryWithText(view, &rowId, &stack->runner.textFocus, TextKeyboardNumpad, &state->editBuffer,
                               server->port ? formatInt("@", server->port) : FixedString{});
            TextFieldRowResult r = textFieldRow(&title, &value, &state->editBuffer, &value, TextKeyboardNumpad, 0, stack,
                                                ui, &stack->runner.textFocus, view, &rowId);
            if (r.submitted) {
                state->portMessage = customVideoPortEntry(&state->editBuffer, server);
                view->openRowId = WidgetId{};
            }
        }
    }
    {
        FixedString title = makeString("Local Network Interface");
        i32 current = -1;
        for (i32 i = 0; i < state->interfaceCount; i++) {
            if (equals(state->interfaceValues[i], preferences->customVideoNetworkInterface)) current = i;
        }
        FixedString description = current < 0 ? preferences->customVideoNetworkInterface : FixedString{};
        i32 selected = current;
        WidgetId rowId = WIDGET_ID;
        ChoiceRowResult r = choiceRow(&title, &description, current, &selected, state->interfaceLabels,
                                      state->interfaceCount, 0, stack, ui, view, &rowId);
        if (r.changed && selected >= 0 && selected < state->interfaceCount) {
            preferences->customVideoNetworkInterface = state->interfaceValues[selected];
        }
    }
    endMapView(stack, ui, view);
}

ORVIK_SCREEN_FUNCTION(videoStreamScreen) {
    (void)app;
    (void)stack;
    (void)result;
    (void)scratch;
    (void)platform;
    ProfilingScope scope("Video Stream Screen");
    ui->clearColor[0] = 0;
    ui->clearColor[1] = 0;
    ui->clearColor[2] = 0;
    VideoDecoder* decoder = programVideoDecoder();
    if (decoder && decoder->imageSlotId) {
        drawIconInRect(&ui->screenRect, &ui->screenRect, 0.5f, AnchorCentre, IconKindSlot, (i32)decoder->imageSlotId,
                       &ui->batches.textured2d, ui);
    }
}
