// An overlay's geometry for the GPU, without a GL context: the simplified lines stay within their
// tolerance of every point left out, and an overlay as wide as a continent (a long wandering line,
// long survey lines and a large filled polygon) is drawn whole, every record of the band in view in some draw, in as few
// draws as the frame's list holds, from the whole world down to street zoom.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Core/MathEarth.h"
#include "OverlayTestSupport.h"
#include "Overlays/VectorOverlayDrawing.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;

f64 distanceToSegment(const f64* p, const f64* a, const f64* b) {
    f64 dx = b[0] - a[0], dy = b[1] - a[1], length = dx * dx + dy * dy;
    f64 t = length > 0 ? ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / length : 0;
    t = std::fmax(0.0, std::fmin(1.0, t));
    return std::hypot(p[0] - a[0] - t * dx, p[1] - a[1] - t * dy);
}

TEST(OverlayGeometry, EveryPointLeftOutLiesWithinTheToleranceOfItsSimplifiedSegment) {
    u64 seed = 5;
    auto unit = [&]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (f64)(seed >> 11) / (f64)(1ull << 53);
    };
    // Wandering lines of every turning rate, straight runs that double back, and repeated points.
    for (f64 turning : {0.0, 0.05, 0.6, 3.0}) {
        for (f64 tolerance : {1e-9, 0.3, 2.0, 50.0}) {
            const u32 n = 20000;
            std::vector<f64> points(2 * n);
            std::vector<u32> kept(n);
            f64 x = 0, y = 0, heading = 0;
            for (u32 i = 0; i < n; i++) {
                heading += (unit() - 0.5) * turning;
                if (i % 997 == 0) heading += kPi;
                f64 step = i % 13 == 0 ? 0.0 : unit();
                x += step * std::cos(heading), y += step * std::sin(heading);
                points[2 * i] = x, points[2 * i + 1] = y;
            }
            u32 count = simplifyPolyline(points.data(), n, tolerance, kept.data());
            SCOPED_TRACE(testing::Message() << "turning " << turning << ", tolerance " << tolerance);
            ASSERT_GE(count, 2u);
            EXPECT_EQ(kept[0], 0u);
            EXPECT_EQ(kept[count - 1], n - 1);
            i32 far = 0;
            for (u32 k = 1; k < count; k++) {
                ASSERT_GT(kept[k], kept[k - 1]);
                for (u32 i = kept[k - 1] + 1; i < kept[k]; i++) {
                    far += distanceToSegment(&points[2 * i], &points[2 * kept[k - 1]], &points[2 * kept[k]]) >
                           tolerance * (1 + 1e-9);
                }
            }
            EXPECT_EQ(far, 0);
            if (tolerance >= 2.0 && turning <= 0.05) {
                EXPECT_LT(count, n / 4);
            }
        }
    }
}

struct Scene {
    VectorOverlayLoader loader;
    UiState ui;
};

TEST(OverlayGeometry, AContinentWideOverlayIsDrawnWholeFromTheWorldDownToTheStreet) {
    Scene* scene = (Scene*)std::calloc(1, sizeof(Scene));
    VectorOverlayLoader* loader = &scene->loader;
    UiState* ui = &scene->ui;
    // A line wandering 40,000 steps of up to 30 km over Europe, survey lines across it, and a filled
    // ring of 3,000 points of 15 degrees' radius beside it.
    std::string kml = "<kml><Document><Style id=\"f\"><PolyStyle><color>8000ff00</color></PolyStyle></Style>"
                      "<Placemark><LineString><coordinates>";
    u64 seed = 11;
    auto unit = [&]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (f64)(seed >> 11) / (f64)(1ull << 53);
    };
    f64 longitude = 10, latitude = 48, heading = 0;
    char tuple[64];
    for (i32 i = 0; i < 40000; i++) {
        heading += (unit() - 0.5) * 1.0;
        longitude += 0.3 * unit() * std::cos(heading);
        latitude += 0.2 * unit() * std::sin(heading);
        if (std::fabs(longitude - 10) > 25 || std::fabs(latitude - 48) > 12) heading += kPi;
        std::snprintf(tuple, sizeof tuple, "%.6f,%.6f ", longitude, latitude);
        kml += tuple;
    }
    // Survey lines 1,700 km long, 550 m apart, back and forth: 6,000 segments each far longer than a
    // street-zoom chunk may be.
    kml += "</coordinates></LineString></Placemark><Placemark><LineString><coordinates>";
    for (i32 i = 0; i <= 6000; i++) {
        std::snprintf(tuple, sizeof tuple, "%d,%.6f ", i % 2 ? 20 : 0, 40 + 0.005 * i);
        kml += tuple;
    }
    kml += "</coordinates></LineString></Placemark><Placemark><styleUrl>#f</styleUrl><Polygon><outerBoundaryIs>"
           "<LinearRing><coordinates>";
    for (i32 i = 0; i <= 3000; i++) {
        f64 a = 2 * kPi * (i % 3000) / 3000;
        std::snprintf(tuple, sizeof tuple, "%.6f,%.6f ", 40 + 15 * std::cos(a), 40 + 10 * std::sin(a));
        kml += tuple;
    }
    kml += "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark></Document></kml>";
    ASSERT_EQ(parseKmlText(kml, &loader->overlay).length, 0);
    buildOverlayGeometry(&loader->geometry, &loader->overlay);
    ASSERT_EQ(loader->geometry.message.length, 0);
    ASSERT_GT(loader->geometry.fillCount, 3u * 2900);

    ui->width = 1920, ui->height = 1080, ui->halfWidth = 960, ui->halfHeight = 540;
    MapView view = makeMapView(WidgetId{}, MapViewModeMap);
    view.rect = view.clipRect = Rect{0, 1920, 0, 1080};
    view.rectCentreX = 960, view.rectCentreY = 540;
    const OverlayGeometry* g = &loader->gpu.taken;
    for (i32 level = 9; level <= 31; level++) {
        view.pixelsPerUnit = std::ldexp(1.0, level) * 1.3;
        // Centred on the line's start, where the line is at every zoom.
        GeoPoint centre{10, 48};
        Vec2 at;
        latLngToMercator(&at, &centre);
        view.centreX = at.x, view.centreY = at.y;
        ui->batches.retained.count = 0;
        drawVectorOverlayItems(ui, &view, loader, 20.0f, 0.5f);
        SCOPED_TRACE(level);
        const RetainedDrawList* list = &ui->batches.retained;
        ASSERT_LT(list->count, kRetainedDrawCapacity);
        ASSERT_GT(list->count, 0);
        if (level <= 11) {
            // The whole overlay in view: every record of the band and every triangle is drawn.
            u64 lines = 0, fills = 0;
            for (i32 d = 0; d < list->count; d++) {
                (list->draws[d].kind == RetainedLines ? lines : fills) += list->draws[d].count;
            }
            EXPECT_EQ(lines, g->bands[overlayBandFor(g, view.pixelsPerUnit)].segmentCount);
            EXPECT_EQ(fills, g->fillCount);
        }
    }
    loader->gpu.taken.taken = 0;
    clearOverlayGeometry(&loader->gpu.taken);
    clearOverlayGeometry(&loader->geometry);
    releaseVectorOverlay(&loader->overlay);
    std::free(scene);
}

}  // namespace
