// tests/RenderFixture.h: drawing whole frames of the demo in the shared test
// window. Sets a ShowState, places balls in the program's isosurface, points
// the camera at the grid and renders one frame (optionally into a PNG), so a
// test or a developer can look at what the render passes make of a scene.
#pragma once

#include "app/Render.h"
#include "math/Math.h"

#include <cstdint>
#include <string>
#include <vector>

// Opens the test window, resets the standing GL state and the viewport, and
// makes sure the program's texture table has its names and the empty 256x256
// glow target in slot 5. Returns false without a GL context.
bool prepareRenderTest();

// A ball of the program's isosurface: the surface (level 10) lies where
// strength * (1 - d^2 / radius^2)^2 = 10.
struct TestBall {
    Float3 centre;
    Float3 colour;
    float  strength = 40.0f;
    float  radius = 12.0f;
};

// Replaces every source of the program's isosurface with `balls` (all other
// isosurface parameters at their defaults) and polygonizes them.
void placeTestBalls(const std::vector<TestBall>& balls);

// No sources and an empty mesh.
void clearTestBalls();

// Camera held at `distance` from `eye` with (pitch, yaw, roll) in degrees.
void setTestCamera(const Float3& eye, float distance, float pitch = 0.0f, float yaw = 0.0f, float roll = 0.0f);

// Fills a slot with a width x height RGB image of one colour.
void fillSlot(int slot, int width, int height, uint8_t r, uint8_t g, uint8_t b);

// Reads level 0 of a slot's texture as RGB rows, bottom (first uploaded) row first.
std::vector<uint8_t> readSlot(int slot);

// Clears colour and depth to black as the frame loop does, then renders the
// frame at the window size.
void renderTestFrame(const ShowState& show);

// renderTestFrame, then writes the back buffer to `path`.
bool renderTestFramePng(const ShowState& show, const std::string& path);
