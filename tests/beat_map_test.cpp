// tests/beat_map_test.cpp: the beat map, from the score's tempo map through
// gensong's file to the library's reader, the half-second grid that stands in
// for a missing map, and stepping over beats and bars (also from positions the
// music clock reads back after a seek).
#include "app/Music.h"
#include "editor/BeatMap.h"
#include "editor/Editor.h"
#include "sound/SoundOutput.h"
#include "tools/song/Song.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int    RATE = 44100;
constexpr double PRINT_EPS = 6e-10;     // fractions are printed with 9 decimals
constexpr double PLAN_EPS = 1e-5;       // gensong --plan prints seconds with 3 decimals
constexpr double NOTE_EPS = 1e-9;       // seconds: the same arithmetic as the score's notes
const std::string GENSONG = std::string(VORTALUNE_TOOLS_DIR) + "/gensong";

const song::Song& demo()
{
    static const song::Song s = song::buildDemoSong();
    return s;
}

// The rendered track's length: whole frames, as gensong writes it.
double trackSeconds()
{
    return double(std::llround(demo().length * RATE)) / RATE;
}

int tempoMapBeats()
{
    int bars = 0;
    for (const song::Section& s : demo().sections)
        bars += s.bars;
    return bars * song::BEATS_PER_BAR;
}

size_t lineCount(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// Beats in order: bars count on by one when the beat returns to 1, beats count
// on by one inside a bar and never pass `beatsPerBar`.
void expectConsistent(const BeatMap& map, int beatsPerBar)
{
    ASSERT_FALSE(map.beats.empty());
    EXPECT_EQ(map.beats.front().bar, 1);
    EXPECT_EQ(map.beats.front().beat, 1);
    for (size_t i = 1; i < map.beats.size(); ++i) {
        const Beat& a = map.beats[i - 1];
        const Beat& b = map.beats[i];
        ASSERT_GT(b.fraction, a.fraction) << "beat " << i;
        ASSERT_LE(b.beat, beatsPerBar) << "beat " << i;
        if (b.beat == 1)
            ASSERT_EQ(b.bar, a.bar + 1) << "beat " << i;
        else
            ASSERT_TRUE(b.bar == a.bar && b.beat == a.beat + 1) << "beat " << i;
    }
}

// A small map with a pickup: beats at 0.1 .. 0.9, bar starts at 0.3 and 0.7.
BeatMap smallMap()
{
    BeatMap map;
    map.beats = { { 0.1, 1, 3 }, { 0.2, 1, 4 }, { 0.3, 2, 1 }, { 0.4, 2, 2 }, { 0.5, 2, 3 },
                  { 0.6, 2, 4 }, { 0.7, 3, 1 }, { 0.8, 3, 2 }, { 0.9, 3, 3 } };
    return map;
}

} // namespace

// --- The score's beats and the file's text ---------------------------------------------

TEST(BeatMapSong, EveryBeatOfTheTempoMapOnTheScoresQuarterNotes)
{
    const std::vector<song::SongBeat> beats = song::songBeats(demo());
    ASSERT_EQ(int(beats.size()), tempoMapBeats());
    // Each section starts on beat 1 of the next bar, at the section's own start.
    size_t index = 0;
    int bar = 1;
    for (const song::Section& s : demo().sections) {
        ASSERT_LT(index, beats.size());
        EXPECT_EQ(beats[index].seconds, s.start) << s.name;
        EXPECT_EQ(beats[index].bar, bar) << s.name;
        EXPECT_EQ(beats[index].beat, 1) << s.name;
        for (int k = 1; k < s.bars * song::BEATS_PER_BAR; ++k)
            EXPECT_NEAR(beats[index + k].seconds - beats[index + k - 1].seconds, 60.0 / s.bpm, NOTE_EPS) << s.name;
        index += size_t(s.bars * song::BEATS_PER_BAR);
        bar += s.bars;
    }

    // Every note the score starts on a quarter of its section starts on a beat.
    size_t onBeat = 0;
    for (const song::Note& n : demo().notes) {
        const auto section = std::find_if(demo().sections.begin(), demo().sections.end(),
                                          [&](const song::Section& s) { return n.time < s.end() - 1e-9; });
        if (section == demo().sections.end())
            continue;
        const double quarters = (n.time - section->start) / (60.0 / section->bpm);
        if (std::fabs(quarters - std::round(quarters)) > 1e-6)
            continue;
        ++onBeat;
        const auto hit = std::find_if(beats.begin(), beats.end(),
                                      [&](const song::SongBeat& b) { return std::fabs(b.seconds - n.time) < NOTE_EPS; });
        EXPECT_NE(hit, beats.end()) << "a note at " << n.time << " s has no beat";
    }
    EXPECT_GT(onBeat, beats.size()) << "the drums alone put more notes than beats on the beat";
}

