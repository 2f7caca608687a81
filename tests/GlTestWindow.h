// tests/GlTestWindow.h: one SDL OpenGL window shared by every GL test of the
// process (SDL 1.2 has one video surface per process).
#pragma once

#include <cstdint>
#include <vector>

constexpr int GL_TEST_WIDTH = 256;
constexpr int GL_TEST_HEIGHT = 256;

// Opens the window the first time (with the program's standing GL state) and
// returns true when a GL context is current. Tests call it in SetUp and skip
// nothing: without a display it fails the test.
bool ensureGlWindow();

// Reads the RGBA pixel at (x, y), origin at the lower left, from the back buffer.
void readPixel(int x, int y, uint8_t rgba[4]);

// Reads the whole back buffer as RGBA rows, bottom row first.
std::vector<uint8_t> readBackBuffer();

// A 30 degree perspective looking from the eye at the lattice centre
// (32, 32, 32), lit by one white directional light with a dim ambient term.
void setLitTestView(double eyeX, double eyeY, double eyeZ);

// Writes the back buffer to a PNG (for looking at what a test drew).
bool saveBackBufferPng(const char* path);
