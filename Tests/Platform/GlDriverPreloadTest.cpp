// The GL driver's early load: the driver file Mesa itself would load (LIBGL_DRIVERS_PATH's first
// folder, else "dri" beside Mesa's EGL library), and on this machine every library really loaded, so
// that the window's own load finds them there.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <string>

#include "Platform/GlDriverPreload.h"

namespace {

TEST(GlDriverPreload, TakesMesasOwnDriverFolderAndRefusesWhatDoesNotFit) {
    char path[64];
    EXPECT_TRUE(glDriverLibraryPath(path, sizeof path, "/opt/mesa/dri:/usr/lib/dri", "/usr/lib/x86_64-linux-gnu"));
    EXPECT_STREQ(path, "/opt/mesa/dri/swrast_dri.so");
    EXPECT_TRUE(glDriverLibraryPath(path, sizeof path, "", "/usr/lib/x86_64-linux-gnu"));
    EXPECT_STREQ(path, "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so");
    EXPECT_TRUE(glDriverLibraryPath(path, sizeof path, nullptr, "/lib64"));
    EXPECT_STREQ(path, "/lib64/dri/swrast_dri.so");
    EXPECT_FALSE(glDriverLibraryPath(path, sizeof path, ":/usr/lib/dri", nullptr));  // an empty first folder
    EXPECT_STREQ(path, "");
    EXPECT_FALSE(glDriverLibraryPath(path, sizeof path, nullptr, ""));
    EXPECT_FALSE(glDriverLibraryPath(path, 20, nullptr, "/usr/lib/x86_64-linux-gnu"));
    EXPECT_STREQ(path, "");
}

TEST(GlDriverPreload, LoadsTheDispatchLibrariesAndTheDriverMesaLoadsLater) {
    void* vendor = dlopen("libEGL_mesa.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!vendor) GTEST_SKIP() << "Mesa's EGL is not installed";
    char folder[4096] = {};
    ASSERT_EQ(dlinfo(vendor, RTLD_DI_ORIGIN, folder), 0);
    char driver[4096];
    ASSERT_TRUE(glDriverLibraryPath(driver, sizeof driver, std::getenv("LIBGL_DRIVERS_PATH"), folder));
    if (void* early = dlopen(driver, RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(early);
        dlclose(vendor);
        GTEST_SKIP() << "an earlier test of this process loaded the driver";
    }
    EXPECT_EQ(preloadGlDriver(), 4u);
    void* loaded = dlopen(driver, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(loaded, nullptr) << driver;
    for (void* handle : {loaded, vendor}) if (handle) dlclose(handle);
}

}  // namespace
