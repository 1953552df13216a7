// The Gremsy Parameters Screen through real frames: the firmware row, and a rate typed into its row
// reaching a loopback gimbal as PARAM_SET through the application's own drone link.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "Drone/FlightController/Parameters.h"
#include "Network/Address.h"
#include "Screens/DroneSetup/GremsyParametersScreen.h"
#include "ScreenTestSupport.h"

namespace {

void receiveVersion(GremsyGimbalState* gimbal, i32 part, f32 value) {
    MavlinkMessage message{};
    storeParamValue(&gimbal->parameters[part], parameterBytesFromFloat(value), 0, 1, &message);
}

}  // namespace

TEST(GremsyParametersScreen, FirmwareRowIsUnknownUntilAllThreePartsArrive) {
    GremsyGimbalState gimbal{};
    receiveVersion(&gimbal, GremsyVersionX, 7);
    receiveVersion(&gimbal, GremsyVersionY, 5);
    FixedString text = gremsyFirmwareText(&gimbal);
    EXPECT_EQ(std::string(text.text, (size_t)text.length), "Unknown");
    receiveVersion(&gimbal, GremsyVersionZ, 8.9f);
    text = gremsyFirmwareText(&gimbal);
    EXPECT_EQ(std::string(text.text, (size_t)text.length), "7.5.8");
}

TEST(GremsyParametersScreen, TypedRateReachesTheGimbalAsParamSet) {
    int gimbal = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(gimbal, (sockaddr*)&address, sizeof(address)), 0);
    socklen_t length = sizeof(address);
    getsockname(gimbal, (sockaddr*)&address, &length);

    ScreensHarness harness{};
    ASSERT_TRUE(startScreensHarness(&harness, 800, 1400));
    Preferences* preferences = &harness.app->preferences;
    const u8 loopback[4] = {127, 0, 0, 1};
    preferences->droneConnection = DroneConnectionIp;
    preferences->droneAddress = makeAddressRecord(4, loopback, ntohs(address.sin_port));
    preferences->droneLocalPort = 0;
    preferences->appSystemId = 255;
    preferences->appComponentId = 190;
    GremsyGimbalState* state = &harness.app->droneConnection.gremsyGimbal;
    state->gimbalSource = 1 << 8 | 154;
    receiveVersion(state, GremsyVersionX, 7);
    receiveVersion(state, GremsyVersionY, 5);
    receiveVersion(state, GremsyVersionZ, 8);
    ScreenStack* stack = &harness.app->screenStack;
    stack->depth = 2;
    stack->screens[1] = gremsyParametersScreen;
    clearScreenScratch(stack);
    frames(&harness, 2);
    EXPECT_NE(state->parameters[GremsyOrientationRate].viewedTime, 0u) << "shown rows are read";

    // Row 1 is the first rate, MOUNT_ORIENTATION.
    click(&harness, 400, rowCentreY(&harness, 1));
    typeText(&harness, "30");
    sendKeyEvent(&harness, KeyEventDone);
    frames(&harness, 3);
    // The drone link's frame, as the application update runs it.
    DroneLinkInputs inputs{};
    inputs.droneSocket = &harness.app->droneSocket;
    inputs.cameraSocket = &harness.app->cameraSocket;
    inputs.preferences = preferences;
    for (int i = 0; i < 3; i++) {
        inputs.now = stack->now + 1000 + (u64)i * 20000;
        controlDrone(&harness.app->droneConnection, &inputs);
        usleep(2000);
    }

    bool sent = false;
    u8 buffer[512];
    ssize_t count;
    while ((count = recv(gimbal, buffer, sizeof(buffer), 0)) > 0) {
        MavlinkMessage message{};
        i32 position = 0;
        for (;;) {
            position = parseMavlinkBytes(&message, buffer, position, (i32)count);
            if (!message.haveMessage) break;
            if (message.messageId != 23) continue;
            char name[17] = {};
            std::memcpy(name, message.payload + 6, 16);
            if (std::string(name) != "ORIEN_RATE") continue;
            EXPECT_FLOAT_EQ(mavlinkF32(message.payload), 30.0f);
            EXPECT_EQ(message.payload[4], 1);    // the gimbal's system
            EXPECT_EQ(message.payload[5], 154);  // and component
            sent = true;
        }
    }
    EXPECT_TRUE(sent);
    stopScreensHarness(&harness);
    close(gimbal);
}
