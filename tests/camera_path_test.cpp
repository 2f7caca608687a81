// tests/camera_path_test.cpp: path building and sampling, the path and
// "paths.tms" files, start-up loading with its defaults, and key recording.
#include "path/CameraPath.h"
#include "path/PathSet.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr float EPS = 1e-4f;

void expectNear(const Float3& a, const Float3& b, float eps = EPS)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

CameraPath pathOf(std::initializer_list<Float3> points)
{
    CameraPath path;
    for (const Float3& p : points)
        appendPoint(path, p.x, p.y, p.z);
    return path;
}

std::string knotReport()
{
    return "ASSERT FAILED.  File: bspline. Line: 177. Details: Incorrect location in bspline knot array\n";
}

// "huge count" -> "HugeCount", for parameterised test names.
std::string camelName(const char* words)
{
    std::string name;
    bool upper = true;
    for (const char* c = words; *c; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) {
            name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

size_t countOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

// --- Building and sampling ---------------------------------------------------------

TEST(CameraPath, AppendKeepsCumulativeLengthsAndBuildsTheSplineFromFourPoints)
{
    CameraPath path;
    appendPoint(path, 0, 0, 0);
    appendPoint(path, 3, 4, 0);
    appendPoint(path, 3, 4, 12);
    ASSERT_EQ(path.lengths.size(), 3u);
    EXPECT_FLOAT_EQ(path.lengths[0], 0.0f);
    EXPECT_FLOAT_EQ(path.lengths[1], 5.0f);
    EXPECT_FLOAT_EQ(path.lengths[2], 17.0f);
    EXPECT_FLOAT_EQ(totalLength(path), 17.0f);
    EXPECT_EQ(path.spline.knotCount(), 0) << "no spline below four points";

    appendPoint(path, 0, 0, 12);
    EXPECT_EQ(path.spline.knotCount(), 6);
    appendPoint(path, 0, 0, 0);
    EXPECT_EQ(path.spline.knotCount(), 7);
    EXPECT_EQ(path.spline.pointCount(), 5);

    clearPath(path);
    EXPECT_TRUE(path.points.empty());
    EXPECT_TRUE(path.lengths.empty());
    EXPECT_EQ(path.spline.knotCount(), 0);
    EXPECT_EQ(totalLength(path), 0.0f);
}

TEST(CameraPath, ThreePointsFlyThePolyline)
{
    const CameraPath path = pathOf({ Float3(0, 0, 0), Float3(0, 0, 10), Float3(0, 0, 30) });
    int32_t cursor = 0;
    expectNear(samplePath(path, 0.5f, cursor), Float3(0, 0, 15));
    EXPECT_EQ(cursor, 1);
}

TEST(CameraPath, FourPointsFlyTheSpline)
{
    const CameraPath path = pathOf({ Float3(0, 0, 0), Float3(10, 0, 0), Float3(10, 10, 0), Float3(0, 10, 5) });
    ASSERT_EQ(path.spline.knotCount(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(path.spline.knots()[i], i < 3 ? 0.0f : 1.0f);
    int32_t cursor = 0;
    expectNear(samplePath(path, 1.0f, cursor), Float3(0, 10, 5));
    expectNear(samplePath(path, 0.0f, cursor), Float3(0, 0, 0));
    // (P0 + 3 P1 + 3 P2 + P3) / 8, not a point of the polyline.
    expectNear(samplePath(path, 0.5f, cursor), Float3(60.0f / 8, 40.0f / 8, 5.0f / 8));
    EXPECT_EQ(cursor, 0) << "the spline leaves the polyline cursor alone";
}

TEST(CameraPath, PointAtDistanceClampsPastTheEndAndStartsAtZero)
{
    const CameraPath path = pathOf({ Float3(0, 0, 0), Float3(10, 0, 0), Float3(10, 0, 20) });
    int32_t cursor = 0;
    expectNear(pointAtDistance(path, 0.0f, cursor), Float3(0, 0, 0));
    EXPECT_EQ(cursor, 0);
    expectNear(pointAtDistance(path, 1000.0f, cursor), Float3(10, 0, 20));
    EXPECT_EQ(cursor, 2);

    // The cursor never moves back by itself: a shorter distance searched from
    // the last index extrapolates backwards along segment 1-2.
    expectNear(pointAtDistance(path, 5.0f, cursor), Float3(10, 0, -5));
    EXPECT_EQ(cursor, 1);

    cursor = 0;
    expectNear(pointAtDistance(path, 20.0f, cursor), Float3(10, 0, 10));
    EXPECT_EQ(cursor, 1);
}

TEST(CameraPath, PointAtDistanceOnEmptyOrRepeatedPoints)
{
    CameraPath empty;
    int32_t cursor = 5;
    expectNear(pointAtDistance(empty, 3.0f, cursor), Float3(0, 0, 0), 0.0f);

    // Repeated keys make zero-length segments; sampling them must not divide by zero.
    const CameraPath still = pathOf({ Float3(1, 2, 3), Float3(1, 2, 3), Float3(1, 2, 3) });
    cursor = 2;
    const Float3 p = pointAtDistance(still, 0.0f, cursor);
    expectNear(p, Float3(1, 2, 3), 0.0f);

    // Cursors out of range (a negative one, one from a longer path) are safe.
    const CameraPath line = pathOf({ Float3(0, 0, 0), Float3(0, 0, 10) });
    cursor = -7;
    expectNear(pointAtDistance(line, 5.0f, cursor), Float3(0, 0, 5));
    cursor = 99;
    expectNear(pointAtDistance(line, 5.0f, cursor), Float3(0, 0, 10));
    EXPECT_EQ(cursor, 1);
}

TEST(CameraPath, SamplePairUsesEachPathsOwnCursor)
{
    PathPair pair;
    pair.position = pathOf({ Float3(0, 0, 0), Float3(0, 0, 10), Float3(0, 0, 30) });
    pair.rotation = pathOf({ Float3(0, 0, 0), Float3(90, 0, 0) });
    Float3 position, angles;
    samplePair(pair, 0.75f, position, angles);
    expectNear(position, Float3(0, 0, 22.5f));
    expectNear(angles, Float3(67.5f, 0, 0));
    EXPECT_EQ(pair.posCursor, 1);
    EXPECT_EQ(pair.rotCursor, 0);
}

TEST(CameraPath, PathPointAccessOnlyInsideTheList)
{
    CameraPath path = pathOf({ Float3(0, 0, 0), Float3(0, 0, 10) });
    Float3 p;
    EXPECT_FALSE(getPathPoint(path, 2, p));
    EXPECT_FALSE(getPathPoint(path, -1, p));
    EXPECT_FALSE(setPathPoint(path, 2, 1, 1, 1));
    EXPECT_FALSE(setPathPoint(path, -1, 1, 1, 1));
    ASSERT_TRUE(setPathPoint(path, 1, 0, 0, 50));
    ASSERT_TRUE(getPathPoint(path, 1, p));
    expectNear(p, Float3(0, 0, 50), 0.0f);
    EXPECT_FLOAT_EQ(totalLength(path), 10.0f) << "lengths stay as they were";
}

// --- Path files ----------------------------------------------------------------------

TEST(PathFiles, LoadReadsCountAndPoints)
{
    TempDir dir;
    const std::string name = dir.path() + "/pos_path1.txt";
    writeFile(name, "3\n0.000000 0.000000 0.000000\n0 0 10\n  0\t0\n30\n");
    CameraPath path = pathOf({ Float3(9, 9, 9) });
    ASSERT_TRUE(loadPathFile(path, name));
    ASSERT_EQ(path.points.size(), 3u);
    int32_t cursor = 0;
    expectNear(samplePath(path, 0.5f, cursor), Float3(0, 0, 15));
}

TEST(PathFiles, MissingFileLeavesThePathAlone)
{
    TempDir dir;
    CameraPath path = pathOf({ Float3(1, 2, 3) });
    EXPECT_FALSE(loadPathFile(path, dir.path() + "/nothing.txt"));
    ASSERT_EQ(path.points.size(), 1u);
    expectNear(path.points[0], Float3(1, 2, 3), 0.0f);
}

TEST(PathFiles, SaveWritesSixDecimalsAndReloads)
{
    TempDir dir;
    const std::string name = dir.path() + "/rot_path2.txt";
    const CameraPath path = pathOf({ Float3(1.25f, -2.5f, 1000.0f), Float3(0.1234567f, 7.0f, -0.0000004f) });
    ASSERT_TRUE(savePathFile(path, name));
    EXPECT_EQ(readFile(name), "2\n1.250000 -2.500000 1000.000000\n0.123457 7.000000 -0.000000\n");
    EXPECT_FALSE(std::filesystem::exists(name + ".tmp"));

    CameraPath back;
    ASSERT_TRUE(loadPathFile(back, name));
    ASSERT_EQ(back.points.size(), 2u);
    expectNear(back.points[1], Float3(0.123457f, 7.0f, 0.0f), 1e-6f);
}

TEST(PathFiles, FailedWriteKeepsTheOldFile)
{
    TempDir dir;
    const std::string name = dir.path() + "/pos_path3.txt";
    writeFile(name, "1\n1 2 3\n");
    // The temporary file cannot be created: a folder is in its way.
    const std::string temporary = name + "." + std::to_string(getpid()) + ".tmp";
    std::filesystem::create_directory(temporary);
    const CameraPath path = pathOf({ Float3(4, 5, 6), Float3(7, 8, 9) });
    EXPECT_FALSE(savePathFile(path, name));
    EXPECT_EQ(readFile(name), "1\n1 2 3\n");

    // A target that cannot be replaced (a folder) leaves no temporary behind.
    std::filesystem::remove(temporary);
    const std::string folderTarget = dir.path() + "/taken";
    std::filesystem::create_directory(folderTarget);
    std::filesystem::create_directory(folderTarget + "/inside");
    EXPECT_FALSE(savePathFile(path, folderTarget));
    EXPECT_FALSE(std::filesystem::exists(folderTarget + "." + std::to_string(getpid()) + ".tmp"));
    EXPECT_TRUE(std::filesystem::is_directory(folderTarget));

    // Into a folder that does not exist: nothing is written, nothing is thrown.
    EXPECT_FALSE(savePathFile(path, dir.path() + "/no/such/pos_path1.txt"));
}

struct MalformedCase {
    const char* what;
    std::string text;
    size_t      points;
};

void PrintTo(const MalformedCase& c, std::ostream* os)
{
    *os << c.what;
}

class PathFilesMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(PathFilesMalformed, LoadsWhatIsThereAndStops)
{
    const MalformedCase& c = GetParam();
    TempDir dir;
    const std::string name = dir.path() + "/pos_path1.txt";
    writeFile(name, c.text);
    CameraPath path = pathOf({ Float3(9, 9, 9) });
    EXPECT_TRUE(loadPathFile(path, name)) << "the file could be read";
    EXPECT_EQ(path.points.size(), c.points) << c.what;
    EXPECT_EQ(path.lengths.size(), path.points.size());
    if (!path.points.empty())
        expectNear(path.points[0], Float3(1, 2, 3), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(
    PathFiles, PathFilesMalformed,
    testing::Values(MalformedCase{ "huge count", "2147483647\n1 2 3\n4 5 6\n", 2 },
                    MalformedCase{ "count past 32 bits", "99999999999999999999\n1 2 3\n", 0 },
                    MalformedCase{ "negative count", "-5\n1 2 3\n4 5 6\n", 0 },
                    MalformedCase{ "no count", "abc\n1 2 3\n", 0 },
                    MalformedCase{ "text garbage", "3\n1 2 3\nabc def ghi\n7 8 9\n", 1 },
                    MalformedCase{ "truncated record", "4\n1 2 3\n4 5", 1 },
                    MalformedCase{ "not finite", "3\n1 2 3\nnan 1 1\n4 5 6\n", 1 },
                    MalformedCase{ "overflowing float", "3\n1 2 3\n1e50 1 1\n", 1 },
                    MalformedCase{ "empty file", "", 0 },
                    MalformedCase{ "binary bytes", std::string("2\n1 2 3\n\x01\xff\x00 9 9", 15), 1 }),
    [](const testing::TestParamInfo<MalformedCase>& info) { return camelName(info.param.what); });

TEST(PathFiles, HugeCountWithManyPointsLoadsThemAll)
{
    TempDir dir;
    const std::string name = dir.path() + "/pos_path1.txt";
    std::string text = "1000000000\n";
    for (int i = 0; i < 5000; ++i)
        text += std::to_string(i) + " 0 0\n";
    writeFile(name, text);
    CameraPath path;
    ASSERT_TRUE(loadPathFile(path, name));
    ASSERT_EQ(path.points.size(), 5000u);
    EXPECT_EQ(path.spline.pointCount(), 5000);
    EXPECT_FLOAT_EQ(totalLength(path), 4999.0f);
    int32_t cursor = 0;
    expectNear(samplePath(path, 1.0f, cursor), Float3(4999, 0, 0), 1e-2f);
}

TEST(PathFiles, FileAboveTheSizeLimitGivesItsWholeLinesAndSaysSo)
{
    TempDir dir;
    const std::string name = dir.path() + "/pos_path1.txt";
    // Lines of 100 bytes, so the limit falls inside a line, which must not be
    // read as a shorter number.
    const std::string line = std::string(70, ' ') + "1.000000 2.000000 3.000001\n";
    ASSERT_EQ(line.size(), 97u);
    const int64_t lines = MAX_PATH_FILE_BYTES / 97 + 10;
    std::string text = std::to_string(lines) + "\n";
    text.reserve(static_cast<size_t>(lines * 97 + 16));
    for (int64_t i = 0; i < lines; ++i)
        text += line;
    writeFile(name, text);
    CameraPath path;
    PathReadReport report;
    EXPECT_TRUE(loadPathFile(path, name, report));
    EXPECT_FALSE(report.whole);
    const int64_t wholeLines = (MAX_PATH_FILE_BYTES - static_cast<int64_t>(std::to_string(lines).size()) - 1) / 97;
    EXPECT_EQ(int64_t(report.keysRead), std::min<int64_t>(wholeLines, MAX_PATH_KEYS));
    ASSERT_FALSE(path.points.empty());
    EXPECT_EQ(path.points.back().z, 3.000001f) << "the last key read is a whole one";
    EXPECT_NE(report.problem.find("larger than the limit"), std::string::npos) << report.problem;
}

// --- Timed paths -----------------------------------------------------------------------

TEST(TimedPaths, FiveNumberRecordsGiveTheirFirstThree)
{
    TempDir dir;
    const std::string name = dir.path() + "/paths.tms";
    writeFile(name, "1\n6\n"
                    "1.0 2.0 3.0 7.5 8.5\n"
                    "4 5 6 0 0\n"
                    "7 8 9 0 0\n"
                    "10 11 12 0 0\n"
                    "0 0 0 2 2 2\n");
    std::vector<CameraPath> list;
    testing::internal::CaptureStderr();
    loadTimedPaths(list, name);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0].points.size(), 4u);
    expectNear(list[0].points[0], Float3(1, 2, 3), 0.0f);
    expectNear(list[0].points[3], Float3(10, 11, 12), 0.0f);
    const std::vector<float> knots(list[0].spline.knots(), list[0].spline.knots() + 6);
    EXPECT_EQ(knots, (std::vector<float>{ 0, 0, 0, 2, 2, 2 })) << "the file's knots replace the uniform ones";
    int32_t cursor = 0;
    expectNear(samplePath(list[0], 1.0f, cursor), Float3(10, 11, 12));
}

TEST(TimedPaths, TooFewKnotsAreOneLineForTheWholeFile)
{
    TempDir dir;
    const std::string name = dir.path() + "/paths.tms";
    writeFile(name, "2\n5\n1 1 1 0 0\n2 2 2 0 0\n3 3 3 0 0\n0 0 0 0 0\n"
                    "6\n1 1 1 0 0\n2 2 2 0 0\n3 3 3 0 0\n4 4 4 0 0\n0 0 0 1 1 1\n");
    std::vector<CameraPath> list;
    testing::internal::CaptureStderr();
    loadTimedPaths(list, name);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, name + ": 1 of 2 paths have fewer than 6 knots (the first at line 2); their knots were not applied\n");
    EXPECT_EQ(countOf(err, knotReport()), 0u) << "no assertion per knot";
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].points.size(), 3u);
    EXPECT_EQ(list[1].points.size(), 4u);
}

TEST(TimedPaths, MissingFileLeavesTheListAloneAndSaysSo)
{
    TempDir dir;
    std::vector<CameraPath> list(2);
    testing::internal::CaptureStderr();
    loadTimedPaths(list, dir.path() + "/paths.tms");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              dir.path() + "/paths.tms: No such file or directory; no timed paths\n");
    EXPECT_EQ(list.size(), 2u);
}

