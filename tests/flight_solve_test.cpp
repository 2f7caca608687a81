// tests/flight_solve_test.cpp: a flight through timed keys. The solved
// flight passes every key's pose at its time as the show samples it (random
// keys, uneven times, zigzags, 2 to 200 keys, also after the files' six
// decimals), a flight's own keys give back its control points (so the shipped
// flights are unchanged until edited), it does not swing far past its keys,
// an eased key stands still, and what cannot be solved is refused.
#include "path/FlightSolve.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double POSITION_EPS = 0.01;   // units
constexpr double ANGLE_EPS = 0.01;      // degrees
constexpr double SCENE_SECONDS = 10.97;

PathPair pairOf(const FlightPoints& points)
{
    PathPair pair;
    setPathPoints(pair.position, points.positions);
    setPathPoints(pair.rotation, points.rotations);
    return pair;
}

// The pair as the show reads it back from the files the tool writes.
PathPair reread(const PathPair& pair)
{
    PathPair back;
    PathReadReport report;
    parsePathText(formatPathText(pair.position), back.position, report);
    parsePathText(formatPathText(pair.rotation), back.rotation, report);
    return back;
}

// The largest miss of the flight at its keys, as the show samples it.
void misses(PathPair& pair, const std::vector<TimedKey>& keys, double& position, double& angle)
{
    position = angle = 0.0;
    for (const TimedKey& key : keys) {
        Float3 p, a;
        samplePair(pair, float(key.time / SCENE_SECONDS), p, a);
        for (int c = 0; c < 3; ++c) {
            position = std::max(position, std::fabs(double(p[c]) - key.position[size_t(c)]));
            angle = std::max(angle, std::fabs(double(a[c]) - key.angles[size_t(c)]));
        }
    }
}

// How far the flight leaves the box of the two keys around it, between
// any two keys, over that step's length: 0 when it never swings past them.
double overshoot(const std::vector<Float3>& points, const std::vector<TimedKey>& keys, double* absolute = nullptr)
{
    double worst = 0.0, worstUnits = 0.0;
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        const Triple& a = keys[i].position;
        const Triple& b = keys[i + 1].position;
        const double step = std::sqrt((b[0] - a[0]) * (b[0] - a[0]) + (b[1] - a[1]) * (b[1] - a[1]) +
                                      (b[2] - a[2]) * (b[2] - a[2]));
        for (int j = 1; j < 64; ++j) {
            const double t = keys[i].time + (keys[i + 1].time - keys[i].time) * j / 64.0;
            double x[3];
            evaluateSpline(points, t / SCENE_SECONDS, x);
            double out = 0.0;
            for (int c = 0; c < 3; ++c) {
                const double lo = std::min(a[size_t(c)], b[size_t(c)]), hi = std::max(a[size_t(c)], b[size_t(c)]);
                const double e = x[c] < lo ? lo - x[c] : x[c] > hi ? x[c] - hi : 0.0;
                out += e * e;
            }
            out = std::sqrt(out);
            worstUnits = std::max(worstUnits, out);
            if (step > 0.0)
                worst = std::max(worst, out / step);
        }
    }
    if (absolute)
        *absolute = worstUnits;
    return worst;
}

std::vector<TimedKey> zigzag(int count)
{
    std::vector<TimedKey> keys;
    for (int i = 0; i < count; ++i) {
        TimedKey k;
        k.time = SCENE_SECONDS * i / (count - 1);
        k.position = { 10.0 * i, i % 2 ? 20.0 : -20.0, 0.0 };
        k.angles = { i % 2 ? 15.0 : -15.0, 30.0 * i, 0.0 };
        keys.push_back(k);
    }
    return keys;
}

std::vector<TimedKey> randomKeys(int count, unsigned seed, bool clustered)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> times;
    for (int i = 0; i < count; ++i)
        times.push_back(clustered ? std::pow(unit(random), 3.0) : unit(random));
    std::sort(times.begin(), times.end());
    std::vector<TimedKey> keys;
    double last = -1.0;
    for (double t : times) {
        const double time = std::max(t * SCENE_SECONDS, last + 1.0 / 60.0);   // a frame apart at least
        if (time > SCENE_SECONDS)
            break;
        TimedKey k;
        k.time = time;
        last = time;
        // A random walk, as a flown camera moves: up to 40 units and 30
        // degrees from the key before.
        const Triple from = keys.empty() ? Triple{ 32, 40, 90 } : keys.back().position;
        const Triple look = keys.empty() ? Triple{ -20, 180, 0 } : keys.back().angles;
        k.position = { from[0] + 80 * unit(random) - 40, from[1] + 80 * unit(random) - 40,
                       from[2] + 80 * unit(random) - 40 };
        k.angles = { std::clamp(look[0] + 60 * unit(random) - 30, -90.0, 90.0), look[1] + 60 * unit(random) - 30,
                     look[2] + 20 * unit(random) - 10 };
        keys.push_back(k);
    }
    return keys;
}

} // namespace

