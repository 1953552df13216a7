#include "Screens/Test/TestScreen.h"

#include <cstring>

#include "AppState/AppState.h"
#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Decoders/Inflate.h"
#include "Platform/Platform.h"
#include "SelfTests/SelfTests.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/TextEdit.h"
#include "SourceCommon/UserInterface/Widgets.h"

i64 (*testScreenClock)() = nullptr;

// The TLS suites work in the platform's scratch area.
static_assert(kTlsSelfTestMemoryBytes <= (u64)kScratchSize);

namespace {

constexpr Color kEditBackground = 0xFF303030;
constexpr Color kSquareIdle = 0xFFCACC00;
constexpr Color kSquarePressed = 0xFF0000DD;
constexpr Color kSquareKeyF = 0xFF0070DD;
constexpr Color kCircleFill = 0xFF0070DD;
constexpr Color kBlack = 0xFF000000;
constexpr i32 kKeyF = 0x46;
constexpr i64 kBlockBytes = 1000;
// Larger depths are drawn in front. The square lies over the logo (which is opaque where the square
// is), the texts over everything but the pointer circles.
constexpr f32 kSquareDepth = 0.55f;
constexpr f32 kTextDepth = 0.9f;

void appendLine(ByteWriter* out, const char* label, i64 value) {
    appendCString(label, out);
    appendInt64(value, out);
    appendCString("\n", out);
}

// Drops the last line feed.
void trimLastLine(ByteWriter* writer) {
    if (writer->length > 0 && writer->data[writer->length - 1] == '\n') writer->length--;
}

void drawBlock(UiState* ui, const ByteWriter* block, i32 anchor, Vec2F32 point, const TextStyle& style) {
    if (!ui->fontInfo) return;  // before the font has loaded
    TextSlice slice{block->data, block->length};
    addWrappedText(slice, anchor, point, kTextDepth, ui->screenRect, style, noTextCaret(), uiTextTarget(ui));
}

}  // namespace

i32 huffmanTreeCheck() {
    const u8 lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};  // "A" to "H"
    i32 nodes[14] = {};
    i32 used = buildHuffmanDecodeTree(lengths, 8, nodes, 14);
    if (used <= 0 || used > 14) return 1;
    // Follows one bit value from the root to a leaf; -1 when the walk leaves the tree.
    auto walk = [&](i32 bit) {
        i32 pair = 0;
        for (i32 depth = 0; depth < 8; depth++) {
            i32 entry = nodes[pair + bit];
            if (entry <= 0) return -entry;
            if (entry + 1 >= 14) return -1;
            pair = entry;
        }
        return -1;
    };
    return walk(0) == 'F' - 'A' && walk(1) == 'H' - 'A' ? 0 : 1;
}

void runTestScreenSuites(TestScreenState* state, void* memory) {
    state->testsRun = 1;
    urlParseTest();  // its code is kept nowhere
    state->md5Result = md5TestSuite();
    state->sha1Result = sha1TestSuite();
    state->sha256Result = sha256TestSuite();
    state->sha384Result = sha384TestSuite();
    state->sha512Result = sha512TestSuite();
    state->aesGcmResult = aesGcmTestSuite();
    state->aesCbcResult = aesCbcTestSuite();
    state->huffmanResult = huffmanTreeCheck();
    state->eccResult = ellipticCurveCryptographyTestSuite();
    state->editText = makeString("Edit Me\nSecondLine");
    state->tls13Result = tls13TestSuite(memory);
    state->tls12BasicResult = tls12BasicTestSuite(memory);
    state->tls12ExtendedResult = tls12ExtendedTestSuite(memory);
}

void appendTestScreenBlockA(ByteWriter* out, const TestScreenState* state, i64 utcMilliseconds,
                            const FixedString* dnsStatus) {
    DateTimeParts local = calendarFromMilliseconds(utcMilliseconds + timeZoneOffsetMsAt(utcMilliseconds));
    appendCString("Local Time:\t", out);
    appendInt64(local.year, out);
    appendCString("-", out);
    appendInt64(local.month, out);
    appendCString("-", out);
    appendInt64(local.day, out);
    appendCString(" ", out);
    appendInt64(local.hour, out);
    appendCString(":", out);
    appendInt64(local.minute, out);
    appendCString(":", out);
    appendInt64(local.second, out);
    appendCString(".", out);
    appendInt64(local.millisecond, out);
    appendCString("\n", out);
    appendLine(out, "ECC:\t", state->eccResult);
    appendLine(out, "AES GCM:\t", state->aesGcmResult);
    appendLine(out, "AES CBC:\t", state->aesCbcResult);
    appendLine(out, "MD5:\t", state->md5Result);
    appendLine(out, "SHA1:\t", state->sha1Result);
    appendLine(out, "SHA256:\t", state->sha256Result);
    appendLine(out, "SHA384:\t", state->sha384Result);
    appendLine(out, "SHA512:\t", state->sha512Result);
    appendLine(out, "TLS13:\t", state->tls13Result);
    appendLine(out, "TLS12Basic:\t", state->tls12BasicResult);
    appendLine(out, "TLS12Extended:\t", state->tls12ExtendedResult);
    appendCString("DNS:\t", out);
    appendFixedStringRef(dnsStatus, out);
    appendCString("\n", out);
    trimLastLine(out);
}

void testScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                void* scratch) {
    (void)result;
    ProfilingScope scope("Test Screen");
    TestScreenState* state = (TestScreenState*)scratch;
    if (!state->testsRun) runTestScreenSuites(state, platform->scratch);

    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 0;
    const Rect screen = ui->screenRect;
    const f32 centreX = (screen.x0 + screen.x1) / 2;
    const f32 centreY = (screen.y0 + screen.y1) / 2;
    const TextStyle style{kTextWhite, kNoOutline, kSelectionOrange, app->uiMetrics.textHeight, 0, 0};

    // The edit box at the left edge, centred vertically.
    {
        Rect box{screen.x0, screen.x0 + 300, centreY - 150, centreY + 150};
        addRoundedRect(box, 0.6f - 0.001f, screen, 0, 0, kEditBackground, kEditBackground,
                       &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
        FixedString placeholder = makeString("Enter text here");
        WidgetId id = WIDGET_ID;
        textField(&state->editText, &placeholder, AnchorLeftCentre, TextKeyboardFull, &box, &screen, 0.6f, &style,
                  kTextWhite, ui, stack, &stack->runner.textFocus, &id);
    }
    // The square: red while the mouse is pressed, orange while F is held.
    {
        Color fill = kSquareIdle;
        if (platform->pointers[0].state == PointerPressed) {
            fill = kSquarePressed;
        } else if (isKeyDown(&platform->input, kKeyF)) {
            fill = kSquareKeyF;
        }
        Rect square{centreX - 150, centreX + 150, centreY - 150, centreY + 150};
        addRoundedRect(square, kSquareDepth, screen, 0, 20, fill, kBlack, &ui->batches.coloredRect, ui->halfWidth,
                       ui->halfHeight);
    }
    {
        Rect logoBox{centreX - 500, centreX + 500, centreY - 500, centreY + 500};
        drawIconInRect(&logoBox, &screen, 0.5f, AnchorCentre, IconKindAsset, AssetLogo, &ui->batches.textured2d, ui);
    }

    u8 blockBytes[kBlockBytes];
    {
        ByteWriter block = makeByteWriter(blockBytes, kBlockBytes);
        i64 now = testScreenClock ? testScreenClock() : currentTimeMilliseconds();
        appendTestScreenBlockA(&block, state, now, &app->dnsResolver.lookups[0].message);
        // Above the runner's corner button, which would hide its last lines.
        drawBlock(ui, &block, AnchorBottomLeft, Vec2F32{screen.x0, screen.y0 + stack->runner.reservedHeight}, style);
    }
    drawBlock(ui, &ui->rendererLog, AnchorTopLeft, Vec2F32{screen.x0, screen.y1}, style);
    {
        ByteWriter block = makeByteWriter(blockBytes, kBlockBytes);
        appendLine(&block, "Width:\t", ui->width);
        appendLine(&block, "Height:\t", ui->height);
        for (i32 p = 0; p < 2; p++) {
            const PointerSlot* pointer = &platform->pointers[p];
            appendLine(&block, p == 0 ? "Pointer 0 State:\t" : "Pointer 1 State:\t", pointer->state);
            appendLine(&block, p == 0 ? "Pointer 0 x:\t" : "Pointer 1 x:\t", (i64)pointer->x);
            appendLine(&block, p == 0 ? "Pointer 0 y:\t" : "Pointer 1 y:\t", (i64)pointer->y);
        }
        appendLine(&block, "Wheel:\t", platform->wheelTotal);
        appendCString("A\tB\tC\tD\nA\tB\tC\n", &block);
        trimLastLine(&block);
        drawBlock(ui, &block, AnchorBottomRight, Vec2F32{screen.x1, screen.y0}, style);
    }
    // Circles under the pressed pointers.
    for (i32 p = 0; p < kPointerSlots; p++) {
        const PointerSlot* pointer = &platform->pointers[p];
        if (pointer->state != PointerPressed) continue;
        Rect circle{pointer->x - 100, pointer->x + 100, pointer->y - 100, pointer->y + 100};
        addRoundedRect(circle, 1.0f, screen, 5, 100, kCircleFill, kBlack, &ui->batches.coloredRect, ui->halfWidth,
                       ui->halfHeight);
    }
}
