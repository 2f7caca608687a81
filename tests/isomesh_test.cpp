// tests/isomesh_test.cpp: the source-list parser, the PLY writer and the
// isomesh tool as a program.
#include "iso/Mesher.h"
#include "iso/SourceFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace {

const std::string ISOMESH = std::string(VORTALUNE_BUILD_DIR) + "/isomesh";

std::string parseError(const std::string& text)
{
    SourceField field;
    std::string error;
    EXPECT_FALSE(parseSources(text, field, error)) << text;
    return error;
}

struct PlyMesh {
    size_t vertices = 0, faces = 0;
    std::vector<float> data;     // 6 floats per vertex: position, normal
    std::vector<int>   colours;  // 3 per vertex
    std::vector<int>   indices;
};

bool readPly(const std::string& path, PlyMesh& mesh)
{
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line) || line != "ply")
        return false;
    while (std::getline(in, line) && line != "end_header") {
        std::istringstream words(line);
        std::string a, b;
        words >> a >> b;
        if (a == "element" && b == "vertex")
            words >> mesh.vertices;
        if (a == "element" && b == "face")
            words >> mesh.faces;
    }
    for (size_t i = 0; i < mesh.vertices; ++i) {
        float f[6];
        int c[3];
        if (!(in >> f[0] >> f[1] >> f[2] >> f[3] >> f[4] >> f[5] >> c[0] >> c[1] >> c[2]))
            return false;
        mesh.data.insert(mesh.data.end(), f, f + 6);
        mesh.colours.insert(mesh.colours.end(), c, c + 3);
    }
    for (size_t i = 0; i < mesh.faces; ++i) {
        int n, a, b, c;
        if (!(in >> n >> a >> b >> c) || n != 3)
            return false;
        mesh.indices.insert(mesh.indices.end(), { a, b, c });
    }
    return true;
}

} // namespace

TEST(SourceFile, ParsesBallsSegmentsCommentsAndBlankLines)
{
    SourceField field;
    std::string error;
    const std::string text = "# two balls and a segment\n"
                             "\n"
                             "ball 32 32 32 20 6.4 1 0 0\r\n"
                             "  ball 10.5 11 12 -20 4.48 0 1 0   # negative\n"
                             "segment 1 2 3 4 5 6 20 10 5.12 1 0 0 0 0 1";
    ASSERT_TRUE(parseSources(text, field, error)) << error;
    ASSERT_EQ(field.balls.size(), 2u);
    ASSERT_EQ(field.segments.size(), 1u);
    EXPECT_EQ(field.balls[1].centre.x, 10.5f);
    EXPECT_EQ(field.balls[1].strength, -20.0f);
    EXPECT_FLOAT_EQ(field.balls[0].invRadiusSq, 1.0f / (6.4f * 6.4f));
    EXPECT_TRUE(field.balls[0].enabled);
    const SegmentSource& s = field.segments[0];
    EXPECT_EQ(s.end.z, 6.0f);
    EXPECT_EQ(s.startStrength, 20.0f);
    EXPECT_EQ(s.endStrength, 10.0f);
    EXPECT_EQ(s.radius, 5.12f);
    EXPECT_EQ(s.endColour.z, 1.0f);
    EXPECT_FLOAT_EQ(s.invLengthSq, 1.0f / 27.0f);
}

TEST(SourceFile, RejectsMalformedLinesNamingTheLine)
{
    EXPECT_EQ(parseError("ball 1 2 3 20 5 1 0 0\ncube 1 2 3\n"),
              "line 2: unknown source 'cube' (expected 'ball' or 'segment')");
    EXPECT_EQ(parseError("ball 1 2 3 20 5 1 0\n"),
              "line 1: ball needs 8 numbers (x y z strength radius r g b), found 7");
    EXPECT_EQ(parseError("\n\nsegment 1 2 3\n").substr(0, 31), "line 3: segment needs 15 number");
    EXPECT_EQ(parseError("ball 1 2 3 20 5 1 0 0 9\n"),
              "line 1: ball needs 8 numbers (x y z strength radius r g b), found 9");
    EXPECT_EQ(parseError("ball 1 2 x3 20 5 1 0 0\n"), "line 1: 'x3' is not a finite number");
    EXPECT_EQ(parseError("ball 1 2 3 nan 5 1 0 0\n"), "line 1: 'nan' is not a finite number");
    EXPECT_EQ(parseError("ball 1 2 3 inf 5 1 0 0\n"), "line 1: 'inf' is not a finite number");
    EXPECT_EQ(parseError("ball 1 2 3 1e39 5 1 0 0\n"), "line 1: '1e39' is not a finite number");
    EXPECT_EQ(parseError("ball 1 2 3 20 0 1 0 0\n"), "line 1: radius must be positive");
    EXPECT_EQ(parseError("ball 1 2 3 20 -4 1 0 0\n"), "line 1: radius must be positive");
    EXPECT_EQ(parseError(std::string("ball 1 2 3\0 20 5 1 0 0\n", 23)), "line 1: '3?' is not a finite number");
    EXPECT_EQ(parseError("\x01\xff\n"), "line 1: unknown source '?" "?' (expected 'ball' or 'segment')");
}

