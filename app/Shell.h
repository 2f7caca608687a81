// app/Shell.h: the application shell's globals and the pieces of the entry
// point and frame loop that can run without a window: the command line, the
// display-mode choice and the frame clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AppSettings;

// --- Render switches ---------------------------------------------------------------
// bit 0 lights, bit 4 paused, bit 6 caption, bit 7 grid; bits 1-3 carry no meaning
// but are set at start-up (low byte 0x0F). Keys toggle them, the render passes read them.
constexpr int32_t FLAG_LIGHTS  = 0x01;
constexpr int32_t FLAG_PAUSED  = 0x10;
constexpr int32_t FLAG_CAPTION = 0x40;
constexpr int32_t FLAG_GRID    = 0x80;
constexpr int32_t RENDER_FLAGS_START_LOW_BYTE = 0x0F;

// --- Globals (written by the frame loop and the event handler) --------------------
extern bool    quitRequested;     // the loop ends at its next test once true
extern int32_t renderFlags;       // FLAG_* bits
extern float   framesPerSecond;   // rate of one sampled frame, shown in the caption

// --- Command line --------------------------------------------------------------------
// The program takes nothing (the show), one scene number 0..10 (the authoring
// tool from that scene), or --help / -h. --timings may stand before or after
// either (once): the frame-time report at exit. Everything else is refused
// before any window opens.
constexpr int EXIT_USAGE = 2;   // exit code of a refused command line
constexpr const char* TIMINGS_OPTION = "--timings";

enum CommandLineRequest {
    COMMAND_LINE_SHOW,    // no argument (besides --timings)
    COMMAND_LINE_SCENE,   // one scene number; CommandLine::scene holds it
    COMMAND_LINE_HELP,    // --help or -h anywhere: usage and help on stdout, exit 0
    COMMAND_LINE_BAD,     // CommandLine::reason says why: reason and usage on stderr, exit EXIT_USAGE
};

struct CommandLine {
    CommandLineRequest request = COMMAND_LINE_SHOW;
    int                scene   = 0;    // 0 .. SCENE_ENTRIES - 1 with COMMAND_LINE_SCENE
    std::string        reason;         // one line, without the program's name; empty unless BAD
    bool               timings = false;   // --timings: the frame-time report at exit
};

extern const char* const VORTALUNE_USAGE;   // the "usage:" line, ends with a newline
extern const char* const VORTALUNE_HELP;    // what follows it for --help: the arguments, lines ending with newlines

// Reads argv[1 .. argc - 1]. A scene is a whole number written with digits
// only (no sign, no spaces, nothing after it) from 0 to 10; more than one
// argument besides --timings, or --timings twice, is refused.
CommandLine parseCommandLine(int argc, const char* const* argv);

// --- Display mode ----------------------------------------------------------------------
// Resets the settings to their defaults and writes the mode of the command line:
// argc < 2 is the show (1024 x 768 full-screen), otherwise the authoring tool
// (800 x 600 windowed, free camera allowed). lookRate survives. (The entry
// point passes 1 for COMMAND_LINE_SHOW and 2 for a scene, whatever --timings
// adds to the real argc.)
void applyCommandLineMode(int argc, AppSettings& settings);

// Smallest power of two not below n (1 for n <= 1).
int32_t nextPowerOfTwo(int32_t n);

// --- Frame clock ---------------------------------------------------------------------------
// Steps from the millisecond tick counter, with a frames-per-second sample once
// a second. Driven with plain tick values so it can be tested without SDL.
struct FrameClock {
    uint32_t previousElapsed = 0;   // ms since startTicks at the previous frame
    float    lastStep        = 0.0f;
    uint32_t nextFpsUpdate   = 0;   // ms; advances by exactly 1000 per sample
};

// Takes this frame's elapsed ms since startTicks and returns the step in seconds.
// Updates fps when a sample is due.
float advanceFrameClock(FrameClock& clock, uint32_t elapsed, float& fps);
