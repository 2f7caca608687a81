// capture/Capture.cpp: the capture's run loop: track, window, range, frames.
#include "capture/Capture.h"

#include "app/Demo.h"
#include "app/FrameReport.h"
#include "app/Music.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "app/ShowRun.h"
#include "app/Window.h"
#include "base/Report.h"
#include "base/Show.h"
#include "base/VirtualClock.h"
#include "capture/CaptureOptions.h"
#include "capture/FrameSink.h"
#include "gfx/Screenshot.h"
#include "gl/GL.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"
#include "sound/OggDecode.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The progress on stderr. On a terminal, one line rewritten in place as each
// count is done (frames rendered without finishing one, the contact sheet's
// run-out and the frames skipped by --every, print nothing, so the line
// stops once the last frame is done) and a newline at the end. Into a file
// or a pipe, whole lines: one every PROGRESS_LINE_SECONDS or every tenth of
// the total, whichever comes first, and the last count.
class Progress {
public:
    static constexpr double PROGRESS_LINE_SECONDS = 5.0;

    explicit Progress(long total)
        : total_(total), terminal_(isatty(fileno(stderr)) == 1), start_(std::chrono::steady_clock::now()),
          lastLine_(start_)
    {
    }
    void show(long done)
    {
        if (done == shown_)
            return;
        shown_ = done;
        const auto now = std::chrono::steady_clock::now();
        if (!terminal_) {
            const long tenth = std::max(1L, (total_ + 9) / 10);
            const bool due = std::chrono::duration<double>(now - lastLine_).count() >= PROGRESS_LINE_SECONDS ||
                             done / tenth > printed_ / tenth || done >= total_;
            if (!due)
                return;
            lastLine_ = now;
            printed_ = done;
        }
        reportText(line(done, now).c_str());
    }
    void finish()
    {
        if (terminal_)
            reportText("\n");
        else if (shown_ >= 0 && printed_ != shown_)
            reportText(line(shown_, std::chrono::steady_clock::now()).c_str());
    }

private:
    std::string line(long done, std::chrono::steady_clock::time_point now) const
    {
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0.0 ? done / seconds : 0.0;
        const long left = rate > 0.0 ? static_cast<long>((total_ - done) / rate) : 0;
        char text[160];
        std::snprintf(text, sizeof text, "%sframes %ld / %ld  %.1f fps  %ld:%02ld left%s", terminal_ ? "\r" : "",
                      done, total_, rate, left / 60, left % 60, terminal_ ? " " : "\n");
        return text;
    }

    long total_;
    bool terminal_;
    long shown_ = -1;
    long printed_ = 0;
    std::chrono::steady_clock::time_point start_, lastLine_;
};

bool windowClosed()
{
    SDL_Event event;
    bool closed = false;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT || (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE))
            closed = true;
    return closed;
}

// The decoded track, or false with the line said.
bool loadCaptureTrack(std::vector<int16_t>& pcm)
{
    std::string error;
    std::string note;
    if (!decodeOggFile(MUSIC_TRACK_FILE, pcm, error, &note)) {
        reportLine("vortalune-capture: the music track %s could not be loaded (%s)\n", MUSIC_TRACK_FILE,
                   error.c_str());
        return false;
    }
    if (!note.empty())
        reportLine("vortalune-capture: the music track %s is damaged: %s.\n", MUSIC_TRACK_FILE, note.c_str());
    const size_t trackFrames = pcm.size() / SOUND_OUT_CHANNELS;
    if (trackFrames == 0) {
        reportLine("vortalune-capture: the music track %s is empty\n", MUSIC_TRACK_FILE);
        return false;
    }
    const std::string tooShort =
        trackTooShort(static_cast<double>(trackFrames) / SOUND_RATE, pathPlayer.paths.pathDurations);
    if (!tooShort.empty()) {
        reportLine("vortalune-capture: the music track %s %s\n", MUSIC_TRACK_FILE, tooShort.c_str());
        return false;
    }
    return true;
}

// The show's set-up, as the entry point does it, on the chosen size, with
// the window open and the first scene started.
void startShow(const CaptureOptions& o, size_t trackFrames)
{
    appSettings.screenWidth = o.width;
    appSettings.screenHeight = o.height;
    appSettings.centerX = o.width / 2;
    appSettings.centerY = o.height / 2;
    appSettings.inverseWidth = 1.0f / static_cast<float>(o.width);
    appSettings.fullscreen = false;
    appSettings.freeRoamAllowed = false;
    pathPlayer.oneScene = false;
    quitRequested = false;
    renderFlags = (renderFlags & ~0xFF) | RENDER_FLAGS_START_LOW_BYTE;
    framesPerSecond = static_cast<float>(o.fps);   // the caption shows the capture's rate

    openWindow(false);
    setupGlState();
    loadAssets(false);
    musicClock.lengthSamples = static_cast<float>(trackFrames);
}

} // namespace

