#include "SourceCommon/Renderer/Shaders.h"

#include <cstring>

#include "Core/Format.h"
#include "SourceCommon/Renderer/GlConstants.h"

const char kUniformsPrelude[] =
    "struct Eye {\n"
    "    mat4 worldToEyeRotation;\n"
    "    mat4 eyeToWorldRotation;\n"
    "    ivec4 iposition;\n"
    "    vec4 extraPosition;\n"
    "    float tanHalfHFov;\n"
    "    float tanHalfVFov;\n"
    "    float halfWindowWidth;\n"
    "    float halfWindowHeight;\n"
    "};\n"
    "layout(std140) uniform Uniforms {\n"
    "    Eye eye;\n"
    "    float elevationMapMode;\n"
    "    float pixelsPerMeter;\n"
    "    float dangerElevation;\n"
    "    float thinTopoLineHalfThickness;\n"
    "    float thickTopoLineHalfThickness;\n"
    "    float thickestTopoLineHalfThickness;\n"
    "    float thinTopoLineElevation;\n"
    "    float thickTopoLineElevation;\n"
    "    float thickestTopoLineElevation;\n"
    "};\n"
    "#line 1\n";
const u32 kUniformsPreludeLength = sizeof(kUniformsPrelude) - 1;

namespace {

constexpr i32 kFileBase = 200000;
#define GL_SITE ORVIK_GL_SITE(debugLog, kFileBase)

constexpr i64 kStatusColumn = 80;

struct StageCheck {
    bool ready;
};

FixedString shaderPath(const char* name) { return formatCstr("Shaders/@", name); }

FixedString formatCstrStr(const char* format, const char* a, FixedString b) {
    const void* arguments[2] = {a, &b};
    const u32 kinds[2] = {FormatArgCString, FormatArgFixedString};
    return formatString(format, arguments, kinds, 2);
}

void* requestSource(ShaderProgram* program, AssetReader* reader, const char* name, u32 headerLength) {
    program->loadCount++;
    return reader->request(reader->context, shaderPath(name), kShaderSourceMaxBytes, headerLength, nullptr);
}

StageCheck checkStage(ShaderProgram* program, i32 stage, const char* name, u32 headerLength, AssetReader* reader) {
    if (!program->request[stage]) {
        program->request[stage] = requestSource(program, reader, name, headerLength);
        program->status = formatCstr("Queueing asset @ for loading", name);
        return {false};
    }
    AssetReadView view = reader->view(reader->context, program->request[stage]);
    if (view.status == 0) {
        program->status = formatCstr("Asset @ is in the queue for loading", name);
        return {false};
    }
    if (view.status == 1) {
        program->status = formatCstr("Loading asset @", name);
        return {false};
    }
    AssetInfo info = reader->info(reader->context, shaderPath(name));
    if (info.found && info.modifiedMs != view.modifiedMs) {
        reader->release(reader->context, program->request[stage]);
        program->request[stage] = requestSource(program, reader, name, headerLength);
        program->status = formatCstr("Reloading asset @", name);
        return {false};
    }
    if (view.status != 2) {
        FixedString reason = reader->statusText ? reader->statusText(view.status) : stringFromInt(view.status);
        program->status = formatCstrStr("Loading asset @ failed because: @", name, reason);
        return {false};
    }
    return {true};
}

FixedString infoLogText(const char* log, GlSizei length) {
    if (length < 0) length = 0;
    return stringFromBytes(log, length);
}

void buildProgram(ShaderProgram* program, const char* const* names, const FixedString* header, AssetReader* reader,
                  GlFunctionTable* gl, GlDebugLog* debugLog) {
    program->builtCount = program->loadCount;
    program->status = FixedString{};
    // The program in use keeps drawing until its replacement has linked: a source that fails during
    // a reload leaves its error in the status, not a blank screen.
    GL_SITE;
    GlUint name = gl->glCreateProgram();
    if (!name) program->status = makeString("Couldn't create another shader program");
    GlUint shaders[2] = {0, 0};
    const GlEnum types[2] = {kGlVertexShader, kGlFragmentShader};
    for (i32 stage = 0; stage < 2 && program->status.length == 0; stage++) {
        GL_SITE;
        shaders[stage] = gl->glCreateShader(types[stage]);
        if (!shaders[stage]) {
            program->status = makeString("Couldn't create another shader");
            break;
        }
        // The headroom in front of the source holds the GLSL header, then the uniforms prelude.
        AssetReadView view = reader->view(reader->context, program->request[stage]);
        std::memcpy(view.data, header->text, header->length);
        std::memcpy(view.data + header->length, kUniformsPrelude, kUniformsPreludeLength);
        const GlChar* text = (const GlChar*)view.data;
        GlInt length = (GlInt)(header->length + kUniformsPreludeLength + view.size);
        GL_SITE;
        gl->glShaderSource(shaders[stage], 1, &text, &length);
        GL_SITE;
        gl->glCompileShader(shaders[stage]);
        GlInt compiled = 0;
        GL_SITE;
        gl->glGetShaderiv(shaders[stage], kGlCompileStatus, &compiled);
        if (compiled != (GlInt)kGlTrue) {
            char log[253];
            GlSizei logLength = 0;
            GL_SITE;
            gl->glGetShaderInfoLog(shaders[stage], sizeof(log), &logLength, log);
            FixedString logText = infoLogText(log, logLength);
            program->status = formatCstrStr("Error compiling @: @", names[stage], logText);
        }
        if (program->status.length == 0) {
            GL_SITE;
            gl->glAttachShader(name, shaders[stage]);
        }
    }
    if (program->status.length == 0) {
        GL_SITE;
        gl->glLinkProgram(name);
        GlInt linked = 0;
        GL_SITE;
        gl->glGetProgramiv(name, kGlLinkStatus, &linked);
        if (linked != (GlInt)kGlTrue) {
            char log[253];
            GlSizei logLength = 0;
            GL_SITE;
            gl->glGetProgramInfoLog(name, sizeof(log), &logLength, log);
            FixedString logText = infoLogText(log, logLength);
            const void* arguments[3] = {names[0], names[1], &logText};
            const u32 kinds[3] = {FormatArgCString, FormatArgCString, FormatArgFixedString};
            program->status = formatString("Error linking @ and @: @", arguments, kinds, 3);
        }
    }
    if (program->status.length == 0) {
        if (program->program) {
            GL_SITE;
            gl->glDeleteProgram(program->program);
        }
        program->program = name;
        GL_SITE;
        gl->glUseProgram(name);
        GL_SITE;
        GlInt unit0 = gl->glGetUniformLocation(name, "texture0");
        if (unit0 >= 0) {
            GL_SITE;
            gl->glUniform1i(unit0, 0);
        }
        GL_SITE;
        GlInt unit1 = gl->glGetUniformLocation(name, "texture1");
        if (unit1 >= 0) {
            GL_SITE;
            gl->glUniform1i(unit1, 1);
        }
    } else if (name) {
        GL_SITE;
        gl->glDeleteProgram(name);
    }
    for (i32 stage = 0; stage < 2; stage++) {
        if (!shaders[stage]) continue;
        GL_SITE;
        gl->glDeleteShader(shaders[stage]);
    }
}

}  // namespace

