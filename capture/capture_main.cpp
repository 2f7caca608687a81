// capture/capture_main.cpp: the vortalune-capture program. Plays the show on a
// virtual music clock and writes what it renders (capture/Capture.h).
#include "base/Report.h"
#include "capture/Capture.h"
#include "capture/CaptureOptions.h"
#include "path/PathPlayer.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (isCaptureHelpOption(argv[i])) {
            std::printf("%s%s", CAPTURE_USAGE, CAPTURE_HELP);
            return 0;
        }
    }
    CaptureOptions options;
    const std::string error = parseCaptureOptions(argc, argv, options);
    if (!error.empty()) {
        std::fprintf(stderr, "vortalune-capture: %s\n%s", error.c_str(), CAPTURE_USAGE);
        return CAPTURE_EXIT_BAD_OPTIONS;
    }
    printStartupMessages();   // what reading settings.ini and the path files found
    repairInterruptedSaves(pathPlayer.paths);
    return runCapture(options);
}
