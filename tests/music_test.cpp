// tests/music_test.cpp: the sound layer (decoding, conversion, channels, the
// no-device fallbacks, holding a channel) and the music clock with its beat key. Audio runs on
// SDL's dummy driver, so the clock advances in real time without a sound card.
// Positions are checked with generous bounds: no timing assertions.
#include "app/Input.h"
#include "app/Music.h"
#include "sound/SoundOutput.h"
#include "tools/song/Song.h"

#include "TestSupport.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <cstring>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr float  OGG_QUALITY = 0.4f;

// Interleaved 16-bit tones: channel c plays freqs[c] at half scale.
std::vector<int16_t> tones(size_t frames, long rate, const std::vector<double>& freqs)
{
    std::vector<int16_t> pcm(frames * freqs.size());
    for (size_t i = 0; i < frames; ++i)
        for (size_t c = 0; c < freqs.size(); ++c)
            pcm[i * freqs.size() + c] = int16_t(16000.0 * std::sin(2.0 * PI * freqs[c] * double(i) / rate));
    return pcm;
}

std::string writeTones(const TempDir& dir, const char* name, size_t frames, long rate, const std::vector<double>& freqs)
{
    const std::string path = dir.path() + "/" + name;
    const std::vector<int16_t> pcm = tones(frames, rate, freqs);
    std::string error;
    EXPECT_TRUE(song::writeOggVorbis(path, pcm.data(), frames, int(freqs.size()), rate, OGG_QUALITY, error)) << error;
    return path;
}

// Sign changes of one channel of interleaved stereo, per second of audio.
double crossingsPerSecond(const std::vector<int16_t>& stereo, int channel)
{
    size_t crossings = 0;
    const size_t frames = stereo.size() / 2;
    for (size_t i = 1; i < frames; ++i)
        if ((stereo[2 * (i - 1) + channel] < 0) != (stereo[2 * i + channel] < 0))
            ++crossings;
    return double(crossings) * SOUND_RATE / double(frames);
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Polls until the condition holds or `seconds` have passed.
template <typename F>
bool waitFor(F condition, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        sleepMs(10);
    }
    return condition();
}

class SoundTest : public testing::Test {
protected:
    void SetUp() override
    {
        stopSoundOutput();
        musicClock = MusicClock();
        setenv("SDL_AUDIODRIVER", "dummy", 1);   // never a real card in the tests
    }
    void TearDown() override { stopSoundOutput(); }

    TempDir dir;
};

using MusicClockTest = SoundTest;

} // namespace

// --- Decoding and conversion ---------------------------------------------------------

TEST_F(SoundTest, DecodesOwnOggWithExactFrameLength)
{
    const std::string path = writeTones(dir, "tones.ogg", 12345, 44100, { 440.0, 1000.0 });
    std::vector<int16_t> stereo;
    std::string error;
    ASSERT_TRUE(decodeOggFile(path.c_str(), stereo, error)) << error;
    EXPECT_EQ(stereo.size(), 12345u * 2);
    // Each channel keeps its own tone: 2 sign changes per period.
    EXPECT_NEAR(crossingsPerSecond(stereo, 0), 880.0, 880.0 * 0.05);
    EXPECT_NEAR(crossingsPerSecond(stereo, 1), 2000.0, 2000.0 * 0.05);
}

TEST_F(SoundTest, ConvertsMonoAndOtherRatesAtLoad)
{
    const std::string mono = writeTones(dir, "mono22k.ogg", 11025, 22050, { 500.0 });
    std::vector<int16_t> stereo;
    std::string error;
    ASSERT_TRUE(decodeOggFile(mono.c_str(), stereo, error)) << error;
    EXPECT_EQ(stereo.size() / 2, 22050u);   // 0.5 s at 44.1 kHz
    for (size_t i = 0; i < stereo.size(); i += 2)
        ASSERT_EQ(stereo[i], stereo[i + 1]) << "mono must be the same on both sides, frame " << i / 2;
    EXPECT_NEAR(crossingsPerSecond(stereo, 0), 1000.0, 50.0) << "pitch must survive the rate change";

    const std::string rate48 = writeTones(dir, "stereo48k.ogg", 48000, 48000, { 300.0, 600.0 });
    ASSERT_TRUE(decodeOggFile(rate48.c_str(), stereo, error)) << error;
    EXPECT_EQ(stereo.size() / 2, 44100u);
    EXPECT_NEAR(crossingsPerSecond(stereo, 1), 1200.0, 60.0);
}