TEST(TimedPaths, HugeCountsTakeLittleMemoryAndOneLine)
{
    // Two million promised paths in four megabytes of "0" knot counts: the
    // list is capped, not grown to millions of empty paths.
    TempDir dir;
    const std::string name = dir.path() + "/paths.tms";
    std::string text = "2097144\n";
    while (text.size() < 4u * 1024 * 1024 - 2)
        text += "0\n";
    writeFile(name, text);
    std::vector<CameraPath> list;
    testing::internal::CaptureStderr();
    loadTimedPaths(list, name);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(list.size(), 1024u);
    EXPECT_EQ(countOf(err, "\n"), 1u) << err;
    EXPECT_NE(err.find("above the limit of 1024 paths"), std::string::npos) << err;
}

struct TimedCase {
    const char* what;
    const char* text;
    size_t      paths;
    size_t      firstPathPoints;
};

void PrintTo(const TimedCase& c, std::ostream* os)
{
    *os << c.what;
}

class TimedPathsMalformed : public testing::TestWithParam<TimedCase> {};

TEST_P(TimedPathsMalformed, LoadsWhatIsThereAndStops)
{
    const TimedCase& c = GetParam();
    TempDir dir;
    const std::string name = dir.path() + "/paths.tms";
    writeFile(name, c.text);
    std::vector<CameraPath> list(3);
    testing::internal::CaptureStderr();
    loadTimedPaths(list, name);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(list.size(), c.paths) << c.what;
    if (!list.empty()) {
        EXPECT_EQ(list[0].points.size(), c.firstPathPoints) << c.what;
    }
}