TEST(BeatMapSong, TextHasItsHeaderAndParsesWhole)
{
    const std::vector<song::SongBeat> beats = song::songBeats(demo());
    const std::string text = song::beatMapText(beats, trackSeconds());
    const std::string header =
        "# vortalune beat map: one line per beat: track fraction, bar, beat\n"
        "# fraction = beat time / track length; bar counts from 1; beat 1..beats per bar\n";
    ASSERT_EQ(text.compare(0, header.size(), header), 0) << text.substr(0, 200);
    std::istringstream lines(text.substr(header.size()));
    const std::regex beatLine(R"([01]\.[0-9]{9} [1-9][0-9]* [1-9][0-9]*)");
    std::string line;
    while (std::getline(lines, line))
        ASSERT_TRUE(std::regex_match(line, beatLine)) << line;

    BeatMap map;
    std::string problem = "stale";
    EXPECT_EQ(parseBeatMap(text, map, problem), 0);
    EXPECT_EQ(problem, "");
    ASSERT_EQ(map.beats.size(), beats.size());
    for (size_t i = 0; i < beats.size(); ++i) {
        EXPECT_NEAR(map.beats[i].fraction, beats[i].seconds / trackSeconds(), PRINT_EPS) << i;
        EXPECT_EQ(map.beats[i].bar, beats[i].bar);
        EXPECT_EQ(map.beats[i].beat, beats[i].beat);
    }
    expectConsistent(map, song::BEATS_PER_BAR);

    // Beats at or past the track's end are left out.
    const std::string cut = song::beatMapText(beats, beats[10].seconds);
    ASSERT_EQ(parseBeatMap(cut, map, problem), 0);
    EXPECT_EQ(map.beats.size(), 10u);
    EXPECT_EQ(song::beatMapText(beats, 0.0), header);
}

TEST(BeatMapSong, FileSitsBesideTheTrack)
{
    EXPECT_EQ(song::beatMapPath("data/vortalune.ogg"), BEAT_MAP_FILE);
    EXPECT_EQ(song::beatMapPath("/tmp/out/x.y.ogg"), "/tmp/out/x.y.beats");
    EXPECT_EQ(song::beatMapPath("track"), "track.beats");
    EXPECT_EQ(song::beatMapPath("a.d/track"), "a.d/track.beats");
    EXPECT_EQ(song::beatMapPath("dir/.ogg"), "dir/.ogg.beats");
}

// --- gensong's file --------------------------------------------------------------------

