// The shader programs: each built from a vertex and a fragment source read as program assets,
// checked every frame and rebuilt when a source was (re)loaded. Also the uniform block they share.
#pragma once
#include "Core/FixedString.h"
#include "Platform/GlFunctionTable.h"
#include "SourceCommon/Renderer/AssetReader.h"
#include "SourceCommon/Renderer/GlDebug.h"

enum ShaderProgramIndex : i32 {
    ProgramColored2d = 0,
    ProgramLine2d = 1,
    ProgramSdf = 2,
    ProgramColoredRect = 3,
    ProgramTextured2d = 4,
    ProgramColored3d = 5,
    ProgramLine3d = 6,
    ProgramTexturedPerspective = 7,
    ProgramMapLine = 8,  // map segments, per frame and retained
    ProgramMapFill = 9,  // retained triangles
};
constexpr i32 kShaderProgramCount = 10;
constexpr u64 kShaderSourceMaxBytes = 50000;

struct Eye {
    f32 worldToEyeRotation[16];  // column-major; the eye looks along +y, x right, z up
    f32 eyeToWorldRotation[16];
    i32 iposition[4];            // integer world units (w not read)
    f32 extraPosition[4];        // fractional remainder
    f32 tanHalfHFov;
    f32 tanHalfVFov;
    f32 halfWindowWidth;         // set by the renderer every frame
    f32 halfWindowHeight;
};

// The std140 block "Uniforms" at binding point 0. Its fields take 212 bytes; std140 rounds the
// block to 224, and the buffer is uploaded at that size so that no shader reads past its end.
struct Uniforms {
    Eye eye;
    f32 elevationMapMode;  // 0 none, 1 topographic, 2 danger shading, 3 both
    f32 pixelsPerMeter;
    f32 dangerElevation;
    f32 thinTopoLineHalfThickness;
    f32 thickTopoLineHalfThickness;
    f32 thickestTopoLineHalfThickness;
    f32 thinTopoLineElevation;
    f32 thickTopoLineElevation;
    f32 thickestTopoLineElevation;
    f32 padding[3];
};
static_assert(sizeof(Eye) == 176);
static_assert(sizeof(Uniforms) == 224);
constexpr i64 kUniformsUsedBytes = 212;

// The GLSL side of Eye and Uniforms, put in front of every shader source behind the GLSL header, so
// that no shader declares the block itself. It ends in "#line 1": compiler messages count the
// lines of the source file itself.
extern const char kUniformsPrelude[];
extern const u32 kUniformsPreludeLength;

struct ShaderProgram {
    void* request[2];   // vertex, fragment read requests; null until first requested
    FixedString status; // empty when built; else the latest loading message or error
    i32 loadCount;      // raised each time a source request is made
    i32 builtCount;     // loadCount at the last build attempt
    u32 program;        // GL program name, 0 when none; kept while a rebuild fails
};

struct ShaderSet {
    const char* names[2 * kShaderProgramCount];  // vertex, fragment per program
    ShaderProgram programs[kShaderProgramCount];
};

// The source names, filled on the first frame.
void fillShaderNames(ShaderSet* shaders);

// Queues the read of every source not yet requested, so that they can be read before the first
// frame (checkShaders requests them otherwise).
void requestShaderSources(ShaderSet* shaders, const FixedString* glslHeader, AssetReader* reader);

// The per-frame step: follows each program's two source requests, builds a program whose sources
// are ready and were (re)loaded (while programs in neededPrograms, a bit per ShaderProgramIndex, wait
// for their first build, only those), and appends one status line per program to the log. A program
// draws whenever it has a GL program, also while its sources reload or a rebuild failed.
void checkShaders(ShaderSet* shaders, const FixedString* glslHeader, AssetReader* reader, GlFunctionTable* gl,
                  GlDebugLog* debugLog, ByteWriter* rendererLog, u32 neededPrograms = ~0u);

// The log line of one program.
void appendShaderStatusLine(const char* vertexName, const char* fragmentName, const FixedString* status,
                            ByteWriter* rendererLog);