constexpr const char* FOUR_RECORDS = "1 2 3 0 0\n1 2 4 0 0\n1 2 5 0 0\n1 2 6 0 0\n";

INSTANTIATE_TEST_SUITE_P(
    TimedPaths, TimedPathsMalformed,
    testing::Values(
        TimedCase{ "huge path count", "2147483647\n6\n1 2 3 0 0\n1 2 4 0 0\n1 2 5 0 0\n1 2 6 0 0\n0 0 0 1 1 1\n", 1, 4 },
        TimedCase{ "negative path count", "-1\n6\n", 0, 0 },
        TimedCase{ "path count past 32 bits", "4294967296\n6\n", 0, 0 },
        TimedCase{ "huge knot count", "1\n2000000000\n1 2 3 0 0\n1 2 4 0 0\n", 1, 2 },
        TimedCase{ "negative knot count", "2\n-6\n1 2 3 0 0\n", 0, 0 },
        TimedCase{ "garbage", "1\n6\nabc\n", 1, 0 },
        TimedCase{ "truncated knots", "1\n6\n1 2 3 0 0\n1 2 4 0 0\n1 2 5 0 0\n1 2 6 0 0\n0 0 0\n", 1, 4 },
        TimedCase{ "record missing its extras", "1\n6\n1 2 3\n", 1, 0 },
        TimedCase{ "empty", "", 0, 0 },
        TimedCase{ "zero paths", "0\n", 0, 0 }),
    [](const testing::TestParamInfo<TimedCase>& info) { return camelName(info.param.what); });