void fillShaderNames(ShaderSet* shaders) {
    static const char* const names[2 * kShaderProgramCount] = {
        "colored_2d_vertex.glsl",           "colored_2d_fragment.glsl",
        "line_2d_vertex.glsl",              "line_2d_fragment.glsl",
        "sdf_vertex.glsl",                  "sdf_fragment.glsl",
        "colored_rect_vertex.glsl",         "colored_rect_fragment.glsl",
        "textured_2d_vertex.glsl",          "textured_2d_fragment.glsl",
        "colored_3d_vertex.glsl",           "colored_3d_fragment.glsl",
        "line_3d_vertex.glsl",              "line_3d_fragment.glsl",
        "textured_perspective_vertex.glsl", "textured_perspective_fragment.glsl",
        "map_line_vertex.glsl",             "line_2d_fragment.glsl",
        "map_fill_vertex.glsl",             "colored_2d_fragment.glsl",
    };
    for (i32 i = 0; i < 2 * kShaderProgramCount; i++) shaders->names[i] = names[i];
}

void appendShaderStatusLine(const char* vertexName, const char* fragmentName, const FixedString* status,
                            ByteWriter* rendererLog) {
    i64 lineStart = rendererLog->length;
    appendCString(vertexName, rendererLog);
    appendCString(" & ", rendererLog);
    appendCString(fragmentName, rendererLog);
    appendCString(": ", rendererLog);
    while (rendererLog->length - lineStart < kStatusColumn && !rendererLog->overflow) appendCString(" ", rendererLog);
    appendCString("\t", rendererLog);
    if (status->length == 0) appendCString("Loaded Successfully", rendererLog);
    else appendFixedStringRef(status, rendererLog);
    appendCString("\n", rendererLog);
}

void requestShaderSources(ShaderSet* shaders, const FixedString* glslHeader, AssetReader* reader) {
    for (i32 p = 0; p < kShaderProgramCount; p++) {
        ShaderProgram* program = &shaders->programs[p];
        for (i32 stage = 0; stage < 2; stage++) {
            if (program->request[stage]) continue;
            program->request[stage] = requestSource(program, reader, shaders->names[2 * p + stage],
                                                    glslHeader->length + kUniformsPreludeLength);
            program->status = formatCstr("Queueing asset @ for loading", shaders->names[2 * p + stage]);
        }
    }
}

void checkShaders(ShaderSet* shaders, const FixedString* glslHeader, AssetReader* reader, GlFunctionTable* gl,
                  GlDebugLog* debugLog, ByteWriter* rendererLog, u32 neededPrograms) {
    bool ready[kShaderProgramCount];
    bool neededWaiting = false;
    for (i32 p = 0; p < kShaderProgramCount; p++) {
        ShaderProgram* program = &shaders->programs[p];
        const char* const* names = &shaders->names[2 * p];
        ready[p] = true;
        for (i32 stage = 0; stage < 2; stage++) {
            if (!checkStage(program, stage, names[stage], glslHeader->length + kUniformsPreludeLength, reader).ready) ready[p] = false;
        }
        ready[p] = ready[p] && program->loadCount != program->builtCount;
        if (ready[p] && (neededPrograms >> p & 1) && program->program == 0) neededWaiting = true;
    }
    for (i32 p = 0; p < kShaderProgramCount; p++) {
        ShaderProgram* program = &shaders->programs[p];
        const char* const* names = &shaders->names[2 * p];
        // A frame that waits for programs to draw with builds those alone; the others follow on a
        // frame that needs none (with a software GL driver each build is a compile of its own).
        bool now = !neededWaiting || (neededPrograms >> p & 1);
        if (ready[p] && now) buildProgram(program, names, glslHeader, reader, gl, debugLog);
        appendShaderStatusLine(names[0], names[1], &program->status, rendererLog);
    }
}
