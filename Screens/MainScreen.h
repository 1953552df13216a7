// The Main Screen, the home menu: the logo, the title, up to nine buttons in three rows of three
// that open every other screen, and the status texts of the drone link and the video stream. It is
// the only screen on the stack at start and stays at its bottom for the whole run.
#pragma once
#include "Core/GeometryTypes.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Screen.h"

struct UiMetrics;
struct VideoDecoder;

constexpr Color kMainScreenClearColor = 0xFF090314;
constexpr Color kMainButtonFill = 0xFF505050;
constexpr Color kMainButtonPressed = 0xFFC0C0C0;
constexpr Color kSharingPulseColor = 0xFF656600;
constexpr u64 kDroneConnectedWithin = 3000000;      // us since the last drone message
constexpr u64 kPermissionWarningPeriod = 3000000;   // us; the warning shows in every other period
constexpr u64 kRelayHostHeardWithin = 2100000;      // us
constexpr u64 kControllingPeerHeardWithin = 1300000;
constexpr i32 kMainStatusTextBytes = 256;
// Lines kept for each status box whatever its text: the link box's four (connection, a missing
// grant, the link fingerprint, the device relayed) and as many for the video box.
constexpr i32 kMainStatusLines = 4;
// The status texts' outline, as a fraction of the text height: the lines cross the logo.
constexpr f32 kMainStatusOutline = 0.12f;
constexpr Color kMainStatusOutlineColor = 0xFF000000;

// Where the Main Screen puts things this frame.
struct MainScreenLayout {
    LayoutCells cells;  // 11 cells from top to bottom
    Rect buttons[3][3]; // row, column
    Rect linkStatus;    // cells 7 and 8; its text is aligned to its bottom
    Rect videoStatus;   // cells 9 and 10; its text is aligned to its top
};

// The screen's buttons by row and column, and what each opens.
enum MainScreenButton : i32 {
    MainButtonDownloadMaps = 0,
    MainButtonAppSettings,
    MainButtonFly,
    MainButtonMapOverlays,
    MainButtonOrvikSetup,
    MainButtonFlightLogs,
    MainButtonElevationMaps,
    MainButtonDroneSetup,
    MainButtonDebug,
    kMainScreenButtons,
};

extern const char* const mainScreenButtonLabels[kMainScreenButtons];
extern const ScreenFunction mainScreenButtonTargets[kMainScreenButtons];

// The frame's clear colour from an RGBA8 colour (red in the lowest byte; alpha is not used).
void setClearColor(UiState* ui, Color color);

// The layout for the logo's drawn height, keeping the status boxes clearWidth from either side of
// the screen (the corner button's room). Nothing in it depends on the status texts: each box keeps
// room for kMainStatusLines lines below the buttons, and where the window is short only the logo's
// room above the title yields.
MainScreenLayout mainScreenLayout(const UiMetrics* metrics, Rect screen, f32 logoHeight, f32 clearWidth);
// The status boxes for the lines their texts take at the boxes' width: a text longer than its box
// takes the lines the other box leaves unused (the line between the two texts moves; nothing else).
void fitMainStatusBoxes(MainScreenLayout* layout, const UiMetrics* metrics, i64 linkLines, i64 videoLines);
// The style of the status texts: white with a dark outline, readable over the logo.
TextStyle mainStatusTextStyle(const UiMetrics* metrics);
// Whether a button is on screen: "DOWNLOAD MAPS" and "DEBUG" only in developer mode.
bool mainScreenButtonShown(i32 button, u32 developerMode);

// The two status texts, each cut at 256 bytes by the writer's capacity.
void writeLinkStatusText(ByteWriter* writer, const Platform* platform, const AppState* app, u64 now);
void writeVideoStatusText(ByteWriter* writer, const AppState* app, const VideoDecoder* decoder, u64 now);

// The pulse of a waiting sharing request: from the base colour (t = 0) to the pulse colour at each
// whole second.
Color sharingPulse(Color base, u64 now);

void mainScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                void* scratch);
