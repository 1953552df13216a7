#include "Drone/CameraControl.h"

#include "Drone/ControllerBindings.h"
#include "Platform/Input.h"

#include <cmath>

namespace {

enum BindingSlot : u32 {
    SlotToggle = 0,
    SlotRecenter,
    SlotSecondary,
    SlotVisIr,
    SlotPhoto,
    SlotVideo,
};

struct Bindings {
    DroneConnection* connection;
    const DroneLinkInputs* inputs;
    const RcChannels* rc;
    f64 dt;
    bool zoomed;
};

BindingButtonState button(Bindings* b, u32 input, BindingSlot slot) {
    const DroneLinkInputs* in = b->inputs;
    return bindingButtonState(input, b->rc, in->previousGamepad, in->gamepad, in->input,
                              &b->connection->bindingPressStart[slot], in->now);
}

f32 axis(Bindings* b, u32 input) {
    return bindingAxisValue(input, b->rc, b->inputs->gamepad, b->inputs->input, b->inputs->now);
}

void zoomBy(Bindings* b, f32 v) {
    DroneConnection* connection = b->connection;
    f64 factor = std::exp2(v * b->dt);
    connection->zoomChanged = 1;
    connection->commandedZoom = (connection->commandedZoom > 0 ? connection->commandedZoom : 1) * factor;
    CameraView* view = &connection->cameraView;
    f64 tangent = view->zoomWanted && view->wantedTangent > 0 ? view->wantedTangent : view->horizontalTangent;
    view->zoomWanted = 1;
    view->wantedTangent = tangent / factor;
    b->zoomed = true;
}

void raise(u32* flag) { *flag = 1; }

}  // namespace

u32 handleCameraMessages(DroneConnection* connection, const MavlinkMessage* message, u64 now) {
    if (handleCameraInformation(message, &connection->cameraIdentity, now)) return 1;
    u16 camera = connection->cameraIdentity.cameraSource;
    if (connection->cameraKind == CameraGimbal &&
        handleLayoutCameraMessage(message, &connection->workswellCamera, camera, &connection->cameraView, now)) {
        return 1;
    }
    if (connection->cameraKind == CameraProtocol &&
        handleCameraProtocolMessage(message, &connection->protocolCamera, camera, &connection->cameraView, now)) {
        return 1;
    }
    if (handleNextVisionExtension(message, &connection->nextVision, &connection->cameraView.imagesCaptured, now)) {
        connection->cameraKind = CameraNextVision;
        connection->nextVisionViaDrone = 1;
        return 1;
    }
    if (handleGremsyGimbalMessage(message, &connection->gremsyGimbal, now)) {
        connection->cameraKind = CameraGimbal;
        return 1;
    }
    return 0;
}