TEST_F(SoundTest, ConversionTakesFirstTwoChannelsAndExactLengths)
{
    const std::vector<int16_t> three = { 1, 2, 3, 4, 5, 6 };   // two frames of three channels
    const std::vector<int16_t> out = convertToOutputFormat(three.data(), 2, 3, SOUND_RATE);
    EXPECT_EQ(out, (std::vector<int16_t>{ 1, 2, 4, 5 }));

    const std::vector<int16_t> ramp = { 0, 1000 };   // mono, two frames at half rate
    const std::vector<int16_t> up = convertToOutputFormat(ramp.data(), 2, 1, SOUND_RATE / 2);
    ASSERT_EQ(up.size(), 8u);
    EXPECT_EQ(up[2], 500);   // halfway between the two source frames
    EXPECT_EQ(up[4], 1000);

    EXPECT_TRUE(convertToOutputFormat(ramp.data(), 2, 0, SOUND_RATE).empty());
    EXPECT_TRUE(convertToOutputFormat(ramp.data(), 2, 1, 0).empty());
    EXPECT_TRUE(convertToOutputFormat(nullptr, 5, 2, SOUND_RATE).empty());
    EXPECT_EQ(convertToOutputFormat(ramp.data(), 1, 1, 48000).size(), 0u);   // floor(44100 / 48000) frames
}

