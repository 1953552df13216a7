// The cameras and the gimbal against node-mavlink stand-ins on the loopback, stepped on the test's
// clock: identification, status rounds, request flags, extended parameters, stick input and the
// bindings, the hyperspectral sensor's texts.
#include "Core/Format.h"
#include "Drone/ControllerBindings.h"
#include "Platform/Input.h"
#include "StandInRig.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace standin;

namespace {

struct Command {
    int sys = 0, comp = 0, targetSys = 0, targetComp = 0, command = 0;
    double p[7] = {};
};

std::vector<Command> commands(const Rig& rig, int number = -1) {
    std::vector<Command> found;
    for (const std::string& line : rig.linesStartingWith("command ")) {
        std::vector<std::string> w = splitWords(line);
        Command c;
        c.sys = std::stoi(w[1]);
        c.comp = std::stoi(w[2]);
        c.targetSys = std::stoi(w[3]);
        c.targetComp = std::stoi(w[4]);
        c.command = std::stoi(w[5]);
        for (int i = 0; i < 7; i++) c.p[i] = std::strtod(w[6 + i].c_str(), nullptr);
        if (number < 0 || c.command == number) found.push_back(c);
    }
    return found;
}

size_t countLines(const Rig& rig, const std::string& prefix) { return rig.linesStartingWith(prefix).size(); }

// Reads everything the stand-in printed about what it was sent, without moving the test's clock.
void settle(Rig* rig) { rig->sync(); }

// A game pad the test holds: rockers as axes, buttons as keys of the key map.
struct ScriptedPad {
    GamepadState pad{}, previous{};
    InputState keys{};
    void attach(Rig* rig) {
        pad.controllerKind = ControllerPilotPro;
        previous.controllerKind = ControllerPilotPro;
        rig->inputs.gamepad = &pad;
        rig->inputs.previousGamepad = &previous;
        rig->inputs.input = &keys;
    }
    // Before each frame: what was down becomes the previous frame's state.
    void frame() {
        previous = pad;
        std::memcpy(keys.previousKeys, keys.keys, sizeof(keys.keys));
    }
    void key(i32 code, bool down) { setKeyState(code, &keys, down ? 1 : 0); }
};

void stepWith(Rig* rig, ScriptedPad* pad, int frames) {
    for (int i = 0; i < frames; i++) {
        rig->step();
        pad->frame();
    }
}

void startCamera(Rig* rig, const std::vector<std::string>& options) {
    startStandIn(rig, "camera", options, [&] { return countLines(*rig, "ready") > 0; });
}

}  // namespace

