// A stand-in EGL vendor for the start-up tests: Mesa's own EGL vendor in every way but one, it makes
// no context, as an EGL without desktop OpenGL would. The EGL loader takes it from the vendor file
// that __EGL_VENDOR_LIBRARY_FILENAMES names.
#include <dlfcn.h>
#include <glvnd/libeglabi.h>

#include <cstring>

namespace {

void* (*mesaGetProcAddress)(const char*) = nullptr;

EGLContext makeNoContext(EGLDisplay, EGLConfig, EGLContext, const EGLint*) { return EGL_NO_CONTEXT; }

void* getProcAddress(const char* name) {
    if (std::strcmp(name, "eglCreateContext") == 0) return (void*)makeNoContext;
    return mesaGetProcAddress(name);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) EGLBoolean __egl_Main(uint32_t version,
                                                                         const __EGLapiExports* exports,
                                                                         __EGLvendorInfo* vendor,
                                                                         __EGLapiImports* imports) {
    void* mesa = dlopen("libEGL_mesa.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!mesa) return EGL_FALSE;
    auto mesaMain = (__PFNEGLMAINPROC)dlsym(mesa, "__egl_Main");
    if (!mesaMain || !mesaMain(version, exports, vendor, imports)) return EGL_FALSE;
    mesaGetProcAddress = imports->getProcAddress;
    imports->getProcAddress = getProcAddress;
    return EGL_TRUE;
}
