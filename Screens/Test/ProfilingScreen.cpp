// The running program's status report, rebuilt every frame: the debug report's sections with the
// profiling table tab-separated, so that the text layout aligns its columns; scrolled down by drag
// and wheel, and sideways by drag where a line is wider than the screen.
#include "AppState/AppState.h"
#include "Core/Clock.h"
#include "Core/Profiler.h"
#include "Platform/Platform.h"
#include "Screens/Test/DebugReport.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Widgets.h"

void writeProfilingReport(ByteWriter* writer, AppState* app, const Platform* platform, const UiState* ui, i64 utcMs,
                          i64 zoneOffsetMs) {
    appendReportHeader(writer, utcMs, zoneOffsetMs);
    appendMemorySection(writer, platform, ui);
    appendFilesSection(writer, platform);
    appendSocketSection(writer, app);
    appendRendererSection(writer, ui);
    appendProfilingReportB(&globalProfiler, writer);
}

void profilingScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                     void* scratch) {
    (void)result;
    ProfilingScope scope("Profiling Screen");
    setBackground(ui, kBlackBackground);
    ProfilingState* state = (ProfilingState*)scratch;
    Rect rect = ui->screenRect;
    f64 rectWidth = rect.x1 - rect.x0;
    if (!state->initialised) {
        state->initialised = 1;
        state->view = makeMapView(WidgetId{25, __FILE__}, MapViewModeMap);
        state->content[0] = 0;
        state->content[1] = rectWidth;
        state->content[2] = -(f64)(rect.y1 - rect.y0);
        state->content[3] = 0;
    }
    // Content units are pixels: the zoom that fits the content's width into the view is undone, so a
    // report wider than the screen keeps its size and scrolls sideways under a drag, as it scrolls
    // down under a drag or the wheel.
    MapView* view = &state->view;
    f64 contentWidth = state->content[1] - state->content[0];
    view->zoom = rectWidth > 0 && contentWidth > rectWidth ? contentWidth / rectWidth : 1;
    updateMapView(view, &rect, Box2{state->content[0], state->content[1], state->content[2], state->content[3]}, ui,
                  stack, platform, MapWheelScrolls);

    static u8 bytes[kProfilingReportBytes];  // main thread only
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    i64 utcMs = app->clocks.utcMilliseconds ? app->clocks.utcMilliseconds() : currentTimeMilliseconds();
    writeProfilingReport(&writer, app, platform, ui, utcMs, getTimeZoneOffsetMs());

    if (ui->fontInfo) {
        f32 base = baseTextSize(ui);
        TextStyle style{0xFFFFFFFF, 0x00FFFFFF, 0xFFE36400, 0.7f * base, 0, 0};
        Vec2F32 origin{mapViewWindowX(view, 0), mapViewWindowY(view, 0)};
        i64 length = writer.length < writer.capacity ? writer.length : writer.capacity;
        TextLayoutResult layout =
            drawTextChecked(ui, TextSlice{bytes, length}, AnchorTopLeft, origin, 0.5f, view->clipRect, style);
        // The scroll range follows the text, both ways; a narrower text keeps the screen's width.
        f64 width = layout.bounds.x1 - layout.bounds.x0;
        state->content[1] = width > rectWidth ? width : rectWidth;
        state->content[2] = -(f64)(layout.bounds.y1 - layout.bounds.y0);
    }
    MapTaps taps;
    handleMapPointers(&taps, view, stack);
}
