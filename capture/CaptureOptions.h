// capture/CaptureOptions.h: the capture program's command line: what to
// render (the show, a scene or a stretch of the track, at which rate, size
// and stride) and where it goes (PNG frames, a video or a contact sheet).
// Everything is checked before anything is written. No SDL, no GL.
#pragma once

#include <string>

constexpr int CAPTURE_EXIT_BAD_OPTIONS = 2;   // a refused command line
constexpr int CAPTURE_MAX_SIDE = 8192;
constexpr int CAPTURE_MAX_FPS = 1000;
constexpr int CAPTURE_MAX_EVERY = 1000000;     // --every: a stride of frames

struct CaptureOptions {
    int         fps = 60;
    int         width = 1024;
    int         height = 768;
    int         scene = 0;          // 1..10: that scene; 0: --from/--to or the whole show
    double      from = 0.0;         // track fractions, half-open [from, to)
    double      to = 1.0;
    bool        rangeGiven = false;
    int         every = 1;
    std::string out = "capture";
    unsigned    seed = 1;
    std::string video;
    std::string contactSheet;
    bool        timings = false;    // the frame-time table on stderr at the end
};

extern const char* const CAPTURE_USAGE;   // the "usage:" lines, ending with a newline
extern const char* const CAPTURE_HELP;    // what --help prints after them

// True for "--help" and "-h".
bool isCaptureHelpOption(const std::string& argument);

// Parses and checks argv[1 .. argc - 1] before anything is written. Returns
// an empty string, or the one-line message for a bad option.
std::string parseCaptureOptions(int argc, char** argv, CaptureOptions& options);
