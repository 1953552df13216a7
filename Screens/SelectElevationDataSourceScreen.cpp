// "ELEVATION MAPS": where terrain heights come from. SRTM tiles, or one of the files in the
// "Elevation Maps" folder; the choice is the "Custom elevation data file" preference (empty: SRTM),
// which the elevation loader follows from the next frame on. The chosen row shows the loader's status.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Map/ElevationMapLoader.h"
#include "Platform/Platform.h"
#include "Screens/ChildScreens.h"
#include "Screens/ElevationScreens.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

const char* const kElevationFolder = "Elevation Maps";

void takeListing(ElevationSourceScreenState* state, const FileReadRequest* listing) {
    state->fileCount = 0;
    const FolderEntry* entries = (const FolderEntry*)listing->data;
    u64 total = listing->data ? listing->bytesRead / sizeof(FolderEntry) : 0;
    for (u64 i = 0; i < total; i++) {
        const FolderEntry* entry = &entries[i];
        if (!entry->isFile || !isElevationFileName(entry->name)) continue;
        if (state->fileCount == kMaxListedElevationFiles) break;
        // In name order.
        i32 at = state->fileCount++;
        while (at > 0 && std::strcmp(state->files[at - 1].name.text, entry->name.text) > 0) {
            state->files[at] = state->files[at - 1];
            at--;
        }
        state->files[at] = ElevationFileRow{entry->name, entry->size};
    }
}

// Starts the listing, or takes it once the file thread has made it.
void updateListing(ElevationSourceScreenState* state, FileReadTable* reads) {
    if (!state->listing && !state->listed) {
        FileReadRequest* listing = requestFolderListing(makeString(kElevationFolder), reads);
        if (fileRequestStatus(listing) > FileStatusSuccess) {
            releaseFileReadRequest(listing, reads);  // a full table: the next frame tries again
            return;
        }
        state->listing = listing;
    }
    if (!state->listing) return;
    u32 status = fileRequestStatus(state->listing);
    if (status < FileStatusSuccess) return;
    if (status == FileStatusSuccess) {
        takeListing(state, state->listing);
    } else if (status != FileStatusNotFound) {
        state->listingProblem = state->listing->statusText.length ? state->listing->statusText : fileStatusString(status);
    }
    state->listed = 1;
    releaseFileReadRequest(state->listing, reads);
    state->listing = nullptr;
}

FixedString sizeText(u64 bytes) {
    if (bytes >= 1000000) return formatFixed("@ MB", (i64)(bytes / 100000), 1);
    if (bytes >= 1000) return formatInt("@ kB", (i64)(bytes / 1000));
    return formatInt("@ bytes", (i64)bytes);
}

// The chosen source's description: the loader's status once it has one.
FixedString chosenText(const ElevationMapLoader* loader, const char* idle) {
    return loader->status.length ? loader->status : makeString(idle);
}

}  // namespace

void selectElevationDataSourceScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                     ScreenResult* result, void* scratch) {
    ProfilingScope scope("Select Elevation Data Source Screen");
    ElevationSourceScreenState* state = (ElevationSourceScreenState*)scratch;
    Preferences* preferences = &app->preferences;
    const ElevationMapLoader* loader = &app->elevationMapLoader;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    updateListing(state, &platform->fileReads);

    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = makeString("ELEVATION MAPS");
        FixedString text = makeString("Where terrain heights come from: SRTM tiles or a file of your own");
        infoRow(&title, &text, 0, ui, view);
    }
    bool srtm = preferences->customElevationDataFile.length == 0;
    {
        FixedString title = makeString("SRTM");
        FixedString text = srtm ? chosenText(loader, "Tiles around the flight area, downloaded when missing")
                                : makeString("Tiles around the flight area, downloaded when missing");
        if (checkboxRow(&title, &text, 0, srtm ? 1 : 0, stack, ui, view).clicked) {
            preferences->customElevationDataFile = FixedString{};
        }
    }
    bool chosenListed = srtm;
    for (i32 i = 0; i < state->fileCount; i++) {
        const ElevationFileRow* file = &state->files[i];
        bool chosen = equals(preferences->customElevationDataFile, file->name);
        chosenListed = chosenListed || chosen;
        FixedString text = chosen ? chosenText(loader, "Chosen") : sizeText(file->size);
        if (checkboxRow(&file->name, &text, 0, chosen ? 1 : 0, stack, ui, view).clicked) {
            preferences->customElevationDataFile = file->name;
        }
    }
    if (!chosenListed && state->listed) {
        // The preference names a file that is not (or no longer) in the folder.
        FixedString text = chosenText(loader, "Not in the \"Elevation Maps\" folder");
        checkboxRow(&preferences->customElevationDataFile, &text, 0, 1, stack, ui, view);
    }
    if (state->listed && state->fileCount == 0) {
        FixedString title = makeString("No elevation files");
        FixedString text = state->listingProblem.length
                               ? state->listingProblem
                               : makeString("Copy .tif, .tiff, .bil (with .hdr) or .hgt files into the \"Elevation "
                                            "Maps\" folder to choose them here.");
        infoRow(&title, &text, 0, ui, view);
    }
    {
        FixedString title = makeString("View elevation map");
        FixedString text = makeString("The chosen source's terrain shading and contour lines on the map");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = elevationMapViewerScreen;
    }
    endMapView(stack, ui, view);

    // Leaving (or covering) the screen clears its state: a listing still out is let go first.
    if ((result->back || result->next) && state->listing) {
        releaseFileReadRequest(state->listing, &platform->fileReads);
        state->listing = nullptr;
    }
}
