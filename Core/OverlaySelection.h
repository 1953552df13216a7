// Which overlays the maps show. The preference fields own the choice, so it is kept across restarts
// with the rest of "Preferences.txt"; this record only points at them: "Custom elevation data file"
// (empty: SRTM), "Show topographic overlay", "Show low altitude overlay" (the terrain warning),
// "Vector overlay file" and "Raster overlay file".
#pragma once
#include "Core/Preferences.h"

struct OverlaySelection {
    FixedString* elevationSourceName;
    u32* topographicOn;
    u32* terrainWarningOn;
    FixedString* vectorOverlayName;
    FixedString* rasterOverlayName;
};

inline OverlaySelection overlaySelectionOf(Preferences* preferences) {
    return OverlaySelection{&preferences->customElevationDataFile, &preferences->showTopographicOverlay,
                            &preferences->showLowAltitudeOverlay, &preferences->vectorOverlayFile,
                            &preferences->rasterOverlayFile};
}