TEST(BeatMapTool, WritesTheMapOfItsTempoMap)
{
    TempDir dir;
    ProcessOptions options;
    options.captureOutput = true;
    const ProcessResult plan = runProcess({ GENSONG, "--plan" }, options);
    ASSERT_EQ(plan.exitCode, 0) << plan.errorOutput;

    // The tempo map as gensong prints it: the track's frames, each section's bars and start.
    std::smatch m;
    const std::regex trackLine(R"(Tempo map \(track [0-9.]+ s, ([0-9]+) frames at ([0-9]+) Hz\))");
    ASSERT_TRUE(std::regex_search(plan.output, m, trackLine)) << plan.output;
    const double seconds = std::stod(m[1]) / std::stod(m[2]);
    const std::regex sectionLine(R"(scene +[0-9]+ +.*? ([0-9]+) bars at +[0-9.]+ BPM +([0-9.]+) s -)");
    std::vector<std::pair<int, double>> sections;   // bars, start seconds
    for (auto it = std::sregex_iterator(plan.output.begin(), plan.output.end(), sectionLine);
         it != std::sregex_iterator(); ++it)
        sections.push_back({ std::stoi((*it)[1]), std::stod((*it)[2]) });
    ASSERT_EQ(sections.size(), demo().sections.size()) << plan.output;

    const std::string file = dir.path() + "/vortalune.beats";
    const ProcessResult beats = runProcess({ GENSONG, "--beats", file }, options);
    ASSERT_EQ(beats.exitCode, 0) << beats.errorOutput;
    EXPECT_NE(beats.output.find("Wrote " + file), std::string::npos) << beats.output;

    BeatMap map;
    testing::internal::CaptureStderr();
    const bool loaded = loadBeatMap(map, file, seconds);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded) << err;
    EXPECT_EQ(err, "") << "a clean map reads whole, silently";
    EXPECT_TRUE(map.fromFile);
    expectConsistent(map, song::BEATS_PER_BAR);

    int bars = 0;
    for (const auto& [sectionBars, start] : sections) {
        // Beat 1 of the section's first bar sits at its start.
        const size_t first = size_t(bars) * song::BEATS_PER_BAR;
        ASSERT_LT(first, map.beats.size());
        EXPECT_EQ(map.beats[first].bar, bars + 1);
        EXPECT_EQ(map.beats[first].beat, 1);
        EXPECT_NEAR(map.beats[first].fraction, start / seconds, PLAN_EPS) << "bar " << bars + 1;
        bars += sectionBars;
    }
    EXPECT_EQ(map.beats.size(), size_t(bars) * song::BEATS_PER_BAR) << "every beat of the tempo map, no more";
    EXPECT_EQ(map.beats.back().bar, bars);
    EXPECT_EQ(readFile(file), song::beatMapText(song::songBeats(demo()), trackSeconds()));
}

TEST(BeatMapTool, RefusesATrackNamedLikeItsBeatMap)
{
    TempDir dir;
    const std::string file = dir.path() + "/x.beats";
    const ProcessResult r = runProcess({ GENSONG, file }, ProcessOptions());
    EXPECT_EQ(r.exitCode, 2) << r.errorOutput;
    EXPECT_EQ(r.errorOutput.rfind("gensong: '" + file + "' is the beat map's own name", 0), 0u) << r.errorOutput;
    struct stat info;
    EXPECT_NE(stat(file.c_str(), &info), 0) << "a refused command line writes nothing";
    EXPECT_NE(runProcess({ GENSONG, "--beats" }, ProcessOptions()).exitCode, 0);
}

// The assets target renders the track and writes its beat map beside it: when
// the track has been built, its map is there and is this score's map.
TEST(BeatMapTool, AssetsBuildWritesTheMapBesideTheTrack)
{
    const std::string data = std::string(VORTALUNE_SOURCE_DIR) + "/data/";
    struct stat info;
    if (stat((data + "vortalune.ogg").c_str(), &info) != 0)
        GTEST_SKIP() << "the assets are not built (cmake --build build --target assets)";
    ASSERT_EQ(stat((data + "vortalune.beats").c_str(), &info), 0) << "the track was built without its beat map";
    EXPECT_EQ(readFile(data + "vortalune.beats"), song::beatMapText(song::songBeats(demo()), trackSeconds()))
        << "the beat map is stale: rebuild the assets";
}

// --- Parsing -----------------------------------------------------------------------------

TEST(BeatMapParse, KeepsGoodLinesAndNamesTheFirstRefusedOne)
{
    const std::string text =
        "# comment\n"
        "\n"
        "0.25 1 1\r\n"          // line 3: CRLF is fine
        "x 1 2\n"               // line 4
        "   # indented comment\n"
        "\t0.5\t1  2  \n"       // line 6: tabs and spaces
        "0.4 1 3\n"             // line 7: before the last kept one
        "0.75 2 1";             // line 8: no final newline
    BeatMap map;
    map.beats = { { 0.9, 9, 9 } };   // replaced
    map.fromFile = true;             // left alone
    std::string problem;
    EXPECT_EQ(parseBeatMap(text, map, problem), 2);
    EXPECT_EQ(problem, "line 4: 'x' is not a number");
    ASSERT_EQ(map.beats.size(), 3u);
    EXPECT_EQ(map.beats[0].fraction, 0.25);
    EXPECT_EQ(map.beats[1].fraction, 0.5);
    EXPECT_EQ(map.beats[1].beat, 2);
    EXPECT_EQ(map.beats[2].fraction, 0.75);
    EXPECT_EQ(map.beats[2].bar, 2);
    EXPECT_TRUE(map.fromFile);
}

