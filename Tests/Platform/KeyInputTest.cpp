// The key map and its events: the key table, Shift and Ctrl, the shift lock and the per-frame cap,
// fed both straight and through window-system key events.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Platform/SdlWindow.h"

namespace {

struct KeyFixture : ::testing::Test {
    WindowHead head{};
    Platform platform{};
    InputState* input = &platform.input;

    void SetUp() override { head.running = 1; }

    void key(SDL_Scancode scancode, bool down, u16 mod = KMOD_NONE, bool repeat = false) {
        SDL_Event event{};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.key.repeat = repeat;
        event.key.keysym.scancode = scancode;
        event.key.keysym.mod = mod;
        handleWindowEvent(&event, &head, &platform, 1000);
    }
    void tap(SDL_Scancode scancode) {
        key(scancode, true);
        key(scancode, false);
    }
    std::string typed() const {
        std::string text;
        for (i32 i = 0; i < input->eventCount; i++) text += input->events[i] > 0 ? (char)input->events[i] : '?';
        return text;
    }
};

TEST(KeyTable, UnshiftedEntries) {
    EXPECT_EQ(keyEventTable[4], KeyEventBack);
    EXPECT_EQ(keyEventTable[8], KeyEventBackspace);
    EXPECT_EQ(keyEventTable[9], 9);
    EXPECT_EQ(keyEventTable[13], 10);
    EXPECT_EQ(keyEventTable[27], KeyEventBack);
    EXPECT_EQ(keyEventTable[32], ' ');
    EXPECT_EQ(keyEventTable[37], KeyEventLeft);
    EXPECT_EQ(keyEventTable[38], KeyEventUp);
    EXPECT_EQ(keyEventTable[39], KeyEventRight);
    EXPECT_EQ(keyEventTable[40], KeyEventDown);
    EXPECT_EQ(keyEventTable[46], KeyEventDelete);
    const char* expected[][2] = {
        {"0", "0123456789"}, {"A", "abcdefghijklmnopqrstuvwxyz"}, {"`", "0123456789*+,-./"},
        {"\xBA", ";=,-./`"}, {"\xDB", "[\\]'"},
    };
    for (auto& row : expected) {
        i32 first = (u8)row[0][0];
        for (i32 i = 0; row[1][i]; i++) EXPECT_EQ(keyEventTable[first + i], row[1][i]) << "code " << first + i;
    }
    for (i32 code : {0, 1, 2, 16, 17, 18, 112, 160, 161, 162, 163, 223, 236, 255}) EXPECT_EQ(keyEventTable[code], 0) << code;
}

TEST_F(KeyFixture, ShiftedCharactersAndShiftLock) {
    for (SDL_Scancode digit : {SDL_SCANCODE_1, SDL_SCANCODE_2, SDL_SCANCODE_3, SDL_SCANCODE_4, SDL_SCANCODE_5,
                               SDL_SCANCODE_6, SDL_SCANCODE_7, SDL_SCANCODE_8, SDL_SCANCODE_9, SDL_SCANCODE_0}) {
        tap(digit);
    }
    EXPECT_EQ(typed(), "1234567890");
    input->eventCount = 0;
    key(SDL_SCANCODE_LSHIFT, true);
    EXPECT_TRUE(isKeyDown(input, KeyLeftShift));
    for (SDL_Scancode code : {SDL_SCANCODE_1, SDL_SCANCODE_2, SDL_SCANCODE_0, SDL_SCANCODE_A, SDL_SCANCODE_Z,
                              SDL_SCANCODE_SEMICOLON, SDL_SCANCODE_EQUALS, SDL_SCANCODE_COMMA, SDL_SCANCODE_MINUS,
                              SDL_SCANCODE_PERIOD, SDL_SCANCODE_SLASH, SDL_SCANCODE_GRAVE, SDL_SCANCODE_LEFTBRACKET,
                              SDL_SCANCODE_BACKSLASH, SDL_SCANCODE_RIGHTBRACKET, SDL_SCANCODE_APOSTROPHE,
                              SDL_SCANCODE_KP_5, SDL_SCANCODE_SPACE}) {
        tap(code);
    }
    key(SDL_SCANCODE_LSHIFT, false);
    // Keypad digits and the space bar are not shifted.
    EXPECT_EQ(typed(), "!@)AZ:+<_>?~{|}\"5 ");
    input->eventCount = 0;
    key(SDL_SCANCODE_RSHIFT, true);
    tap(SDL_SCANCODE_2);
    key(SDL_SCANCODE_RSHIFT, false);
    tap(SDL_SCANCODE_2);
    input->shiftLock = 1;
    tap(SDL_SCANCODE_A);
    tap(SDL_SCANCODE_BACKSPACE);
    EXPECT_EQ(typed(), "@2A?");
    EXPECT_EQ(input->events[3], KeyEventBackspace);
}

TEST_F(KeyFixture, ControlGivesOnlyClipboardEventsAboveCode48) {
    key(SDL_SCANCODE_LCTRL, true);
    for (SDL_Scancode code : {SDL_SCANCODE_C, SDL_SCANCODE_X, SDL_SCANCODE_V, SDL_SCANCODE_A, SDL_SCANCODE_1,
                              SDL_SCANCODE_SEMICOLON, SDL_SCANCODE_BACKSPACE, SDL_SCANCODE_LEFT, SDL_SCANCODE_SPACE}) {
        tap(code);
    }
    key(SDL_SCANCODE_LCTRL, false);
    ASSERT_EQ(input->eventCount, 6);
    EXPECT_EQ(input->events[0], KeyEventCopy);
    EXPECT_EQ(input->events[1], KeyEventCut);
    EXPECT_EQ(input->events[2], KeyEventPaste);
    EXPECT_EQ(input->events[3], KeyEventBackspace);
    EXPECT_EQ(input->events[4], KeyEventLeft);
    EXPECT_EQ(input->events[5], ' ');
    // Right Ctrl with Shift: Ctrl wins.
    input->eventCount = 0;
    key(SDL_SCANCODE_RCTRL, true);
    key(SDL_SCANCODE_LSHIFT, true);
    tap(SDL_SCANCODE_V);
    tap(SDL_SCANCODE_2);
    EXPECT_EQ(input->eventCount, 1);
    EXPECT_EQ(input->events[0], KeyEventPaste);
}

TEST_F(KeyFixture, RepeatsAddEventsAndTheCapKeepsKeysMoving) {
    key(SDL_SCANCODE_A, true);
    for (i32 i = 0; i < 400; i++) key(SDL_SCANCODE_A, true, KMOD_NONE, true);
    EXPECT_EQ(input->eventCount, kMaxKeyEvents);
    for (i32 i = 0; i < kMaxKeyEvents; i++) ASSERT_EQ(input->events[i], 'a');
    // Past the cap keys still go down and up.
    key(SDL_SCANCODE_B, true);
    EXPECT_TRUE(isKeyDown(input, 'B'));
    key(SDL_SCANCODE_B, false);
    EXPECT_FALSE(isKeyDown(input, 'B'));
    EXPECT_EQ(input->eventCount, kMaxKeyEvents);
}

TEST_F(KeyFixture, SetKeyStateActsOnlyOnChanges) {
    setKeyState(KeyEscape, input, 1);
    setKeyState(KeyEscape, input, 1);
    EXPECT_EQ(input->eventCount, 1);
    EXPECT_EQ(input->events[0], KeyEventBack);
    setKeyState(KeyEscape, input, 0);
    EXPECT_FALSE(isKeyDown(input, KeyEscape));
    setKeyState(KeyHerelinkTrigger, input, 1);
    EXPECT_TRUE(isKeyDown(input, KeyHerelinkTrigger));
    EXPECT_EQ(input->eventCount, 1);
    // Codes outside the map are ignored.
    pressKey(-1, input);
    pressKey(kKeyMapWords * 64, input);
    EXPECT_EQ(input->eventCount, 1);
}

TEST_F(KeyFixture, KeysByPosition) {
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_A), 65);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_0), 48);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_9), 57);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_F1), 112);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_F12), 123);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_KP_0), 96);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_KP_9), 105);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_LALT), 164);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_RALT), 165);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_UNKNOWN), 0);
}

TEST_F(KeyFixture, AltF4AndWindowCloseClearRunning) {
    key(SDL_SCANCODE_F4, true);
    EXPECT_EQ(isRunning(&head), 1u);
    key(SDL_SCANCODE_F4, false);
    key(SDL_SCANCODE_LALT, true, KMOD_LALT);
    key(SDL_SCANCODE_F4, true, KMOD_LALT);
    EXPECT_EQ(isRunning(&head), 0u);

    setRunning(&head, 1);
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    handleWindowEvent(&close, &head, &platform, 1);
    EXPECT_EQ(isRunning(&head), 0u);
    setRunning(&head, 1);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    handleWindowEvent(&quit, &head, &platform, 1);
    EXPECT_EQ(isRunning(&head), 0u);
}

TEST_F(KeyFixture, FocusChangeReleasesEveryKey) {
    key(SDL_SCANCODE_LSHIFT, true);
    key(SDL_SCANCODE_W, true);
    SDL_Event focus{};
    focus.type = SDL_WINDOWEVENT;
    focus.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    handleWindowEvent(&focus, &head, &platform, 1);
    for (u64 word : input->keys) EXPECT_EQ(word, 0u);
}

}  // namespace
