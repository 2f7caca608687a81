// path/CameraPath.cpp: path building and sampling, the path and "paths.tms"
// readers and writers.
//
// Sections:
//   --- Building and sampling ---
//   --- Reading numbers ---
//   --- Path files ---
//   --- Timed paths ---
#include "path/CameraPath.h"

#include "base/Report.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "paths.tms" files are a few kilobytes; these bounds keep a hostile one from
// taking much memory (each scene keeps its own copy of the list).
constexpr long long MAX_TIMED_PATHS = 1024;
constexpr int64_t   MAX_TIMED_PATHS_BYTES = 4LL * 1024 * 1024;

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

void setPathPoints(CameraPath& path, const std::vector<Float3>& points)
{
    clearPath(path);
    path.points.reserve(points.size());
    path.lengths.reserve(points.size());
    for (const Float3& p : points)
        appendKey(path, p);
    rebuildSpline(path);
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

// White-space separated numbers in the manner of scanf's %d and %f: a number
// ends where its syntax ends, so "3.5" read as a count gives 3 and leaves ".5".
// Knows where it is, so problems can be reported by line and token.
class NumberReader {
public:
    explicit NumberReader(const std::string& text) : text_(text.c_str()), end_(text_ + text.size()), pos_(text_) {}

    // False at the end of the data or when no integer starts here.
    // Values beyond the range of long long are clamped by strtoll (the callers
    // refuse anything outside 0 .. INT32_MAX anyway).
    bool readInt(long long& out)
    {
        char* end = nullptr;
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
        const char* before = pos_;
        if (!readInt(value) || value < 0 || value > INT32_MAX) {
            pos_ = before;
            return false;
        }
        out = value;
        return true;
    }

    // Skips white space; true when only white space (or a NUL) remains.
    bool atEnd()
    {
        while (pos_ < end_ && std::isspace(static_cast<unsigned char>(*pos_)))
            ++pos_;
        return pos_ >= end_ || *pos_ == '\0';
    }

    // The 1-based line of the next token (after white space).
    int32_t line()
    {
        atEnd();
        int32_t lines = 1;
        for (const char* p = text_; p < pos_; ++p)
            lines += *p == '\n';
        return lines;
    }

    // The next token, quoted and cut to a readable length, for messages.
    std::string token()
    {
        if (atEnd())
            return "the end of the file";
        std::string word;
        for (const char* p = pos_; p < end_ && !std::isspace(static_cast<unsigned char>(*p)) && word.size() < 24; ++p)
            word += std::isprint(static_cast<unsigned char>(*p)) ? *p : '?';
        return "'" + word + "'";
    }

private:
    const char* text_;
    const char* end_;
    const char* pos_;
};

bool readTriple(NumberReader& reader, Float3& p)
{
    return reader.readFloat(p.x) && reader.readFloat(p.y) && reader.readFloat(p.z);
}

void setProblem(PathReadReport& report, int32_t line, const std::string& problem)
{
    if (!report.problem.empty())
        return;   // the first problem is the one that matters
    report.line = line;
    report.problem = problem;
}

} // namespace

// --- Path files ------------------------------------------------------------------

std::string readProblem(const PathReadReport& report)
{
    if (report.opened && report.whole)
        return std::string();
    std::string text;
    if (report.line > 0)
        text += "line " + std::to_string(report.line) + ": ";
    return text + report.problem;
}

std::string describeRead(const std::string& file, const PathReadReport& report)
{
    const std::string problem = readProblem(report);
    return problem.empty() ? problem : file + ": " + problem;
}

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