TEST(BeatMapParse, RefusesEachKindOfBadLine)
{
    struct Case {
        const char* line;
        const char* problem;
    };
    const Case cases[] = {
        { "0.6 1 2", "line 2: beat out of order" },
        { "0.5 1 2", "line 2: beat out of order" },                      // equal is not after
        { "0.7 1", "line 2: expected 3 fields (fraction bar beat), found 2" },
        { "0.7 1 2 3", "line 2: expected 3 fields (fraction bar beat), found 4" },
        { "0.7x 1 2", "line 2: '0.7x' is not a number" },
        { "+0.7 1 2", "line 2: '+0.7' is not a number" },
        { "nan 1 2", "line 2: fraction 'nan' is not finite" },
        { "inf 1 2", "line 2: fraction 'inf' is not finite" },
        { "1e999 1 2", "line 2: '1e999' is not a number" },
        { "1.5 1 2", "line 2: fraction '1.5' is outside 0..1" },
        { "-0.5 1 2", "line 2: fraction '-0.5' is outside 0..1" },
        { "0.7 0 2", "line 2: bar 0 is below 1" },
        { "0.7 1 -3", "line 2: beat -3 is below 1" },
        { "0.7 1.5 2", "line 2: bar '1.5' is not a whole number" },
        { "0.7 1 two", "line 2: beat 'two' is not a whole number" },
        { "0.7 2147483648 1", "line 2: bar '2147483648' is out of range" },
        { "0.7 1 99999999999999999999", "line 2: beat '99999999999999999999' is out of range" },
        { "0.7 1 \x01\x02", "line 2: beat '?" "?' is not a whole number" },
    };
    for (const Case& c : cases) {
        BeatMap map;
        std::string problem;
        EXPECT_EQ(parseBeatMap(std::string("0.6 1 1\n") + c.line + "\n0.8 1 3\n", map, problem), 1) << c.line;
        EXPECT_EQ(problem, c.problem) << c.line;
        ASSERT_EQ(map.beats.size(), 2u) << c.line;
        EXPECT_EQ(map.beats[1].fraction, 0.8) << c.line;
    }

    // The extremes that are allowed.
    BeatMap map;
    std::string problem;
    EXPECT_EQ(parseBeatMap("0 1 1\n1 2147483647 2147483647\n", map, problem), 0) << problem;
    ASSERT_EQ(map.beats.size(), 2u);
    EXPECT_EQ(map.beats[1].bar, INT32_MAX);

    // A long refused field is shortened in the message.
    EXPECT_EQ(parseBeatMap(std::string(1000, 'y') + " 1 1\n", map, problem), 1);
    EXPECT_EQ(problem, "line 1: '" + std::string(32, 'y') + "...' is not a number");
}

TEST(BeatMapParse, EmptyTextAndCommentsAloneHaveNoBeats)
{
    BeatMap map;
    std::string problem = "stale";
    EXPECT_EQ(parseBeatMap("", map, problem), 0);
    EXPECT_TRUE(map.beats.empty());
    EXPECT_EQ(problem, "");
    EXPECT_EQ(parseBeatMap("# only\n\n  \n#\n", map, problem), 0);
    EXPECT_TRUE(map.beats.empty());
    EXPECT_EQ(parseBeatMap(std::string("\0\0 1 1\n", 7), map, problem), 1);
    EXPECT_EQ(problem, "line 1: '?" "?' is not a number");
}

TEST(BeatMapParse, RefusesBeatsPastTheCountLimit)
{
    std::string text;
    text.reserve((BEAT_MAP_MAX_BEATS + 3) * 16);
    char line[32];
    for (size_t i = 0; i < BEAT_MAP_MAX_BEATS + 2; ++i) {
        std::snprintf(line, sizeof line, "%.9f 1 1\n", double(i) / double(BEAT_MAP_MAX_BEATS + 2));
        text += line;
    }
    BeatMap map;
    std::string problem;
    EXPECT_EQ(parseBeatMap(text, map, problem), 2);
    EXPECT_EQ(map.beats.size(), BEAT_MAP_MAX_BEATS);
    EXPECT_EQ(problem, "line " + std::to_string(BEAT_MAP_MAX_BEATS + 1) + ": more than " +
                           std::to_string(BEAT_MAP_MAX_BEATS) + " beats");
}

