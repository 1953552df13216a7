// The DualShock 4 read from its hidraw device: found by the HID_ID of its uevent, read without
// blocking, its reports replacing the game pad; the game-controller layer's view of the same pad left
// alone while the reports are read, and serving the pad when its device cannot be opened; an
// XInput-kind pad's state replacing the DualShock's. A sysfs tree of the test's own stands in for the
// system's (its device node a FIFO), and a virtual HID device (uhid) goes through the kernel's hidraw.
#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Platform/DualShock4Device.h"
#include "Platform/SdlWindow.h"

namespace {

bool uevent(const std::string& text, u32* vendor, u32* product) {
    return parseHidUevent((const u8*)text.data(), (i64)text.size(), vendor, product);
}

TEST(HidUevent, VendorAndProductComeOnlyFromAWellFormedHidIdLine) {
    u32 vendor = 0, product = 0;
    EXPECT_TRUE(uevent("DRIVER=hid-generic\nHID_ID=0003:0000054C:000009CC\nHID_NAME=Wireless Controller\n", &vendor,
                       &product));
    EXPECT_EQ(vendor, 0x054Cu);
    EXPECT_EQ(product, 0x09CCu);
    EXPECT_TRUE(uevent("HID_ID=0005:0000054c:000009cc", &vendor, &product));  // last line, lower case
    EXPECT_EQ(product, 0x09CCu);
    vendor = product = 7;
    for (const char* bad : {"", "HID_ID=", "HID_ID=0003:0000054C", "HID_ID=0003:0000054C:", "HID_ID=0003::000009CC",
                            "HID_ID=0003:0000054C:000009CG", "HID_ID=0003:10000054C:000009CC",
                            "HID_ID=0003:0000054C:000009CC:1", "XHID_ID=0003:0000054C:000009CC",
                            "HID_NAME=HID_ID=0003:0000054C:000009CC"}) {
        EXPECT_FALSE(uevent(bad, &vendor, &product)) << bad;
    }
    EXPECT_EQ(vendor, 7u);
    EXPECT_EQ(product, 7u);
}

// A DualShock 4 input report: sticks centred, hat released.
std::vector<u8> neutralReport() {
    std::vector<u8> report(64, 0);
    report[0] = 0x01;
    report[1] = 128, report[2] = 127, report[3] = 128, report[4] = 127;
    report[5] = 0x08;
    return report;
}

// A sysfs tree with two hidraw entries, a mouse and a DualShock 4, and the pad's node as a FIFO that
// the test writes reports into, one report per frame so that reads keep their bounds.
class FakeHidraw : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-hidraw-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        sys = root + "/sys";
        dev = root + "/dev";
        std::filesystem::create_directories(sys + "/hidraw0/device");
        std::filesystem::create_directories(sys + "/hidraw1/device");
        std::filesystem::create_directories(dev);
        std::ofstream(sys + "/hidraw0/device/uevent") << "DRIVER=hid-generic\nHID_ID=0003:0000046D:0000C077\n";
        std::ofstream(sys + "/hidraw1/device/uevent") << "DRIVER=sony\nHID_ID=0003:0000054C:000009CC\n";
        platform = (Platform*)std::calloc(1, sizeof(Platform));
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
    }
    void TearDown() override {
        if (writer >= 0) close(writer);
        closeDualShock4Device(&reader);
        closeAllGameControllers();
        for (i32 index : virtualPads) SDL_JoystickDetachVirtual(index);
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
        std::free(platform);
        std::filesystem::remove_all(root);
    }
    // The FIFO and the test's end of it, open before the reader's (read and write, so that it never
    // waits for a reader), so that an empty FIFO reads as no report rather than as the end.
    void makeFifo() {
        ASSERT_EQ(mkfifo((dev + "/hidraw1").c_str(), 0600), 0);
        writer = open((dev + "/hidraw1").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(writer, 0) << strerror(errno);
    }
    void send(const std::vector<u8>& report) {
        ASSERT_EQ(write(writer, report.data(), report.size()), (ssize_t)report.size());
    }
    // A frame's input: the pad's reports, then the game-controller layer.
    void frame(u64 now) {
        stepDualShock4(&reader, sys.c_str(), dev.c_str(), now, platform);
        SDL_GameControllerUpdate();
        pollGameControllers(platform, now, reader.open);
    }
    // A virtual controller of the game-controller layer with the given ids, its left stick at x.
    void attachPad(u16 vendor, u16 product, i16 leftX) {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.vendor_id = vendor;
        desc.product_id = product;
        i32 index = SDL_JoystickAttachVirtualEx(&desc);
        ASSERT_GE(index, 0) << SDL_GetError();
        virtualPads.push_back(index);
        ASSERT_TRUE(SDL_IsGameController(index));
        openGameController(index);
        SDL_Joystick* joystick = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
        ASSERT_NE(joystick, nullptr);
        ASSERT_EQ(SDL_JoystickGetVendor(joystick), vendor);
        SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_LEFTX, leftX);
    }

    std::string root, sys, dev;
    Platform* platform = nullptr;
    DualShock4Reader reader{};
    i32 writer = -1;
    std::vector<i32> virtualPads;
};

