// path/CameraPath.cpp: path building and sampling, the path and "paths.tms"
// readers and writers, start-up loading and key recording.
//
// Sections:
//   --- Building and sampling ---
//   --- Reading numbers ---
//   --- Path files ---
//   --- Timed paths ---
//   --- The set ---
#include "path/CameraPath.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// Path files are a few kilobytes; anything above this is not one of ours and is
// refused whole rather than read into memory (a hundred thousand keys fit).
constexpr long MAX_PATH_FILE_BYTES = 4L * 1024 * 1024;

// The default flight of a scene without both files: straight along z with
// fixed angles, sampled through the polyline.
constexpr Float3 DEFAULT_POSITION_START(0.0f, 0.0f, 1000.0f);
constexpr Float3 DEFAULT_POSITION_END(0.0f, 0.0f, 1500.0f);
constexpr Float3 DEFAULT_ANGLES(0.0f, 0.0f, 0.0f);

bool validScene(int scene)
{
    return scene >= FIRST_SCENE && scene <= LAST_SCENE;
}

} // namespace

// --- Building and sampling -------------------------------------------------------

namespace {

// Appends the point and its cumulative length, without touching the spline.
void appendKey(CameraPath& path, const Float3& p)
{
    float length = 0.0f;
    if (!path.points.empty()) {
        Float3 step;
        subtract(p, path.points.back(), step);
        length = path.lengths.back() + vectorLength(step);
    }
    path.points.push_back(p);
    path.lengths.push_back(length);
}

// The spline over all points, as appendPoint leaves it after its last call.
void rebuildSpline(CameraPath& path)
{
    if (path.points.size() >= 4)
        path.spline.setPoints(static_cast<int32_t>(path.points.size()), path.points.data());
}

} // namespace

void appendPoint(CameraPath& path, float x, float y, float z)
{
    appendKey(path, Float3(x, y, z));
    rebuildSpline(path);
}

void clearPath(CameraPath& path)
{
    path.points.clear();
    path.points.shrink_to_fit();
    path.lengths.clear();
    path.lengths.shrink_to_fit();
    path.spline.clear();
}

Float3 pointAtDistance(const CameraPath& path, float distance, int32_t& cursor)
{
    const int32_t count = static_cast<int32_t>(path.points.size());
    if (count == 0)
        return Float3();

    // A cursor from another path or a stale flight is brought into range first.
    int32_t i = cursor < 0 ? 0 : cursor;
    while (i < count && !(distance <= path.lengths[static_cast<size_t>(i)]))
        ++i;

    if (i >= count) {
        cursor = count - 1;
        return path.points.back();
    }
    if (i == 0) {
        cursor = 0;
        return path.points.front();
    }

    cursor = i - 1;
    const Float3& a = path.points[static_cast<size_t>(i - 1)];
    const Float3& b = path.points[static_cast<size_t>(i)];
    const float la = path.lengths[static_cast<size_t>(i - 1)];
    const float lb = path.lengths[static_cast<size_t>(i)];
    // Repeated key points make a segment of length 0: take its start, not 0/0.
    const float f = lb > la ? (distance - la) / (lb - la) : 0.0f;
    return Float3(a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z));
}

float totalLength(const CameraPath& path)
{
    if (path.points.size() < 2)
        return 0.0f;
    return path.lengths.back();
}

Float3 samplePath(const CameraPath& path, float s, int32_t& cursor)
{
    Float3 out;
    if (path.spline.evaluateNormalized(s, out))
        return out;
    return pointAtDistance(path, s * totalLength(path), cursor);
}

void samplePair(PathPair& pair, float s, Float3& position, Float3& angles)
{
    position = samplePath(pair.position, s, pair.posCursor);
    angles = samplePath(pair.rotation, s, pair.rotCursor);
}

bool setPathPoint(CameraPath& path, int32_t i, float x, float y, float z)
{
    if (i < 0 || static_cast<size_t>(i) >= path.points.size())
        return false;
    path.points[static_cast<size_t>(i)] = Float3(x, y, z);
    return true;
}

bool getPathPoint(const CameraPath& path, int32_t i, Float3& point)
{
    if (i < 0 || static_cast<size_t>(i) >= path.points.size())
        return false;
    point = path.points[static_cast<size_t>(i)];
    return true;
}

// --- Reading numbers -------------------------------------------------------------

