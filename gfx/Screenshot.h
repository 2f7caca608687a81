// gfx/Screenshot.h: the authoring tool's screenshots: the frame as rendered,
// read back from the back buffer and written as a PNG under a numbered name
// that is never used twice. Reading back needs a current GL context; the
// naming helpers need none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* SCREENSHOT_FOLDER = "shots";
constexpr int SCREENSHOT_MAX_NUMBER = 99999;   // gives up past this

// "vortalune-NNNN.png" (at least four digits, 0001 first).
std::string screenshotFileName(int number);

// The number in a name of the form "vortalune-<digits>.png" (four or more
// digits), or 0 when the name has another form.
int screenshotNumberOf(const std::string& name);

// The next number after every screenshot among `names` (file names in the
// folder): 1 with none, else the highest + 1, so a new shot sorts last even
// when older ones were deleted.
int nextScreenshotNumber(const std::vector<std::string>& names);

// The back buffer's width x height pixels as RGB rows, top first (call it
// after the frame is drawn, before the buffers are swapped). The pixel-store
// state is left as it was.
std::vector<uint8_t> readBackBufferRows(int width, int height);

// Reads width x height pixels of the back buffer (call it after renderFrame,
// before the buffers are swapped) and writes them to
// "<folder>/vortalune-NNNN.png", creating the folder when it is missing.
// The file is created exclusively, so an existing file is never overwritten.
// Returns the path written and prints "Screenshot: <path>" on stdout; on
// failure prints one stderr line naming the file or folder and the reason,
// and returns "".
std::string saveScreenshot(int width, int height, const std::string& folder = SCREENSHOT_FOLDER);