TEST(TimedPaths, SaveThenLoadGivesTheSameSplines)
{
    TempDir dir;
    const std::string name = dir.path() + "/paths.tms";
    std::vector<CameraPath> list;
    list.push_back(pathOf({ Float3(0, 0, 0), Float3(1, 0, 0), Float3(1, 1, 0), Float3(0, 1, 1), Float3(2, 2, 2) }));
    list.push_back(pathOf({ Float3(5, 5, 5), Float3(6, 5, 5), Float3(6, 6, 5), Float3(6, 6, 6) }));
    ASSERT_TRUE(saveTimedPaths(list, name));
    std::vector<CameraPath> back;
    testing::internal::CaptureStderr();
    loadTimedPaths(back, name);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(back.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(back[i].spline.knotCount(), list[i].spline.knotCount());
        for (int k = 0; k < list[i].spline.knotCount(); ++k)
            EXPECT_FLOAT_EQ(back[i].spline.knots()[k], list[i].spline.knots()[k]);
        ASSERT_EQ(back[i].points.size(), list[i].points.size());
        for (size_t j = 0; j < list[i].points.size(); ++j)
            expectNear(back[i].points[j], list[i].points[j], 1e-6f);
    }
}

// --- The set ---------------------------------------------------------------------------

TEST(PathSet, DurationsStartWithTheShowTimings)
{
    PathSet set;
    EXPECT_EQ(set.pathDurations[0], 0.0f);
    EXPECT_FLOAT_EQ(set.pathDurations[1], 0.064f);
    EXPECT_FLOAT_EQ(set.pathDurations[2], 0.0779f);
    for (int n = 3; n <= 10; ++n)
        EXPECT_FLOAT_EQ(set.pathDurations[n], 0.09090909f) << n;
    EXPECT_FLOAT_EQ(startPositionSum(3, set.pathDurations), 0.1419f);
}

