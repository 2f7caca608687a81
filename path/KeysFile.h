// path/KeysFile.h: the keys of a scene's flight on disk, beside its pair:
// "<folder>/keys_path<n>.txt". The show never reads it; the authoring tool
// keeps the author's timed keys there (path/FlightSolve.h), saved with the
// pair as one document (path/PairStore.h). Text, no GL.
//
// Format: a key count, then one line per key in time order:
//   time x y z pitch yaw roll [eased]
// time in seconds from the scene's first frame (six decimals), the eye
// position and the view angles in degrees ("%f"); a key that ends in the
// word "eased" has the camera stand still at its time. Lines are separated
// by '\n'; fields by spaces or tabs.
#pragma once

#include "path/CameraPath.h"
#include "path/FlightSolve.h"

#include <cstdint>
#include <string>
#include <vector>

// The longest line the writer makes: seven numbers of at most 47 characters
// ("%f" of -FLT_MAX, and the time is smaller), six spaces, " eased", '\n'.
constexpr int64_t MAX_KEYS_LINE_BYTES = 7 * 47 + 6 + 6 + 1;
constexpr int64_t MAX_KEYS_FILE_BYTES = 16 + int64_t(MAX_PATH_KEYS) * MAX_KEYS_LINE_BYTES;

// "<folder>/keys_path<n>.txt".
std::string keysPathName(const std::string& folder, int scene);

// The file's text: the count, then a line per key.
std::string formatKeysText(const std::vector<TimedKey>& keys);

// Keys from a file's text, as far as it reads whole, with a report as a
// path file's (line, problem, keys read). A key must be finite, at a time of
// 0 or more after the key before it.
void parseKeysText(const std::string& text, std::vector<TimedKey>& keys, PathReadReport& report);

// Reads the file (at most MAX_KEYS_FILE_BYTES, a regular file, never waiting
// on a pipe). False, with report.problem, when it cannot be opened.
bool loadKeysFile(const std::string& filename, std::vector<TimedKey>& keys, PathReadReport& report);