TEST_F(FakeHidraw, ReportsReachThePadWhileTheControllerLayersViewOfItIsLeftAloneAndAnXInputPadReplacesIt) {
    makeFifo();
    attachPad(kDualShock4Vendor, kDualShock4Product, -32768);  // the layer's view: stick hard left
    frame(1000);
    ASSERT_EQ(reader.open, 1u);
    EXPECT_STREQ(reader.path.text, (dev + "/hidraw1").c_str());
    EXPECT_EQ(platform->gamepadNote.length, 0);
    EXPECT_EQ(platform->gamepad.controllerKind, ControllerNone) << "no report yet, and the layer's view is not used";

    std::vector<u8> report = neutralReport();
    report[1] = 255;   // left stick hard right
    report[5] = 0x21;  // Cross, hat up and right
    report[9] = 51;    // right trigger
    send(report);
    frame(2000);
    GamepadState* pad = &platform->gamepad;
    EXPECT_TRUE(equals(pad->name, "Sony Dualshock 4"));
    EXPECT_EQ(pad->time, 2000u);
    EXPECT_FLOAT_EQ(pad->leftStickX, 1.0f);
    EXPECT_FLOAT_EQ(pad->rightTrigger, 0.2f);
    EXPECT_TRUE(isKeyDown(&platform->input, KeyPadCross));
    EXPECT_TRUE(isKeyDown(&platform->input, KeyPadUp));
    EXPECT_TRUE(isKeyDown(&platform->input, KeyPadRight));
    EXPECT_EQ(reader.reports, 1u);

    // A frame without reports changes nothing; a report of another id is counted, not decoded.
    frame(3000);
    EXPECT_EQ(pad->time, 2000u);
    std::vector<u8> other = neutralReport();
    other[0] = 0x05;
    send(other);
    frame(4000);
    EXPECT_EQ(reader.otherReports, 1u);
    EXPECT_FLOAT_EQ(pad->leftStickX, 1.0f);
    // The long Bluetooth report: report 1's bytes two bytes further on.
    std::vector<u8> bluetooth(78, 0);
    bluetooth[0] = 0x11;
    bluetooth[1] = 0xC0;
    std::vector<u8> fields = neutralReport();
    fields[1] = 0;     // left stick hard left
    fields[5] = 0x48;  // Circle, hat released
    std::copy(fields.begin() + 1, fields.begin() + 10, bluetooth.begin() + 3);
    send(bluetooth);
    frame(4500);
    EXPECT_FLOAT_EQ(pad->leftStickX, -1.0f);
    EXPECT_TRUE(isKeyDown(&platform->input, KeyPadCircle));
    EXPECT_FALSE(isKeyDown(&platform->input, KeyPadRight));
    EXPECT_EQ(reader.reports, 2u);
    send(neutralReport());
    frame(5000);
    EXPECT_FALSE(isKeyDown(&platform->input, KeyPadCross));
    EXPECT_FALSE(isKeyDown(&platform->input, KeyPadUp));

    // An XInput-kind pad (the second controller slot) replaces the DualShock's state every frame.
    attachPad(0x045E, 0x028E, 16384);
    send(report);
    frame(6000);
    EXPECT_TRUE(equals(pad->name, "XInput 1"));
    EXPECT_FLOAT_EQ(pad->leftStickX, 0.5f);
    EXPECT_FALSE(isKeyDown(&platform->input, KeyPadCross));
    EXPECT_EQ(reader.reports, 4u);

    // The pad unplugged: its device ends and is closed, and looked for again later.
    close(writer);
    writer = -1;
    frame(7000);
    EXPECT_EQ(reader.open, 0u);
}

TEST_F(FakeHidraw, ADeviceThatCannotBeOpenedLeavesThePadToTheControllerLayerAndSaysWhy) {
    // No node for the pad's hidraw entry: the open fails as it does for a node without permissions.
    attachPad(kDualShock4Vendor, kDualShock4Product, -32768);
    frame(1000);
    EXPECT_EQ(reader.open, 0u);
    EXPECT_EQ(reader.unreadable, 1u);
    std::string note(platform->gamepadNote.text, platform->gamepadNote.length);
    EXPECT_EQ(note, "DualShock 4 on " + dev + "/hidraw1 cannot be read (No such file or directory): its values come "
                                               "from the game-controller layer");
    EXPECT_TRUE(equals(platform->gamepad.name, "XInput 0"));
    EXPECT_FLOAT_EQ(platform->gamepad.leftStickX, -1.0f);

    // Not looked for again before the interval; then found once its node is there.
    makeFifo();
    frame(1000 + kDualShock4ScanInterval - 1);
    EXPECT_EQ(reader.open, 0u);
    frame(1000 + kDualShock4ScanInterval);
    EXPECT_EQ(reader.open, 1u);
    EXPECT_EQ(platform->gamepadNote.length, 0);
}

