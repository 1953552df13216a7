#include "SourceCommon/UserInterface/OnScreenKeyboard.h"

#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr f32 kKeyDepth = 0.99f;
constexpr f32 kBackdropDepth = 0.98f;
constexpr Color kBackdrop = 0xFF000000;

// Keys that queue their event when clicked rather than when they go down.
enum ClickAction : i32 {
    ActionNone = 0,
    ActionDone,
    ActionCopy,
    ActionPaste,
    ActionSelectAll,
    ActionCapsLock,
};

struct KeyDef {
    i32 virtualKey;   // 0 for the click-action keys
    f32 weight;
    const char* word; // the label of a word key; null for a character key
    i32 action;       // ClickAction
};

// The overlay's sizes: line height, padding, key height and spacing.
struct OverlayMetrics {
    f32 L, P, K, S;
};

OverlayMetrics overlayMetrics(const UiState* ui, f32 factor) {
    f32 shorter = ui->halfWidth < ui->halfHeight ? ui->halfWidth : ui->halfHeight;
    OverlayMetrics m;
    m.L = (shorter / 15 > 22 ? shorter / 15 : 22) * factor;
    m.P = m.L / 8;
    m.K = 2 * m.P + m.L;
    m.S = m.K / 10;
    return m;
}

ButtonStyle keyStyle(const OverlayMetrics& m) {
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, m.L, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = m.P;
    style.cornerRadius = m.K / 4;
    style.fill = kKeyGrey;
    style.pressedFill = kPressedGrey;
    style.outlineWidth = m.P / 2;
    return style;
}

void queueEvent(OnScreenKeyboard* keyboard, i32 event) {
    InputState* keys = &keyboard->keys;
    if (keys->eventCount < 0) keys->eventCount = 0;
    if (event == 0 || keys->eventCount >= kMaxKeyEvents) return;
    keys->events[keys->eventCount++] = event;
}

void setKeyBit(InputState* keys, i32 code, bool down) {
    if (code <= 0 || code >= kKeyMapWords * 64) return;
    if (down) {
        keys->keys[code / 64] |= 1ull << (code % 64);
    } else {
        keys->keys[code / 64] &= ~(1ull << (code % 64));
    }
}

// The event a key queues as it goes down.
i32 keyDownEvent(i32 virtualKey, bool shift, bool capsLock, bool characters) {
    if (characters) {
        i32 character = onScreenKeyCharacter(virtualKey, shift, capsLock);
        if (character) return character;
    }
    return virtualKey >= 0 && virtualKey < 256 ? keyEventTable[virtualKey] : 0;
}

// The rows of an overlay: the area split into a flexible cell over rows of key height.
LayoutCells overlayRows(const Rect* area, i32 rowCount, const OverlayMetrics& m) {
    f32 sizes[8] = {-1};
    for (i32 i = 1; i <= rowCount; i++) sizes[i] = m.K;
    return splitLayout(LayoutAlongY, sizes, rowCount + 1, m.S, area);
}

// One key: its button, its key-map bit and its event. Returns the button's result.
ButtonResult overlayKey(OnScreenKeyboard* keyboard, const KeyDef& key, const Rect& rect, u64 line, bool shift,
                        bool characters, const ButtonStyle* style, ScreenStack* stack, UiState* ui) {
    FixedString label{};
    if (key.word) {
        label = makeString(key.word);
    } else {
        i32 character = characters ? onScreenKeyCharacter(key.virtualKey, shift, keyboard->keys.shiftLock != 0) : 0;
        if (!character && key.virtualKey >= 0 && key.virtualKey < 256) character = keyEventTable[key.virtualKey];
        if (character > 0) label = stringFromCodepoint(character);
    }
    WidgetId id{line, __FILE__};
    ButtonResult result = button(label, &rect, &rect, kKeyDepth, style, ui, stack, &id);
    InputState* keys = &keyboard->keys;
    if (key.virtualKey > 0) {
        bool wasDown = isKeyDown(keys, key.virtualKey);
        if (result.pressed && !wasDown) {
            setKeyBit(keys, key.virtualKey, true);
            if (key.virtualKey != KeyLeftShift) {
                queueEvent(keyboard, keyDownEvent(key.virtualKey, shift, keys->shiftLock != 0, characters));
            }
        } else if (!result.pressed && wasDown) {
            setKeyBit(keys, key.virtualKey, false);
        }
    }
    if (result.clicked) {
        switch (key.action) {
            case ActionDone: queueEvent(keyboard, KeyEventDone); break;
            case ActionCopy: queueEvent(keyboard, KeyEventCopy); break;
            case ActionPaste: queueEvent(keyboard, KeyEventPaste); break;
            case ActionSelectAll: queueEvent(keyboard, KeyEventSelectAll); break;
            case ActionCapsLock: keyboard->capsLockClicked = 1; break;
            default: break;
        }
    }
    return result;
}