int runCapture(const CaptureOptions& o)
{
    // The track first: its length sets the clock, its samples the WAV file.
    std::vector<int16_t> pcm;
    if (!loadCaptureTrack(pcm))
        return 1;
    const size_t trackFrames = pcm.size() / SOUND_OUT_CHANNELS;

    const bool sheetMode = !o.contactSheet.empty();
    CaptureFrames frames;
    frames.from = o.from;
    frames.to = o.to;
    if (o.scene != 0) {
        frames.from = startPositionSum(o.scene, pathPlayer.paths.pathDurations);
        frames.to = frames.from + sceneLength(o.scene, pathPlayer.paths.pathDurations, float(frames.from));
    } else if (!o.rangeGiven) {
        frames.from = 0.0;
        frames.to = 1.0;
    }
    frames.clock.framesInTrack = o.fps * (static_cast<double>(trackFrames) / SOUND_RATE);
    frames.first = frames.clock.firstAtOrAfter(frames.from);
    frames.end = frames.clock.firstAtOrAfter(frames.to);
    if (frames.end <= frames.first) {
        reportLine("vortalune-capture: --from %.9g --to %.9g holds no frame at %d fps (frames sit 1/%.0f of the "
                   "track apart)\n%s",
                   frames.from, frames.to, o.fps, frames.clock.framesInTrack, CAPTURE_USAGE);
        return CAPTURE_EXIT_BAD_OPTIONS;
    }
    const VirtualClock& clock = frames.clock;
    const int startScene = sheetMode ? FIRST_SCENE : sceneAtFraction(frames.from, pathPlayer.paths.pathDurations);
    const long prerollFrame = clock.firstAtOrAfter(startPositionSum(startScene, pathPlayer.paths.pathDurations));
    const std::unique_ptr<FrameSink> sink = makeFrameSink(o, frames, pcm, pathPlayer.paths.pathDurations);

    startShow(o, trackFrames);
    // The show from the start of the scene that holds the range's first
    // frame: the frames before the range only advance it.
    ShowRun run;
    run.begin(pathPlayer, camera, takeShowSnapshot(pathPlayer, camera, -1), clock, startScene, o.seed);
    if (!sink->open())
        return 1;

    Progress progress(sink->total());
    // --timings: each rendered frame lasts from the end of the previous one
    // (from the first frame of the range for the first) to its own end, so it
    // also carries the player updates of the frames skipped before it. The
    // catch-up before the range (the preroll) is not counted.
    FrameReport report;
    FrameReport* const timing = o.timings ? &report : nullptr;
    int64_t frameStart = -1;
    int64_t parts[FRAME_PARTS] = {};
    auto partStart = [&] { return timing ? frameReportNow() : 0; };
    auto partEnd = [&](FramePart part, int64_t start, bool finishGl) {
        if (!timing || frameStart < 0)
            return;
        if (finishGl)
            glFinish();
        parts[part] += frameReportNow() - start;
    };
    bool failed = false;
    // The catch-up before the range (a range that starts inside a scene) is
    // played first, untimed.
    const bool reached = frames.first <= prerollFrame || run.playTo(frames.first - 1, false) == frames.first - 1;
    for (long k = frames.first; reached && k < frames.end && !failed; ++k) {
        if (!sink->wants(k))
            continue;
        if (timing && frameStart < 0)
            frameStart = frameReportNow();
        // The player's updates up to this frame's fraction (the mesh built
        // for this frame alone: it depends on the sources only), then the
        // same frame body as the show: the render shows what the update prepared.
        int64_t start = partStart();
        const bool ran = run.playTo(k) == k && pathPlayer.playing;
        partEnd(FRAME_UPDATE, start, false);
        if (!ran)
            break;   // the show is over: the show's loop ends here too

        start = partStart();
        renderShowFrame();
        partEnd(FRAME_DRAW, start, true);
        start = partStart();
        std::vector<uint8_t> frame = readBackBufferRows(o.width, o.height);
        swapWindowBuffers();
        partEnd(FRAME_SWAP, start, true);
        if (windowClosed()) {
            reportLine("\nvortalune-capture: stopped at frame %ld\n", k);
            failed = true;
        }
        start = partStart();
        if (!sink->take(k, pathPlayer.pathIndex, frame))
            failed = true;
        partEnd(FRAME_SWAP, start, false);
        progress.show(sink->done());
        if (timing) {
            // The row: the scene this frame shows (the one frames.txt names).
            const int64_t end = frameReportNow();
            report.addFrame(FrameRowKey{ pathPlayer.pathIndex, false }, end - frameStart, parts[FRAME_UPDATE],
                            parts[FRAME_DRAW], parts[FRAME_SWAP]);
            frameStart = end;
            std::fill(std::begin(parts), std::end(parts), 0);
        }
    }
    sink->rangeEnded();
    const bool closed = sink->close();   // the frames still on their way are written first
    progress.show(sink->done());
    progress.finish();
    if (timing)
        reportText(report.format("vortalune-capture", "write").c_str());
    if (!closed)
        return 1;
    reportLine("vortalune-capture: %ld frames (%d fps, track %.2f s)\n", sink->done(), o.fps,
               static_cast<double>(trackFrames) / SOUND_RATE);
    return failed ? 1 : 0;
}