TEST(CameraStandIn, ProtocolCameraIsAskedUntilItNamesItselfThenPolledAndCommanded) {
    Rig rig;
    rig.preferences->mappingKitPhotoInterval = 4;
    startCamera(&rig, {"sony", "silent-info=2"});
    if (HasFatalFailure()) return;
    DroneConnection* c = rig.connection.get();
    ASSERT_TRUE(rig.runUntil([&] { return c->cameraKind == CameraProtocol; }, 400));
    settle(&rig);
    std::vector<Command> asks = commands(rig, 521);
    ASSERT_EQ(asks.size(), 3u) << "two unanswered requests, then the answered one";
    for (const Command& ask : asks) {
        EXPECT_EQ(ask.targetSys, 1);
        EXPECT_EQ(ask.targetComp, 100);
        EXPECT_EQ(ask.p[0], 1);
    }

    // A log started now begins with the camera's HEARTBEAT and then its CAMERA_INFORMATION (the
    // vehicle's HEARTBEAT stays with the vehicle's records): the frames registered for its start.
    rig.logger.registeredEntryCount = 0;
    rig.step();
    std::vector<std::string> registered;
    for (u32 i = 0; i < rig.logger.registeredEntryCount; i++) {
        const ByteWriter& frame = rig.logger.registeredEntries[i]->payload;
        MavlinkMessage message{};
        parseMavlinkBytes(&message, frame.data, 0, (i32)frame.length);
        ASSERT_TRUE(message.haveMessage);
        registered.push_back(formatIntInt("@ from @", message.messageId, message.source).text +
                             std::string(message.messageId == 0 ? formatInt(" type @", message.payload[4]).text : ""));
    }
    auto at = [&](const std::string& what) { return std::find(registered.begin(), registered.end(), what); };
    ASSERT_NE(at("0 from 356 type 30"), registered.end()) << ::testing::PrintToString(registered);
    EXPECT_LT(at("0 from 356 type 30"), at("259 from 356"));
    EXPECT_NE(at("259 from 356"), registered.end());
    EXPECT_EQ(std::count(registered.begin(), registered.end(), "0 from 257 type 2"), 1)
        << ::testing::PrintToString(registered);

    rig.run(2000000);
    settle(&rig);
    EXPECT_EQ(commands(rig, 521).size(), 3u) << "no request once the camera is known";
    size_t settings = commands(rig, 522).size();
    EXPECT_GE(settings, 3u);
    EXPECT_LE(settings, 5u) << "one status round every half second";
    std::vector<Command> storage = commands(rig, 525);
    ASSERT_GE(storage.size(), 2u);
    EXPECT_EQ(storage[0].p[0], 0);
    EXPECT_EQ(storage[1].p[0], 1);
    EXPECT_TRUE(std::isnan(storage[0].p[1]));
    const ProtocolCameraState& camera = c->protocolCamera;
    EXPECT_EQ(camera.sdPresent, 1u);
    EXPECT_EQ(camera.usbPresent, 1u);
    EXPECT_FLOAT_EQ(camera.sdFreeBytes, 600.0f * 1024 * 1024);
    EXPECT_NE(camera.captureStatusTime, 0u);

    // Extended parameters: a read goes by name until the index is known; a change goes once when
    // the camera echoes it; the 16-character name without a terminator finds its slot.
    ExtParamSlot* ev = &c->protocolCamera.parameters[5];
    ExtParamSlot* vendor = &c->protocolCamera.parameters[2];
    ev->readAskedTime = simulatedNow;
    vendor->readAskedTime = simulatedNow;
    ASSERT_TRUE(rig.runUntil([&] { return ev->receiveTime != 0 && vendor->receiveTime != 0; }, 200));
    EXPECT_EQ(ev->value, 3);
    EXPECT_EQ(ev->paramIndex, 5);
    EXPECT_EQ(vendor->value, 7);
    settle(&rig);
    EXPECT_EQ(countLines(rig, "ext_read -1 CAM_EV"), 1u);
    ev->wanted = 4;
    ev->changeAskedTime = simulatedNow;
    rig.run(3500000);
    settle(&rig);
    EXPECT_EQ(countLines(rig, "ext_set CAM_EV 1 4"), 1u);
    EXPECT_EQ(ev->value, 4);

    // Every request flag reaches the camera with its parameters, and is cleared once queued.
    u32* requests = c->protocolCamera.requests;
    for (u32 r = 0; r < kProtocolCameraRequests; r++) requests[r] = 1;
    rig.run(200000);
    for (u32 r = 0; r < kProtocolCameraRequests; r++) EXPECT_EQ(requests[r], 0u) << r;
    requests[ProtocolRequestSinglePhoto] = 1;
    rig.run(200000);
    settle(&rig);
    std::vector<Command> captures = commands(rig, 2000);
    ASSERT_EQ(captures.size(), 3u);
    EXPECT_EQ(captures[0].p[1], 2);  // single photo first
    EXPECT_EQ(captures[0].p[3], 1);
    EXPECT_EQ(captures[1].p[1], 4);  // the interval from the preference
    EXPECT_EQ(captures[1].p[2], 0);
    EXPECT_EQ(captures[1].p[3], 2);
    EXPECT_EQ(captures[2].p[3], 3);
    std::vector<Command> modes = commands(rig, 530);
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0].p[1], 0);
    EXPECT_EQ(modes[1].p[1], 1);
    ASSERT_EQ(commands(rig, 2500).size(), 1u);
    EXPECT_EQ(commands(rig, 2500)[0].p[0], 6);
    EXPECT_EQ(commands(rig, 2500)[0].p[1], 10);
    EXPECT_EQ(commands(rig, 2501).size(), 1u);
    EXPECT_EQ(commands(rig, 2001).size(), 1u);
    EXPECT_EQ(countLines(rig, "ext_list"), 1u);
}