TEST(SourceFile, RefusesTooManySources)
{
    std::string text;
    for (int i = 0; i <= MAX_FILE_SOURCES; ++i)
        text += "ball 1 1 1 1 1 1 1 1\n";
    EXPECT_EQ(parseError(text), "line 4097: more than 4096 sources");
}

TEST(SourceFile, RefusesMissingAndOversizedFiles)
{
    TempDir dir;
    SourceField field;
    std::string error;
    EXPECT_FALSE(readSourceFile((dir.path() + "/missing.txt").c_str(), field, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_FALSE(readSourceFile(dir.path().c_str(), field, error));   // a folder
    const std::string big = dir.path() + "/big.txt";
    writeFile(big, std::string(MAX_SOURCE_FILE_BYTES + 1, '#'));
    EXPECT_FALSE(readSourceFile(big.c_str(), field, error));
    EXPECT_NE(error.find("larger than"), std::string::npos);
}

TEST(SourceFile, WritesPlyWithPositionsNormalsAndColours)
{
    TempDir dir;
    auto field = std::make_unique<SourceField>();
    auto mesher = std::make_unique<IsoMesher>(field.get());
    placeBall(*field, 0, makeBall(Float3(32, 32, 32), Float3(1.0f, 0.5f, 2.0f), 20.0f, 8.0f));
    const IsoMesh& mesh = runIsoPass(*mesher, 10.0f);
    const std::string path = dir.path() + "/ball.ply";
    std::string error;
    ASSERT_TRUE(writePly(path.c_str(), mesh, error)) << error;
    PlyMesh ply;
    ASSERT_TRUE(readPly(path, ply));
    EXPECT_EQ(ply.vertices, mesh.vertices.size());
    EXPECT_EQ(ply.faces, mesh.indices.size() / 3);
    for (size_t i = 0; i < ply.vertices; ++i) {
        const float* v = &ply.data[i * 6];
        EXPECT_NEAR(v[0], mesh.vertices[i].position.x, 1e-4f);
        EXPECT_NEAR(std::sqrt(v[3] * v[3] + v[4] * v[4] + v[5] * v[5]), 1.0f, 1e-4f);
        EXPECT_EQ(ply.colours[i * 3], 255);
        EXPECT_EQ(ply.colours[i * 3 + 1], 128);
        EXPECT_EQ(ply.colours[i * 3 + 2], 255);   // 2.0 clamped
    }
    for (size_t i = 0; i < ply.indices.size(); ++i)
        EXPECT_EQ(ply.indices[i], int(mesh.indices[i]));
    EXPECT_FALSE(writePly((dir.path() + "/no/such/folder.ply").c_str(), mesh, error));
}

// The two count lines of --check: the mesher's, then the full grid's.
void expectAgreeingCheck(const std::string& output, const std::string& what)
{
    const size_t mesher = output.find("mesher:");
    const size_t full = output.find("full grid:");
    ASSERT_NE(mesher, std::string::npos) << what << output;
    ASSERT_NE(full, std::string::npos) << what << output;
    const std::string mine = output.substr(output.find("vertices", mesher), output.find('\n', mesher) - output.find("vertices", mesher));
    const std::string theirs = output.substr(output.find("vertices", full), output.find('\n', full) - output.find("vertices", full));
    EXPECT_EQ(mine, theirs) << what;
    EXPECT_NE(mine.find("pieces"), std::string::npos) << what;
}

TEST(IsomeshCheck, AgreesWithTheFullGridOnRandomCloudsAndEveryScene)
{
    TempDir dir;
    // Clouds with tiny balls, centres outside, negative bars: pieces the
    // seeds alone miss.
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> pos(-3.0f, 67.0f), unit(0.0f, 1.0f);
    for (int cloud = 0; cloud < 3; ++cloud) {
        std::string text;
        for (int i = 0; i < 30; ++i)
            text += "ball " + std::to_string(pos(rng)) + " " + std::to_string(pos(rng)) + " " + std::to_string(pos(rng)) +
                    " 20 " + std::to_string(1.0f + 8.0f * unit(rng)) + " 1 0.5 0\n";
        text += "segment -4 30 30 68 34 30 -60 -60 2.5 0 0 1 0 0 1\n";
        writeFile(dir.path() + "/cloud.txt", text);
        ProcessOptions options;
        options.workDir = dir.path();
        options.captureOutput = true;
        const ProcessResult r = runProcess({ ISOMESH, "--check", "cloud.txt", "10", "cloud.ply" }, options);
        EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
        expectAgreeingCheck(r.output, "cloud " + std::to_string(cloud));
    }
    for (int scene = 1; scene <= 10; ++scene) {
        ProcessOptions options;
        options.workDir = dir.path();
        options.captureOutput = true;
        const ProcessResult r =
            runProcess({ ISOMESH, "--check", "--scene", std::to_string(scene), "--time", "3.3", "s.ply" }, options);
        EXPECT_EQ(r.exitCode, 0) << "scene " << scene << ": " << r.errorOutput;
        expectAgreeingCheck(r.output, "scene " + std::to_string(scene));
    }
}

TEST(IsomeshTool, WritesTheMeshAndPrintsCounts)
{
    TempDir dir;
    writeFile(dir.path() + "/cloud.txt", "ball 30 32 32 20 8 1 0 0\n"
                                         "ball 38 32 32 20 8 0 0 1\n"
                                         "segment 20 20 20 44 20 20 20 20 5.12 0 1 0 1 1 0\n");
    const std::string out = dir.path() + "/out.txt";
    const int status = runShell("cd " + dir.path() + " && " + ISOMESH + " cloud.txt 10 cloud.ply > " + out);
    ASSERT_EQ(status, 0);
    PlyMesh ply;
    ASSERT_TRUE(readPly(dir.path() + "/cloud.ply", ply));
    EXPECT_GT(ply.faces, 100u);
    EXPECT_EQ(readFile(out), "vertices: " + std::to_string(ply.vertices) + "\ntriangles: " +
                                 std::to_string(ply.faces) + "\n");
}

TEST(IsomeshTool, RejectsBadInputWithoutCrashing)
{
    TempDir dir;
    writeFile(dir.path() + "/bad.txt", "ball 30 32 32 20 8 1 0 0\nball 1 2\n");
    writeFile(dir.path() + "/good.txt", "ball 30 32 32 20 8 1 0 0\n");
    ProcessOptions options;
    options.workDir = dir.path();
    ProcessResult r = runProcess({ ISOMESH, "bad.txt", "10", "bad.ply" }, options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.errorOutput.find("bad.txt: line 2: ball needs 8 numbers"), std::string::npos) << r.errorOutput;

    r = runProcess({ ISOMESH, "good.txt", "ten", "x.ply" }, options);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errorOutput.find("LEVEL 'ten'"), std::string::npos) << r.errorOutput;

    r = runProcess({ ISOMESH, "good.txt" }, options);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errorOutput.find("usage: isomesh [--check] SOURCES.txt LEVEL OUT.ply"), std::string::npos);

    r = runProcess({ ISOMESH, "missing.txt", "10", "x.ply" }, options);
    EXPECT_EQ(r.exitCode, 1);

    r = runProcess({ ISOMESH, "good.txt", "10", "no/folder/x.ply" }, options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.errorOutput.find("cannot create"), std::string::npos);

    // Random bytes: refused or meshed, never a crash.
    std::string junk;
    uint32_t state = 12345;
    for (int i = 0; i < 4000; ++i) {
        state = state * 1664525u + 1013904223u;
        junk += static_cast<char>(state >> 24);
    }
    writeFile(dir.path() + "/junk.txt", junk);
    r = runProcess({ ISOMESH, "junk.txt", "10", "junk.ply" }, options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.errorOutput.find("line 1:"), std::string::npos);
}