void applyCameraBindings(DroneConnection* connection, const DroneLinkInputs* inputs) {
    const Preferences* preferences = inputs->preferences;
    Bindings b{connection, inputs, &connection->vehicle.rcChannels, 0, false};
    b.dt = connection->bindingsTime ? (f64)(inputs->now - connection->bindingsTime) / 1e6 : 0;
    u32 kind = connection->cameraKind;
    if (kind == CameraGimbal) connection->reportedZoom = connection->workswellCamera.zoomLevel;

    if (preferences->togglePitchYawBinding != ControllerInputUnbound) {
        BindingButtonState toggle = button(&b, preferences->togglePitchYawBinding, SlotToggle);
        if (toggle.clicked) connection->pitchYawToggle = !connection->pitchYawToggle;
        if (toggle.held) connection->gimbalRecenter = 1;
    } else if (preferences->togglePitchZoomBinding != ControllerInputUnbound) {
        BindingButtonState toggle = button(&b, preferences->togglePitchZoomBinding, SlotToggle);
        if (toggle.clicked) connection->pitchZoomToggle = !connection->pitchZoomToggle;
        if (toggle.held) connection->gimbalRecenter = 1;
        connection->pitchYawToggle = 0;
    } else {
        connection->pitchYawToggle = 0;
        connection->pitchZoomToggle = 0;
    }

    f64 zoomScale = connection->reportedZoom != 0 ? connection->reportedZoom : 1;
    f32 pitch = axis(&b, preferences->pitchGimbalBinding);
    if (pitch != 0) {
        f32 r = (f32)(preferences->gimbalSticksScalar * pitch * 70 * zoomScale);
        bool eitherToggle = connection->pitchYawToggle || connection->pitchZoomToggle;
        if (kind == CameraProtocol) {
            connection->gimbalPitchRate += r;
        } else if (kind == CameraNextVision) {
            if (eitherToggle) zoomBy(&b, pitch); else connection->gimbalPitchRate += r;
        } else if (connection->pitchYawToggle) {
            connection->gimbalYawRate += r;
        } else if (connection->pitchZoomToggle) {
            zoomBy(&b, pitch);
        } else {
            connection->gimbalPitchRate += r;
        }
    }
    f32 yaw = axis(&b, preferences->yawGimbalBinding);
    connection->gimbalYawRate += (f32)(preferences->gimbalSticksScalar * yaw * 70 * zoomScale);
    f32 zoom = axis(&b, preferences->zoomCameraBinding);
    if (zoom != 0) zoomBy(&b, zoom);
    connection->bindingsTime = inputs->now;

    if (button(&b, preferences->recenterGimbalBinding, SlotRecenter).down) connection->gimbalRecenter = 1;
    if (button(&b, preferences->secondaryGimbalPositionBinding, SlotSecondary).down) {
        connection->gimbalSecondaryPosition = 1;
    }

    WorkswellCameraState* workswell = &connection->workswellCamera;
    NextVisionState* nextVision = &connection->nextVision;
    ProtocolCameraState* protocol = &connection->protocolCamera;
    if (button(&b, preferences->toggleVisIrCameraBinding, SlotVisIr).clicked) {
        if (kind == CameraGimbal) {
            raise(&workswell->requests[workswell->cameraMode == 0 ? WorkswellRequestVisible : WorkswellRequestInfrared]);
        } else if (kind == CameraNextVision) {
            raise(&nextVision->requests[nextVision->activeSensor == 0 ? NextVisionRequestSensor1
                                                                      : NextVisionRequestSensor0]);
        }
    }
    if (button(&b, preferences->shootPhotoBinding, SlotPhoto).clicked) {
        if (kind == CameraGimbal) raise(&workswell->requests[WorkswellRequestTakePhoto]);
        if (kind == CameraNextVision) raise(&nextVision->requests[NextVisionRequestSnapshot]);
        if (kind == CameraProtocol) raise(&protocol->requests[ProtocolRequestSinglePhoto]);
    }
    if (button(&b, preferences->recordVideoBinding, SlotVideo).clicked) {
        if (kind == CameraGimbal) {
            raise(&workswell->requests[workswell->recording ? WorkswellRequestStopVideo : WorkswellRequestStartVideo]);
        }
        if (kind == CameraNextVision) {
            raise(&nextVision->requests[nextVision->recordingChannel1 ? NextVisionRequestStopRecording
                                                                      : NextVisionRequestStartRecording]);
        }
        if (kind == CameraProtocol) {
            raise(&protocol->requests[protocol->recording ? ProtocolRequestStopVideo : ProtocolRequestStartVideo]);
        }
    }
    if (!b.zoomed) connection->commandedZoom = connection->reportedZoom;

    GimbalPointing* pointing = &connection->gimbalPointing;
    pointing->pitchInput = connection->gimbalPitchRate;
    pointing->yawInput = connection->gimbalYawRate;
    pointing->recenterHeld = connection->gimbalRecenter;
    pointing->secondaryHeld = connection->gimbalSecondaryPosition;
}

void controlCameras(DroneConnection* connection, const DroneLinkInputs* inputs, DroneOutput* cameraOutput) {
    u64 now = inputs->now;
    CameraIdentity* identity = &connection->cameraIdentity;
    requestCameraInformation(identity, cameraOutput, now);
    i32 named = cameraKindFromInformation(identity, now);
    if (named >= 0) connection->cameraKind = (u32)named;

    const Preferences* preferences = inputs->preferences;
    switch (connection->cameraKind) {
    case CameraNextVision:
        controlNextVisionCamera(&connection->nextVision, &connection->cameraView, &connection->gimbalPointing,
                                &connection->vehicle, preferences, cameraOutput, now);
        break;
    case CameraProtocol:
        controlCamera(&connection->protocolCamera, identity->cameraSource, &connection->cameraView,
                      &connection->gimbalPointing, &connection->vehicle, preferences, inputs->videoHeight,
                      cameraOutput, now);
        break;
    case CameraGimbal:
        controlGimbal(&connection->gremsyGimbal, &connection->gimbalPointing, &connection->vehicle, preferences,
                      inputs->flightLogger, cameraOutput, now);
        updateCameraControl(&connection->workswellCamera, identity->cameraSource, &connection->cameraView,
                            cameraOutput, now);
        break;
    default:
        controlGimbal(&connection->gremsyGimbal, &connection->gimbalPointing, &connection->vehicle, preferences,
                      inputs->flightLogger, cameraOutput, now);
        break;
    }
    connection->cameraView.zoomWanted = 0;
}