TEST(CameraStandIn, ProtocolCameraStickGoesAsManualRateWithinItsLimitsAndStopsASecondAfterRelease) {
    Rig rig;
    rig.preferences->gimbalSticksScalar = 1;
    rig.preferences->pitchGimbalBinding = ControllerInputPilotProLeftRocker;
    startCamera(&rig, {"sony"});
    if (HasFatalFailure()) return;
    ScriptedPad pad;
    pad.attach(&rig);
    DroneConnection* c = rig.connection.get();
    ASSERT_TRUE(rig.runUntil([&] { return c->cameraKind == CameraProtocol && c->protocolCamera.gimbalManagerStatusTime; },
                             400));

    // Down at a quarter: a rate of (0.25 - 0.04) / 0.96 x 70 / 50, under the app's own identity.
    pad.pad.leftRocker = -0.25f;
    stepWith(&rig, &pad, 50);
    settle(&rig);
    std::vector<std::string> manual = rig.linesStartingWith("manual ");
    ASSERT_GE(manual.size(), 8u);
    EXPECT_LE(manual.size(), 11u) << "at most one every 100 ms";
    std::vector<std::string> w = splitWords(manual.back());
    EXPECT_EQ(w[1], "255");
    EXPECT_EQ(w[2], "190");
    EXPECT_EQ(w[4], "12");
    EXPECT_NEAR(std::stod(w[5]), -(0.21f / 0.96f) * 70 / 50, 1e-4);
    EXPECT_EQ(w[7], "1");  // the vehicle
    EXPECT_EQ(w[8], "1");

    // Full down: the rate is clamped to -1.
    pad.pad.leftRocker = -1;
    stepWith(&rig, &pad, 20);
    settle(&rig);
    EXPECT_EQ(splitWords(rig.linesStartingWith("manual ").back())[5], "-1");

    // Released: rate 0 for one second, then nothing.
    pad.pad.leftRocker = 0;
    stepWith(&rig, &pad, 100);
    settle(&rig);
    size_t afterRelease = countLines(rig, "manual ");
    stepWith(&rig, &pad, 50);
    settle(&rig);
    EXPECT_EQ(countLines(rig, "manual "), afterRelease) << "nothing a second after the release";
    EXPECT_EQ(splitWords(rig.linesStartingWith("manual ").back())[5], "0");

    // Up from level: the predicted pitch passes 5 degrees, so the gimbal is held at 5 by
    // DO_MOUNT_CONTROL to the vehicle on every frame.
    size_t mounts = commands(rig, 205).size();
    pad.pad.leftRocker = 1;
    stepWith(&rig, &pad, 10);
    settle(&rig);
    std::vector<Command> holds = commands(rig, 205);
    EXPECT_GE(holds.size() - mounts, 8u);
    EXPECT_EQ(holds.back().p[0], 5);
    EXPECT_EQ(holds.back().p[6], 2);
    EXPECT_EQ(holds.back().targetComp, 1);
}

namespace {

// The Gremsy gimbal through the scripted pad: pitch rocker held, then recenter held.
void driveGremsy(const char* firmware, int sign) {
    Rig rig;
    Preferences* p = rig.preferences.get();
    p->gimbalSticksScalar = 1;
    p->pitchGimbalBinding = ControllerInputPilotProLeftRocker;
    p->yawGimbalBinding = ControllerInputPilotProRightRocker;
    p->recenterGimbalBinding = ControllerInputHerelinkA;
    p->recenterPositionPitch = -45;
    startCamera(&rig, {"gremsy", std::string("firmware=") + firmware});
    if (::testing::Test::HasFatalFailure()) return;
    ScriptedPad pad;
    pad.attach(&rig);
    DroneConnection* c = rig.connection.get();
    ASSERT_TRUE(rig.runUntil([&] { return gremsyVersionSign(&c->gremsyGimbal) != 0; }, 400));
    EXPECT_EQ(c->cameraKind, (u32)CameraGimbal);
    settle(&rig);
    EXPECT_EQ(commands(rig, 205).size(), 0u) << "nothing without input";

    pad.pad.leftRocker = 1;  // 70 degrees a second up, for two seconds
    pad.pad.rightRocker = 0.5f;
    stepWith(&rig, &pad, 100);
    settle(&rig);
    std::vector<Command> up = commands(rig, 205);
    ASSERT_GE(up.size(), 15u);
    EXPECT_LE(up.size(), 20u);
    EXPECT_EQ(up.back().targetSys, 1);
    EXPECT_EQ(up.back().targetComp, 154);
    EXPECT_FLOAT_EQ(up.back().p[0], sign * 35.0) << "pitch target clamped to 35";
    EXPECT_GT(sign * up.back().p[2], 30.0) << "yaw follows the other rocker";
    EXPECT_EQ(up.back().p[5], 1);
    EXPECT_EQ(up.back().p[6], 2);

    pad.pad.leftRocker = -1;
    pad.pad.rightRocker = 0;
    stepWith(&rig, &pad, 150);
    settle(&rig);
    EXPECT_FLOAT_EQ(commands(rig, 205).back().p[0], sign * -90.0) << "and to -90";

    pad.key(251, true);  // recenter held, stick still down
    stepWith(&rig, &pad, 10);
    settle(&rig);
    Command last = commands(rig, 205).back();
    EXPECT_FLOAT_EQ(last.p[0], sign * -45.0);
    EXPECT_FLOAT_EQ(last.p[2], 0.0);

    // A one-shot pointing request goes once, as asked, whatever the firmware.
    pad.key(251, false);
    pad.pad.leftRocker = 0;
    stepWith(&rig, &pad, 10);
    settle(&rig);
    size_t before = commands(rig, 205).size();
    c->gremsyGimbal.requestPitch = -30;
    c->gremsyGimbal.requestYaw = 15;
    c->gremsyGimbal.requestRoll = 0;
    c->gremsyGimbal.requestPending = 1;
    stepWith(&rig, &pad, 10);
    settle(&rig);
    std::vector<Command> after = commands(rig, 205);
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_EQ(after.back().p[0], -30);
    EXPECT_EQ(after.back().p[2], 15);
}

}  // namespace