TEST_F(SoundTest, RefusesMissingGarbageAndTruncatedFiles)
{
    std::vector<int16_t> stereo;
    std::string error;
    EXPECT_FALSE(decodeOggFile((dir.path() + "/missing.ogg").c_str(), stereo, error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(decodeOggFile(nullptr, stereo, error));

    const std::string garbage = dir.path() + "/garbage.ogg";
    std::ofstream(garbage) << "OggS but not really a Vorbis stream, only text";
    EXPECT_FALSE(decodeOggFile(garbage.c_str(), stereo, error));
    EXPECT_TRUE(stereo.empty());

    const std::string empty = dir.path() + "/empty.ogg";
    std::ofstream(empty).flush();
    EXPECT_FALSE(decodeOggFile(empty.c_str(), stereo, error));

    // A good file cut in half: what decodes is kept, nothing reads past the data.
    const std::string whole = writeTones(dir, "whole.ogg", 44100, 44100, { 440.0, 440.0 });
    std::ifstream in(whole, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string cut = dir.path() + "/cut.ogg";
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    if (decodeOggFile(cut.c_str(), stereo, error)) {
        EXPECT_LT(stereo.size() / 2, 44100u);
    }

    // Flipped bytes in the middle of the audio: decodes or refuses, never crashes.
    std::string damaged = bytes;
    for (size_t i = damaged.size() / 3; i < damaged.size() / 3 + 200 && i < damaged.size(); ++i)
        damaged[i] = char(damaged[i] ^ 0x5A);
    const std::string bad = dir.path() + "/damaged.ogg";
    std::ofstream(bad, std::ios::binary) << damaged;
    decodeOggFile(bad.c_str(), stereo, error);
    EXPECT_LE(stereo.size() / 2, 44100u + 4096u);
}

// --- Output and channels -------------------------------------------------------------------

TEST_F(SoundTest, FallsBackToDummyDriverWithReason)
{
    std::string reason;
    EXPECT_EQ(startSoundOutput(false, &reason), SoundDevice::Dummy);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(startSoundOutput(), SoundDevice::Dummy) << "a second start keeps the running output";
    // The dummy driver consumes the mix in real time.
    SoundSample* s = storeSoundSample(1, std::vector<int16_t>(size_t(SOUND_RATE) * 2 * 2, 100));
    ASSERT_EQ(playSample(SOUND_FREE_CHANNEL, s), 0);
    EXPECT_TRUE(waitFor([] { return channelPosition(0) > 0; }, 5.0));
}

TEST_F(SoundTest, TickClockAdvancesAndEndsWithoutAudio)
{
    ASSERT_EQ(startTickClockOutput(), SoundDevice::TickClock);
    SoundSample* s = storeSoundSample(0, std::vector<int16_t>(size_t(SOUND_RATE) * 2, 0));   // 1 s
    ASSERT_EQ(playSample(SOUND_FREE_CHANNEL, s), 0);
    EXPECT_TRUE(channelPlaying(0));
    EXPECT_TRUE(waitFor([] { return channelPosition(0) > 0; }, 5.0));
    setChannelPosition(0, uint32_t(SOUND_RATE) / 2);
    EXPECT_GE(channelPosition(0), uint32_t(SOUND_RATE) / 2);
    EXPECT_TRUE(waitFor([] { return !channelPlaying(0); }, 5.0));
    EXPECT_EQ(channelPosition(0), uint32_t(SOUND_RATE));
}

TEST_F(SoundTest, ChannelsAreFirstFreeAndGuardTheirRanges)
{
    EXPECT_EQ(playSample(SOUND_FREE_CHANNEL, nullptr), -1);
    ASSERT_EQ(startTickClockOutput(), SoundDevice::TickClock);
    SoundSample* s = storeSoundSample(0, std::vector<int16_t>(size_t(SOUND_RATE) * 20, 0));
    for (int i = 0; i < SOUND_MIX_CHANNELS; ++i)
        EXPECT_EQ(playSample(SOUND_FREE_CHANNEL, s), i);
    EXPECT_EQ(playSample(SOUND_FREE_CHANNEL, s), -1) << "every channel busy";
    EXPECT_EQ(playSample(SOUND_MIX_CHANNELS, s), -1);
    EXPECT_FALSE(channelPlaying(-1));
    EXPECT_FALSE(channelPlaying(SOUND_MIX_CHANNELS));
    EXPECT_EQ(channelPosition(99), 0u);
    setChannelPosition(-5, 10);   // ignored
    EXPECT_EQ(storeSoundSample(SOUND_SAMPLE_SLOTS, {}), nullptr);
    EXPECT_EQ(loadSoundSample(-1, "x.ogg"), nullptr);

    // Replacing a sample stops the channels that play it.
    storeSoundSample(0, std::vector<int16_t>(100, 0));
    for (int i = 0; i < SOUND_MIX_CHANNELS; ++i)
        EXPECT_FALSE(channelPlaying(i));

    // An empty sample takes a channel as any other; it has ended by the next look.
    EXPECT_EQ(playSample(SOUND_FREE_CHANNEL, storeSoundSample(1, {})), 0);
    EXPECT_FALSE(channelPlaying(0));
}

TEST_F(SoundTest, VolumesClampAndModuleVolumeNeedsAModule)
{
    setChannelVolume(SOUND_ALL_CHANNELS, 300);
    EXPECT_EQ(allChannelsVolume(), 255);
    setChannelVolume(SOUND_ALL_CHANNELS, -4);
    EXPECT_EQ(allChannelsVolume(), 0);
    EXPECT_FALSE(setModuleMasterVolume(nullptr, 128));
}

// --- Holding the music ---------------------------------------------------------------------
// On both outputs that run without a card: the dummy driver's audio thread and
// the tick clock. Channel 1 plays the same sample unheld beside the held channel 0,
// so "time has passed" is seen from the positions, not from a timer.

namespace {

class HoldTest : public SoundTest, public testing::WithParamInterface<SoundDevice> {
protected:
    void startOutput()
    {
        if (GetParam() == SoundDevice::TickClock)
            ASSERT_EQ(startTickClockOutput(), SoundDevice::TickClock);
        else
            ASSERT_EQ(startSoundOutput(false), SoundDevice::Dummy);
    }
    // Waits until the unheld channel 1 has moved on by a few mixer buffers.
    void letTimePass()
    {
        const uint32_t from = channelPosition(1);
        ASSERT_TRUE(waitFor([&] { return channelPosition(1) > from + 3 * SOUND_BUFFER_FRAMES; }, 10.0));
    }
};

std::string deviceName(const testing::TestParamInfo<SoundDevice>& info)
{
    return info.param == SoundDevice::TickClock ? "TickClock" : "DummyDriver";
}

} // namespace

TEST_P(HoldTest, HeldPositionStaysSeeksAndPlaysOnFromThere)
{
    startOutput();
    const uint32_t frames = 60 * SOUND_RATE;
    musicClock.sample = storeSoundSample(0, std::vector<int16_t>(size_t(frames) * 2, 1000));
    musicClock.lengthSamples = float(frames);
    playTrack(0);
    ASSERT_EQ(playSample(1, musicClock.sample), 1);
    EXPECT_FALSE(musicPaused(0)) << "a track starts playing";

    pauseMusic(0, true);
    EXPECT_TRUE(musicPaused(0));
    EXPECT_FALSE(musicPaused(1)) << "holding is per channel";
    const uint32_t held = channelPosition(0);
    const float heldFraction = musicPosition(0);
    letTimePass();
    EXPECT_EQ(channelPosition(0), held) << "a held channel does not move";
    EXPECT_EQ(musicPosition(0), heldFraction);
    EXPECT_TRUE(channelPlaying(0)) << "a held channel still plays";

    seekMusic(0, 0.5f);
    const uint32_t middle = frames / 2;
    EXPECT_EQ(channelPosition(0), middle) << "a seek moves the held channel";
    EXPECT_TRUE(musicPaused(0)) << "and it stays held";
    letTimePass();
    EXPECT_EQ(channelPosition(0), middle);
    pauseMusic(0, true);   // holding again changes nothing
    EXPECT_EQ(channelPosition(0), middle);

    pauseMusic(0, false);
    EXPECT_FALSE(musicPaused(0));
    EXPECT_GE(channelPosition(0), middle) << "it plays on from where it was seeked";
    EXPECT_TRUE(waitFor([&] { return channelPosition(0) > middle; }, 10.0)) << "and moves again";

    // A seek past the end stops a held channel: it is no longer held.
    pauseMusic(0, true);
    seekMusic(0, 1.0f);
    EXPECT_EQ(musicPosition(0), -1.0f);
    EXPECT_FALSE(musicPaused(0));
}

// Slow motion's music: a channel at a quarter of its speed moves a quarter as
// far as one at its own speed over the same mixes, and back at 1 in step again.
TEST_P(HoldTest, AChannelAtAQuarterOfItsSpeedMovesAQuarterAsFar)
{
    startOutput();
    const uint32_t frames = 120 * SOUND_RATE;
    musicClock.sample = storeSoundSample(0, std::vector<int16_t>(size_t(frames) * 2, 1000));
    musicClock.lengthSamples = float(frames);
    playTrack(0);
    ASSERT_EQ(playSample(1, musicClock.sample), 1);
    setMusicRate(0, 0.25);
    EXPECT_EQ(channelRate(0), 0.25);
    EXPECT_EQ(channelRate(1), 1.0) << "the rate is the channel's own";
    const uint32_t slowFrom = channelPosition(0), fastFrom = channelPosition(1);
    ASSERT_TRUE(waitFor([&] { return channelPosition(1) > fastFrom + 40 * SOUND_BUFFER_FRAMES; }, 20.0));
    const double slow = double(channelPosition(0) - slowFrom), fast = double(channelPosition(1) - fastFrom);
    EXPECT_NEAR(slow / fast, 0.25, 0.05) << slow << " vs " << fast << " frames";

    setMusicRate(0, 1.0);
    const uint32_t again0 = channelPosition(0), again1 = channelPosition(1);
    ASSERT_TRUE(waitFor([&] { return channelPosition(1) > again1 + 40 * SOUND_BUFFER_FRAMES; }, 20.0));
    EXPECT_NEAR(double(channelPosition(0) - again0) / double(channelPosition(1) - again1), 1.0, 0.05);
    setMusicRate(0, 1e9);
    EXPECT_EQ(channelRate(0), SOUND_MAX_SPEED) << "clamped";
}

TEST_P(HoldTest, HoldingAChannelThatDoesNotPlayIsHarmless)
{
    pauseMusic(0, true);   // no output yet
    EXPECT_FALSE(musicPaused(0));
    startOutput();
    pauseMusic(3, true);   // nothing plays on it
    pauseMusic(-1, true);
    pauseMusic(SOUND_MIX_CHANNELS, true);
    EXPECT_FALSE(musicPaused(3));
    EXPECT_FALSE(musicPaused(-1));
    EXPECT_FALSE(musicPaused(SOUND_MIX_CHANNELS));
    EXPECT_EQ(musicPosition(3), -1.0f);

    // A channel started after that plays unheld, and so does one started again
    // after being held.
    SoundSample* s = storeSoundSample(0, std::vector<int16_t>(size_t(SOUND_RATE) * 20 * 2, 0));
    ASSERT_EQ(playSample(3, s), 3);
    ASSERT_EQ(playSample(1, s), 1);
    EXPECT_FALSE(channelPaused(3));
    EXPECT_TRUE(waitFor([] { return channelPosition(3) > 0; }, 10.0));
    setChannelPaused(3, true);
    ASSERT_TRUE(channelPaused(3));
    ASSERT_EQ(playSample(3, s), 3);
    EXPECT_FALSE(channelPaused(3)) << "playSample starts a channel unheld";
    EXPECT_TRUE(waitFor([] { return channelPosition(3) > 0; }, 10.0));
}

INSTANTIATE_TEST_SUITE_P(Outputs, HoldTest, testing::Values(SoundDevice::Dummy, SoundDevice::TickClock), deviceName);

// --- Music clock ----------------------------------------------------------------------------

TEST_F(MusicClockTest, PositionIsMinusOneBeforePlayAndRunsWhilePlaying)
{
    const std::string path = writeTones(dir, "track.ogg", 3 * 44100, 44100, { 220.0, 330.0 });
    initSound();
    loadTrack(path.c_str(), 0);
    EXPECT_EQ(musicClock.lengthSamples, 3.0f * 44100.0f);
    EXPECT_EQ(musicPosition(0), -1.0f) << "before playTrack";

    playTrack(0);
    const float first = musicPosition(0);
    EXPECT_GE(first, 0.0f);
    EXPECT_LT(first, 1.0f);
    EXPECT_TRUE(waitFor([&] { return musicPosition(0) > first; }, 5.0)) << "the clock must advance";
    const float later = musicPosition(0);
    EXPECT_GT(later, 0.0f);
    EXPECT_LT(later, 1.0f);

    // A channel that plays with a length below one frame reads 0, not a division by zero.
    musicClock.lengthSamples = 0.5f;
    EXPECT_EQ(musicPosition(0), 0.0f);
}

TEST_F(MusicClockTest, SeekLandsWithinOneBufferAndNothingRestartsAfterTheEnd)
{
    const std::string path = writeTones(dir, "track.ogg", 2 * 44100, 44100, { 220.0, 330.0 });
    initSound();
    loadTrack(path.c_str(), 0);
    playTrack(0);

    seekMusic(0, 0.5f);
    const float middle = musicPosition(0);
    const float buffer = float(SOUND_BUFFER_FRAMES) / musicClock.lengthSamples;
    EXPECT_GE(middle, 0.5f);
    EXPECT_LE(middle, 0.5f + buffer) << "a seek lands within one mixer buffer";

    seekMusic(0, 0.0f);
    EXPECT_LE(musicPosition(0), buffer);

    seekMusic(0, 0.98f);
    ASSERT_TRUE(waitFor([] { return musicPosition(0) < 0.0f; }, 10.0)) << "the track must end";
    EXPECT_EQ(musicPosition(0), -1.0f);
    seekMusic(0, 0.5f);
    EXPECT_EQ(musicPosition(0), -1.0f) << "a seek after the end changes nothing";
    sleepMs(50);
    EXPECT_EQ(musicPosition(0), -1.0f);
}

TEST_F(MusicClockTest, SeekPastTheEndStopsTheTrack)
{
    const std::string path = writeTones(dir, "track.ogg", 44100, 44100, { 220.0, 330.0 });
    initSound();
    loadTrack(path.c_str(), 0);
    playTrack(0);
    seekMusic(0, -0.25f);   // truncated to 64 bits, low 32 bits: far past the end
    EXPECT_EQ(musicPosition(0), -1.0f);
}

TEST_F(MusicClockTest, VolumeTruncatesToLevels)
{
    setSoundVolume(1.0f);
    EXPECT_EQ(allChannelsVolume(), 255);
    setSoundVolume(0.999f);
    EXPECT_EQ(allChannelsVolume(), 254);
    setSoundVolume(0.0f);
    EXPECT_EQ(allChannelsVolume(), 0);
    setSoundVolume(std::nanf(""));
    EXPECT_EQ(allChannelsVolume(), 0);
    setSoundVolume(1.0e30f);
    EXPECT_EQ(allChannelsVolume(), 255);
    setMusicVolume(0.5f);   // no module: no effect
    EXPECT_EQ(allChannelsVolume(), 255);
}

TEST_F(MusicClockTest, MissingTrackGivesMinusOneAndOneLineNamingIt)
{
    initSound();
    const std::string path = dir.path() + "/data/vortalune.ogg";
    testing::internal::CaptureStderr();
    loadTrack(path.c_str(), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(path), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(musicClock.sample, nullptr);
    EXPECT_EQ(musicClock.lengthSamples, 0.0f);
    playTrack(0);
    EXPECT_EQ(musicPosition(0), -1.0f);
}

TEST_F(MusicClockTest, SilentOutputSaysSoOnce)
{
    testing::internal::CaptureStderr();
    initSound();
    initSound();   // already running: says nothing more
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("silent"), std::string::npos) << err;
    EXPECT_EQ(soundDevice(), SoundDevice::Dummy);
}

TEST_F(MusicClockTest, BeatKeyPrintsOneLineWithSixDecimals)
{
    SDL_KeyboardEvent key{};
    key.type = SDL_KEYDOWN;
    key.keysym.sym = SDLK_b;

    testing::internal::CaptureStderr();
    handleKeyDown(key);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Beat at: -1.000000\n");

    const std::string path = writeTones(dir, "track.ogg", 2 * 44100, 44100, { 220.0, 330.0 });
    initSound();
    loadTrack(path.c_str(), 0);
    playTrack(0);
    testing::internal::CaptureStderr();
    handleKeyDown(key);
    const std::string line = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::regex_match(line, std::regex("Beat at: 0\\.[0-9]{6}\n"))) << line;
}

// --- Damaged and hostile tracks ------------------------------------------------------
// The show's clock is the fraction of the track, so a track that decodes short
// moves every scene: damage must keep the track's length, be bounded, and be
// reported in one line naming the file.

namespace {

using TrackDamage = SoundTest;

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// `count` bytes of a fixed pseudo-random sequence.
std::string junk(size_t count)
{
    std::string bytes(count, '\0');
    uint32_t state = 12345u;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
    }
    return bytes;
}

// What loadTrack prints for `path`.
std::string loadTrackStderr(const std::string& path)
{
    testing::internal::CaptureStderr();
    loadTrack(path.c_str(), 0);
    return testing::internal::GetCapturedStderr();
}

size_t lines(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST_F(TrackDamage, CutInsideItsHeadersIsRefusedWithOneLine)
{
    const std::string whole = writeTones(dir, "whole.ogg", 2 * 44100, 44100, { 440.0, 660.0 });
    const std::string cut = dir.path() + "/cut.ogg";
    writeFileBytes(cut, fileBytes(whole).substr(0, 100));   // the first page holds 58 bytes: cut in the second
    std::vector<int16_t> stereo;
    std::string error;
    EXPECT_FALSE(decodeOggFile(cut.c_str(), stereo, error));
    EXPECT_EQ(error, "the file is cut inside its Vorbis headers");

    initSound();
    const std::string err = loadTrackStderr(cut);
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find("The music track " + cut + " could not be loaded (the file is cut inside its Vorbis headers)"),
              std::string::npos) << err;
    EXPECT_EQ(musicClock.sample, nullptr);
}

TEST_F(TrackDamage, FlippedBytesPlayAsSilenceInPlaceAndTheLengthStays)
{
    const size_t frames = 20 * 44100;
    const std::string clean = writeTones(dir, "clean.ogg", frames, 44100, { 330.0, 495.0 });
    std::string bytes = fileBytes(clean);
    // Forty bytes spread over the middle third: each spoils one page's checksum.
    for (size_t k = 0; k < 40; ++k)
        bytes[bytes.size() / 3 + k * (bytes.size() / 3 / 40)] ^= char(0xFF);
    const std::string damaged = dir.path() + "/damaged.ogg";
    writeFileBytes(damaged, bytes);

    std::vector<int16_t> good, bad;
    std::string error, goodNote, badNote;
    ASSERT_TRUE(decodeOggFile(clean.c_str(), good, error, &goodNote)) << error;
    EXPECT_EQ(goodNote, "");
    ASSERT_TRUE(decodeOggFile(damaged.c_str(), bad, error, &badNote)) << error;
    ASSERT_EQ(good.size(), frames * 2);
    EXPECT_EQ(bad.size(), good.size()) << "the stated length is kept";
    EXPECT_NE(badNote.find("could not be decoded and play as silence in place"), std::string::npos) << badNote;

    // Before the first damaged page and after the last, every sample is where
    // it belongs: the first and the last four seconds equal the clean decode.
    const size_t edge = 4 * 44100 * 2;
    EXPECT_TRUE(std::equal(bad.begin(), bad.begin() + long(edge), good.begin()));
    EXPECT_TRUE(std::equal(bad.end() - long(edge), bad.end(), good.end() - long(edge)));
    // The damage itself is silence, not sound from elsewhere.
    const size_t silent = size_t(std::count(bad.begin(), bad.end(), int16_t(0)));
    EXPECT_GT(silent, size_t(std::count(good.begin(), good.end(), int16_t(0))) + 44100u);

    initSound();
    EXPECT_EQ(loadTrackStderr(clean), "") << "a clean track says nothing";
    const std::string err = loadTrackStderr(damaged);
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find("The music track " + damaged + " is damaged: "), std::string::npos) << err;
    EXPECT_EQ(musicClock.lengthSamples, float(frames));
}

TEST_F(TrackDamage, JunkAfterTheStreamIsIgnoredWithOneLine)
{
    const size_t frames = 2 * 44100;
    const std::string clean = writeTones(dir, "clean.ogg", frames, 44100, { 220.0, 330.0 });
    const std::string withJunk = dir.path() + "/junk.ogg";
    writeFileBytes(withJunk, fileBytes(clean) + junk(50000000));

    std::vector<int16_t> stereo;
    std::string error, note;
    ASSERT_TRUE(decodeOggFile(withJunk.c_str(), stereo, error, &note)) << error;
    EXPECT_EQ(stereo.size(), frames * 2);
    EXPECT_EQ(note, "50.0 MB after the end of its stream are ignored");

    initSound();
    const std::string err = loadTrackStderr(withJunk);
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find("The music track " + withJunk + " is damaged: 50.0 MB after the end"), std::string::npos)
        << err;
    EXPECT_EQ(musicClock.lengthSamples, float(frames));

    // A stream that has not ended by the file limit is refused, whatever follows.
    const std::string cutThenJunk = dir.path() + "/cut_junk.ogg";
    const std::string head = fileBytes(clean);
    writeFileBytes(cutThenJunk, head.substr(0, head.size() / 2) + junk(size_t(SOUND_MAX_FILE_BYTES)));
    EXPECT_FALSE(decodeOggFile(cutThenJunk.c_str(), stereo, error));
    EXPECT_NE(error.find("has not ended within the limit of 32 MiB"), std::string::npos) << error;
}

