// app/capture_main.cpp: the vortalune-capture program. Plays the show on a
// virtual music clock instead of the sound device and writes what it renders:
// numbered PNG frames plus the matching stretch of the track as a WAV file, an
// MP4 through ffmpeg, or a contact sheet of the ten scenes.
//
// Frame k is rendered at track fraction k / (fps x track seconds), whatever the
// machine's speed. The show's own pieces do the work: the same asset loading,
// the same frame body (renderShowFrame) and the same player update, only with
// the virtual clock's position; a fixed random seed makes two runs equal.
//
// Sections:
//   --- Options ---
//   --- Output files ---
//   --- Contact sheet ---
//   --- Capture ---
//   --- Entry ---
#include "app/Demo.h"
#include "app/FrameReport.h"
#include "app/Music.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "app/SoundOutput.h"
#include "app/VirtualClock.h"
#include "gfx/PngFile.h"
#include "path/PathPlayer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <SDL.h>
#include <SDL_opengl.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int EXIT_BAD_OPTIONS = 2;
constexpr int MAX_SIDE = 8192;
constexpr int MAX_FPS = 1000;

// --- Options ---------------------------------------------------------------------

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

const char* const USAGE =
    "usage: vortalune-capture [--fps N] [--size WxH] [--scene N | --from F --to F]\n"
    "                         [--every K] [--out DIR] [--seed S]\n"
    "                         [--video FILE.mp4] [--contact-sheet FILE.png] [--timings]\n";

const char* const HELP =
    "Plays the show on a virtual music clock and writes what it renders; run it\n"
    "from the project folder (it reads data/). Frame k sits at track fraction\n"
    "k / (fps x track seconds).\n"
    "  --fps N              frames per second of the clock, 1..1000 (60)\n"
    "  --size WxH           window size, each side 1..8192 (1024x768)\n"
    "  --scene N            only scene N (1..10)\n"
    "  --from F --to F      only the frames whose fraction is in [F, T), 0..1\n"
    "  --every K            every K-th frame (1)\n"
    "  --out DIR            PNG frames, frames.txt and audio.wav into DIR (capture)\n"
    "  --seed S             random seed, 0..2147483647 (1)\n"
    "  --video FILE.mp4     an MP4 through ffmpeg instead of PNG frames\n"
    "  --contact-sheet FILE.png  the first frame, the middle of each scene, the last\n"
    "  --timings            at the end, a table of frame times per scene on stderr;\n"
    "                       its \"write\" column is the read-back and the writing\n"
    "  -h, --help           print this and exit\n";

bool isHelpOption(const std::string& a)
{
    return a == "--help" || a == "-h";
}