TEST(PathSet, EmptyFolderGivesEveryScenesDefaultFlightWithOneLinePerPair)
{
    TempDir dir;
    PathSet set;
    testing::internal::CaptureStderr();
    loadAllPaths(set, dir.path());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOf(err, "\n"), 11u) << "ten pairs and paths.tms:\n" << err;
    EXPECT_NE(err.find(dir.path() + "/pos_path4.txt, " + dir.path() +
                       "/rot_path4.txt: No such file or directory; the scene flies with the default points appended\n"),
              std::string::npos)
        << err;
    EXPECT_TRUE(set.pairs[0].position.points.empty());
    for (int n = 1; n <= 10; ++n) {
        const PathPair& pair = set.pairs[n];
        ASSERT_EQ(pair.position.points.size(), 2u) << n;
        expectNear(pair.position.points[0], Float3(0, 0, 1000), 0.0f);
        expectNear(pair.position.points[1], Float3(0, 0, 1500), 0.0f);
        ASSERT_EQ(pair.rotation.points.size(), 2u);
        expectNear(pair.rotation.points[1], Float3(0, 0, 0), 0.0f);
        EXPECT_TRUE(set.timedPaths[n].empty());
    }
    // The default flight: straight from z = 1000 to z = 1500 with fixed angles.
    Float3 position, angles;
    samplePair(set.pairs[4], 0.5f, position, angles);
    expectNear(position, Float3(0, 0, 1250));
    expectNear(angles, Float3(0, 0, 0));
}