// --- Loading ---------------------------------------------------------------------------

class BeatMapLoad : public testing::Test {
protected:
    // Loads `file` for a 10 s track; returns what went to stderr.
    std::string load(const std::string& file, bool expectFromFile)
    {
        testing::internal::CaptureStderr();
        const bool fromFile = loadBeatMap(map, file, 10.0);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(fromFile, expectFromFile) << err;
        EXPECT_EQ(map.fromFile, expectFromFile) << err;
        return err;
    }
    void expectGrid(const std::string& err, const std::string& file, const std::string& reason)
    {
        EXPECT_EQ(lineCount(err), 1u) << err;
        EXPECT_NE(err.find(file), std::string::npos) << err;
        EXPECT_NE(err.find(reason), std::string::npos) << err;
        EXPECT_NE(err.find("the half-second grid is used"), std::string::npos) << err;
        ASSERT_EQ(map.beats.size(), halfSecondGrid(10.0).beats.size());
        EXPECT_EQ(map.beats.back().fraction, halfSecondGrid(10.0).beats.back().fraction);
    }

    TempDir dir;
    BeatMap map;
};

TEST_F(BeatMapLoad, MissingFileGivesTheGridAndOneLine)
{
    map.beats = { { 0.5, 1, 1 } };
    map.fromFile = true;
    const std::string file = dir.path() + "/data/vortalune.beats";
    expectGrid(load(file, false), file, "No such file");
}

TEST_F(BeatMapLoad, EmptyOrUselessFileGivesTheGridAndOneLine)
{
    const std::string file = dir.path() + "/empty.beats";
    writeFile(file, "");
    expectGrid(load(file, false), file, "no usable beat (no beat lines)");

    writeFile(file, "# header only\n");
    expectGrid(load(file, false), file, "no beat lines");

    writeFile(file, "a b c\n2 1 1\n");
    expectGrid(load(file, false), file, "2 lines refused, the first line 1: 'a' is not a number");

    // One usable beat gives no step: every ] would go to the scene's end.
    writeFile(file, "0.1 1 1\n");
    expectGrid(load(file, false), file, "only one usable beat, and steps need two (no other line)");
    writeFile(file, "0.9 1 1\n0.1 1 2\n0.2 1 3\n0.3 1 4\n");
    expectGrid(load(file, false), file, "only one usable beat, and steps need two (3 lines refused, the first line 2: beat out of order");
}

TEST_F(BeatMapLoad, DirectoryAndOversizedFilesAreRefused)
{
    expectGrid(load(dir.path(), false), dir.path(), "it is a directory");

    const std::string big = dir.path() + "/big.beats";
    writeFile(big, "0 1 1\n0.5 1 2\n");
    ASSERT_EQ(truncate(big.c_str(), off_t(BEAT_MAP_MAX_BYTES) + 1), 0);
    expectGrid(load(big, false), big, "over the limit of " + std::to_string(BEAT_MAP_MAX_BYTES));

    ASSERT_EQ(truncate(big.c_str(), off_t(BEAT_MAP_MAX_BYTES)), 0);   // exactly the limit: read
    load(big, true);
    EXPECT_EQ(map.beats.size(), 2u);
}

TEST_F(BeatMapLoad, SomeLinesRefusedKeepsTheRestWithOneLine)
{
    const std::string file = dir.path() + "/some.beats";
    writeFile(file, "# map\n0.1 1 1\n0.2 1 2\n0.15 1 3\n0.3 1\n0.4 2 1\n");
    const std::string err = load(file, true);
    EXPECT_EQ(lineCount(err), 1u) << err;
    EXPECT_NE(err.find(file), std::string::npos) << err;
    EXPECT_NE(err.find("2 lines refused"), std::string::npos) << err;
    EXPECT_NE(err.find("line 4: beat out of order"), std::string::npos) << err;
    EXPECT_EQ(err.find("grid"), std::string::npos) << err;
    ASSERT_EQ(map.beats.size(), 3u);
    EXPECT_EQ(map.beats[2].fraction, 0.4);

    writeFile(file, "0.1 1 1\n0.2 1 2\n");
    EXPECT_EQ(load(file, true), "") << "a clean file says nothing";
}

