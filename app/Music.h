// app/Music.h: the music clock. Loads the demo's track, plays it once and
// reports its play position as a fraction of the track: the show's only clock.
// Built on the sound layer (app/SoundOutput.h). Called from the main thread only.
#pragma once

#include "base/Show.h"   // SCENE_ENTRIES

#include <cstdint>
#include <string>
#include <vector>

struct SoundSample;
struct SoundModule;

// One global record, constant-initialised to zero before the entry point.
struct MusicClock {
    SoundSample* sample        = nullptr;   // the loaded track (sample slot 0); null until loaded
    float        lengthSamples = 0.0f;      // the track's length in sample frames; 0 until loaded
    SoundModule* module        = nullptr;   // tracker module: nothing loads one, stays null
};

extern MusicClock musicClock;   // written by loadTrack, read by musicPosition and seekMusic

constexpr const char* MUSIC_TRACK_FILE = "data/vortalune.ogg";

// Starts the sound output; once, after the window exists. Without a sound
// device the music is silent but its clock runs in real time (one line on stderr).
void initSound();

// Decodes the whole track at `path` into sample slot `slot`; its length is known
// from then on. A missing, oversized or undecodable file (or one without audio)
// leaves the sample empty and the length 0, and prints one line naming the file
// and the reason. A damaged file that still decodes prints one line saying what
// was done: pages that do not decode play as silence of their length and a
// short decode is padded to the length the stream states, so the scenes keep
// their times (app/SoundOutput.h). Closing the window while the track decodes
// stops the load.
void loadTrack(const char* path, int slot);

// A track decoded elsewhere (the browser decodes it in steps between frames):
// into sample slot `slot`, with the lines loadTrack prints. `error` non-empty:
// the track could not be decoded (the clock has no length); `note`: what the
// decode worked around in a damaged file.
void adoptTrack(const char* path, std::vector<int16_t> stereo, const std::string& error, const std::string& note,
                int slot);

// Plays the loaded track once, without looping, on the first free channel
// (channel 0, since nothing else plays). No track: nothing plays.
void playTrack(int slot);

// v in 0..1; (int)(v * 255), truncated, becomes the volume of every channel.
void setSoundVolume(float v);

// v in 0..1; the module player's master volume. No module: no effect.
void setMusicVolume(float v);

// The play position of channel `slot` as a fraction of the track: -1.0 when the
// channel does not play (before playTrack, after the end, failed load), 0.0 when
// lengthSamples < 1, otherwise position / lengthSamples.
float musicPosition(int slot);

// Moves channel `slot` to the fraction f of the track (frames = lengthSamples * f,
// truncated to a 64-bit integer, low 32 bits). No effect once the track has ended.
void seekMusic(int slot, float f);

// Holds channel `slot` where it is (true) or lets it play on (false). While held the
// position does not move and nothing is heard; seekMusic still moves it (and it
// stays held). A channel that does not play is left alone: holding it does nothing.
void pauseMusic(int slot, bool paused);

// True while channel `slot` plays and is held.
bool musicPaused(int slot);

// Plays channel `slot` at `rate` times the track's speed, lower as tape plays
// slower (the authoring tool's slow motion); its position moves at that rate.
// 1 is the track as it is. A channel that does not play is left alone.
void setMusicRate(int slot, double rate);

// The beat key: prints "Beat at: %f\n" on stderr with musicPosition(0).
void markBeat();

// The shortest track the show can be played on: its shortest scene (of
// durations[1..10], track fractions) must last one frame at
// PLAYABLE_FRAMES_PER_SECOND. In seconds.
constexpr double PLAYABLE_FRAMES_PER_SECOND = 60.0;
double shortestPlayableTrack(const float (&durations)[SCENE_ENTRIES]);

// "is 0.030 s long, too short to play the show (it needs 0.261 s: ...)" for a
// track of `seconds` below that length; empty when it can be played.
std::string trackTooShort(double seconds, const float (&durations)[SCENE_ENTRIES]);