TEST(PathSet, OnlyAPositionFileGetsTheDefaultsAppended)
{
    TempDir dir;
    writeFile(dir.path() + "/pos_path7.txt", "2\n1 2 3\n4 5 6\n");
    PathSet set;
    loadAllPaths(set, dir.path());
    const PathPair& pair = set.pairs[7];
    ASSERT_EQ(pair.position.points.size(), 4u);
    expectNear(pair.position.points[0], Float3(1, 2, 3), 0.0f);
    expectNear(pair.position.points[1], Float3(4, 5, 6), 0.0f);
    expectNear(pair.position.points[2], Float3(0, 0, 1000), 0.0f);
    expectNear(pair.position.points[3], Float3(0, 0, 1500), 0.0f);
    ASSERT_EQ(pair.rotation.points.size(), 2u);
    expectNear(pair.rotation.points[0], Float3(0, 0, 0), 0.0f);
    expectNear(pair.rotation.points[1], Float3(0, 0, 0), 0.0f);
    EXPECT_EQ(pair.position.spline.knotCount(), 6);
}

TEST(PathSet, BothFilesLoadWithoutDefaults)
{
    TempDir dir;
    writeFile(dir.path() + "/pos_path2.txt", "1\n1 2 3\n");
    writeFile(dir.path() + "/rot_path2.txt", "1\n10 20 0\n");
    PathSet set;
    loadAllPaths(set, dir.path());
    ASSERT_EQ(set.pairs[2].position.points.size(), 1u);
    ASSERT_EQ(set.pairs[2].rotation.points.size(), 1u);
    Float3 position, angles;
    samplePair(set.pairs[2], 0.7f, position, angles);
    expectNear(position, Float3(1, 2, 3), 0.0f);
    expectNear(angles, Float3(10, 20, 0), 0.0f);
}

