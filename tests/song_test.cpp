// tests/song_test.cpp: the demo's score and its synthesizer. Rendering the
// whole track is slow in the sanitizer build, so these tests render short
// excerpts and check the score itself for the rest.
#include "tools/song/Song.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

constexpr int    RATE = 44100;
constexpr double BAR_EPS = 0.003;          // seconds a boundary may miss its bar line
constexpr double SILENCE_LEVEL = 0.001;    // RMS, -60 dBFS
constexpr double MAX_GAP = 1.0;            // seconds

const song::Song& demo()
{
    static const song::Song s = song::buildDemoSong();
    return s;
}

std::vector<float> excerpt(double from, double seconds)
{
    return song::renderSong(demo(), RATE, int64_t(from * RATE), int64_t(seconds * RATE));
}

std::set<song::Instrument> instrumentsStartingIn(double from, double to)
{
    std::set<song::Instrument> set;
    for (const song::Note& n : demo().notes)
        if (n.time >= from - 1e-6 && n.time < to - 1e-6)
            set.insert(n.instrument);
    return set;
}

} // namespace

TEST(Song, LengthSetsALivelyPace)
{
    EXPECT_GE(demo().length, 100.0);
    EXPECT_LE(demo().length, 130.0);
    EXPECT_GT(demo().tailStart, demo().sections.back().start);
    EXPECT_LT(demo().tailStart, demo().length);
}

TEST(Song, EveryBoundaryFallsOnABarLineThatStartsItsScene)
{
    const auto boundaries = song::sceneBoundaries(demo());
    ASSERT_EQ(boundaries.size(), size_t(song::SCENE_COUNT - 1));
    for (const song::Boundary& b : boundaries) {
        EXPECT_NEAR(b.seconds, b.barLine, BAR_EPS) << "scene " << b.scene;
        const auto section = std::find_if(demo().sections.begin(), demo().sections.end(),
                                          [&](const song::Section& s) { return s.scene == b.scene; });
        ASSERT_NE(section, demo().sections.end());
        EXPECT_NEAR(section->start, b.seconds, BAR_EPS) << "scene " << b.scene << " starts its own section";
    }
    EXPECT_NEAR(song::SCENE_STARTS[9], 0.77826, 1e-5);
}

TEST(Song, EveryBoundaryChangesTheArrangement)
{
    for (const song::Boundary& b : song::sceneBoundaries(demo())) {
        const double bar = 240.0 / 175.0;
        const auto before = instrumentsStartingIn(b.barLine - bar, b.barLine);
        const auto after = instrumentsStartingIn(b.barLine, b.barLine + bar);
        EXPECT_NE(before, after) << "nothing changes at scene " << b.scene;
        EXPECT_TRUE(after.count(song::Instrument::Crash) || after.count(song::Instrument::Impact) ||
                    after.count(song::Instrument::Pluck))
            << "scene " << b.scene << " starts without an accent";
    }
}

TEST(Song, ScoreNeverLeavesASecondEmptyBeforeTheLastChord)
{
    // Held notes (without their release) must cover the track up to the last chord.
    std::vector<std::pair<double, double>> held;
    for (const song::Note& n : demo().notes)
        held.push_back({ n.time, n.time + std::max(n.duration, 0.05) });
    std::sort(held.begin(), held.end());
    double covered = 0.0;
    double widestGap = 0.0;
    for (const auto& [start, end] : held) {
        if (start > demo().tailStart)
            break;
        widestGap = std::max(widestGap, start - covered);
        covered = std::max(covered, end);
    }
    widestGap = std::max(widestGap, demo().tailStart - covered);
    EXPECT_LT(widestGap, MAX_GAP);
}

TEST(Song, RenderingIsDeterministic)
{
    const std::vector<float> a = excerpt(17.0, 0.5);
    const std::vector<float> b = excerpt(17.0, 0.5);
    ASSERT_EQ(a.size(), size_t(0.5 * RATE) * 2);
    EXPECT_EQ(a, b);
    EXPECT_EQ(song::toPcm16(a), song::toPcm16(b));
}