TEST(CameraStandIn, GremsyBeforeFirmware758FlipsPitchAndYawSigns) { driveGremsy("7.5.7", -1); }
TEST(CameraStandIn, GremsyFrom758KeepsPitchAndYawSigns) { driveGremsy("7.5.8", 1); }

TEST(CameraStandIn, WorkswellLayoutIsReadByIndexAndAPressBehindAFullQueueIsDelayedNotLost) {
    Rig rig;
    startCamera(&rig, {"workswell", "ignore-set"});
    if (HasFatalFailure()) return;
    DroneConnection* c = rig.connection.get();
    ASSERT_TRUE(rig.runUntil([&] { return c->cameraKind == CameraGimbal && c->workswellCamera.layout.receiveTime; },
                             400));
    EXPECT_EQ(c->workswellCamera.layout.value, 1u);
    rig.run(2500000);
    settle(&rig);
    EXPECT_EQ(countLines(rig, "ext_read -1 LAYOUT_MAIN"), 1u) << "by name only until the index is known";
    EXPECT_GE(countLines(rig, "ext_read 4 LAYOUT_MAIN") + countLines(rig, "ext_read 4 "), 1u);
    EXPECT_FLOAT_EQ(c->cameraView.crop.x1, 0.703125f);
    std::vector<Command> storage = commands(rig, 525);
    ASSERT_GE(storage.size(), 2u);
    EXPECT_EQ(storage[1].p[0], 2);
    EXPECT_FLOAT_EQ(c->workswellCamera.ssdFreeBytes, 600.0f * 1024 * 1024);

    // A camera that never echoes a change hears it every half second for three seconds.
    c->workswellCamera.layout.wanted = 3;
    c->workswellCamera.layout.changeAskedTime = simulatedNow;
    rig.run(4000000);
    settle(&rig);
    EXPECT_EQ(countLines(rig, "ext_set LAYOUT_MAIN"), 6u);

    // The send queue is full when the photo is asked for: the flag waits for room.
    Socket* socket = rig.droneSocket.get();
    AddressRecord nowhere = makeAddressRecord(4, kLoopback, 9);
    while (queueSocketPacket(&nowhere, socket)) {
    }
    DroneOutput output{socket, c->droneEndpoint, &c->gcsSequence, 255 << 8 | 190, &c->traffic[0]};
    c->workswellCamera.requests[WorkswellRequestTakePhoto] = 1;
    updateCameraControl(&c->workswellCamera, c->cameraIdentity.cameraSource, &c->cameraView, &output, simulatedNow);
    EXPECT_EQ(c->workswellCamera.requests[WorkswellRequestTakePhoto], 1u);
    rig.run(200000);
    settle(&rig);
    EXPECT_EQ(c->workswellCamera.requests[WorkswellRequestTakePhoto], 0u);
    std::vector<Command> photos = commands(rig, 2000);
    ASSERT_EQ(photos.size(), 1u);
    EXPECT_EQ(photos[0].p[3], 0) << "the Workswell photo carries no sequence";
}

