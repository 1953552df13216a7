#include "Platform/GlDriverPreload.h"

#include <dlfcn.h>
#include <limits.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool glDriverLibraryPath(char* out, u32 capacity, const char* driversPath, const char* eglVendorFolder) {
    if (capacity == 0) return false;
    out[0] = 0;
    const char* folder = nullptr;
    size_t folderLength = 0;
    const char* under = "";
    if (driversPath && driversPath[0]) {
        folder = driversPath;
        const char* colon = std::strchr(driversPath, ':');
        folderLength = colon ? (size_t)(colon - driversPath) : std::strlen(driversPath);
    } else if (eglVendorFolder && eglVendorFolder[0]) {
        folder = eglVendorFolder;
        folderLength = std::strlen(eglVendorFolder);
        under = "/dri";
    }
    if (!folder || folderLength == 0) return false;
    int written = std::snprintf(out, capacity, "%.*s%s/swrast_dri.so", (int)folderLength, folder, under);
    if (written < 0 || (u32)written >= capacity) {
        out[0] = 0;
        return false;
    }
    return true;
}

u32 preloadGlDriver() {
    // RTLD_LOCAL: nothing joins the global symbol scope before the GL loaders ask for it themselves.
    u32 loaded = 0;
    for (const char* library : {"libGL.so.1", "libEGL.so.1"}) loaded += dlopen(library, RTLD_NOW | RTLD_LOCAL) ? 1 : 0;
    void* vendor = dlopen("libEGL_mesa.so.0", RTLD_NOW | RTLD_LOCAL);
    char vendorFolder[PATH_MAX] = {};
    if (vendor) {
        loaded++;
        if (dlinfo(vendor, RTLD_DI_ORIGIN, vendorFolder) != 0) vendorFolder[0] = 0;
    }
    char driver[PATH_MAX];
    if (glDriverLibraryPath(driver, sizeof driver, std::getenv("LIBGL_DRIVERS_PATH"), vendorFolder) &&
        dlopen(driver, RTLD_NOW | RTLD_LOCAL)) {
        loaded++;
    }
    return loaded;
}

std::thread startGlDriverPreload() {
    return std::thread([] { preloadGlDriver(); });
}
