// The programs: their sources pass the reference GLSL compiler, compile and link on llvmpipe,
// report their loading steps in the log, and survive a broken source during a reload.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "RendererTestSupport.h"
#include "SourceCommon/Renderer/Shaders.h"

namespace {

const char* const kSources[2 * kShaderProgramCount] = {
    "colored_2d_vertex.glsl",  "colored_2d_fragment.glsl",  "line_2d_vertex.glsl",  "line_2d_fragment.glsl",
    "sdf_vertex.glsl",         "sdf_fragment.glsl",         "colored_rect_vertex.glsl", "colored_rect_fragment.glsl",
    "textured_2d_vertex.glsl", "textured_2d_fragment.glsl", "colored_3d_vertex.glsl", "colored_3d_fragment.glsl",
    "line_3d_vertex.glsl",     "line_3d_fragment.glsl",     "textured_perspective_vertex.glsl",
    "textured_perspective_fragment.glsl", "map_line_vertex.glsl", "line_2d_fragment.glsl", "map_fill_vertex.glsl",
    "colored_2d_fragment.glsl",
};

// Each source as the renderer hands it to the driver: the version header, the uniforms prelude, the file.
TEST(GlslSources, PassTheReferenceCompilerWithTheVersionHeader) {
    if (std::system("command -v glslangValidator >/dev/null 2>&1") != 0) GTEST_SKIP() << "glslangValidator missing";
    std::string folder = ::testing::TempDir() + "glsl_sources";
    std::system(("mkdir -p '" + folder + "'").c_str());
    for (const char* name : kSources) {
        std::string source = name;
        bool fragment = source.find("_fragment") != std::string::npos;
        std::string path = folder + "/" + source.substr(0, source.size() - 5) + (fragment ? ".frag" : ".vert");
        std::vector<u8> bytes = readRepoFile(std::string("Assets/Shaders/") + name);
        ASSERT_FALSE(bytes.empty()) << name;
        std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(text.find("#version"), std::string::npos) << name << " carries its own version line";
        std::ofstream(path) << "#version 330 core\n" << kUniformsPrelude << text;
        std::string command = "glslangValidator '" + path + "' > '" + path + ".log' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << name << ": " << std::string(readRepoFile("").empty() ? "" : "")
                                                   << std::ifstream(path + ".log").rdbuf();
    }
}

class ShaderPrograms : public RendererTest {};

TEST_F(ShaderPrograms, AllBuildFromTheEmbeddedSourcesAndReportEachStep) {
    startHarness(false);
    runHarnessFrame(&harness);
    // First frame: the sources are only queued, nothing is built.
    EXPECT_TRUE(harnessLogContains(&harness, "Queueing asset colored_2d_fragment.glsl for loading"));
    for (const ShaderProgram& program : renderer->shaders.programs) EXPECT_EQ(program.program, 0u);
    runUntilProgramsBuilt();
    for (i32 p = 0; p < kShaderProgramCount; p++) {
        std::string pair = std::string(kSources[2 * p]) + " & " + kSources[2 * p + 1];
        FixedString line = harnessLogLine(&harness, pair.c_str());
        EXPECT_NE(std::string(line.text).find("\tLoaded Successfully"), std::string::npos) << line.text;
        EXPECT_EQ(renderer->shaders.programs[p].status.length, 0) << renderer->shaders.programs[p].status.text;
    }
    // The status column: names padded with spaces to column 80, then a tab.
    FixedString line = harnessLogLine(&harness, "sdf_vertex.glsl & sdf_fragment.glsl: ");
    ASSERT_GT(line.length, 81);
    EXPECT_EQ(line.text[80], '\t');
    EXPECT_EQ(line.text[79], ' ');
}

// With a software GL driver every build is a compile: a frame that waits for programs to draw with
// builds those alone, and the rest follow on the next frame that needs none.
TEST_F(ShaderPrograms, AFrameBuildsTheProgramsItDrawsWithFirstAndTheRestFollow) {
    startHarness(false);
    for (i32 frame = 0; frame < 5 && renderer->shaders.programs[ProgramLine2d].program == 0; frame++) {
        ui->batches.line2d.vertexCount = 3;  // one (empty) triangle asks for the line program
        ui->batches.line2d.triangleCount = 1;
        runHarnessFrame(&harness);
    }
    ASSERT_NE(renderer->shaders.programs[ProgramLine2d].program, 0u);
    for (i32 p = 0; p < kShaderProgramCount; p++) {
        if (p != ProgramLine2d) {
            EXPECT_EQ(renderer->shaders.programs[p].program, 0u) << kSources[2 * p];
        }
    }
    runHarnessFrame(&harness);
    for (const ShaderProgram& program : renderer->shaders.programs) EXPECT_NE(program.program, 0u);
}

TEST_F(ShaderPrograms, SourcesWhoseTimeDoesNotChangeAreReadOnce) {
    startHarness(false);
    runUntilProgramsBuilt();
    runHarnessFrames(&harness, 5);
    for (const ShaderProgram& program : renderer->shaders.programs) {
        EXPECT_EQ(program.loadCount, 2);
        EXPECT_EQ(program.builtCount, 2);
    }
}

TEST_F(ShaderPrograms, LoadingStepsAppearInTheLogWhileReadsWait) {
    startHarness(true);
    store.holdReads = true;
    runHarnessFrame(&harness);
    EXPECT_TRUE(harnessLogContains(&harness, "Queueing asset line_2d_fragment.glsl for loading"));
    runHarnessFrame(&harness);
    EXPECT_TRUE(harnessLogContains(&harness, "Asset line_2d_fragment.glsl is in the queue for loading"));
    store.holdReads = false;
    store.serveAll();
    runHarnessFrame(&harness);
    EXPECT_TRUE(harnessLogContains(&harness, "line_2d_fragment.glsl: "));
    EXPECT_NE(std::string(harnessLogLine(&harness, "line_2d_fragment.glsl").text).find("Loaded Successfully"),
              std::string::npos);
}

TEST_F(ShaderPrograms, AMissingSourceNamesTheFileStatus) {
    startHarness(true);
    store.remove("sdf_fragment.glsl");
    runHarnessFrames(&harness, 3);
    EXPECT_TRUE(harnessLogContains(&harness, "Loading asset sdf_fragment.glsl failed because: File not found"));
    EXPECT_EQ(renderer->shaders.programs[ProgramSdf].program, 0u);
    EXPECT_NE(renderer->shaders.programs[ProgramColored2d].program, 0u);
}

// Draws a colored_2d quad over the whole window in red and reads the centre.
void drawRedQuad(UiState* ui) { addColored2dQuad(&ui->batches.colored2d, 0, 0, 160, 120, 0.5f, 0xFF0000FF); }

TEST_F(ShaderPrograms, ABrokenSourceReportsTheCompilerLogAndTheOldProgramKeepsDrawing) {
    startHarness(true);
    runUntilProgramsBuilt();
    u32 oldProgram = renderer->shaders.programs[ProgramColored2d].program;
    drawRedQuad(ui);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(harnessPixel(&harness, 80, 60), 0xFF0000FF));