void parsePathText(const std::string& text, CameraPath& path, PathReadReport& report)
{
    clearPath(path);
    report.keysRead = 0;
    report.countGiven = 0;
    report.line = 0;
    report.problem.clear();

    NumberReader reader(text);
    long long count = 0;
    if (reader.atEnd()) {
        setProblem(report, 1, "the file is empty: no key count");
    } else if (!reader.readCount(count)) {
        setProblem(report, reader.line(), reader.token() + " is not a key count");
    } else {
        report.countGiven = count;
        const long long readable = std::min<long long>(count, MAX_PATH_KEYS);
        // Stops at the first value that is not a number, or at the end of the
        // data: a count larger than the points present loads the points that
        // are there.
        for (long long i = 0; i < readable; ++i) {
            Float3 p;
            if (!readTriple(reader, p)) {
                const bool ended = reader.atEnd();
                const int32_t line = reader.line();
                const std::string read = std::to_string(i) + " of " + std::to_string(count) + " keys were read";
                setProblem(report, line,
                           ended ? "the file ends early: " + read
                                 : reader.token() + " is not a number; " + read);
                break;
            }
            appendKey(path, p);
        }
        if (report.problem.empty() && count > MAX_PATH_KEYS)
            setProblem(report, 1,
                       "the count " + std::to_string(count) + " is above the limit of " +
                           std::to_string(MAX_PATH_KEYS) + " keys; the first " + std::to_string(MAX_PATH_KEYS) +
                           " were read");
        if (report.problem.empty() && !reader.atEnd())
            setProblem(report, reader.line(),
                       "more data after the " + std::to_string(count) + " keys the count gives; it was not read");
    }
    rebuildSpline(path);
    report.keysRead = static_cast<int32_t>(path.points.size());
    report.whole = report.problem.empty();
}

std::string formatPathText(const CameraPath& path)
{
    std::string text = std::to_string(path.points.size()) + "\n";
    char line[4 * 64];
    for (const Float3& p : path.points) {
        const int n = std::snprintf(line, sizeof line, "%f %f %f\n", static_cast<double>(p.x),
                                    static_cast<double>(p.y), static_cast<double>(p.z));
        text.append(line, static_cast<size_t>(std::max(n, 0)));
    }
    return text;
}

bool readPathFileText(const std::string& filename, int64_t limit, std::string& text, bool& truncated,
                      PathReadReport& report)
{
    report = PathReadReport();
    std::string why;
    truncated = false;
    if (!readBoundedFile(filename, limit, text, truncated, report.stamp, why)) {
        report.problem = why;
        return false;
    }
    report.opened = true;
    return true;
}

bool loadPathFile(CameraPath& path, const std::string& filename, PathReadReport& report)
{
    std::string text;
    bool truncated = false;
    if (!readPathFileText(filename, MAX_PATH_FILE_BYTES, text, truncated, report))
        return false;
    if (truncated) {
        // Only whole lines: a number cut in two must not be read as a shorter one.
        const size_t lastLine = text.rfind('\n');
        text.resize(lastLine == std::string::npos ? 0 : lastLine + 1);
    }
    parsePathText(text, path, report);
    if (truncated) {
        report.line = 0;
        report.problem = "larger than the limit of " + std::to_string(MAX_PATH_FILE_BYTES) + " bytes; only " +
                         std::to_string(report.keysRead) + " keys were read";
        report.whole = false;
    }
    return true;
}

bool loadPathFile(CameraPath& path, const std::string& filename)
{
    PathReadReport report;
    return loadPathFile(path, filename, report);
}

