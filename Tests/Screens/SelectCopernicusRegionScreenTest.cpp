// The Copernicus region screen: the saved login comes back from its stored form into the login the
// downloader is asked for, is stored again only while "Copernicus save login info" is on, and the
// search covers the area the map shows.
#include <gtest/gtest.h>

#include "Crypto/StoredPassword.h"
#include "Screens/ChildScreens.h"
#include "ScreenTestSupport.h"

namespace {

class CopernicusRegionScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreensHarness(&harness, 1280, 720));
        app = harness.app;
        Preferences* p = &app->preferences;
        p->developerMode = 1;
        p->copernicusSaveLoginInfo = 1;
        p->copernicusUsername = makeString("pilot@example.org");
        FixedString plain = makeString("s3cret & more");
        ASSERT_EQ(obscurePassword(&p->copernicusPassword, &plain).length, 0);
        ScreenStack* stack = &app->screenStack;
        stack->screens[stack->depth++] = selectCopernicusRegionScreen;
        clearScreenScratch(stack);
        frames(&harness, 2);
    }
    void TearDown() override { stopScreensHarness(&harness); }
    // A row of the list on the right.
    void clickRow(i32 row) {
        Rect s = harness.ui->screenRect;
        click(&harness, s.x0 + (s.x1 - s.x0) * 0.8f, rowCentreY(&harness, row));
    }
    std::string revealed() {
        FixedString plain{};
        EXPECT_EQ(revealPassword(&plain, &app->preferences.copernicusPassword).length, 0);
        return std::string(plain.text, plain.length);
    }

    ScreensHarness harness{};
    AppState* app = nullptr;
};

TEST_F(CopernicusRegionScreenTest, SavedLoginIsReadBackAndKeptOnlyWhileSaving) {
    CopernicusDownloader* d = &app->copernicusDownloader;
    clickRow(4);  // "Log in"
    ASSERT_EQ(d->state, (u32)CopernicusLoginDue) << std::string(d->message.text, d->message.length);
    EXPECT_EQ(std::string(d->username.text, d->username.length), "pilot@example.org");
    EXPECT_EQ(std::string(d->password.text, d->password.length), "s3cret & more");
    // Stored again in a fresh form of the same password.
    EXPECT_EQ(revealed(), "s3cret & more");
    cancelCopernicusOperation(d, harness.platform);

    clickRow(3);  // "Copernicus save login info" off
    EXPECT_EQ(app->preferences.copernicusSaveLoginInfo, 0u);
    EXPECT_EQ(app->preferences.copernicusUsername.length, 0);
    EXPECT_EQ(app->preferences.copernicusPassword.length, 0);
    clickRow(4);
    ASSERT_EQ(d->state, (u32)CopernicusLoginDue);
    EXPECT_EQ(app->preferences.copernicusPassword.length, 0);
    cancelCopernicusOperation(d, harness.platform);

    // The search covers what the map shows: the whole world at first.
    clickRow(5);
    ASSERT_EQ(d->state, (u32)CopernicusSearchDue);
    EXPECT_LT(d->searchBox.minX, -170);
    EXPECT_GT(d->searchBox.maxX, 170);
    EXPECT_LT(d->searchBox.minY, d->searchBox.maxY);
    EXPECT_EQ(d->searchMonth, app->preferences.copernicusSearchMonth);
    cancelCopernicusOperation(d, harness.platform);
}

}  // namespace
