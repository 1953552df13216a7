// The running program's status report, rebuilt every frame: the debug report's sections with the
// profiling table tab-separated, so that the text layout aligns its columns; word-wrapped to the
// screen's width and scrolled down and up by drag and wheel.
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
    // The content is as wide as the screen, so the view scrolls only down and up.
    MapView* view = &state->view;
    updateMapView(view, &rect, Box2{state->content[0], state->content[1], state->content[2], state->content[3]}, ui,
                  stack, platform, MapWheelScrolls);

    static u8 bytes[kProfilingReportBytes];  // main thread only
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    i64 utcMs = app->clocks.utcMilliseconds ? app->clocks.utcMilliseconds() : currentTimeMilliseconds();
    writeProfilingReport(&writer, app, platform, ui, utcMs, getTimeZoneOffsetMs());

    if (ui->fontInfo) {
        f32 base = baseTextSize(ui);
        TextStyle style{0xFFFFFFFF, 0x00FFFFFF, 0xFFE36400, 0.7f * base * (f32)view->zoom, 0, 0};
        Vec2F32 origin{mapViewWindowX(view, 0), mapViewWindowY(view, 0)};
        i64 length = writer.length < writer.capacity ? writer.length : writer.capacity;
        // Word-wrapped to the content rectangle; the line breaks added take room of their own.
        static u8 wrapped[2 * kProfilingReportBytes];  // main thread only
        ByteWriter wrap = makeByteWriter(wrapped, sizeof(wrapped));
        wrapTextToWidth(TextSlice{bytes, length}, (f32)(rect.x1 - origin.x), style, usableFontRecord(ui->fontInfo),
                        &wrap);
        i64 wrappedLength = wrap.length < wrap.capacity ? wrap.length : wrap.capacity;
        TextLayoutResult layout =
            drawTextChecked(ui, TextSlice{wrapped, wrappedLength}, AnchorTopLeft, origin, 0.5f, view->clipRect, style);
        // The scroll range follows the text's height; its width stays the screen's.
        f64 scale = view->pixelsPerUnit > 0 ? view->pixelsPerUnit : 1;
        state->content[2] = -(f64)(layout.bounds.y1 - layout.bounds.y0) / scale;
    }
    MapTaps taps;
    handleMapPointers(&taps, view, stack);
}
