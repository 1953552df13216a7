// What the map drawing and the KMZ export share: the marker order and ranks, the marker images and
// where their labels go, and the coordinate texts.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "KmzEditor/KmzEditor.h"

// The used marker slots sorted by (kind, number) (ties by slot); returns their count.
u32 kmzMarkersInOrder(const KmzEditor* editor, u32* slots);

// Longitude = x x 360 with x brought into [-0.5, 0.5]; latitude = (atan(e^(2 pi y)) - pi/4) x 360 / pi.
GeoPoint kmzGeoOf(f64 x, f64 y);
// trunc(degrees x 100,000) with exactly 5 decimals.
FixedString kmzDegreesText(f64 degrees);
// "@\n@": latitude, then longitude.
FixedString kmzCoordinateLabel(f64 x, f64 y);

// The image asset of a marker kind ("flag_white_marker.png" ... "heat_marker.png"), and of any
// image by name (-1 when it is not in the table).
i32 kmzMarkerImageAsset(u32 kind);
i32 kmzAssetIndex(const char* name);

// Where the rank and the coordinates sit on the map, as fractions of the marker square's side from
// its centre.
struct KmzLabelOffsets {
    f32 rankX, rankY;
    f32 coordinatesX, coordinatesY;
};
KmzLabelOffsets kmzMarkerLabelOffsets(u32 kind);
