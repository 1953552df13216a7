// The overlays a focused text field asks for, drawn by the screen runner at the bottom of the
// window in place of its corner button: the full on-screen keyboard, the numeric keypad and the
// text-selection menu. Their keys queue KeyEvent codes into the OnScreenKeyboard record, which the
// runner hands to the focused field in the same frame after the physical keys' events.
#pragma once
#include "SourceCommon/UserInterface/Screen.h"

void drawOnScreenKeyboard(OnScreenKeyboard* keyboard, ScreenStack* stack, UiState* ui);
void drawOnScreenNumpad(OnScreenKeyboard* keyboard, ScreenStack* stack, UiState* ui);
void drawTextSelectionMenu(OnScreenKeyboard* keyboard, ScreenStack* stack, UiState* ui);

// Where a key of an overlay lies this frame (TextKeyboardMode, row and key from the top left, as
// the overlay lays them out); an all-zero rectangle for a key that does not exist.
Rect onScreenKeyRect(u32 keyboardMode, const UiState* ui, i32 row, i32 key);

// The character a key of the full keyboard types and shows: its shifted character when exactly
// one of Shift and Caps Lock is active, else its plain one; 0 for keys without a character.
i32 onScreenKeyCharacter(i32 virtualKey, bool shift, bool capsLock);
