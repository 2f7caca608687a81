// capture/Capture.h: the capture program's run: the show played on a virtual
// music clock (frame k at track fraction k / (fps x track seconds)) through
// the show's own asset loading, frame body and player update, with a fixed
// random seed, each wanted frame read back and handed to the output
// (capture/FrameSink.h). Needs a display.
#pragma once

struct CaptureOptions;

// Everything after the command line: decodes the track, opens the window,
// plays the range and writes it. Returns the program's exit code (0, or 1
// when the track, the output or the window stopped it; one line says why).
int runCapture(const CaptureOptions& options);