    // A reload with a syntax error on the file's third line.
    std::vector<u8> good = readRepoFile("Assets/Shaders/colored_2d_fragment.glsl");
    store.put("colored_2d_fragment.glsl", std::string("in vec4 color;\nout vec4 fragColor;\nvoid main() { fragColor = ; }\n"), 5);
    runHarnessFrame(&harness);
    EXPECT_TRUE(harnessLogContains(&harness, "Reloading asset colored_2d_fragment.glsl"));
    drawRedQuad(ui);
    runHarnessFrame(&harness);
    const FixedString& status = renderer->shaders.programs[ProgramColored2d].status;
    std::string text(status.text, status.length);
    EXPECT_EQ(text.rfind("Error compiling colored_2d_fragment.glsl: ", 0), 0u) << text;
    // The line is the source file's own, whatever the header and the uniforms prelude in front hold.
    EXPECT_NE(text.find(":3"), std::string::npos) << text;
    EXPECT_EQ(renderer->shaders.programs[ProgramColored2d].program, oldProgram);
    EXPECT_TRUE(colorNear(harnessPixel(&harness, 80, 60), 0xFF0000FF));

    // Mended, the program is built again and draws with the new one.
    store.put("colored_2d_fragment.glsl", good, 9);
    runHarnessFrames(&harness, 2);
    EXPECT_EQ(renderer->shaders.programs[ProgramColored2d].status.length, 0);
    drawRedQuad(ui);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(harnessPixel(&harness, 80, 60), 0xFF0000FF));
}

TEST_F(ShaderPrograms, AVertexSourceThatFailsStopsTheFragmentStage) {
    startHarness(true);
    store.put("line_3d_vertex.glsl", std::string("void main() { gl_Position = undefinedThing; }\n"));
    runHarnessFrames(&harness, 3);
    std::string text = renderer->shaders.programs[ProgramLine3d].status.text;
    EXPECT_EQ(text.rfind("Error compiling line_3d_vertex.glsl: ", 0), 0u) << text;
    EXPECT_EQ(renderer->shaders.programs[ProgramLine3d].program, 0u);
}

TEST_F(ShaderPrograms, ALinkErrorNamesBothSources) {
    startHarness(true);
    // The fragment stage compiles but has no entry point, which only the link notices.
    store.put("colored_2d_fragment.glsl", std::string("out vec4 fragColor;\nvoid notMain() { fragColor = vec4(1.0); }\n"));
    runHarnessFrames(&harness, 3);
    std::string text = renderer->shaders.programs[ProgramColored2d].status.text;
    EXPECT_EQ(text.rfind("Error linking colored_2d_vertex.glsl and colored_2d_fragment.glsl: ", 0), 0u) << text;
}

TEST(ShaderStatusLine, ANameReachingColumnEightyGetsNoPadding) {
    u8 buffer[512];
    ByteWriter log = makeByteWriter(buffer, sizeof(buffer));
    FixedString status{};
    std::string longName(70, 'v');
    appendShaderStatusLine(longName.c_str(), "fragment_source_name.glsl", &status, &log);
    std::string line((const char*)buffer, log.length);
    EXPECT_EQ(line, longName + " & fragment_source_name.glsl: \tLoaded Successfully\n");
}

}  // namespace