TEST_F(FakeHidraw, ARelayHostsFeedKeepsTheReportsAwayFromThePad) {
    makeFifo();
    frame(1000);
    ASSERT_EQ(reader.open, 1u);
    platform->gamepad.remote = 1;
    platform->gamepad.leftStickX = 0.25f;
    std::vector<u8> report = neutralReport();
    report[1] = 0;
    report[5] = 0x28;
    send(report);
    frame(2000);
    EXPECT_EQ(platform->gamepad.leftStickX, 0.25f);
    EXPECT_FALSE(isKeyDown(&platform->input, KeyPadCross));
    EXPECT_EQ(reader.reports, 0u);
}

// A DualShock 4-like device made by the kernel's user-space HID driver: its reports go through the
// kernel's hidraw to the reader found by the system's own sysfs tree.
TEST(VirtualHidDualShock4, ReportsWrittenToTheKernelReachThePad) {
    i32 uhid = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (uhid < 0) GTEST_SKIP() << "/dev/uhid cannot be opened (" << strerror(errno) << "), so no virtual HID device";
    // Report 1: 63 vendor-defined bytes after the report id, as the pad's USB input report.
    static const u8 kDescriptor[] = {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x85, 0x01, 0x06, 0x00, 0xFF,
                                     0x09, 0x20, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x3F,
                                     0x81, 0x02, 0xC0};
    uhid_event event{};
    event.type = UHID_CREATE2;
    std::strcpy((char*)event.u.create2.name, "Orvik test DualShock 4");
    event.u.create2.rd_size = sizeof(kDescriptor);
    std::memcpy(event.u.create2.rd_data, kDescriptor, sizeof(kDescriptor));
    event.u.create2.bus = BUS_VIRTUAL;  // no vendor driver claims it: the generic one gives it a hidraw node
    event.u.create2.vendor = kDualShock4Vendor;
    event.u.create2.product = kDualShock4Product;
    ASSERT_EQ(write(uhid, &event, sizeof(event)), (ssize_t)sizeof(event)) << strerror(errno);
    // The kernel starts the device and then says so.
    bool started = false;
    while (!started) {
        pollfd wait{uhid, POLLIN, 0};
        ASSERT_EQ(poll(&wait, 1, 30000), 1) << "the kernel did not start the virtual device";
        uhid_event answer{};
        ASSERT_GT(read(uhid, &answer, sizeof(answer)), 0);
        started = answer.type == UHID_START;
    }
    auto destroy = [&]() {
        uhid_event end{};
        end.type = UHID_DESTROY;
        (void)!write(uhid, &end, sizeof(end));
        close(uhid);
    };

    DualShock4Reader reader{};
    Platform* platform = (Platform*)std::calloc(1, sizeof(Platform));
    FixedString note{};
    if (!openDualShock4Device(&reader, "/sys/class/hidraw", "/dev", &note)) {
        std::string why(note.text, note.length);
        destroy();
        std::free(platform);
        GTEST_SKIP() << "the virtual device's hidraw node cannot be opened here: " << why;
    }

    std::vector<u8> report = neutralReport();
    report[3] = 0;     // right stick hard left
    report[4] = 0;     // and forward
    report[6] = 0x21;  // L1, Options
    report[8] = 255;
    uhid_event input{};
    input.type = UHID_INPUT2;
    input.u.input2.size = (u16)report.size();
    std::memcpy(input.u.input2.data, report.data(), report.size());
    ASSERT_EQ(write(uhid, &input, sizeof(input)), (ssize_t)sizeof(input));
    pollfd ready{reader.descriptor, POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 30000), 1) << "the report did not arrive";
    EXPECT_EQ(readDualShock4Reports(&reader, 77, &platform->gamepad, &platform->input), 1);
    GamepadState* pad = &platform->gamepad;
    EXPECT_TRUE(equals(pad->name, "Sony Dualshock 4"));
    EXPECT_FLOAT_EQ(pad->rightStickX, -1.0f);
    EXPECT_FLOAT_EQ(pad->rightStickY, 1.0f);
    EXPECT_FLOAT_EQ(pad->leftTrigger, 1.0f);
    EXPECT_EQ(pad->leftStickX, 0.0f);
    EXPECT_TRUE(isKeyDown(&platform->input, KeyPadLeftShoulder));
    EXPECT_TRUE(isKeyDown(&platform->input, KeyPadOptions));
    EXPECT_FALSE(isKeyDown(&platform->input, KeyPadCross));
    EXPECT_EQ(readDualShock4Reports(&reader, 78, pad, &platform->input), 0) << "nothing more waits";

    // The device removed: the reader closes it on its next read.
    destroy();
    for (i32 frames = 0; frames < 100 && reader.open; frames++) {
        pollfd gone{reader.descriptor, POLLIN, 0};
        poll(&gone, 1, 1000);
        readDualShock4Reports(&reader, 79, pad, &platform->input);
    }
    EXPECT_EQ(reader.open, 0u);
    closeDualShock4Device(&reader);
    std::free(platform);
}

}  // namespace