namespace {

// Reads a whole file ("rb"). False when it cannot be opened, read, or is larger
// than MAX_PATH_FILE_BYTES.
bool readWholeFile(const std::string& filename, std::string& text)
{
    FILE* file = std::fopen(filename.c_str(), "rb");
    if (!file)
        return false;
    text.clear();
    char buffer[16384];
    bool ok = true;
    for (;;) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, file);
        if (got == 0)
            break;
        if (static_cast<long>(text.size() + got) > MAX_PATH_FILE_BYTES) {
            ok = false;
            break;
        }
        text.append(buffer, got);
    }
    if (std::ferror(file))
        ok = false;
    std::fclose(file);
    return ok;
}

// White-space separated numbers in the manner of scanf's %d and %f: a number
// ends where its syntax ends, so "3.5" read as a count gives 3 and leaves ".5".
class NumberReader {
public:
    explicit NumberReader(const std::string& text) : text_(text.c_str()), pos_(text_) {}

    // False at the end of the data or when no integer starts here.
    // Values beyond the range of long long are clamped by strtoll (the callers
    // refuse anything outside 0 .. INT32_MAX anyway).
    bool readInt(long long& out)
    {
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(pos_, &end, 10);
        if (end == pos_)
            return false;
        pos_ = end;
        out = value;
        return true;
    }

    // False at the end of the data, when no number starts here, or when it is
    // not finite (inf, nan, or too large for a float).
    bool readFloat(float& out)
    {
        char* end = nullptr;
        const float value = std::strtof(pos_, &end);
        if (end == pos_ || !std::isfinite(value))
            return false;
        pos_ = end;
        out = value;
        return true;
    }

    // A count: 0 .. INT32_MAX, else false (nothing to read).
    bool readCount(long long& out)
    {
        long long value = 0;
        if (!readInt(value) || value < 0 || value > INT32_MAX)
            return false;
        out = value;
        return true;
    }

private:
    const char* text_;
    const char* pos_;
};

bool readTriple(NumberReader& reader, Float3& p)
{
    return reader.readFloat(p.x) && reader.readFloat(p.y) && reader.readFloat(p.z);
}

// Writes through "<filename>.tmp" and renames it over the target once every
// byte is on disk; on any failure the temporary file is removed and the old
// file stays.
template <typename WriteBody>
bool writeFileAtomically(const std::string& filename, WriteBody writeBody)
{
    const std::string temporary = filename + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return false;
    writeBody(file);
    bool ok = std::fflush(file) == 0 && std::ferror(file) == 0;
    ok = ok && fsync(fileno(file)) == 0;
    ok = (std::fclose(file) == 0) && ok;
    if (ok)
        ok = std::rename(temporary.c_str(), filename.c_str()) == 0;
    if (!ok)
        std::remove(temporary.c_str());
    return ok;
}

} // namespace

// --- Path files ------------------------------------------------------------------

std::string positionPathName(const std::string& folder, int scene)
{
    return folder + "/pos_path" + std::to_string(scene) + ".txt";
}

std::string rotationPathName(const std::string& folder, int scene)
{
    return folder + "/rot_path" + std::to_string(scene) + ".txt";
}

std::string timedPathsName(const std::string& folder)
{
    return folder + "/paths.tms";
}

bool loadPathFile(CameraPath& path, const std::string& filename)
{
    std::string text;
    if (!readWholeFile(filename, text))
        return false;

    clearPath(path);
    NumberReader reader(text);
    long long count = 0;
    if (!reader.readCount(count))
        return true;
    // Stops at the end of the data: a count larger than the points present
    // loads the points that are there.
    for (long long i = 0; i < count; ++i) {
        Float3 p;
        if (!readTriple(reader, p))
            break;
        appendKey(path, p);
    }
    rebuildSpline(path);
    return true;
}

bool savePathFile(const CameraPath& path, const std::string& filename)
{
    return writeFileAtomically(filename, [&path](FILE* file) {
        std::fprintf(file, "%d\n", static_cast<int>(path.points.size()));
        for (const Float3& p : path.points)
            std::fprintf(file, "%f %f %f\n", static_cast<double>(p.x), static_cast<double>(p.y),
                         static_cast<double>(p.z));
    });
}

bool loadPathPair(PathPair& pair, int scene, const std::string& folder)
{
    // Both files are always tried: one present file is kept even if the other
    // is missing.
    const bool position = loadPathFile(pair.position, positionPathName(folder, scene));
    const bool rotation = loadPathFile(pair.rotation, rotationPathName(folder, scene));
    return position && rotation;
}

bool savePathPair(const PathPair& pair, int scene, const std::string& folder)
{
    const bool position = savePathFile(pair.position, positionPathName(folder, scene));
    const bool rotation = savePathFile(pair.rotation, rotationPathName(folder, scene));
    return position && rotation;
}

