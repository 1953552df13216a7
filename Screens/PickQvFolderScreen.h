// The folder walkthrough: on systems where the app must first be granted storage permission and
// access to its data folder, it asks for both and shows a strip of instruction pictures (JPEG,
// decoded on the job thread) of the steps through the system's folder picker. It leaves only when
// no picture is being read or decoded.
#pragma once
#include "Core/FixedString.h"
#include "Decoders/Png.h"
#include "Core/ImageSlots.h"
#include "Platform/FileTables.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/UserInterface/Screen.h"

constexpr i64 kFolderHelpBufferBytes = 4718592;
constexpr i32 kMaxFolderHelpPictures = 6;
constexpr u64 kFolderHelpPictureMaxBytes = 1000000;
constexpr u64 kHighlightFlashPeriod = 500000;  // us per picture
constexpr i32 kNewPictureSetApiLevel = 30;
// The host system's API level, which chooses the picture set; this system has none.
constexpr i32 kPlatformApiLevel = 0;

enum FolderHelpPictureState : i32 {
    FolderHelpWaiting = 0,
    FolderHelpDecoding = 1,
    FolderHelpDecoded = 2,
};

struct FolderHelpPicture {
    i32 state;  // FolderHelpPictureState; set to 2 by the job, last
    u8* pixels;
    i64 capacity;
    FileReadRequest* request;  // the pending read of the picture file; null when none
    ImageResult result;        // its error text doubles as the picture's message
    i32 imageSlot;             // 0 none
};

struct PickQvFolderScreenState {
    u32 initialised;
    i32 pictureCount;
    FolderHelpPicture pictures[kMaxFolderHelpPictures];
    u8* pictureBuffer;  // kFolderHelpBufferBytes; null when it could not be had
    MapView stripView;  // the strip of pictures, one content unit high
};

// A picture set: the file names in strip order, their highlight rectangles (pixels, x across and y
// down: x0, x1, y0, y1) and the width of one picture's place in the strip.
struct FolderHelpPictureSet {
    i32 count;
    const char* const* names;
    const f32 (*highlights)[4];
    f64 placeWidth;
};
FolderHelpPictureSet folderHelpPictureSet(i32 apiLevel);

// The job: decodes the picture's file into its share of the buffer, then marks it decoded.
i64 decodeFolderHelpPicture(void* picture);

// One frame of the pictures' loading: queue the next decode, take decoded pictures into image slots,
// keep the messages of failed reads. Returns 1 when a picture is still read or decoded.
i32 updateFolderHelpPictures(PickQvFolderScreenState* state, Platform* platform, ImageSlotTable* slots);

void pickQvFolderScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                        void* scratch);