// The black backdrop from the bottom of the window up to the keys' top, which takes the presses
// that fall between the keys.
void overlayBackdrop(f32 top, ScreenStack* stack, UiState* ui, u64 line) {
    Rect backdrop{ui->screenRect.x0, ui->screenRect.x1, ui->screenRect.y0, top};
    addRoundedRect(backdrop, kBackdropDepth, ui->screenRect, 0, 0, kBackdrop, kBackdrop, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
    WidgetId id{line, __FILE__};
    rectHitTest(&backdrop, 0, stack, &id);
}

void finishOverlayFrame(OnScreenKeyboard* keyboard) {
    if (keyboard->capsLockClicked) keyboard->keys.shiftLock = keyboard->keys.shiftLock ? 0 : 1;
    keyboard->capsLockClicked = 0;
    for (i32 i = 0; i < kKeyMapWords; i++) keyboard->keys.previousKeys[i] = keyboard->keys.keys[i];
}

Rect shrinkRect(const Rect& rect, f32 by) { return Rect{rect.x0 + by, rect.x1 - by, rect.y0 + by, rect.y1 - by}; }

constexpr KeyDef kKeyboardRows[5][15] = {
    {{192, 1, nullptr, 0}, {49, 1, nullptr, 0}, {50, 1, nullptr, 0}, {51, 1, nullptr, 0}, {52, 1, nullptr, 0},
     {53, 1, nullptr, 0}, {54, 1, nullptr, 0}, {55, 1, nullptr, 0}, {56, 1, nullptr, 0}, {57, 1, nullptr, 0},
     {48, 1, nullptr, 0}, {189, 1, nullptr, 0}, {187, 1, nullptr, 0}, {8, 2, "Backspace", 0}},
    {{9, 1.4f, "Tab", 0}, {81, 1, nullptr, 0}, {87, 1, nullptr, 0}, {69, 1, nullptr, 0}, {82, 1, nullptr, 0},
     {84, 1, nullptr, 0}, {89, 1, nullptr, 0}, {85, 1, nullptr, 0}, {73, 1, nullptr, 0}, {79, 1, nullptr, 0},
     {80, 1, nullptr, 0}, {219, 1, nullptr, 0}, {221, 1, nullptr, 0}, {220, 1.5f, nullptr, 0}},
    {{0, 1.8f, "CapsLock", ActionCapsLock}, {65, 1, nullptr, 0}, {83, 1, nullptr, 0}, {68, 1, nullptr, 0},
     {70, 1, nullptr, 0}, {71, 1, nullptr, 0}, {72, 1, nullptr, 0}, {74, 1, nullptr, 0}, {75, 1, nullptr, 0},
     {76, 1, nullptr, 0}, {186, 1, nullptr, 0}, {222, 1, nullptr, 0}, {13, 2, "New Line", 0}},
    {{KeyLeftShift, 2, "Shift", 0}, {90, 1, nullptr, 0}, {88, 1, nullptr, 0}, {67, 1, nullptr, 0},
     {86, 1, nullptr, 0}, {66, 1, nullptr, 0}, {78, 1, nullptr, 0}, {77, 1, nullptr, 0}, {188, 1, nullptr, 0},
     {190, 1, nullptr, 0}, {191, 1, nullptr, 0}, {0, 2, "Done", ActionDone}},
    {{0, 2, "Copy", ActionCopy}, {0, 2, "Paste", ActionPaste}, {32, 10, " ", 0},
     {0, 2, "Select All", ActionSelectAll}, {37, 1, "\xE2\x86\x90", 0}, {39, 1, "\xE2\x86\x92", 0}},
};
constexpr i32 kKeyboardRowKeys[5] = {14, 14, 13, 12, 6};

constexpr f32 kPadWeights[6] = {-1, -1, -1, -1, -1.5f, -1.5f};
constexpr f32 kMenuWeights[2] = {-1, -1};

// The rows of the full keyboard split into its keys.
LayoutCells keyboardRows(const UiState* ui, const OverlayMetrics& m, LayoutCells cells[5]) {
    LayoutCells rows = overlayRows(&ui->safeRect, 5, m);
    for (i32 r = 0; r < 5; r++) {
        f32 weights[15];
        for (i32 k = 0; k < kKeyboardRowKeys[r]; k++) weights[k] = -kKeyboardRows[r][k].weight;
        cells[r] = splitLayout(LayoutAlongX, weights, kKeyboardRowKeys[r], m.S, &rows.cells[r + 1]);
    }
    return rows;
}

// A key of the numeric keypad: "Backspace" and "Done" span the last two cells of their rows.
Rect numpadKeyRect(const LayoutCells& rows, const OverlayMetrics& m, i32 r, i32 k) {
    LayoutCells cells = splitLayout(LayoutAlongX, kPadWeights, 6, m.S, &rows.cells[r + 1]);
    Rect rect = cells.cells[k];
    if (r < 2 && k == 4) rect.x1 = cells.cells[5].x1;
    return rect;
}

}  // namespace