// --- Timed paths -----------------------------------------------------------------

void loadTimedPaths(std::vector<CameraPath>& list, const std::string& filename)
{
    std::string text;
    if (!readWholeFile(filename, text))
        return;

    list.clear();
    NumberReader reader(text);
    long long pathCount = 0;
    if (!reader.readCount(pathCount))
        return;

    for (long long p = 0; p < pathCount; ++p) {
        long long knotCount = 0;
        if (!reader.readCount(knotCount))
            break;   // end of data, or a count that makes the rest meaningless

        CameraPath path;
        bool complete = true;
        for (long long j = 0; j < knotCount - 2; ++j) {
            Float3 point;
            float ignored = 0.0f;
            if (!readTriple(reader, point) || !reader.readFloat(ignored) || !reader.readFloat(ignored)) {
                complete = false;
                break;
            }
            appendKey(path, point);
        }
        rebuildSpline(path);
        for (long long k = 0; complete && k < knotCount; ++k) {
            float knot = 0.0f;
            if (!reader.readFloat(knot)) {
                complete = false;
                break;
            }
            path.spline.setKnot(static_cast<int32_t>(k), knot);
        }
        list.push_back(std::move(path));
        if (!complete)
            break;
    }
}

bool saveTimedPaths(const std::vector<CameraPath>& list, const std::string& filename)
{
    return writeFileAtomically(filename, [&list](FILE* file) {
        std::fprintf(file, "%d\n", static_cast<int>(list.size()));
        for (const CameraPath& path : list) {
            const CubicBSpline& spline = path.spline;
            const int32_t pointCount = spline.pointCount();
            std::fprintf(file, "%d\n", static_cast<int>(spline.knotCount()));
            for (int32_t i = 0; i < pointCount; ++i) {
                const Float3& p = spline.points()[i];
                const float length = static_cast<size_t>(i) < path.lengths.size() ? path.lengths[static_cast<size_t>(i)] : 0.0f;
                const float param = pointCount > 1 ? static_cast<float>(i) / static_cast<float>(pointCount - 1) : 0.0f;
                std::fprintf(file, "%f %f %f %f %f\n", static_cast<double>(p.x), static_cast<double>(p.y),
                             static_cast<double>(p.z), static_cast<double>(length), static_cast<double>(param));
            }
            for (int32_t k = 0; k < spline.knotCount(); ++k)
                std::fprintf(file, "%f\n", static_cast<double>(spline.knots()[k]));
        }
    });
}

// --- The set ---------------------------------------------------------------------

void loadAllPaths(PathSet& set, const std::string& folder)
{
    set.folder = folder;
    for (int n = 0; n < SCENE_ENTRIES; ++n) {
        clearPair(set, n);
        set.timedPaths[n].clear();
    }

    for (int n = FIRST_SCENE; n <= LAST_SCENE; ++n) {
        PathPair& pair = set.pairs[n];
        if (!loadPathPair(pair, n, folder)) {
            appendPoint(pair.position, DEFAULT_POSITION_START.x, DEFAULT_POSITION_START.y, DEFAULT_POSITION_START.z);
            appendPoint(pair.rotation, DEFAULT_ANGLES.x, DEFAULT_ANGLES.y, DEFAULT_ANGLES.z);
            appendPoint(pair.position, DEFAULT_POSITION_END.x, DEFAULT_POSITION_END.y, DEFAULT_POSITION_END.z);
            appendPoint(pair.rotation, DEFAULT_ANGLES.x, DEFAULT_ANGLES.y, DEFAULT_ANGLES.z);
        }
    }

    // Every scene gets its own copy, read afresh (so a faulty file reports
    // its knot problems once per scene).
    const std::string timed = timedPathsName(folder);
    for (int n = FIRST_SCENE; n <= LAST_SCENE; ++n)
        loadTimedPaths(set.timedPaths[n], timed);
}

bool recordKeyPoint(PathSet& set, int scene, const Float3& position, const Float3& angles)
{
    if (!validScene(scene))
        return false;
    PathPair& pair = set.pairs[scene];
    appendPoint(pair.position, position.x, position.y, position.z);
    appendPoint(pair.rotation, angles.x, angles.y, angles.z);
    return savePathPair(pair, scene, set.folder);
}

void clearPair(PathSet& set, int scene)
{
    if (scene < 0 || scene >= SCENE_ENTRIES)
        return;
    PathPair& pair = set.pairs[scene];
    clearPath(pair.position);
    clearPath(pair.rotation);
    pair.posCursor = 0;
    pair.rotCursor = 0;
}
