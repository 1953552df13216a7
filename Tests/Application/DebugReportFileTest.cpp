// "Debug/DebugReport.txt" through whole frames of the application update and the file thread with
// injected clocks: written on the first frame, left alone within the second, rewritten after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "Application/AppUpdate.h"
#include "Platform/FileTestSupport.h"
#include "Screens/DebugReport.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

u64 fakeMicroseconds = 0;
i64 fakeUtcMs = 0;
u64 readFakeMicroseconds() { return fakeMicroseconds; }
i64 readFakeUtcMs() { return fakeUtcMs; }

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

class DebugReportFile : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        app.reset((AppState*)std::calloc(1, sizeof(AppState)));
        ui.reset((UiState*)std::calloc(1, sizeof(UiState)));
        ui->screenRect = Rect{0, 1280, 0, 720};
        platform->documentsFolderAccess = 1;
        platform->appFolderAccess = 1;
        app->clocks.monotonicMicroseconds = readFakeMicroseconds;
        app->clocks.utcMilliseconds = readFakeUtcMs;
        fakeMicroseconds = 2000000;
        fakeUtcMs = 13417347903042;  // 2026-03-07 09:05:03.042 UTC
    }
    void frame() {
        updateApp(platform, ui.get(), app.get());
        pass();
        fakeMicroseconds += 100000;
        fakeUtcMs += 100;
    }
    std::string report() { return readWholeFile(dataFolder + kDebugReportPath); }

    std::unique_ptr<AppState, FreeDeleter> app;
    std::unique_ptr<UiState, FreeDeleter> ui;
};

TEST_F(DebugReportFile, RewrittenOnceASecond) {
    frame();
    std::string first = report();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.rfind("Orvik 3.1.0\nGenerated 2026-3-7 9:5:3.42 UTC, ", 0), 0u) << first.substr(0, 80);
    for (const char* heading : {"--- Memory Usage ---\nGlobal Variables\n", "Asset Files:\n", "Filesystem Files:\n",
                                "\n--- Socket Status ---\nDNS Queries of lookup 1: ", "\n--- Renderer Status ---\n",
                                "--- Profiling Report"}) {
        EXPECT_NE(first.find(heading), std::string::npos) << heading;
    }
    // Within the second nothing is written again, though the clocks move on.
    for (i32 i = 0; i < 9; i++) frame();
    EXPECT_EQ(report(), first);
    // Past the second the report is written afresh with the new time.
    frame();
    frame();
    std::string second = report();
    EXPECT_NE(second, first);
    EXPECT_EQ(second.rfind("Orvik 3.1.0\nGenerated 2026-3-7 9:5:4.", 0), 0u) << second.substr(0, 80);
}

}  // namespace