// --- The grid ----------------------------------------------------------------------------

TEST(BeatMapGrid, HalfSecondBeatsInBarsOfFour)
{
    const BeatMap grid = halfSecondGrid(10.0);
    EXPECT_FALSE(grid.fromFile);
    ASSERT_EQ(grid.beats.size(), 20u) << "0 .. 9.5 s: the track's end is no beat";
    for (size_t k = 0; k < grid.beats.size(); ++k) {
        EXPECT_NEAR(grid.beats[k].fraction, double(k) * GRID_BEAT_SECONDS / 10.0, 1e-12);
        EXPECT_EQ(grid.beats[k].bar, int(k) / GRID_BEATS_PER_BAR + 1);
        EXPECT_EQ(grid.beats[k].beat, int(k) % GRID_BEATS_PER_BAR + 1);
    }
    expectConsistent(grid, GRID_BEATS_PER_BAR);
    EXPECT_EQ(halfSecondGrid(10.2).beats.size(), 21u);
    EXPECT_EQ(halfSecondGrid(0.1).beats.size(), 1u);

    EXPECT_TRUE(halfSecondGrid(0.0).beats.empty());
    EXPECT_TRUE(halfSecondGrid(-3.0).beats.empty());
    EXPECT_TRUE(halfSecondGrid(std::nan("")).beats.empty());
    EXPECT_TRUE(halfSecondGrid(HUGE_VAL).beats.empty());
    EXPECT_EQ(halfSecondGrid(1e12).beats.size(), BEAT_MAP_MAX_BEATS);
}

// --- Navigation ----------------------------------------------------------------------------

TEST(BeatMapStep, BeatsForwardAndBack)
{
    const BeatMap map = smallMap();
    EXPECT_EQ(stepBeats(map, 0.25, 1), 0.3) << "from between beats";
    EXPECT_EQ(stepBeats(map, 0.25, 2), 0.4);
    EXPECT_EQ(stepBeats(map, 0.25, -1), 0.2);
    EXPECT_EQ(stepBeats(map, 0.25, -2), 0.1);
    EXPECT_EQ(stepBeats(map, 0.3, 1), 0.4) << "standing on a beat steps to the next one";
    EXPECT_EQ(stepBeats(map, 0.3, -1), 0.2);
    EXPECT_EQ(stepBeats(map, 0.3 - 0.5 * BEAT_TOLERANCE, 1), 0.4) << "within the tolerance stands on it";
    EXPECT_EQ(stepBeats(map, 0.3 + 0.5 * BEAT_TOLERANCE, -1), 0.2);
    EXPECT_EQ(stepBeats(map, 0.3 - 10 * BEAT_TOLERANCE, 1), 0.3) << "outside it is before the beat";
    EXPECT_EQ(stepBeats(map, 0.3 + 10 * BEAT_TOLERANCE, -1), 0.3);
}

TEST(BeatMapStep, BeatsClampAtTheFirstAndLast)
{
    const BeatMap map = smallMap();
    EXPECT_EQ(stepBeats(map, 0.0, 1), 0.1) << "before the first";
    EXPECT_EQ(stepBeats(map, 0.0, -1), 0.1);
    EXPECT_EQ(stepBeats(map, 0.1, -1), 0.1) << "at the first";
    EXPECT_EQ(stepBeats(map, 0.9, 1), 0.9) << "at the last";
    EXPECT_EQ(stepBeats(map, 0.95, 1), 0.9) << "after the last";
    EXPECT_EQ(stepBeats(map, 0.95, -1), 0.9);
    EXPECT_EQ(stepBeats(map, 0.1, 100), 0.9);
    EXPECT_EQ(stepBeats(map, 0.9, -100), 0.1);
    EXPECT_EQ(stepBeats(map, 0.5, INT_MAX), 0.9);
    EXPECT_EQ(stepBeats(map, 0.5, INT_MIN), 0.1);
    EXPECT_EQ(stepBeats(map, HUGE_VAL, -1), 0.9);

    EXPECT_EQ(stepBeats(map, 0.55, 0), 0.55) << "count 0";
    EXPECT_EQ(stepBeats(BeatMap(), 0.55, 1), 0.55) << "no beats";
    EXPECT_TRUE(std::isnan(stepBeats(map, std::nan(""), 1)));
}