TEST_F(TrackDamage, CutTrackPlaysWhatItHoldsWithOneLine)
{
    const std::string clean = writeTones(dir, "clean.ogg", 4 * 44100, 44100, { 220.0, 330.0 });
    const std::string cut = dir.path() + "/cut.ogg";
    const std::string bytes = fileBytes(clean);
    writeFileBytes(cut, bytes.substr(0, bytes.size() * 3 / 4));
    std::vector<int16_t> stereo;
    std::string error, note;
    ASSERT_TRUE(decodeOggFile(cut.c_str(), stereo, error, &note)) << error;
    EXPECT_GT(stereo.size(), 0u);
    EXPECT_LT(stereo.size(), size_t(4 * 44100 * 2));
    EXPECT_NE(note.find("ends without its last page"), std::string::npos) << note;
}

namespace {

// `bytes` with the granule position of the stream's last page set to
// `stated` frames: the stream states a length its pages do not hold.
std::string withStatedLength(const std::string& bytes, int64_t stated)
{
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, long(bytes.size()));
    std::memcpy(buffer, bytes.data(), bytes.size());
    ogg_sync_wrote(&sync, long(bytes.size()));
    std::string out;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (ogg_page_eos(&page)) {
            for (int b = 0; b < 8; ++b)
                page.header[6 + b] = static_cast<unsigned char>(uint64_t(stated) >> (8 * b));
            ogg_page_checksum_set(&page);
        }
        out.append(reinterpret_cast<const char*>(page.header), size_t(page.header_len));
        out.append(reinterpret_cast<const char*>(page.body), size_t(page.body_len));
    }
    ogg_sync_clear(&sync);
    return out;
}

} // namespace