Rect onScreenKeyRect(u32 keyboardMode, const UiState* ui, i32 row, i32 key) {
    if (row < 0 || key < 0) return Rect{};
    if (keyboardMode == TextKeyboardFull) {
        if (row >= 5 || key >= kKeyboardRowKeys[row]) return Rect{};
        OverlayMetrics m = overlayMetrics(ui, 1.3f);
        LayoutCells cells[5];
        keyboardRows(ui, m, cells);
        return cells[row].cells[key];
    }
    OverlayMetrics m = overlayMetrics(ui, 2.3f);
    Rect area = shrinkRect(ui->safeRect, m.S);
    if (keyboardMode == TextKeyboardNumpad) {
        if (row >= 3 || key >= (row == 2 ? 6 : 5)) return Rect{};
        return numpadKeyRect(overlayRows(&area, 3, m), m, row, key);
    }
    if (keyboardMode == TextKeyboardSelectionMenu) {
        if (row >= 1 || key >= 2) return Rect{};
        LayoutCells rows = overlayRows(&area, 1, m);
        return splitLayout(LayoutAlongX, kMenuWeights, 2, m.S, &rows.cells[1]).cells[key];
    }
    return Rect{};
}

i32 onScreenKeyCharacter(i32 virtualKey, bool shift, bool capsLock) {
    i32 plain = 0, shifted = 0;
    if (virtualKey >= 65 && virtualKey <= 90) {
        plain = 'a' + (virtualKey - 65);
        shifted = 'A' + (virtualKey - 65);
    } else if (virtualKey >= 48 && virtualKey <= 57) {
        plain = '0' + (virtualKey - 48);
        shifted = ")!@#$%^&*("[virtualKey - 48];
    } else if (virtualKey >= 186 && virtualKey <= 192) {
        plain = ";=,-./`"[virtualKey - 186];
        shifted = ":+<_>?~"[virtualKey - 186];
    } else if (virtualKey >= 219 && virtualKey <= 222) {
        plain = "[\\]'"[virtualKey - 219];
        shifted = "{|}\""[virtualKey - 219];
    } else {
        return 0;
    }
    return shift != capsLock ? shifted : plain;
}