// Whole numbers are written with digits only: no sign, no spaces.
bool parseInt(const char* text, long low, long high, int& value)
{
    if (!text || !(*text >= '0' && *text <= '9'))
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

bool parseFraction(const char* text, double& value)
{
    if (!text || !((*text >= '0' && *text <= '9') || *text == '.'))
        return false;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (*end != '\0' || !(v >= 0.0 && v <= 1.0))
        return false;
    value = v;
    return true;
}

bool parseSize(const char* text, int& w, int& h)
{
    if (!text)
        return false;
    const char* x = std::strchr(text, 'x');
    if (!x)
        return false;
    const std::string ws(text, x);
    return parseInt(ws.c_str(), 1, MAX_SIDE, w) && parseInt(x + 1, 1, MAX_SIDE, h);
}

// True when a file can be created in `dir` (an existing, writable folder).
bool folderWritable(const fs::path& dir)
{
    std::error_code error;
    const fs::path d = dir.empty() ? fs::path(".") : dir;
    return fs::is_directory(d, error) && access(d.c_str(), W_OK | X_OK) == 0;
}

// The output folder: an existing writable folder, or a new one whose parent is.
bool outputFolderUsable(const std::string& out)
{
    std::error_code error;
    const fs::path p(out);
    if (fs::exists(p, error))
        return folderWritable(p);
    return folderWritable(p.parent_path());
}

bool ffmpegAvailable()
{
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(':', start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string dir = rest.substr(start, end - start);
        if (!dir.empty() && access((dir + "/ffmpeg").c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// Parses and checks everything before anything is written. Returns an empty
// string, or the message for a bad option.
std::string parseOptions(int argc, char** argv, CaptureOptions& o)
{
    bool fromGiven = false, toGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needs = [&](bool ok, const char* what) {
            if (!v)
                return a + " needs a value";
            ++i;
            return ok ? std::string() : a + " " + v + ": " + what;
        };
        std::string error;
        if (a == "--fps")
            error = needs(parseInt(v, 1, MAX_FPS, o.fps), "frames per second must be 1..1000");
        else if (a == "--size")
            error = needs(parseSize(v, o.width, o.height), "the size must be WxH, each side 1..8192");
        else if (a == "--scene")
            error = needs(parseInt(v, FIRST_SCENE, LAST_SCENE, o.scene), "there is no such scene (1..10)");
        else if (a == "--from") {
            error = needs(parseFraction(v, o.from), "a track fraction 0..1 is needed");
            fromGiven = true;
        } else if (a == "--to") {
            error = needs(parseFraction(v, o.to), "a track fraction 0..1 is needed");
            toGiven = true;
        } else if (a == "--every")
            error = needs(parseInt(v, 1, 1000000, o.every), "must be 1 or more");
        else if (a == "--seed") {
            int seed = 0;
            error = needs(parseInt(v, 0, 2147483647L, seed), "must be 0..2147483647");
            o.seed = static_cast<unsigned>(seed);
        } else if (a == "--out")
            error = needs(true, "");
        else if (a == "--video")
            error = needs(true, "");
        else if (a == "--contact-sheet")
            error = needs(true, "");
        else if (a == "--timings")
            o.timings = true;
        else
            error = "unknown option " + a;
        if (!error.empty())
            return error;
        if (a == "--out" || a == "--video" || a == "--contact-sheet") {
            // An empty name would quietly mean "not given" or the working
            // folder; a leading '-' is an option swallowed as a name (and
            // ffmpeg would read it as one of its own).
            if (!*v)
                return a + ": the name is empty";
            if (*v == '-')
                return a + " " + v + ": a name must not start with '-'";
        }
        if (a == "--out") {
            o.out = v;
        } else if (a == "--video") {
            o.video = v;
        } else if (a == "--contact-sheet") {
            o.contactSheet = v;
        }
    }
    o.rangeGiven = fromGiven || toGiven;
    if (o.scene != 0 && o.rangeGiven)
        return "--scene and --from/--to exclude each other";
    if (o.rangeGiven && !(o.from < o.to))
        return "--from must come before --to";
    if (!o.contactSheet.empty() && (!o.video.empty() || o.rangeGiven || o.scene != 0))
        return "--contact-sheet takes the whole show: no --video, --scene, --from or --to with it";
    if (o.video.find('\'') != std::string::npos)
        return "--video: the file name must not contain a single quote";
    if (!o.video.empty() && !ffmpegAvailable())
        return "--video needs ffmpeg, which is not installed";
    if (!o.contactSheet.empty()) {
        if (!folderWritable(fs::path(o.contactSheet).parent_path()))
            return "cannot write the contact sheet " + o.contactSheet + ": its folder is missing or not writable";
    } else if (!o.video.empty()) {
        if (!folderWritable(fs::path(o.video).parent_path()))
            return "cannot write the video " + o.video + ": its folder is missing or not writable";
    } else if (!outputFolderUsable(o.out)) {
        return "cannot write into the output folder " + o.out;
    }
    return {};
}

// --- Output files ------------------------------------------------------------------

void putLe(std::vector<uint8_t>& b, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// 16-bit stereo PCM at SOUND_RATE.
bool writeWav(const std::string& path, const int16_t* pcm, size_t frames)
{
    const uint32_t dataBytes = static_cast<uint32_t>(frames * 4);
    std::vector<uint8_t> h;
    h.insert(h.end(), { 'R', 'I', 'F', 'F' });
    putLe(h, 36 + dataBytes, 4);
    h.insert(h.end(), { 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ' });
    putLe(h, 16, 4);
    putLe(h, 1, 2);                        // PCM
    putLe(h, SOUND_OUT_CHANNELS, 2);
    putLe(h, SOUND_RATE, 4);
    putLe(h, SOUND_RATE * 4, 4);           // bytes per second
    putLe(h, 4, 2);                        // bytes per frame
    putLe(h, 16, 2);
    h.insert(h.end(), { 'd', 'a', 't', 'a' });
    putLe(h, dataBytes, 4);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    for (size_t i = 0; ok && i < frames * 2; ++i) {
        const uint16_t s = static_cast<uint16_t>(pcm[i]);
        const uint8_t b[2] = { static_cast<uint8_t>(s & 0xFF), static_cast<uint8_t>(s >> 8) };
        ok = std::fwrite(b, 1, 2, f) == 2;
    }
    return std::fclose(f) == 0 && ok;
}

// The back buffer as RGB rows, top first.
std::vector<uint8_t> readBackBuffer(int w, int h)
{
    std::vector<uint8_t> upsideDown(static_cast<size_t>(w) * h * 3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, upsideDown.data());
    std::vector<uint8_t> rows(upsideDown.size());
    const size_t stride = static_cast<size_t>(w) * 3;
    for (int y = 0; y < h; ++y)
        std::memcpy(&rows[static_cast<size_t>(y) * stride], &upsideDown[static_cast<size_t>(h - 1 - y) * stride], stride);
    return rows;
}

// --- Contact sheet -------------------------------------------------------------------

constexpr int SHEET_COLUMNS = 4;
constexpr int SHEET_ROWS = 3;
constexpr int SHEET_CELLS = SHEET_COLUMNS * SHEET_ROWS;
constexpr int SHEET_GAP = 8;
constexpr int SHEET_LABEL_HEIGHT = 24;
constexpr int SHEET_MAX_CELL_WIDTH = 320;
constexpr uint8_t SHEET_BACKGROUND = 40;
constexpr const char* LABEL_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Cell {
    std::string          label;
    long                 frame = -1;    // -1: not captured yet
    std::vector<uint8_t> pixels;
};

class Sheet {
public:
    Sheet(int frameW, int frameH)
        : frameW_(frameW), frameH_(frameH)
    {
        cellW_ = std::min(frameW, SHEET_MAX_CELL_WIDTH);
        cellH_ = std::max(1, static_cast<int>(static_cast<long>(frameH) * cellW_ / frameW));
        width_ = SHEET_COLUMNS * cellW_ + (SHEET_COLUMNS + 1) * SHEET_GAP;
        height_ = SHEET_ROWS * (cellH_ + SHEET_LABEL_HEIGHT) + (SHEET_ROWS + 1) * SHEET_GAP;
        rgb_.assign(static_cast<size_t>(width_) * height_ * 3, SHEET_BACKGROUND);
        if (FT_Init_FreeType(&library_) == 0 && FT_New_Face(library_, LABEL_FONT, 0, &face_) == 0)
            FT_Set_Pixel_Sizes(face_, 0, 13);
        else
            std::fprintf(stderr, "vortalune-capture: cannot open %s; the labels stay empty\n", LABEL_FONT);
    }
    ~Sheet()
    {
        if (face_)
            FT_Done_Face(face_);
        if (library_)
            FT_Done_FreeType(library_);
    }
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    // Box-filters the frame into cell `index` and writes its label under it.
    void place(int index, const std::vector<uint8_t>& frame, const std::string& label)
    {
        const int x0 = SHEET_GAP + (index % SHEET_COLUMNS) * (cellW_ + SHEET_GAP);
        const int y0 = SHEET_GAP + (index / SHEET_COLUMNS) * (cellH_ + SHEET_LABEL_HEIGHT + SHEET_GAP);
        for (int y = 0; y < cellH_; ++y) {
            const int sy0 = static_cast<int>(static_cast<long>(y) * frameH_ / cellH_);
            const int sy1 = std::max(sy0 + 1, static_cast<int>(static_cast<long>(y + 1) * frameH_ / cellH_));
            for (int x = 0; x < cellW_; ++x) {
                const int sx0 = static_cast<int>(static_cast<long>(x) * frameW_ / cellW_);
                const int sx1 = std::max(sx0 + 1, static_cast<int>(static_cast<long>(x + 1) * frameW_ / cellW_));
                for (int c = 0; c < 3; ++c) {
                    long sum = 0;
                    for (int sy = sy0; sy < sy1; ++sy)
                        for (int sx = sx0; sx < sx1; ++sx)
                            sum += frame[(static_cast<size_t>(sy) * frameW_ + sx) * 3 + c];
                    const long n = static_cast<long>(sy1 - sy0) * (sx1 - sx0);
                    at(x0 + x, y0 + y)[c] = static_cast<uint8_t>(sum / n);
                }
            }
        }
        drawText(x0 + 4, y0 + cellH_ + SHEET_LABEL_HEIGHT - 7, label);
    }

    bool save(const std::string& path) const { return writePng(path.c_str(), width_, height_, 3, rgb_.data()); }

private:
    uint8_t* at(int x, int y) { return &rgb_[(static_cast<size_t>(y) * width_ + x) * 3]; }

    // White text with its baseline at `baseline`, clipped to the sheet.
    void drawText(int x, int baseline, const std::string& text)
    {
        if (!face_)
            return;
        for (const char ch : text) {
            if (FT_Load_Char(face_, static_cast<unsigned char>(ch), FT_LOAD_RENDER) != 0)
                continue;
            const FT_GlyphSlot g = face_->glyph;
            const FT_Bitmap& b = g->bitmap;
            if (b.pixel_mode == FT_PIXEL_MODE_GRAY && b.buffer && b.pitch > 0) {
                for (unsigned row = 0; row < b.rows; ++row) {
                    for (unsigned col = 0; col < b.width; ++col) {
                        const int px = x + g->bitmap_left + static_cast<int>(col);
                        const int py = baseline - g->bitmap_top + static_cast<int>(row);
                        if (px < 0 || py < 0 || px >= width_ || py >= height_)
                            continue;
                        const int a = b.buffer[row * static_cast<unsigned>(b.pitch) + col];
                        uint8_t* p = at(px, py);
                        for (int c = 0; c < 3; ++c)
                            p[c] = static_cast<uint8_t>((p[c] * (255 - a) + 255 * a) / 255);
                    }
                }
            }
            x += static_cast<int>(g->advance.x >> 6);
        }
    }

    int frameW_, frameH_;
    int cellW_ = 0, cellH_ = 0, width_ = 0, height_ = 0;
    std::vector<uint8_t> rgb_;
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

// --- Capture -------------------------------------------------------------------------

// The progress line on stderr, rewritten in place. Each count is shown once:
// frames rendered without finishing one (the contact sheet's run-out, the
// frames skipped by --every) print nothing, so the line stops once the last
// frame is done.
class Progress {
public:
    explicit Progress(long total) : total_(total), start_(std::chrono::steady_clock::now()) {}
    void show(long done)
    {
        if (done == shown_)
            return;
        shown_ = done;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double rate = seconds > 0.0 ? done / seconds : 0.0;
        const long left = rate > 0.0 ? static_cast<long>((total_ - done) / rate) : 0;
        std::fprintf(stderr, "\rframes %ld / %ld  %.1f fps  %ld:%02ld left ", done, total_, rate, left / 60, left % 60);
        std::fflush(stderr);
    }
    void finish() { std::fputc('\n', stderr); }

private:
    long total_;
    long shown_ = -1;
    std::chrono::steady_clock::time_point start_;
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

// The scene whose stretch of the track holds the fraction f.
int sceneAt(double f)
{
    int scene = FIRST_SCENE;
    for (int s = FIRST_SCENE; s <= LAST_SCENE; ++s)
        if (startPositionSum(s, pathPlayer.paths.pathDurations) <= static_cast<float>(f))
            scene = s;
    return scene;
}

int run(const CaptureOptions& o)
{
    // The track first: its length sets the clock, its samples the WAV file.
    std::vector<int16_t> pcm;
    std::string error;
    std::string note;
    if (!decodeOggFile(MUSIC_TRACK_FILE, pcm, error, &note)) {
        std::fprintf(stderr, "vortalune-capture: the music track %s could not be loaded (%s)\n", MUSIC_TRACK_FILE,
                     error.c_str());
        return 1;
    }
    if (!note.empty())
        std::fprintf(stderr, "vortalune-capture: the music track %s is damaged: %s.\n", MUSIC_TRACK_FILE, note.c_str());
    const size_t trackFrames = pcm.size() / SOUND_OUT_CHANNELS;
    if (trackFrames == 0) {
        std::fprintf(stderr, "vortalune-capture: the music track %s is empty\n", MUSIC_TRACK_FILE);
        return 1;
    }
    const std::string tooShort =
        trackTooShort(static_cast<double>(trackFrames) / SOUND_RATE, pathPlayer.paths.pathDurations);
    if (!tooShort.empty()) {
        std::fprintf(stderr, "vortalune-capture: the music track %s %s\n", MUSIC_TRACK_FILE, tooShort.c_str());
        return 1;
    }

    const bool sheetMode = !o.contactSheet.empty();
    const bool videoMode = !o.video.empty();
    const float* durations = pathPlayer.paths.pathDurations;
    double from = o.from, to = o.to;
    if (o.scene != 0) {
        from = startPositionSum(o.scene, pathPlayer.paths.pathDurations);
        to = o.scene == LAST_SCENE ? 1.0 : startPositionSum(o.scene + 1, pathPlayer.paths.pathDurations);
    } else if (!o.rangeGiven) {
        from = 0.0;
        to = 1.0;
    }

    VirtualClock clock;
    clock.framesInTrack = o.fps * (static_cast<double>(trackFrames) / SOUND_RATE);
    const long firstFrame = clock.firstAtOrAfter(from);
    const long endFrame = clock.firstAtOrAfter(to);   // exclusive
    const int startScene = sheetMode ? FIRST_SCENE : sceneAt(from);
    const long prerollFrame = clock.firstAtOrAfter(startPositionSum(startScene, pathPlayer.paths.pathDurations));

    // The contact sheet's cells: the first frame, the middle of each scene, the last.
    std::vector<Cell> cells(SHEET_CELLS);
    if (sheetMode) {
        cells[0].label = "1 start";
        cells[0].frame = 0;
        for (int s = FIRST_SCENE; s <= LAST_SCENE; ++s) {
            const double middle = startPositionSum(s, pathPlayer.paths.pathDurations) + durations[s] * 0.5;
            cells[s].label = std::to_string(s) + " middle";
            cells[s].frame = clock.firstAtOrAfter(middle);
        }
        cells[SHEET_CELLS - 1].label = "10 end";
    }

    // The show's set-up, as the entry point does it, on the chosen size.
    appSettings.screenWidth = o.width;
    appSettings.screenHeight = o.height;
    appSettings.centerX = o.width / 2;
    appSettings.centerY = o.height / 2;
    appSettings.inverseWidth = 1.0f / static_cast<float>(o.width);
    appSettings.fullscreen = false;
    appSettings.freeRoamAllowed = false;
    std::srand(o.seed);
    quitRequested = false;
    renderFlags = (renderFlags & ~0xFF) | RENDER_FLAGS_START_LOW_BYTE;
    framesPerSecond = static_cast<float>(o.fps);   // the caption shows the capture's rate

    openWindow(false);
    setupGlState();
    loadAssets(false);
    musicClock.lengthSamples = static_cast<float>(trackFrames);
    startPath(pathPlayer, startScene);

    // Output.
    std::error_code fsError;
    FILE* video = nullptr;
    FILE* manifest = nullptr;
    const size_t wavFrom = std::min(trackFrames, static_cast<size_t>(std::floor(from * trackFrames)));
    const size_t wavTo = std::min(trackFrames, static_cast<size_t>(std::floor(to * trackFrames)));
    std::string wavPath;
    if (!sheetMode) {
        if (videoMode) {
            wavPath = o.video + ".wav";
        } else {
            fs::create_directories(o.out, fsError);
            wavPath = (fs::path(o.out) / "audio.wav").string();
            manifest = std::fopen((fs::path(o.out) / "frames.txt").c_str(), "w");
            if (!manifest) {
                std::fprintf(stderr, "vortalune-capture: cannot write into %s\n", o.out.c_str());
                return 1;
            }
        }
        if (!writeWav(wavPath, pcm.data() + wavFrom * 2, wavTo - wavFrom)) {
            std::fprintf(stderr, "vortalune-capture: cannot write %s\n", wavPath.c_str());
            return 1;
        }
        if (videoMode) {
            char command[2048];
            std::snprintf(command, sizeof command,
                          "ffmpeg -y -loglevel error -f rawvideo -pixel_format rgb24 -video_size %dx%d "
                          "-framerate %g -i - -i '%s' -vf 'pad=ceil(iw/2)*2:ceil(ih/2)*2' -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest '%s'",
                          o.width, o.height, static_cast<double>(o.fps) / o.every, wavPath.c_str(), o.video.c_str());
            std::signal(SIGPIPE, SIG_IGN);   // a failing ffmpeg shows as a failed write, not a kill
            video = popen(command, "w");
            if (!video) {
                std::fprintf(stderr, "vortalune-capture: cannot start ffmpeg\n");
                return 1;
            }
        }
    }

    const long tailStart = std::max(firstFrame, endFrame - std::max(3L, static_cast<long>(o.fps / 4)));
    const long total = sheetMode ? SHEET_CELLS : (endFrame - firstFrame + o.every - 1) / o.every;
    Progress progress(total);
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
    long written = 0;
    bool failed = false;
    std::vector<uint8_t> lastFrame;
    long lastFrameIndex = -1;
    for (long k = prerollFrame; k < endFrame && !failed; ++k) {
        if (timing && k >= firstFrame && frameStart < 0)
            frameStart = frameReportNow();
        // The player's update at this frame's fraction, then the same frame
        // body as the show: the render shows what the update prepared.
        int64_t start = partStart();
        updatePlayer(pathPlayer, clock.fraction(k));
        partEnd(FRAME_UPDATE, start, false);
        if (!pathPlayer.playing)
            break;   // the show is over: the show's loop ends here too
        if (k < firstFrame)
            continue;

        bool wanted = false;
        if (sheetMode) {
            for (const Cell& c : cells)
                wanted = wanted || c.frame == k;
            wanted = wanted || k >= tailStart;
        } else {
            wanted = (k - firstFrame) % o.every == 0;
        }
        if (!wanted)
            continue;

        start = partStart();
        renderShowFrame();
        partEnd(FRAME_DRAW, start, true);
        start = partStart();
        std::vector<uint8_t> frame = readBackBuffer(o.width, o.height);
        SDL_GL_SwapBuffers();
        partEnd(FRAME_SWAP, start, true);
        if (windowClosed()) {
            std::fprintf(stderr, "\nvortalune-capture: stopped at frame %ld\n", k);
            failed = true;
        }

        if (sheetMode) {
            for (Cell& c : cells) {
                if (c.frame == k) {
                    c.pixels = frame;
                    ++written;
                }
            }
            if (k >= tailStart) {
                // Candidates for the last cell: the latest one wins, and the
                // cell counts as done once the run-out is over.
                lastFrame = std::move(frame);
                lastFrameIndex = k;
            }
        } else if (videoMode) {
            start = partStart();
            if (std::fwrite(frame.data(), 1, frame.size(), video) != frame.size()) {
                std::fprintf(stderr, "\nvortalune-capture: ffmpeg stopped taking frames\n");
                failed = true;
            }
            partEnd(FRAME_SWAP, start, false);
            ++written;
        } else {
            start = partStart();
            char name[64];
            std::snprintf(name, sizeof name, "frame_%06ld.png", k);
            const std::string path = (fs::path(o.out) / name).string();
            if (!writePng(path.c_str(), o.width, o.height, 3, frame.data())) {
                std::fprintf(stderr, "\nvortalune-capture: cannot write %s\n", path.c_str());
                failed = true;
            }
            std::fprintf(manifest, "%s %ld %.9g %d\n", name, k, static_cast<double>(clock.fraction(k)),
                         pathPlayer.pathIndex);
            partEnd(FRAME_SWAP, start, false);
            ++written;
        }
        progress.show(written);
        if (timing) {
            // The row: the scene this frame shows (the one frames.txt names).
            const int64_t end = frameReportNow();
            report.addFrame(FrameRowKey{ pathPlayer.pathIndex, false }, end - frameStart, parts[FRAME_UPDATE],
                            parts[FRAME_DRAW], parts[FRAME_SWAP]);
            frameStart = end;
            std::fill(std::begin(parts), std::end(parts), 0);
        }
    }
    if (sheetMode && lastFrameIndex >= 0) {
        ++written;   // the last cell
        progress.show(written);
    }
    progress.finish();
    if (timing)
        std::fputs(report.format("vortalune-capture", "write").c_str(), stderr);

    if (manifest)
        std::fclose(manifest);
    if (video) {
        const int status = pclose(video);
        std::error_code ignored;
        fs::remove(wavPath, ignored);
        if (status != 0) {
            std::fprintf(stderr, "vortalune-capture: ffmpeg failed (status %d)\n", status);
            return 1;
        }
    }
    if (sheetMode) {
        if (lastFrameIndex >= 0) {
            cells[SHEET_CELLS - 1].frame = lastFrameIndex;
            cells[SHEET_CELLS - 1].pixels = std::move(lastFrame);
        }
        Sheet sheet(o.width, o.height);
        for (int i = 0; i < SHEET_CELLS; ++i) {
            const Cell& c = cells[static_cast<size_t>(i)];
            if (c.pixels.empty())
                continue;   // the show ended before this frame
            char label[96];
            std::snprintf(label, sizeof label, "%s  f %.3f", c.label.c_str(), static_cast<double>(clock.fraction(c.frame)));
            sheet.place(i, c.pixels, label);
        }
        if (!sheet.save(o.contactSheet)) {
            std::fprintf(stderr, "vortalune-capture: cannot write %s\n", o.contactSheet.c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "vortalune-capture: %ld frames (%d fps, track %.2f s)\n", written, o.fps,
                 static_cast<double>(trackFrames) / SOUND_RATE);
    return failed ? 1 : 0;
}

} // namespace

// --- Entry ---------------------------------------------------------------------------

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (isHelpOption(argv[i])) {
            std::printf("%s%s", USAGE, HELP);
            return 0;
        }
    }
    CaptureOptions options;
    const std::string error = parseOptions(argc, argv, options);
    if (!error.empty()) {
        std::fprintf(stderr, "vortalune-capture: %s\n%s", error.c_str(), USAGE);
        return EXIT_BAD_OPTIONS;
    }
    printStartupMessages();   // what reading settings.ini and the path files found
    return run(options);
}