TEST(PathSet, EveryScenesTimedListIsItsOwnCopy)
{
    TempDir dir;
    writeFile(dir.path() + "/paths.tms", std::string("1\n6\n") + FOUR_RECORDS + "0 0 0 1 1 1\n");
    PathSet set;
    testing::internal::CaptureStderr();
    loadAllPaths(set, dir.path());
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("paths.tms"), std::string::npos);
    EXPECT_TRUE(set.timedPaths[0].empty());
    for (int n = 1; n <= 10; ++n)
        ASSERT_EQ(set.timedPaths[n].size(), 1u) << n;
    clearPath(set.timedPaths[3][0]);
    EXPECT_EQ(set.timedPaths[4][0].points.size(), 4u);
}

TEST(PathSet, IllFormedTimedFileIsReportedOnceForAllScenes)
{
    TempDir dir;
    writeFile(dir.path() + "/paths.tms", "1\n3\n1 1 1 0 0\n0 0 0\n");
    PathSet set;
    testing::internal::CaptureStderr();
    loadAllPaths(set, dir.path());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOf(err, knotReport()), 0u);
    EXPECT_EQ(countOf(err, "paths.tms: 1 of 1 paths have fewer than 6 knots"), 1u) << err;
    for (int n = 1; n <= 10; ++n)
        EXPECT_EQ(set.timedPaths[n].size(), 1u) << "every scene still gets the path";
}

TEST(PathSet, RecordThenReloadRoundTrips)
{
    TempDir dir;
    PathSet set;
    loadAllPaths(set, dir.path());
    clearPair(set, 5);
    EXPECT_TRUE(set.pairs[5].position.points.empty());

    const Float3 keys[3] = { Float3(1.5f, -2.25f, 3.125f), Float3(10.0000004f, 20.123456f, -30.5f),
                             Float3(100.987654f, 0.0f, 64.0f) };
    const Float3 turns[3] = { Float3(10, 20, 0), Float3(15.5f, -370.25f, 0), Float3(-45.123456f, 720.0f, 1.0f) };
    for (int i = 0; i < 3; ++i)
        recordKeyPoint(set, 5, keys[i], turns[i]);
    EXPECT_EQ(readFile(dir.path() + "/pos_path5.txt"),
              "3\n1.500000 -2.250000 3.125000\n10.000000 20.123455 -30.500000\n100.987656 0.000000 64.000000\n");
    EXPECT_EQ(readFile(dir.path() + "/rot_path5.txt"),
              "3\n10.000000 20.000000 0.000000\n15.500000 -370.250000 0.000000\n-45.123455 720.000000 1.000000\n");

    PathSet back;
    loadAllPaths(back, dir.path());
    ASSERT_EQ(back.pairs[5].position.points.size(), 3u);
    ASSERT_EQ(back.pairs[5].rotation.points.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        expectNear(back.pairs[5].position.points[static_cast<size_t>(i)], keys[i], 1e-5f);
        expectNear(back.pairs[5].rotation.points[static_cast<size_t>(i)], turns[i], 1e-5f);
    }
    // Scene 5 now has both files; the others still fly their defaults.
    EXPECT_EQ(back.pairs[6].position.points.size(), 2u);

    // A fourth key rewrites both files whole.
    EXPECT_TRUE(recordKeyPoint(back, 5, Float3(1, 1, 1), Float3(2, 2, 2)));
    EXPECT_EQ(readFile(dir.path() + "/pos_path5.txt").substr(0, 2), "4\n");
    EXPECT_EQ(back.pairs[5].position.spline.knotCount(), 6);
}