TEST(BeatMapStep, BarsOverBarStartsOnly)
{
    const BeatMap map = smallMap();
    EXPECT_EQ(stepBars(map, 0.1, 1), 0.3) << "from a pickup beat";
    EXPECT_EQ(stepBars(map, 0.3, 1), 0.7) << "standing on a bar start";
    EXPECT_EQ(stepBars(map, 0.45, 1), 0.7) << "from inside a bar";
    EXPECT_EQ(stepBars(map, 0.1, 2), 0.7);
    EXPECT_EQ(stepBars(map, 0.7, 1), 0.7) << "the last bar start";
    EXPECT_EQ(stepBars(map, 0.9, 1), 0.7) << "after the last bar start";
    EXPECT_EQ(stepBars(map, 0.8, -1), 0.7);
    EXPECT_EQ(stepBars(map, 0.7, -1), 0.3);
    EXPECT_EQ(stepBars(map, 0.9, -2), 0.3);
    EXPECT_EQ(stepBars(map, 0.3, -1), 0.3) << "the first bar start";
    EXPECT_EQ(stepBars(map, 0.1, -1), 0.3) << "before the first bar start";
    EXPECT_EQ(stepBars(map, 0.5, INT_MIN), 0.3);

    BeatMap noBars;
    noBars.beats = { { 0.2, 1, 2 }, { 0.4, 1, 3 } };
    EXPECT_EQ(stepBars(noBars, 0.3, 1), 0.3);
    EXPECT_EQ(stepBars(noBars, 0.3, -1), 0.3);
}

TEST(BeatMapStep, BeatAtOrBefore)
{
    const BeatMap map = smallMap();
    EXPECT_EQ(beatAt(map, 0.05), nullptr) << "before the first beat";
    ASSERT_NE(beatAt(map, 0.1), nullptr);
    EXPECT_EQ(beatAt(map, 0.1)->fraction, 0.1);
    EXPECT_EQ(beatAt(map, 0.35)->fraction, 0.3);
    EXPECT_EQ(beatAt(map, 0.35)->bar, 2);
    EXPECT_EQ(beatAt(map, 0.3 - 0.5 * BEAT_TOLERANCE)->fraction, 0.3);
    EXPECT_EQ(beatAt(map, 0.3 - 10 * BEAT_TOLERANCE)->fraction, 0.2);
    EXPECT_EQ(beatAt(map, 1.0)->fraction, 0.9);
    EXPECT_EQ(beatAt(BeatMap(), 0.5), nullptr);
    EXPECT_EQ(beatAt(map, std::nan("")), nullptr);
}

// The editor seeks the held music to a beat and reads the clock back: the
// position it reads (a float, a frame truncated) still stands on that beat.
TEST(BeatMapStep, AHeldClockSeekedToABeatStandsOnIt)
{
    stopSoundOutput();
    musicClock = MusicClock();
    ASSERT_EQ(startTickClockOutput(), SoundDevice::TickClock);
    const size_t frames = size_t(std::llround(demo().length * RATE));
    musicClock.sample = storeSoundSample(0, std::vector<int16_t>(frames * 2, 0));
    musicClock.lengthSamples = float(sampleLength(musicClock.sample));
    playTrack(0);
    pauseMusic(0, true);
    ASSERT_TRUE(musicPaused(0));

    BeatMap map;
    std::string problem;
    ASSERT_EQ(parseBeatMap(song::beatMapText(song::songBeats(demo()), trackSeconds()), map, problem), 0) << problem;
    for (size_t i = 0; i < map.beats.size(); ++i) {
        seekMusic(0, float(map.beats[i].fraction));
        const double position = musicPosition(0);
        ASSERT_EQ(beatAt(map, position), &map.beats[i]) << "beat " << i << " read back as " << position;
        const size_t next = std::min(i + 1, map.beats.size() - 1);
        ASSERT_EQ(stepBeats(map, position, 1), map.beats[next].fraction) << "beat " << i;
        ASSERT_EQ(stepBeats(map, position, -1), map.beats[i == 0 ? 0 : i - 1].fraction) << "beat " << i;
    }
    stopSoundOutput();
    musicClock = MusicClock();
}

