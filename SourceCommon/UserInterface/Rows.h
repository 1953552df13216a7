// The rows of list screens, laid out one under another at a scrolling view's layout cursor:
// information, checkbox, button, expandable, choice and swipe-picker rows; the splitting of a
// rectangle into cells; and the scroll bar of a view. Rows draw at depth 0.7 cropped to the view's
// clip rectangle and take their sizes from the view's text metrics.
#pragma once
#include "SourceCommon/UserInterface/Widgets.h"

struct RowLayout {
    Rect iconRect;
    Rect sideRect;  // the square-ish box at the right end of the row
    Rect titleRect;
    Rect descriptionRect;
    Rect rowRect;   // the whole row in window pixels
    f64 contentX0, contentX1, contentY0, contentY1;  // the row in content units
};

struct RowResult {
    RowLayout layout;
    u32 visible;
    u32 clicked;
};

struct ExpandableRowResult {
    RowLayout layout;
    u32 visible;
    u32 expanded;
    u32 justOpened;
    Rect area;  // the space opened under the row
};

struct ChoiceRowResult {
    RowLayout layout;
    u32 expanded;
    u32 justOpened;
    u32 visible;
    u32 changed;
    Rect firstOptionRect;
    f32 optionHeight;  // 2 T
    f32 labelsRight;   // the rightmost end of the option labels drawn
};

struct StepperRowResult {
    RowLayout layout;
    u32 expanded;
    u32 justOpened;
    u32 visible;
    u32 changed;
};

constexpr i32 kMaxLayoutCells = 20;

struct LayoutCells {
    Rect cells[kMaxLayoutCells];
};

enum LayoutAxis : u32 {
    LayoutAlongY = 0,  // top to bottom
    LayoutAlongX = 1,  // left to right
};

// The style of row titles, descriptions and option labels for a view's text size.
TextStyle rowTitleStyle(const MapView* view);
TextStyle rowLabelStyle(const MapView* view);

// The grey buttons placed in a row's opened area.
ButtonStyle rowButtonStyle(const MapView* view);

RowLayout widgetRectFromLayout(u32 hasIcon, u32 hasSide, const MapView* view);
// A description for the one line of a row laid out with hasIcon and hasSide: the text when it fits,
// else its first keepStart bytes, an ellipsis and as much of its end as fits (cutTextInMiddle).
FixedString rowDescriptionCutInMiddle(const FixedString& text, i64 keepStart, u32 hasIcon, u32 hasSide,
                                      const MapView* view, UiState* ui);
RowResult infoRow(const FixedString* title, const FixedString* value, u32 hasIcon, UiState* ui, MapView* view);
RowResult checkboxRow(const FixedString* title, const FixedString* description, u32 hasIcon, i32 checked,
                      ScreenStack* stack, UiState* ui, MapView* view);
RowResult buttonRow(const FixedString* title, const FixedString* description, u32 hasIcon, ScreenStack* stack,
                    UiState* ui, MapView* view);
ExpandableRowResult optionGridRow(const FixedString* title, const FixedString* description, f32 extraHeight,
                                  u32 hasIcon, ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id);
ChoiceRowResult choiceRow(const FixedString* title, const FixedString* description, i32 current, i32* selected,
                          const FixedString options[], i32 count, u32 hasIcon, ScreenStack* stack, UiState* ui,
                          MapView* view, const WidgetId* id);
ChoiceRowResult choiceRowBody(const FixedString* title, const FixedString* description, const FixedString* note,
                              i32 current, i32* selected, const FixedString options[], i32 count, u32 hasIcon,
                              ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id);
// A horizontal swipe picker; itemWidth in text sizes (items are 2 x itemWidth x T apart).
StepperRowResult stepperRow(const FixedString* title, const FixedString* description, i32 current, u32* selected,
                            const FixedString options[], i32 count, f32 itemWidth, u32 hasIcon, ScreenStack* stack,
                            UiState* ui, MapView* view, const WidgetId* id);

// Sizes: positive a fixed length, zero or -w a weight w; null sizes give equal cells. At most 20
// cells; those beyond count are all zero.
LayoutCells splitLayout(u32 axis, const f32* sizes, i32 count, f32 spacing, const Rect* area);

// side 3 the left edge, 7 the right edge; any other side draws nothing.
void drawViewScrollbar(u32 side, Color colour, f32 depth, const MapView* view, UiState* ui);
// The thumb of a scroll bar over the rectangle for a content range and its visible part; an empty
// content range gives an all-zero rectangle (nothing to draw).
Rect scrollbarThumb(u32 side, f32 thickness, const Rect* rect, f64 contentMin, f64 contentMax, f64 visibleMin,
                    f64 visibleMax);