// --- Through every key --------------------------------------------------------------

struct KeySet {
    const char* name;
    std::vector<TimedKey> (*make)();
};

std::vector<TimedKey> zigzag4() { return zigzag(4); }     // on the sites of four points
std::vector<TimedKey> zigzag12() { return zigzag(12); }
std::vector<TimedKey> zigzag40() { return zigzag(40); }
std::vector<TimedKey> two() { return randomKeys(2, 3, false); }
std::vector<TimedKey> five() { return randomKeys(5, 12, false); }
std::vector<TimedKey> seventeenClustered() { return randomKeys(17, 24, true); }
std::vector<TimedKey> sixty() { return randomKeys(60, 67, false); }
std::vector<TimedKey> twoHundred() { return randomKeys(200, 207, false); }
std::vector<TimedKey> twoHundredClustered() { return randomKeys(200, 207, true); }
std::vector<TimedKey> eased()
{
    std::vector<TimedKey> keys = randomKeys(9, 41, false);
    keys[0].eased = keys[4].eased = keys.back().eased = true;
    return keys;
}

class ThroughEveryKey : public testing::TestWithParam<KeySet> {};

TEST_P(ThroughEveryKey, AtItsTimeAsTheShowSamplesTheFilesItReads)
{
    const std::vector<TimedKey> keys = GetParam().make();
    ASSERT_GE(keys.size(), 2u);
    FlightPoints points;
    std::string why;
    ASSERT_TRUE(solveFlight(keys, SCENE_SECONDS, points, &why)) << why;
    ASSERT_GE(points.positions.size(), 4u);
    ASSERT_LE(points.positions.size(), size_t(SOLVE_MAX_POINTS));
    ASSERT_EQ(points.rotations.size(), points.positions.size());
    PathPair pair = reread(pairOf(points));
    double position = 0.0, angle = 0.0;
    misses(pair, keys, position, angle);
    EXPECT_LE(position, POSITION_EPS) << keys.size() << " keys, " << points.positions.size() << " points";
    EXPECT_LE(angle, ANGLE_EPS);
    // The solve's own evaluation is the show's spline.
    for (double s : { 0.0, 0.123, 0.5, 0.77, 1.0 }) {
        int32_t cursor = 0;
        const Float3 shown = samplePath(pair.position, float(s), cursor);
        double exact[3];
        evaluateSpline(pair.position.points, s, exact);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(shown[c], exact[c], 1e-3 * (1.0 + std::fabs(exact[c]))) << "s " << s;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ThroughEveryKey,
    testing::Values(KeySet{ "ZigzagOnTheSitesOfFourPoints", zigzag4 }, KeySet{ "ZigzagOfTwelve", zigzag12 },
                    KeySet{ "ZigzagOfForty", zigzag40 }, KeySet{ "Two", two }, KeySet{ "Five", five },
                    KeySet{ "SeventeenClustered", seventeenClustered }, KeySet{ "Sixty", sixty },
                    KeySet{ "TwoHundred", twoHundred }, KeySet{ "TwoHundredClustered", twoHundredClustered },
                    KeySet{ "ThreeEased", eased }),
    [](const testing::TestParamInfo<KeySet>& info) { return std::string(info.param.name); });

// --- A flight's own keys -------------------------------------------------------------

// The keys a flight opens with (its points' times and the poses there)
// solve to its own points: the shipped flights, and polylines below four.
TEST(FlightSolve, AFlightsOwnKeysGiveBackItsPointsAndItsFiles)
{
    const std::string data = std::string(VORTALUNE_SOURCE_DIR) + "/data";
    for (int scene = FIRST_SCENE; scene <= LAST_SCENE; ++scene) {
        SCOPED_TRACE("scene " + std::to_string(scene));
        PathPair pair;
        ASSERT_TRUE(loadPathPair(pair, scene, data));
        const std::vector<TimedKey> keys = keysOfPair(pair, SCENE_SECONDS);
        ASSERT_EQ(keys.size(), pair.position.points.size());
        EXPECT_TRUE(keysAtSites(keys, SCENE_SECONDS));
        FlightPoints points;
        ASSERT_TRUE(solveFlight(keys, SCENE_SECONDS, points));
        const PathPair solved = pairOf(points);
        EXPECT_EQ(formatPathText(solved.position), readFile(positionPathName(data, scene)));
        EXPECT_EQ(formatPathText(solved.rotation), readFile(rotationPathName(data, scene)));
    }
    for (int n : { 2, 3 }) {
        PathPair polyline;
        for (int i = 0; i < n; ++i) {
            appendPoint(polyline.position, float(10 * i), float(i * i), 5.0f);
            appendPoint(polyline.rotation, 0.0f, float(20 * i), 0.0f);
        }
        const std::vector<TimedKey> keys = keysOfPair(polyline, SCENE_SECONDS);
        EXPECT_TRUE(keysAtSites(keys, SCENE_SECONDS));
        FlightPoints points;
        ASSERT_TRUE(solveFlight(keys, SCENE_SECONDS, points));
        EXPECT_EQ(formatPathText(pairOf(points).position), formatPathText(polyline.position)) << n << " points";
    }
}

// --- Swings ----------------------------------------------------------------------------

// Between two keys the flight leaves the box of the two by little: a
// zigzag's swing past its corners, and the shipped flights' between their
// own keys, measured as a share of the step between the keys.
TEST(FlightSolve, BetweenTwoKeysTheFlightDoesNotSwingFarPastThem)
{
    struct Case {
        std::vector<TimedKey> keys;
        double limit;
        std::string name;
    };
    std::vector<Case> cases = { { zigzag(4), 0.10, "zigzag of 4" }, { zigzag(12), 0.03, "zigzag of 12" },
                                { zigzag(40), 0.03, "zigzag of 40" } };
    const std::string data = std::string(VORTALUNE_SOURCE_DIR) + "/data";
    for (int scene = FIRST_SCENE; scene <= LAST_SCENE; ++scene) {
        PathPair pair;
        ASSERT_TRUE(loadPathPair(pair, scene, data));
        cases.push_back({ keysOfPair(pair, SCENE_SECONDS), 0.06, "shipped flight " + std::to_string(scene) });
    }
    for (const Case& c : cases) {
        FlightPoints points;
        ASSERT_TRUE(solveFlight(c.keys, SCENE_SECONDS, points)) << c.name;
        double units = 0.0;
        const double share = overshoot(points.positions, c.keys, &units);
        RecordProperty(c.name, std::to_string(share) + " of a step, " + std::to_string(units) + " units");
        EXPECT_LE(share, c.limit) << c.name << ": " << units << " units";
    }
}

// --- Eased keys and refusals -------------------------------------------------------

TEST(FlightSolve, AnEasedKeyStandsStillAtItsTime)
{
    std::vector<TimedKey> keys = zigzag(6);
    keys[2].eased = true;
    FlightPoints points;
    ASSERT_TRUE(solveFlight(keys, SCENE_SECONDS, points));
    PathPair pair = reread(pairOf(points));
    const double s = keys[2].time / SCENE_SECONDS;
    EXPECT_LT(pathRate(pair.position, s, SCENE_SECONDS), 1e-2) << "units per second at the key";
    EXPECT_LT(pathRate(pair.rotation, s, SCENE_SECONDS), 1e-2) << "degrees per second at the key";
    EXPECT_GT(pathRate(pair.position, (keys[2].time + 0.3) / SCENE_SECONDS, SCENE_SECONDS), 1.0) << "it moves on";
    double position = 0.0, angle = 0.0;
    misses(pair, keys, position, angle);
    EXPECT_LE(position, POSITION_EPS);
    keys[2].eased = false;
    ASSERT_TRUE(solveFlight(keys, SCENE_SECONDS, points));
    EXPECT_GT(pathRate(pairOf(points).position, s, SCENE_SECONDS), 1.0) << "not eased, it does not stop";
}

TEST(FlightSolve, KeysThatFixNoFlightAreRefusedWithTheReason)
{
    const std::vector<TimedKey> good = zigzag(6);
    struct Case {
        const char* why;
        std::vector<TimedKey> keys;
        double seconds;
    };
    std::vector<TimedKey> backwards = good, same = good, notFinite = good, crowded = good;
    std::swap(backwards[1], backwards[2]);
    same[2].time = same[1].time;
    notFinite[3].position[1] = std::nan("");
    crowded[2].time = crowded[1].time + 1e-6;
    const Case cases[] = {
        { "two keys are not in time order", backwards, SCENE_SECONDS },
        { "two keys are not in time order", same, SCENE_SECONDS },
        { "a key is not finite", notFinite, SCENE_SECONDS },
        { "keys this close together need more control points than a flight may hold", crowded, SCENE_SECONDS },
        { "the scene has no length", good, 0.0 },
    };
    for (const Case& c : cases) {
        FlightPoints points;
        points.positions.resize(3);
        std::string why;
        EXPECT_FALSE(solveFlight(c.keys, c.seconds, points, &why));
        EXPECT_EQ(why, c.why);
        EXPECT_TRUE(points.positions.empty());
    }
    FlightPoints none;
    EXPECT_TRUE(solveFlight({}, SCENE_SECONDS, none));
    EXPECT_TRUE(none.positions.empty());
    FlightPoints hold;
    ASSERT_TRUE(solveFlight({ good[3] }, SCENE_SECONDS, hold));
    EXPECT_EQ(hold.positions.size(), 4u) << "one key: the camera holds its pose";
}