// A stream whose pages hold less than its last page states, by a little or
// by more than half: the track is padded with silence to the stated length
// (the show's clock is that length), and the line says how much is silence.
TEST_F(TrackDamage, AStreamThatHoldsLessThanItStatesIsPaddedToItsLength)
{
    const size_t frames = 3 * 44100;
    const std::string bytes = fileBytes(writeTones(dir, "clean.ogg", frames, 44100, { 330.0, 440.0 }));
    std::vector<int16_t> clean;
    std::string error, note;
    ASSERT_TRUE(decodeOggFile((dir.path() + "/clean.ogg").c_str(), clean, error)) << error;
    for (const double held : { 0.999, 0.9, 0.6, 0.4 }) {
        SCOPED_TRACE("holds " + std::to_string(held) + " of what it states");
        const int64_t stated = int64_t(double(frames) / held);
        const std::string path = dir.path() + "/short.ogg";
        writeFileBytes(path, withStatedLength(bytes, stated));
        std::vector<int16_t> stereo;
        ASSERT_TRUE(decodeOggFile(path.c_str(), stereo, error, &note)) << error;
        EXPECT_EQ(stereo.size(), size_t(stated) * 2);
        EXPECT_TRUE(std::equal(clean.begin(), clean.end(), stereo.begin())) << "what it holds plays in place";
        // The last block is no longer trimmed to the stated end: at most one
        // block (2048 frames) of it follows, then the padding's silence.
        const size_t padded = 2 * (size_t(stated) - frames - 2048);
        if (held < 0.99) {
            EXPECT_TRUE(std::all_of(stereo.end() - long(padded), stereo.end(), [](int16_t v) { return v == 0; }));
            EXPECT_NE(note.find("could not be decoded and play as silence in place"), std::string::npos) << note;
        }
    }
}