TEST(Song, QuietestPartsAreNotSilentAndLoudestDoNotClip)
{
    // The sparse moments: the first seconds, the break, the credits' last drumless bars.
    for (double from : { 0.0, 40.0, 112.0 }) {
        const std::vector<float> pcm = excerpt(from, 3.0);
        EXPECT_LT(song::longestSilence(pcm, RATE, SILENCE_LEVEL), MAX_GAP) << "at " << from << " s";
    }
    // The drops: impact, crash, kick and everything else at once (the climax's
    // from its fifth bar).
    for (double from : { 17.1, 61.0, 89.8 }) {
        const std::vector<float> pcm = excerpt(from, 1.0);
        EXPECT_LT(song::peakLevel(pcm), 1.0f) << "at " << from << " s";
        EXPECT_GT(song::peakLevel(pcm), 0.25f) << "the drop at " << from << " s must be loud";
        for (int16_t v : song::toPcm16(pcm))
            ASSERT_NE(v, -32768);
    }
}

TEST(Song, TrackEndsByDyingAway)
{
    const double length = demo().length;
    const std::vector<float> end = excerpt(length - 0.3, 0.3);
    EXPECT_LT(song::peakLevel(end), 0.05f);
}

TEST(Song, SilenceMeasureFindsGaps)
{
    std::vector<float> pcm(size_t(3 * RATE) * 2, 0.0f);
    for (size_t i = 0; i < size_t(RATE) / 2; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = 0.5f;   // half a second of sound, then 2.5 s of nothing
    EXPECT_NEAR(song::longestSilence(pcm, RATE, SILENCE_LEVEL), 2.5, 0.06);
    EXPECT_EQ(song::peakLevel(pcm), 0.5f);
}

// The band levels put a tone's energy in its own band, 6 dB up for twice the
// amplitude, and nowhere near it elsewhere.
TEST(Song, BandLevelsFindATonesBandAndItsLevel)
{
    auto tone = [](double hz, float amplitude) {
        std::vector<float> pcm(size_t(RATE) * 2);
        for (size_t i = 0; i < pcm.size() / 2; ++i)
            pcm[2 * i] = pcm[2 * i + 1] = amplitude * float(std::sin(2.0 * M_PI * hz * double(i) / RATE));
        return song::bandLevels(pcm.data(), pcm.size() / 2, RATE);
    };
    const double edgeRatio = std::pow(song::CHANGE_HIGH_HZ / song::CHANGE_LOW_HZ, 1.0 / song::CHANGE_BANDS);
    for (double hz : { 55.0, 440.0, 3000.0 }) {
        const song::BandLevels soft = tone(hz, 0.25f), loud = tone(hz, 0.5f);
        const size_t band = size_t(std::log(hz / song::CHANGE_LOW_HZ) / std::log(edgeRatio));
        const size_t loudest = size_t(std::max_element(soft.begin(), soft.end()) - soft.begin());
        EXPECT_EQ(loudest, band) << hz << " Hz";
        EXPECT_NEAR(loud[band] - soft[band], 20.0 * std::log10(2.0), 0.01) << hz << " Hz";
        for (size_t b = 0; b < soft.size(); ++b) {
            if (b + 1 < band || b > band + 1) {
                EXPECT_LT(soft[b], soft[band] - 40.0) << hz << " Hz, band " << b;
            }
        }
    }
}

// Every scene starts on the bar the tempo map gives it (the beat map's bar
// numbers), and the sound changes across every boundary at least half as
// much again as it does at a typical moment inside a section: a listener
// hears each cut. Twelve of the inside moments, spread over the track, keep
// the render short.
TEST(Song, EveryBoundaryIsABarStartAndChangesTheSoundMoreThanInsideASection)
{
    const std::vector<song::SongBeat> beats = song::songBeats(demo());
    for (const song::Boundary& b : song::sceneBoundaries(demo())) {
        int bar = 1;
        for (const song::Section& s : demo().sections)
            if (s.scene < b.scene)
                bar += s.bars;
        const auto at = std::find_if(beats.begin(), beats.end(),
                                     [&](const song::SongBeat& x) { return std::fabs(x.seconds - b.barLine) < 1e-6; });
        ASSERT_NE(at, beats.end()) << "scene " << b.scene;
        EXPECT_EQ(at->bar, bar) << "scene " << b.scene;
        EXPECT_EQ(at->beat, 1) << "scene " << b.scene;
    }

    const song::ChangeReport report = song::changeReport(demo(), RATE, 12);
    ASSERT_EQ(report.inside.size(), 12u);
    ASSERT_GT(report.median, 0.0);
    for (const song::BoundaryChange& c : report.boundaries)
        EXPECT_GE(c.change, 1.5 * report.median) << "scene " << c.scene << " at " << c.seconds << " s";
}
