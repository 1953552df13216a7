#include "Screens/DroneSetup/GremsyParametersScreen.h"

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Drone/FlightController/Parameters.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

#include <cmath>

namespace {

struct GremsyParametersScreenState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;
};

struct RateRow {
    const char* label;
    GremsyParameter parameter;
    const char* recommendation;
};

const RateRow kRateRows[] = {
    {"MOUNT_ORIENTATION Rate", GremsyOrientationRate, "Tarnwick recommends 30 Hz"},
    {"HEARTBEAT Rate", GremsyHeartbeatEmit, "Tarnwick recommends 1 Hz"},
    {"SYS_STATUS Rate", GremsyStatusRate, "Tarnwick recommends 0 Hz"},
    {"MOUNT_STATUS Rate", GremsyEncoderCountRate, "Tarnwick recommends 0 Hz"},
    {"RAW_IMU Rate", GremsyImuRate, "Tarnwick recommends 0 Hz"},
};

}  // namespace

FixedString gremsyFirmwareText(const GremsyGimbalState* gimbal) {
    const ParameterSlot* p = gimbal->parameters;
    if (!p[GremsyVersionX].received || !p[GremsyVersionY].received || !p[GremsyVersionZ].received) {
        return makeString("Unknown");
    }
    FixedString parts[3];
    for (i32 i = 0; i < 3; i++) {
        f32 value = parameterFloat(p[GremsyVersionX + i].value);
        parts[i] = formatInt("@", std::fabs(value) < 1e15f ? (i64)value : 0);
    }
    return formatStrStrStr("@.@.@", parts[0], parts[1], parts[2]);
}

namespace {

FixedString rateText(const ParameterSlot* slot) {
    if (!slot->received) return makeString("Unknown");
    return formatStr("@ Hz", stringFromDoubleTrimmed(parameterFloat(slot->value), 3));
}

}  // namespace

void gremsyParametersScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                            void* scratch) {
    (void)result;
    GremsyParametersScreenState* state = (GremsyParametersScreenState*)scratch;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    u64 now = stack->now;
    GremsyGimbalState* gimbal = &app->droneConnection.gremsyGimbal;
    beginMapView(&ui->screenRect, platform, ui, view);

    FixedString title = makeString("Firmware version");
    FixedString version = gremsyFirmwareText(gimbal);
    infoRow(&title, &version, 0, ui, view);

    for (const RateRow& row : kRateRows) {
        ParameterSlot* slot = &gimbal->parameters[row.parameter];
        slot->viewedTime = now;
        FixedString label = makeString(row.label);
        FixedString value = rateText(slot);
        FixedString description = formatStrStr("@\n@", value, makeString(row.recommendation));
        WidgetId id{(u64)__LINE__ * 100 + row.parameter, __FILE__};
        TextFieldRowResult r = textFieldRow(&label, &description, &state->editBuffer, &value, TextKeyboardNumpad, 0,
                                            stack, ui, &stack->runner.textFocus, view, &id);
        if (r.submitted && state->editBuffer.length > 0) {
            i64 position = 0;
            f64 typed = parseDouble((const u8*)state->editBuffer.text, &position, state->editBuffer.length, 0);
            if (position != state->editBuffer.length || !std::isfinite(typed)) typed = 0;
            slot->wanted = parameterBytesFromFloat((f32)typed);
            slot->changeTime = now;
            slot->lastSendTime = kParameterSendNow;
            view->openRowId = WidgetId{};
        }
    }
    endMapView(stack, ui, view);
}
