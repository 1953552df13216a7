// The widget core that every widget shares: the claiming of pointers at their press, press, click
// and hold tracking, rectangle and thick-segment hit tests, rectangle placement by anchor code, the
// push button, the clickable area of a scrolling view, and an image drawn into a rectangle.
// Widgets keep no objects: they are called every frame with a rectangle and a WidgetId and report
// what happened this frame.
#pragma once
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/Renderer/TextLayout.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/WidgetId.h"

struct ScreenStack;

constexpr u64 kClickMicroseconds = 250000;  // a release sooner than this after the press is a click
constexpr u64 kHoldMicroseconds = 250000;   // a press held this long is a hold

// Widget depths and colours shared by the toolkit.
constexpr f32 kRowDepth = 0.7f;
constexpr Color kTextWhite = 0xFFFFFFFF;
constexpr Color kSecondaryGrey = 0xFFC0C0C0;
constexpr Color kSelectionOrange = 0xFFE36400;
constexpr Color kButtonGrey = 0xFF505050;
constexpr Color kKeyGrey = 0xFF303030;
constexpr Color kPressedGrey = 0xFFC0C0C0;
constexpr Color kCheckedYellow = 0xFFCACC00;
constexpr Color kNoOutline = 0x00FFFFFF;

// Bits of PointerHit::pointerFlags.
enum PointerFlag : u32 {
    PointerFlagPressed = 1,
    PointerFlagRecent = 2,     // pressed for less than 250,000 us
    PointerFlagClaimed = 4,    // claimed this frame
    PointerFlagHeld = 8,       // pressed for 250,000 us or more
    PointerFlagHoldNew = 16,   // the hold was first seen this frame
    PointerFlagReleased = 32,
    PointerFlagClicked = 64,   // released as a click
};

struct PointerHit {
    u32 hovered;         // a present pointer is inside and no widget took its hover before
    u32 hoverUnblocked;  // a present pointer is inside and no opaque widget took its hover before
    u32 clicked;
    u32 down;
    u32 recentPress;
    f32 hoverX, hoverY;
    i32 primaryPointer;  // the owned pointer pressed first; -1 none
    u64 pointerMask;     // bit i: pointer i is owned by this widget
    u32 pointerFlags[5];
};

struct ButtonStyle {
    TextStyle textStyle;
    u32 anchor;        // of the label in its rectangle
    f32 textPadding;   // the label's rectangle is the button's narrowed by this on both sides
    f32 cornerRadius;
    Color fill;
    Color pressedFill;
    f32 outlineWidth;
};

struct ButtonResult {
    u32 clicked;
    u32 pressed;
    u32 held;
};

// How long a released pointer had been down by the last frame that saw it pressed. Input reaches
// the program once a frame, timed when it is read, so the frame that sees a release comes at least
// a frame after the press whatever the hold: a slow frame (a screen's first, or a busy machine)
// would turn a quick click into a long press. Judged by what the frames saw, a press is either a
// click or a hold that a frame reported, never lost between the two.
u64 heldWhenLastSeenPressed(const ScreenStack* stack, i32 slot);

// Bit i of each mask: pointer i's press position, resp. current position, is in the widget's area.
PointerHit trackPointerPresses(u32 pressInsideMask, u32 currentInsideMask, u32 opaque, ScreenStack* stack,
                               const WidgetId* id);
PointerHit rectHitTest(const Rect* rect, u32 opaque, ScreenStack* stack, const WidgetId* id);
// The area is every point within radius of the segment (a circle when its ends coincide), limited
// to the crop rectangle.
PointerHit circleHitTest(SegmentF32 segment, f32 radius, const Rect* crop, u32 opaque, ScreenStack* stack,
                         const WidgetId* id);
// Hands the held pointers of a hit on to the widgets tested after it in the same frame.
void resetPointerDrags(ScreenStack* stack, const PointerHit* hit);

bool pointInRect(const Rect& rect, f32 x, f32 y);
// Per side the larger x0, y0 and the smaller x1, y1 (may come out inverted when they do not meet).
Rect intersectRect(const Rect& a, const Rect& b);
// A box of the given size placed in the area by the anchor code.
Rect alignRect(f32 width, f32 height, i32 anchor, const Rect* area);
// The largest box of aspect width : height inside the area, placed by the anchor code; an empty
// aspect (a zero or non-finite width or height) gives an all-zero rectangle.
Rect fitRect(f32 width, f32 height, i32 anchor, const Rect* area);

ButtonResult button(FixedString label, const Rect* rect, const Rect* crop, f32 depth, const ButtonStyle* style,
                    UiState* ui, ScreenStack* stack, const WidgetId* id);
ButtonResult buttonState(const FixedString* label, const Rect* rect, f32 depth, const ButtonStyle* style, UiState* ui,
                         ScreenStack* stack, const WidgetId* id);
// A clickable area inside a scrolling or map view: the upper 32 bits of the result are 1 when it
// was clicked (a value above 0xFFFFFFFF).
u64 buttonBehavior(const Rect* rect, MapView* view, ScreenStack* stack);

enum IconKind : u32 {
    IconKindAsset = 0,
    IconKindSlot = 1,  // a dynamic image slot by its public id
};
// Draws the image fitted with its aspect into the rectangle by the anchor; returns the drawn area
// cut to the crop, or an all-zero rectangle when nothing was drawn (an empty or missing image, or a
// crop that misses it).
Rect drawIconInRect(const Rect* rect, const Rect* crop, f32 depth, u32 anchor, u32 kind, i32 index,
                    Textured2dBatch* batch, UiState* ui);