TEST(PathSet, RecordingOutsideTheScenesWritesNothing)
{
    TempDir dir;
    PathSet set;
    loadAllPaths(set, dir.path());
    for (int scene : { 11, -1, 1000 })
        EXPECT_FALSE(recordKeyPoint(set, scene, Float3(1, 2, 3), Float3(0, 0, 0)));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename(), ".vortalune.lock") << "only the lock file may appear";
    EXPECT_TRUE(set.pairs[0].position.points.empty());
}

TEST(PathSet, SceneZeroRecordsIntoItsOwnPair)
{
    // The tool started as "vortalune 0" records into pair 0 and its files;
    // a pair 0 already on disk is read first, so its keys are kept.
    TempDir dir;
    writeFile(dir.path() + "/pos_path0.txt", "1\n5 6 7\n");
    writeFile(dir.path() + "/rot_path0.txt", "1\n1 2 3\n");
    PathSet set;
    testing::internal::CaptureStderr();
    loadAllPaths(set, dir.path());
    EXPECT_TRUE(set.pairs[0].position.points.empty()) << "start-up does not load pair 0";
    EXPECT_TRUE(beginEditing(set, 0));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(recordKeyPoint(set, 0, Float3(1, 2, 3), Float3(4, 5, 6)));
    EXPECT_EQ(readFile(dir.path() + "/pos_path0.txt"), "2\n5.000000 6.000000 7.000000\n1.000000 2.000000 3.000000\n");
    EXPECT_EQ(readFile(dir.path() + "/rot_path0.txt"), "2\n1.000000 2.000000 3.000000\n4.000000 5.000000 6.000000\n");
}

TEST(PathSet, RecordingIntoAnUnwritableFolderKeepsTheKeyInMemory)
{
    PathSet set;
    loadAllPaths(set, "/nonexistent/folder");
    ASSERT_EQ(set.pairs[4].position.points.size(), 2u) << "the default flight";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(recordKeyPoint(set, 4, Float3(1, 2, 3), Float3(4, 5, 6)));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("/nonexistent/folder/pos_path4.txt: No such file or directory"), std::string::npos) << err;
    EXPECT_NE(err.find("the keys stay in memory"), std::string::npos) << err;
    EXPECT_EQ(set.pairs[4].position.points.size(), 1u) << "the defaults make way for the author's first key";
    EXPECT_EQ(set.pairs[4].rotation.points.back().y, 5.0f);
}

TEST(PathSet, ClearPairEmptiesBothPathsAndResetsCursors)
{
    TempDir dir;
    PathSet set;
    loadAllPaths(set, dir.path());
    Float3 position, angles;
    samplePair(set.pairs[2], 2.0f, position, angles);
    EXPECT_EQ(set.pairs[2].posCursor, 1);
    clearPair(set, 2);
    EXPECT_TRUE(set.pairs[2].position.points.empty());
    EXPECT_TRUE(set.pairs[2].rotation.points.empty());
    EXPECT_EQ(set.pairs[2].posCursor, 0);
    EXPECT_EQ(set.pairs[2].rotCursor, 0);
    clearPair(set, 11);    // ignored
    clearPair(set, -3);    // ignored
    // An empty pair puts the camera at the origin with zero angles.
    samplePair(set.pairs[2], 0.5f, position, angles);
    expectNear(position, Float3(0, 0, 0), 0.0f);
    expectNear(angles, Float3(0, 0, 0), 0.0f);
}

TEST(PathSet, ReloadingStartsFromAnEmptySet)
{
    TempDir first, second;
    writeFile(first.path() + "/pos_path1.txt", "1\n1 2 3\n");
    writeFile(first.path() + "/rot_path1.txt", "1\n0 0 0\n");
    PathSet set;
    loadAllPaths(set, first.path());
    loadAllPaths(set, second.path());
    EXPECT_EQ(set.folder, second.path());
    ASSERT_EQ(set.pairs[1].position.points.size(), 2u) << "only the defaults, nothing left over";
}