bool savePathFile(const CameraPath& path, const std::string& filename)
{
    return writeFileAtomically(filename, formatPathText(path));
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

namespace {

// What a "paths.tms" held, for its one line.
struct TimedReport {
    long long   pathsGiven = 0;
    long long   pathsRead = 0;
    long long   shortPaths = 0;        // paths with fewer knots than a spline needs
    int32_t     firstShortLine = 0;
    int32_t     line = 0;              // where reading stopped early
    std::string problem;
};

// Fewer knots than this and a path has no spline: its knots are not applied.
constexpr long long MIN_SPLINE_KNOTS = 6;

void parseTimedPaths(const std::string& text, std::vector<CameraPath>& list, TimedReport& report)
{
    list.clear();
    NumberReader reader(text);
    long long pathCount = 0;
    if (!reader.readCount(pathCount)) {
        report.line = reader.line();
        report.problem = reader.token() + " is not a path count";
        return;
    }
    report.pathsGiven = pathCount;
    if (pathCount > MAX_TIMED_PATHS) {
        report.line = 1;
        report.problem = "the count " + std::to_string(pathCount) + " is above the limit of " +
                         std::to_string(MAX_TIMED_PATHS) + " paths";
        pathCount = MAX_TIMED_PATHS;
    }

    for (long long p = 0; p < pathCount; ++p) {
        const int32_t pathLine = reader.line();
        long long knotCount = 0;
        if (!reader.readCount(knotCount)) {
            // End of data, or a count that makes the rest meaningless.
            report.line = reader.line();
            report.problem = reader.atEnd() ? "the file ends early" : reader.token() + " is not a knot count";
            break;
        }

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
        // A spline needs four points (six knots); shorter lists are read past
        // and reported once for the whole file instead of knot by knot.
        const bool applyKnots = knotCount >= MIN_SPLINE_KNOTS;
        if (complete && !applyKnots) {
            if (report.shortPaths++ == 0)
                report.firstShortLine = pathLine;
        }
        for (long long k = 0; complete && k < knotCount; ++k) {
            float knot = 0.0f;
            if (!reader.readFloat(knot)) {
                complete = false;
                break;
            }
            if (applyKnots)
                path.spline.setKnot(static_cast<int32_t>(k), knot);
        }
        list.push_back(std::move(path));
        ++report.pathsRead;
        if (!complete) {
            report.line = reader.line();
            report.problem = (reader.atEnd() ? std::string("the file ends early") : reader.token() + " is not a number") +
                             " in path " + std::to_string(p + 1);
            break;
        }
    }
}

// One stderr line for a file that was not read whole, empty when it was.
std::string describeTimed(const std::string& filename, const TimedReport& report)
{
    std::string parts;
    if (report.shortPaths > 0)
        parts += std::to_string(report.shortPaths) + " of " + std::to_string(report.pathsRead) +
                 " paths have fewer than 6 knots (the first at line " + std::to_string(report.firstShortLine) +
                 "); their knots were not applied";
    if (!report.problem.empty()) {
        if (!parts.empty())
            parts += "; ";
        if (report.line > 0)
            parts += "line " + std::to_string(report.line) + ": ";
        parts += report.problem + "; " + std::to_string(report.pathsRead) + " of " +
                 std::to_string(report.pathsGiven) + " paths were read";
    }
    return parts.empty() ? parts : filename + ": " + parts;
}

// Reads and reports a "paths.tms"; false (list untouched) when it cannot be opened.
bool readTimedPaths(std::vector<CameraPath>& list, const std::string& filename)
{
    std::string text, why;
    bool truncated = false;
    FileStamp stamp;
    if (!readBoundedFile(filename, MAX_TIMED_PATHS_BYTES, text, truncated, stamp, why)) {
        reportLine("%s: %s; no timed paths\n", filename.c_str(), why.c_str());
        return false;
    }
    if (truncated) {
        reportLine("%s: larger than the limit of %lld bytes; not read\n", filename.c_str(),
                   static_cast<long long>(MAX_TIMED_PATHS_BYTES));
        return false;
    }
    TimedReport report;
    parseTimedPaths(text, list, report);
    const std::string line = describeTimed(filename, report);
    if (!line.empty())
        reportLine("%s\n", line.c_str());
    return true;
}

} // namespace

bool loadTimedPaths(std::vector<CameraPath>& list, const std::string& filename)
{
    return readTimedPaths(list, filename);
}

bool saveTimedPaths(const std::vector<CameraPath>& list, const std::string& filename)
{
    std::string text = std::to_string(list.size()) + "\n";
    char line[6 * 64];
    for (const CameraPath& path : list) {
        const CubicBSpline& spline = path.spline;
        const int32_t pointCount = spline.pointCount();
        text += std::to_string(spline.knotCount()) + "\n";
        for (int32_t i = 0; i < pointCount; ++i) {
            const Float3& p = spline.points()[i];
            const float length = static_cast<size_t>(i) < path.lengths.size() ? path.lengths[static_cast<size_t>(i)] : 0.0f;
            const float param = pointCount > 1 ? static_cast<float>(i) / static_cast<float>(pointCount - 1) : 0.0f;
            const int n = std::snprintf(line, sizeof line, "%f %f %f %f %f\n", static_cast<double>(p.x),
                                        static_cast<double>(p.y), static_cast<double>(p.z),
                                        static_cast<double>(length), static_cast<double>(param));
            text.append(line, static_cast<size_t>(std::max(n, 0)));
        }
        for (int32_t k = 0; k < spline.knotCount(); ++k) {
            const int n = std::snprintf(line, sizeof line, "%f\n", static_cast<double>(spline.knots()[k]));
            text.append(line, static_cast<size_t>(std::max(n, 0)));
        }
    }
    return writeFileAtomically(filename, text);
}
