// A tune typed as tone segments, "{seconds, hz, startVolume[, change]}, ...", played over and over
// with a second's pause between plays, for designing warning sounds.
#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/UserInterface/TextEdit.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr Color kDesignBackground = 0xFF090314;

}  // namespace

i32 parseTune(const u8* text, i64 length, ToneSegment* segments) {
    i32 accepted = 0;
    f64 values[4] = {};
    i32 valueCount = 0;
    bool open = false;
    i64 position = 0;
    while (position < length) {
        i64 start = position;
        i32 c = utf8DecodeNext(text, length, &position);
        if (c < 0) break;  // the end, or a malformed sequence
        if (c == '{') {
            open = true;
            valueCount = 0;
            for (f64& v : values) v = 0;
        } else if ((c >= '0' && c <= '9') || c == '-') {
            i64 at = start;
            f64 value = parseDouble(text, &at, length, 0);
            position = at > start ? at : position;
            if (open) {
                if (valueCount < 4) values[valueCount] = value;
                valueCount++;
            }
        } else if (c == '}') {
            if (open && valueCount >= 1 && valueCount <= 4 && accepted < kTuneSteps) {
                segments[accepted++] = ToneSegment{values[0], values[1], values[2], values[3]};
            }
            open = false;
        }
    }
    return accepted;
}

void designSoundScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                       void* scratch) {
    (void)platform;
    (void)result;
    ProfilingScope scope("Design Sound Screen");
    setBackground(ui, kDesignBackground);
    DesignSoundState* state = (DesignSoundState*)scratch;
    f32 line = screenLineHeight(ui);
    Rect content = ui->screenRect;
    Rect box{content.x0 + line, content.x1 - line, content.y0 + line, content.y1 - line};
    FixedString placeholder = makeString("{seconds, hz, startVolume}, {seconds, hz, startVolume}, etc");
    TextStyle style{0xFFC0C0C0, kNoOutline, kSelectionOrange, 0.7f * baseTextSize(ui), 0, 0};
    WidgetId id{25, __FILE__};
    textField(&state->text, &placeholder, AnchorTopLeft, TextKeyboardFull, &box, &content, 0.5f, &style, kButtonGrey,
              ui, stack, &stack->runner.textFocus, &id);

    state->segmentCount = parseTune((const u8*)state->text.text, state->text.length, state->segments);
    f64 seconds = 0;
    for (i32 i = 0; i < state->segmentCount; i++) {
        if (state->segments[i].seconds > 0) seconds += state->segments[i].seconds;
    }
    i64 now = (i64)stack->now;
    if (state->segmentCount > 0 && now >= state->nextPlayUs) {
        // The play takes a copy in the application's memory: this scratch is rewritten every frame
        // and handed to the next screen, while the audio thread reads the steps to the play's end.
        queueTuneCopy(&app->designedTunes, &app->sound.queue, state->segments, state->segmentCount, (u64)now);
        f64 wait = (seconds + 1) * 1e6;
        state->nextPlayUs = now + (wait < 9e17 ? (i64)wait : (i64)9e17);
    }
}