TEST(CameraStandIn, NextVisionReportsSelectTheirStreamsAndAShootPhotoPressTakesASnapshot) {
    Rig rig;
    rig.preferences->videoStreamProtocol = VideoStreamQv;
    rig.preferences->shootPhotoBinding = ControllerInputHerelinkB;
    startCamera(&rig, {"nextvision"});
    if (HasFatalFailure()) return;
    ScriptedPad pad;
    pad.attach(&rig);
    DroneConnection* c = rig.connection.get();
    ASSERT_TRUE(rig.runUntil([&] { return c->cameraKind == CameraNextVision; }, 400));
    stepWith(&rig, &pad, 200);
    settle(&rig);
    EXPECT_FLOAT_EQ(c->nextVision.temperature, 31.5f);
    EXPECT_EQ(c->nextVision.stabilised, 1u);
    int typeOne = 0, card = 0;
    for (const Command& k : commands(rig, 203)) {
        EXPECT_EQ(k.targetSys, 1);
        EXPECT_EQ(k.targetComp, 0);
        if (k.p[0] == 12 && k.p[1] == 1 && k.p[2] == 0) typeOne++;
        if (k.p[0] == 12 && k.p[1] == 6 && k.p[2] == 1) card++;
    }
    EXPECT_GE(typeOne, 2);
    EXPECT_LE(typeOne, 4) << "once a second";
    EXPECT_GE(card, 2);

    // A click of the bound button: down, then up within a second.
    pad.key(252, true);
    stepWith(&rig, &pad, 3);
    pad.key(252, false);
    stepWith(&rig, &pad, 5);
    settle(&rig);
    std::vector<Command> snaps;
    for (const Command& k : commands(rig, 203)) {
        if (k.p[0] == 1) snaps.push_back(k);
    }
    ASSERT_EQ(snaps.size(), 2u);
    EXPECT_EQ(snaps[0].p[1], 0);
    EXPECT_EQ(snaps[1].p[1], 1);
}

TEST(CameraStandIn, HyperspectralKeysSendWellFormedTextsWithTheLocalTimeOfThePress) {
    int listener = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, (sockaddr*)&address, sizeof(address)), 0);
    socklen_t length = sizeof(address);
    getsockname(listener, (sockaddr*)&address, &length);
    AddressRecord saved = hyperspectralSensorAddress;
    hyperspectralSensorAddress = makeAddressRecord(4, kLoopback, ntohs(address.sin_port));

    Rig rig;
    rig.preferences->enableCorningShark410 = 1;
    rig.inputs.timeZoneOffsetMs = -5 * 3600000LL;
    startCamera(&rig, {"gremsy"});
    if (!HasFatalFailure()) {
        ScriptedPad pad;
        pad.attach(&rig);
        pad.key(242, true);
        rig.step();
        i64 pressUtc = rig.inputs.utcMilliseconds;
        pad.frame();
        pad.key(242, false);
        pad.key(244, true);
        stepWith(&rig, &pad, 3);

        std::vector<std::string> texts;
        char buffer[2048];
        ssize_t count;
        while ((count = recv(listener, buffer, sizeof(buffer), 0)) > 0) texts.emplace_back(buffer, (size_t)count);
        ASSERT_EQ(texts.size(), 2u);
        DateTimeParts local = calendarFromMilliseconds(pressUtc - 5 * 3600000LL);
        char mission[64];
        std::snprintf(mission, sizeof(mission), "<mission>%04d%02d%02d%02d%02d%02d</mission>", local.year, local.month,
                      local.day, local.hour, local.minute, local.second);
        EXPECT_NE(texts[0].find(mission), std::string::npos) << texts[0];
        EXPECT_NE(texts[0].find("<image>start</image>"), std::string::npos);
        EXPECT_NE(texts[1].find("<image>stop</image>"), std::string::npos);
        for (const std::string& text : texts) {
            EXPECT_EQ(text.find('\0'), std::string::npos);
            std::string path = temporaryPath("hyperspectral.xml");
            std::ofstream(path, std::ios::binary) << text;
            EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << text;
        }
    }
    hyperspectralSensorAddress = saved;
    close(listener);
}
