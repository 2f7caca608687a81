// tests/gl_layer_test.cpp: the GL layer (gl/GlLayer.h) over OpenGL ES 3 held
// to the system's OpenGL 1.1: the same frames drawn through both, one per
// drawing feature (tests/layer/render_cases.cpp) and a frame of every scene
// of the show (vortalune-capture against vortalune-capture-es), each within
// a stated mean and 99th-percentile channel difference (0..255).
#include "gfx/ImageDiff.h"
#include "gfx/PngFile.h"

#include "ShowData.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Tolerance {
    double mean;
    int    p99;
};

// Every case is held to DEFAULT_TOLERANCE but the ones named here. The glow
// adds ten layers of one capture, so the texture filtering's last bit shows
// ten times over; the grid's antialiased lines reach the pixels' coverage by
// another rule than the desktop's software rasterizer, a few levels apart on
// most line pixels.
constexpr Tolerance DEFAULT_TOLERANCE = { 0.25, 2 };
const std::map<std::string, Tolerance> CASE_TOLERANCES = {
    { "glow", { 0.5, 3 } },
    { "glow_wide", { 0.5, 3 } },
    { "grid", { 3.0, 24 } },
};
// A frame of the show mixes all of it: the glow's scenes set the bound.
constexpr Tolerance SHOW_TOLERANCE = { 0.5, 4 };

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Compares a.png and b.png; fails the test (naming `what`) past `tolerance`.
// `drawn` is set to whether the first image has anything but black in it.
void expectClose(const std::string& a, const std::string& b, const Tolerance& tolerance, const std::string& what,
                 bool& drawn)
{
    PngImage desktop, layer;
    std::string why;
    ASSERT_TRUE(readPngRgb(a.c_str(), desktop, why)) << a << ": " << why;
    ASSERT_TRUE(readPngRgb(b.c_str(), layer, why)) << b << ": " << why;
    ImageDifference d;
    ASSERT_TRUE(compareRgb(desktop.rgb, layer.rgb, desktop.width, desktop.height, d)) << what << ": sizes differ";
    EXPECT_LE(d.mean, tolerance.mean) << what << ": " << describeDifference(d);
    EXPECT_LE(d.p99, tolerance.p99) << what << ": " << describeDifference(d);
    size_t lit = 0;
    for (uint8_t v : desktop.rgb)
        lit += v > 16;
    drawn = lit * 100 > desktop.rgb.size();   // more than 1% of the channels
}

class GlLayer : public ShowDataTest {};

} // namespace

TEST_F(GlLayer, EveryDrawingFeatureLooksAsOnTheDesktop)
{
    TempDir desktop, layer;
    const ProcessResult d = runShowProgram(data(), { VORTALUNE_LAYER_CASES_BINARY, desktop.path() });
    ASSERT_EQ(d.exitCode, 0) << d.errorOutput;
    const ProcessResult l = runShowProgram(data(), { VORTALUNE_LAYER_CASES_ES_BINARY, layer.path() });
    ASSERT_EQ(l.exitCode, 0) << l.errorOutput;

    const std::vector<std::string> cases = readLines(desktop.path() + "/cases.txt");
    ASSERT_EQ(readLines(layer.path() + "/cases.txt"), cases);
    ASSERT_GE(cases.size(), 25u);
    for (const std::string& name : cases) {
        const auto special = CASE_TOLERANCES.find(name);
        bool drawn = false;
        expectClose(desktop.path() + "/" + name + ".png", layer.path() + "/" + name + ".png",
                    special == CASE_TOLERANCES.end() ? DEFAULT_TOLERANCE : special->second, name, drawn);
        EXPECT_TRUE(drawn) << name << ": the desktop's frame is black, so it proves nothing";
    }
}

// Over the layer the glow's ten layers are summed in one draw: held, case by
// case, to the same layers drawn one by one, within the glow's tolerance.
TEST_F(GlLayer, TheGlowInOneDrawLooksAsItsTenLayers)
{
    TempDir layer;
    const ProcessResult l = runShowProgram(data(), { VORTALUNE_LAYER_CASES_ES_BINARY, layer.path() });
    ASSERT_EQ(l.exitCode, 0) << l.errorOutput;
    const std::vector<std::string> cases = readLines(layer.path() + "/ten_layers.txt");
    EXPECT_EQ(cases, (std::vector<std::string>{ "glow.ten_layers", "glow_wide.ten_layers", "bright_glow.ten_layers" }));
    for (const std::string& tenLayers : cases) {
        const std::string name = tenLayers.substr(0, tenLayers.find('.'));
        bool drawn = false;
        expectClose(layer.path() + "/" + tenLayers + ".png", layer.path() + "/" + name + ".png",
                    CASE_TOLERANCES.at("glow"), name + ": one draw against ten layers", drawn);
        EXPECT_TRUE(drawn) << name;
    }
}

TEST_F(GlLayer, AFrameOfEverySceneLooksAsOnTheDesktop)
{
    TempDir desktop, layer;
    const std::vector<std::string> args = { "--fps", "10", "--every", "15", "--size", "320x240", "--out" };
    std::vector<std::string> run = args;
    run.insert(run.begin(), VORTALUNE_CAPTURE_BINARY);
    run.push_back(desktop.path());
    const ProcessResult d = runShowProgram(data(), run);
    ASSERT_EQ(d.exitCode, 0) << d.errorOutput;
    run.front() = VORTALUNE_CAPTURE_ES_BINARY;
    run.back() = layer.path();
    const ProcessResult l = runShowProgram(data(), run);
    ASSERT_EQ(l.exitCode, 0) << l.errorOutput;

    // frames.txt: "<file> <frame> <fraction> <scene>" per frame, the same in both.
    const std::vector<std::string> frames = readLines(desktop.path() + "/frames.txt");
    ASSERT_EQ(readLines(layer.path() + "/frames.txt"), frames);
    std::set<int> scenes;
    for (const std::string& line : frames) {
        char file[64];
        long frame = 0;
        double fraction = 0.0;
        int scene = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%63s %ld %lf %d", file, &frame, &fraction, &scene), 4) << line;
        scenes.insert(scene);
        bool drawn = false;
        expectClose(desktop.path() + "/" + file, layer.path() + "/" + file, SHOW_TOLERANCE,
                    "scene " + std::to_string(scene) + ", frame " + std::to_string(frame), drawn);
    }
    EXPECT_EQ(scenes, (std::set<int>{ 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 }));
}