TEST_F(TrackDamage, TrackWithoutAudioIsRefusedWithOneLine)
{
    const std::string empty = dir.path() + "/silent.ogg";
    std::string error;
    ASSERT_TRUE(song::writeOggVorbis(empty, nullptr, 0, 2, 44100, OGG_QUALITY, error)) << error;
    std::vector<int16_t> stereo;
    EXPECT_FALSE(decodeOggFile(empty.c_str(), stereo, error));
    EXPECT_EQ(error, "it holds no audio");

    initSound();
    const std::string err = loadTrackStderr(empty);
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find("The music track " + empty + " could not be loaded (it holds no audio)"), std::string::npos)
        << err;
    EXPECT_EQ(musicClock.sample, nullptr);
    playTrack(0);
    EXPECT_EQ(musicPosition(0), -1.0f) << "no clock: the show ends at once";
}

TEST_F(TrackDamage, DirectoryIsRefusedAndAStopRequestEndsTheDecode)
{
    const std::string folder = dir.path() + "/vortalune.ogg";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::vector<int16_t> stereo;
    std::string error;
    EXPECT_FALSE(decodeOggFile(folder.c_str(), stereo, error));
    EXPECT_EQ(error, "a directory, not a file");

    // The decode asks between pieces whether to go on.
    const std::string track = writeTones(dir, "track.ogg", 5 * 44100, 44100, { 440.0 });
    int asked = 0;
    DecodeYield counting;
    counting.context = &asked;
    counting.keepGoing = [](void* context) {
        ++*static_cast<int*>(context);
        return true;
    };
    ASSERT_TRUE(decodeOggFile(track.c_str(), stereo, error, nullptr, counting)) << error;
    EXPECT_GT(asked, 5) << "about every 0.2 s of audio";
    DecodeYield stop;
    stop.keepGoing = [](void*) { return false; };
    EXPECT_FALSE(decodeOggFile(track.c_str(), stereo, error, nullptr, stop));
    EXPECT_EQ(error, "stopped");
    EXPECT_TRUE(stereo.empty());
}