void drawOnScreenKeyboard(OnScreenKeyboard* keyboard, ScreenStack* stack, UiState* ui) {
    OverlayMetrics m = overlayMetrics(ui, 1.3f);
    ButtonStyle style = keyStyle(m);
    LayoutCells cells[5];
    LayoutCells rows = keyboardRows(ui, m, cells);
    // Shift first, so that the labels and characters of this frame follow it.
    overlayKey(keyboard, kKeyboardRows[3][0], cells[3].cells[0], 1000 + 3 * 20, false, true, &style, stack, ui);
    bool shift = isKeyDown(&keyboard->keys, KeyLeftShift);
    for (i32 r = 0; r < 5; r++) {
        for (i32 k = 0; k < kKeyboardRowKeys[r]; k++) {
            if (r == 3 && k == 0) continue;
            overlayKey(keyboard, kKeyboardRows[r][k], cells[r].cells[k], (u64)(1000 + r * 20 + k), shift, true,
                       &style, stack, ui);
        }
    }
    overlayBackdrop(rows.cells[0].y0, stack, ui, 999);
    finishOverlayFrame(keyboard);
}

void drawOnScreenNumpad(OnScreenKeyboard* keyboard, ScreenStack* stack, UiState* ui) {
    OverlayMetrics m = overlayMetrics(ui, 2.3f);
    ButtonStyle style = keyStyle(m);
    Rect area = shrinkRect(ui->safeRect, m.S);
    LayoutCells rows = overlayRows(&area, 3, m);
    static constexpr KeyDef kPad[3][6] = {
        {{103, 1, nullptr, 0}, {104, 1, nullptr, 0}, {105, 1, nullptr, 0}, {96, 1, nullptr, 0}, {8, 1, "Backspace", 0}},
        {{100, 1, nullptr, 0}, {101, 1, nullptr, 0}, {102, 1, nullptr, 0}, {109, 1, nullptr, 0}, {0, 1, "Done", ActionDone}},
        {{97, 1, nullptr, 0}, {98, 1, nullptr, 0}, {99, 1, nullptr, 0}, {110, 1, nullptr, 0},
         {37, 1, "\xE2\x86\x90", 0}, {39, 1, "\xE2\x86\x92", 0}},
    };
    for (i32 r = 0; r < 3; r++) {
        i32 keyCount = r == 2 ? 6 : 5;
        for (i32 k = 0; k < keyCount; k++) {
            Rect rect = numpadKeyRect(rows, m, r, k);
            overlayKey(keyboard, kPad[r][k], rect, (u64)(2000 + r * 20 + k), false, false, &style, stack, ui);
        }
    }
    overlayBackdrop(rows.cells[0].y0, stack, ui, 1999);
    finishOverlayFrame(keyboard);
}

void drawTextSelectionMenu(OnScreenKeyboard* keyboard, ScreenStack* stack, UiState* ui) {
    OverlayMetrics m = overlayMetrics(ui, 2.3f);
    ButtonStyle style = keyStyle(m);
    Rect area = shrinkRect(ui->safeRect, m.S);
    LayoutCells rows = overlayRows(&area, 1, m);
    static constexpr KeyDef kMenu[2] = {{0, 1, "Copy", ActionCopy}, {0, 1, "Select All", ActionSelectAll}};
    LayoutCells cells = splitLayout(LayoutAlongX, kMenuWeights, 2, m.S, &rows.cells[1]);
    for (i32 k = 0; k < 2; k++) {
        overlayKey(keyboard, kMenu[k], cells.cells[k], (u64)(3000 + k), false, false, &style, stack, ui);
    }
    overlayBackdrop(rows.cells[0].y0, stack, ui, 2999);
    finishOverlayFrame(keyboard);
}
