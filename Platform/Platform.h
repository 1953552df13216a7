// The program's one state block and the Platform record that the platform layer shares with the
// application: window and frame state, input, system facts, DNS servers, the data folder and the
// job ring. The block is reserved zero-filled at start-up and never freed.
#pragma once
#include "Core/FixedString.h"
#include "Core/JobQueue.h"
#include "Platform/FileTables.h"
#include "Platform/GlFunctionTable.h"
#include "Platform/Input.h"
#include "Core/AddressRecord.h"

constexpr i32 kMaxDnsServers = 8;

struct DnsServerList {
    u32 count;  // 0 to 8
    AddressRecord servers[kMaxDnsServers];
};

struct ApplicationMemory;
struct VideoDecoder;

struct WindowPlacement {
    i32 x;
    i32 y;
    i32 width;
    i32 height;
};

// The platform layer's own part of the block: the window, the input sources as the event handlers
// leave them, and the GL state.
struct WindowHead {
    u32 running;  // 1 from just before the worker threads start until the window closes
    u32 pad;
    void* window;  // the system window
    WindowPlacement savedPlacement;  // restored when fullscreen ends
    u64 sizeMessageCount;  // grows on every size change of the window
    u64 sizeCountSeen;  // as far as the frame has seen them
    PointerSlot mouse;
    i64 lastRawMouseX;  // totals as they stood at the end of the last frame
    i64 lastRawMouseY;
    i64 lastWheel;
    u64 touchIds[kPointerSlots];  // touch slots 1-4
    u64 releasedPointerBits;  // bit n: touch slot n ended since the last frame
    // A press and its release between two frames (a quick click, a tap-to-click, a short tap) stay
    // pressed for the next frame and are let go after it. Bit n: pointer slot n pressed since the
    // last frame began; bit n: slot n let go before a frame saw it pressed.
    u32 unseenPressBits;
    u32 heldReleaseBits;
    // The same for the mouse buttons' keys, by key code (1 left, 2 right, 4 middle).
    u32 unseenMouseKeyBits;
    u32 heldMouseKeyBits;
    u64 lastTouchMessageTime;  // microseconds
    u64 lastMouseMessageTime;
    u32 touchSeen;  // a touch message has come
    i32 clientHeight;  // pixels; the mouse handler flips y with it
    VideoDecoder* videoDecoder;
    u32 glReady;
    u32 pad2;
    void* glContext;
    void* arrowCursor;
    GlFunctionTable gl;
};

constexpr i64 kScratchSize = 10000000;

struct Platform {
    u32 fullscreen;  // current; screens and the application update write the wanted values
    u32 fullscreenWanted;
    u32 cursorCaptured;
    u32 cursorCaptureWanted;
    i32 screenInsetLeft;  // pixels of the window the system covers (none on this system)
    i32 screenInsetRight;
    i32 screenInsetBottom;
    i32 screenInsetTop;
    u32 screenChanged;  // the shown screen changed this frame; the screen runner keeps it
    u32 pad;
    // The file thread's tables (Platform/FileTables.h), served in this order on every pass.
    FileReadTable resourceReads;  // served from the resources embedded in the program
    FileReadTable fileReads;  // served from the file system
    FileJobTable fileJobs;
    RenderedPageTable renderedPages;
    JobQueue jobQueue;
    FixedString userName;
    FixedString computerName;
    FixedString systemReleaseId;
    FixedString systemVersion;
    FixedString biosManufacturer;
    FixedString biosProductName;
    u32 biosProductNameUnread;  // 1: the product name could not be read, and biosProductName says why
    FixedString soundSystemError;  // why sound output could not be started; empty while it plays
    FixedString gamepadNote;  // why a DualShock 4 that is there is not read from its reports; else empty
    u32 documentsFolderAccess;  // both set to 1 at start-up
    u32 appFolderAccess;
    DnsServerList dnsServers;
    InputState input;
    PointerSlot pointers[kPointerSlots];  // slot 0 the mouse, 1-4 touches
    i64 wheelTotal;  // notches
    i64 rawMouseX;  // device counts, y up
    i64 rawMouseY;
    i64 wheelDelta;  // during the last frame
    i64 rawMouseDeltaX;
    i64 rawMouseDeltaY;
    GamepadState gamepad;
    GamepadState previousGamepad;
    FixedString dataFolder;  // ends with the separator; empty when there is no Documents folder
    char pathSeparator;
    u64 blockSize;
    u64 applicationSize;
    u8* scratch;  // kScratchSize bytes at the end of the block
};

// The block. The application memory, the video decoder record and the scratch area follow this
// record inside the same reservation.
struct WindowsAndApplicationMemory {
    WindowHead head;
    ApplicationMemory* application;
    Platform platform;
};

extern WindowsAndApplicationMemory* globalMemory;

// Reads and writes of the running flag, which the worker threads poll.
u32 isRunning(const WindowHead* head);
void setRunning(WindowHead* head, u32 value);

// Input handlers: each turns one window-system input into the shared records. Positions arrive in
// window pixels with y down and are stored with y up.
void mouseButtonChanged(WindowHead* head, Platform* platform, i32 code, i32 down, u64 now);
void mouseMoved(WindowHead* head, Platform* platform, i32 x, i32 yDown, i32 leftDown, i32 rightDown, u64 now);
void addWheelNotches(Platform* platform, i64 notches);
void addRawMouseMotion(Platform* platform, i64 dx, i64 dyDown);
void touchPointDown(WindowHead* head, Platform* platform, u64 id, f32 x, f32 yDown, u64 now);
void touchPointMoved(WindowHead* head, Platform* platform, u64 id, f32 x, f32 yDown, i32 up, u64 now);

// The frame's input steps: pointer slot 0 from the mouse unless a touch came within 250 ms of the
// last mouse message, the wheel and raw-mouse changes, and afterwards the turn-over of totals,
// the game pad's previous copy and the released-touch bits, and the releases of presses that ended
// before this frame saw them (this frame saw them pressed; the next one sees them let go).
constexpr u64 kTouchOverMouseMicroseconds = 250000;
void prepareFrameInputs(WindowHead* head, Platform* platform, i32 clientHeight);
void finishFrameInputs(WindowHead* head, Platform* platform);