// --- Scrub steps over the scenes' frames ---------------------------------------------------
// The tool's [ ] Page Up and Page Down from the frame the scene stands at:
// from a frame standing on a beat, one step reaches the next (or previous)
// beat's frame; from the scene's last frame, a step back always leaves it;
// and beats closer together than a frame still move the scene a frame.

TEST(ScrubSteps, EveryStepLeavesTheFrameItStartsFrom)
{
    BeatMap map;
    std::string problem;
    ASSERT_EQ(parseBeatMap(song::beatMapText(song::songBeats(demo()), trackSeconds()), map, problem), 0) << problem;
    const float durations[SCENE_ENTRIES] = {
        DEFAULT_PATH_DURATIONS[0], DEFAULT_PATH_DURATIONS[1], DEFAULT_PATH_DURATIONS[2], DEFAULT_PATH_DURATIONS[3],
        DEFAULT_PATH_DURATIONS[4], DEFAULT_PATH_DURATIONS[5], DEFAULT_PATH_DURATIONS[6], DEFAULT_PATH_DURATIONS[7],
        DEFAULT_PATH_DURATIONS[8], DEFAULT_PATH_DURATIONS[9], DEFAULT_PATH_DURATIONS[10],
    };
    for (int scene = FIRST_SCENE; scene <= LAST_SCENE; ++scene) {
        SCOPED_TRACE("scene " + std::to_string(scene));
        const SceneFrames f = sceneFrames(scene, durations, trackSeconds());
        ASSERT_LT(f.first, f.last);
        const auto frameOf = [&](double fraction) { return f.clock.firstAtOrAfter(fraction); };
        int onBeats = 0;
        for (size_t i = 1; i + 1 < map.beats.size(); ++i) {
            const long k = frameOf(map.beats[i].fraction);
            if (k <= f.first || k >= f.last)
                continue;
            ++onBeats;
            const double at = f.clock.fraction(k);   // where a scrub to the beat stands
            ASSERT_EQ(frameOf(scrubStepTarget(map, f, at, 1, stepBeats)),
                      std::min(frameOf(map.beats[i + 1].fraction), f.last)) << "beat " << i << " forward";
            ASSERT_EQ(frameOf(scrubStepTarget(map, f, at, -1, stepBeats)), frameOf(map.beats[i - 1].fraction))
                << "beat " << i << " back";
        }
        EXPECT_GT(onBeats, 4);
        const double end = f.clock.fraction(f.last);
        EXPECT_LT(frameOf(scrubStepTarget(map, f, end, -1, stepBars)), f.last) << "Page Up from End";
        EXPECT_LT(frameOf(scrubStepTarget(map, f, end, -1, stepBeats)), f.last) << "[ from End";
        EXPECT_EQ(frameOf(scrubStepTarget(map, f, end, 1, stepBeats)), f.last) << "] at End stays at the end";
        EXPECT_EQ(frameOf(scrubStepTarget(map, f, f.clock.fraction(f.first), -1, stepBars)), f.first);
        // The last frame is read as this scene's last beat, not the next scene's first.
        if (scene < LAST_SCENE) {
            const double next = startPositionSum(scene + 1, durations);
            const Beat* shown = beatWithin(map, end, next);
            ASSERT_NE(shown, nullptr);
            EXPECT_LT(shown->fraction, next - BEAT_TOLERANCE);
            EXPECT_GE((shown + 1)->fraction, next - BEAT_TOLERANCE) << "the beat just before the next scene's first";
            EXPECT_LE(end, (shown + 1)->fraction + 2.0 / f.clock.framesInTrack) << "the last frame is at the bar line";
        }
    }

    // 240,000 beats 0.48 ms apart: about 35 to a 60 fps frame.
    BeatMap dense;
    const double seconds = 115.2;
    for (int i = 0; i < 240000; ++i)
        dense.beats.push_back({ i * 0.00048 / seconds, 1 + i / 4, 1 + i % 4 });
    const SceneFrames f = sceneFrames(4, durations, seconds);
    const long k = (f.first + f.last) / 2;
    for (int count : { 1, -1 })
        EXPECT_EQ(f.clock.firstAtOrAfter(scrubStepTarget(dense, f, f.clock.fraction(k), count, stepBeats)), k + count);
}
