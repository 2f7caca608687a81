// path/CameraPath.h: camera paths (key points, chord lengths, a B-spline
// through them), the position/rotation pair of each scene, the per-scene set,
// and the text files they are kept in. No GL.
//
// Files (numbers separated by any white space when read):
//   "<folder>/pos_path<n>.txt", "<folder>/rot_path<n>.txt", n = scene 1..10:
//       count, then count lines "x y z" (eye position, or pitch yaw roll in degrees)
//   "<folder>/paths.tms": path count P; per path a knot count K, K - 2 records
//       "x y z a b" (a, b read and ignored), then K knot values.
// Readers stop at the end of the data or at the first value that is not a
// finite number; a negative count, or one that does not fit 32 bits, reads
// nothing. Whatever was not read is reported (file, line, problem), and the
// editor keeps such a file's original before it saves over it. Writers go
// through a temporary file beside the target that is renamed over it, so a
// failed write never leaves half a file; the editor saves a scene's two files
// as one (path/PairStore.h).
#pragma once

#include "base/SafeFile.h"   // FileStamp
#include "base/Show.h"   // SCENE_ENTRIES, DEFAULT_PATH_DURATIONS
#include "math/Math.h"
#include "path/bspline.h"

#include <cstdint>
#include <string>
#include <vector>

// --- Types ---------------------------------------------------------------------

struct CameraPath {
    std::vector<Float3> points;    // key points in recording order
    std::vector<float>  lengths;   // cumulative chord length per point; first 0
    CubicBSpline        spline;    // over the points once there are four or more
};

struct PathPair {
    CameraPath position;           // eye positions (world)
    CameraPath rotation;           // (pitch, yaw, roll) in degrees
    int32_t    posCursor = 0;      // polyline search cursors, reset when a flight starts
    int32_t    rotCursor = 0;
};

// --- Limits --------------------------------------------------------------------------
// The most keys a path may hold. The writer prints at most 47 characters per
// number ("%f" of -FLT_MAX), so a full path in the writer's format stays
// below MAX_PATH_FILE_BYTES, and whatever the tool saves it reads back whole.
constexpr int32_t MAX_PATH_KEYS = 262144;
constexpr int64_t MAX_PATH_LINE_BYTES = 3 * 47 + 3;
constexpr int64_t MAX_PATH_FILE_BYTES = 16 + int64_t(MAX_PATH_KEYS) * MAX_PATH_LINE_BYTES;

// --- Read reports --------------------------------------------------------------------
struct PathReadReport {
    bool        opened = false;   // the file was there and could be read
    bool        whole  = false;   // every key the count gives was read, nothing left over
    int32_t     keysRead = 0;
    int64_t     countGiven = 0;   // the count on the file's first line
    int32_t     line = 0;         // 1-based line of the first problem; 0 when none
    std::string problem;          // why not opened or not whole; empty when whole
    FileStamp   stamp;            // of the version that was read
};

// "line 6: 'abc' is not a number; 4 of 16 keys were read", or "No such file
// or directory". Empty when the file was read whole.
std::string readProblem(const PathReadReport& report);

// The same behind "<file>: ", as one stderr line says it.
std::string describeRead(const std::string& file, const PathReadReport& report);

// --- Building and sampling -----------------------------------------------------

// Appends a key point and its cumulative length; from four points on the
// spline is rebuilt over all points with uniform knots.
void appendPoint(CameraPath& path, float x, float y, float z);

// Empties the points, the lengths and the spline.
void clearPath(CameraPath& path);

// Replaces the points with `points`: lengths and spline as appending them one
// by one leaves them.
void setPathPoints(CameraPath& path, const std::vector<Float3>& points);

// Polyline point at arc length `distance`, searching forward from `cursor`
// (which it updates; it never moves back by itself). No points: (0, 0, 0).
// Past the end: the last point, cursor = last index.
Float3 pointAtDistance(const CameraPath& path, float distance, int32_t& cursor);

// Last cumulative length; 0 with fewer than two points.
float totalLength(const CameraPath& path);

// Spline at normalised s (0 start, 1 end); the polyline at s * totalLength
// when the spline cannot be evaluated (fewer than four points).
Float3 samplePath(const CameraPath& path, float s, int32_t& cursor);

// Both paths of a pair at s, with the pair's own cursors.
void samplePair(PathPair& pair, float s, Float3& position, Float3& angles);

// Key point access for 0 <= i < point count; otherwise false and no change.
// setPathPoint changes the stored point only (not the lengths or the spline).
bool setPathPoint(CameraPath& path, int32_t i, float x, float y, float z);
bool getPathPoint(const CameraPath& path, int32_t i, Float3& point);

// --- Files -----------------------------------------------------------------------

// "<folder>/pos_path<n>.txt" and "<folder>/rot_path<n>.txt".
std::string positionPathName(const std::string& folder, int scene);
std::string rotationPathName(const std::string& folder, int scene);
std::string timedPathsName(const std::string& folder);

// False (path unchanged) when the file cannot be opened; otherwise the path is
// replaced by the points the file holds and the result is true. A file above
// MAX_PATH_FILE_BYTES gives the keys of its first whole lines.
bool loadPathFile(CameraPath& path, const std::string& filename);

// The same, saying what was read and where reading stopped.
bool loadPathFile(CameraPath& path, const std::string& filename, PathReadReport& report);

// The opening shared by the flight files' readers: `report` reset, at most
// `limit` bytes of the file into `text` (truncated set when it holds more),
// its stamp and `opened` noted; false with the reason in report.problem when
// it cannot be read.
bool readPathFileText(const std::string& filename, int64_t limit, std::string& text, bool& truncated,
                      PathReadReport& report);

// The path from a file's text (at most MAX_PATH_KEYS keys), with its report.
void parsePathText(const std::string& text, CameraPath& path, PathReadReport& report);

// "count\n" and "x y z\n" per point with six decimals: the file's text.
std::string formatPathText(const CameraPath& path);

// Writes formatPathText. False (and the old file left as it was) when the
// file cannot be written.
bool savePathFile(const CameraPath& path, const std::string& filename);

// Both files of scene n; true only if both were read.
bool loadPathPair(PathPair& pair, int scene, const std::string& folder = "data");
bool savePathPair(const PathPair& pair, int scene, const std::string& folder = "data");

// Replaces the list with the paths of a "paths.tms" file; when the file cannot
// be opened the list stays as it was. Each path's knots are written with
// setKnot after its points. A path with fewer than six knots has no spline:
// its knots are skipped. Whatever was not read or applied is one stderr line
// for the whole file. At most 1024 paths and 4 MiB are read. False when the
// file could not be read at all.
bool loadTimedPaths(std::vector<CameraPath>& list, const std::string& filename);

// Writes a list in the "paths.tms" format: each path's current spline knots
// (a path needs four or more points), and per point its cumulative length and
// its index / (count - 1) as the two extra numbers, which readers ignore.
bool saveTimedPaths(const std::vector<CameraPath>& list, const std::string& filename);
