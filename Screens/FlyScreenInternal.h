// The fly screen's own units, shared by its files.
#pragma once
#include "Screens/FlyScreen.h"

// Depths: the main map's layers are offsets added to its base depth; the mini view lies above the
// main view, the top bar's background and the panels above both.
constexpr f32 kMainViewDepth = 0.1f;
constexpr f32 kMiniViewDepth = 0.3f;
constexpr f32 kVideoDepth = 0.05f;
constexpr f32 kHudLayerDepth = 0.5f;
constexpr f32 kKeyPadDepth = 0.55f;
constexpr f32 kTopBarBackgroundDepth = 0.85f;
constexpr f32 kPanelDepth = 0.9f;
constexpr f32 kTopBarDepth = 0.95f;

// A normalised Web-Mercator x moved by whole turns into [-0.5, 0.5).
f64 wrapWorldX(f64 x);
ButtonStyle flyButtonStyle(const UiMetrics* metrics);

void drawFlyTopBar(FlyScreenFrame* frame);
// The video pass as mini view (videoMain 0) or main view (1).
void drawFlyVideoPass(FlyScreenFrame* frame, u32 videoMain);
// The map pass as main view (miniView 0) or mini view (1); collects the frame's map taps.
void drawFlyMapPass(FlyScreenFrame* frame, u32 miniView, MapTaps* taps);
// The mini view's box by the "Minimap/Minivideo corner" preference.
Rect flyMiniViewRect(const FlyScreenFrame* frame);
// Moves the mini view by the earliest held pointer that pressed it; sets the corner preference.
void dragFlyMiniView(FlyScreenFrame* frame, const PointerHit* hit);

// Map taps by openPanel.
void addTappedWaypoint(FlyScreenFrame* frame, Vec2 point);
void addKmzItemAtTap(FlyScreenFrame* frame, Vec2 point);
