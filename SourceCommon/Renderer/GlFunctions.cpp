#include <cstring>

#include "SourceCommon/Renderer/GlConstants.h"
#include "SourceCommon/Renderer/Renderer.h"

namespace {

struct GlVersion {
    GlInt major;
    GlInt minor;
};

GlVersion contextVersion(GlFunctionTable* gl) {
    GlVersion version{0, 0};
    if (!gl->glGetIntegerv) return version;
    gl->glGetIntegerv(kGlMajorVersion, &version.major);
    gl->glGetIntegerv(kGlMinorVersion, &version.minor);
    return version;
}

bool atLeast(GlVersion version, GlInt major, GlInt minor) {
    return version.major > major || (version.major == major && version.minor >= minor);
}

bool hasExtension(GlFunctionTable* gl, const char* name) {
    if (!gl->glGetIntegerv || !gl->glGetStringi) return false;
    GlInt count = 0;
    gl->glGetIntegerv(kGlNumExtensions, &count);
    for (GlInt i = 0; i < count; i++) {
        const char* extension = (const char*)gl->glGetStringi(kGlExtensions, (GlUint)i);
        if (extension && std::strcmp(extension, name) == 0) return true;
    }
    return false;
}

}  // namespace

bool glContextHasDebugOutput(GlFunctionTable* gl) {
    return atLeast(contextVersion(gl), 4, 3) || hasExtension(gl, "GL_KHR_debug");
}

bool glContextHasClipControl(GlFunctionTable* gl) {
    return atLeast(contextVersion(gl), 4, 5) || hasExtension(gl, "GL_ARB_clip_control");
}

GlFunctionTable* loadOpenGlFunctions(GlFunctionTable* table, GlGetProcFunction getProc) {
    void** entries = reinterpret_cast<void**>(table);
    for (i32 i = 0; i < kGlFunctionCount; i++) entries[i] = getProc(glFunctionNames[i]);
    // A name lookup answers for functions the context does not have, so the optional features are
    // decided from what the context says it is.
    if (!glContextHasDebugOutput(table)) table->glDebugMessageCallback = nullptr;
    if (!glContextHasClipControl(table)) table->glClipControl = nullptr;
    return table;
}
