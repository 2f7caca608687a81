// capture/CaptureOptions.cpp: the capture program's options, parsed and checked.
#include "capture/CaptureOptions.h"

#include "base/Show.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

const char* const CAPTURE_USAGE =
    "usage: vortalune-capture [--fps N] [--size WxH] [--scene N | --from F --to F]\n"
    "                         [--every K] [--out DIR] [--seed S]\n"
    "                         [--video FILE.mp4] [--contact-sheet FILE.png] [--timings]\n";

const char* const CAPTURE_HELP =
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

namespace {

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
    return parseInt(ws.c_str(), 1, CAPTURE_MAX_SIDE, w) && parseInt(x + 1, 1, CAPTURE_MAX_SIDE, h);
}

// Why no file can be created in `dir`, or "" when one can (an existing,
// writable folder; an empty name is the working folder).
std::string folderProblem(const fs::path& dir)
{
    std::error_code error;
    const fs::path d = dir.empty() ? fs::path(".") : dir;
    if (!fs::exists(d, error))
        return "is missing";
    if (!fs::is_directory(d, error))
        return "is not a folder";
    if (access(d.c_str(), W_OK | X_OK) != 0)
        return "is not writable";
    return {};
}

// The reason a file named `file` cannot be written, or "".
std::string fileFolderProblem(const std::string& file)
{
    const fs::path folder = fs::path(file).parent_path();
    const std::string why = folderProblem(folder);
    return why.empty() ? why : "its folder " + (folder.empty() ? std::string(".") : folder.string()) + " " + why;
}

// The output folder: an existing writable folder, or a new one whose parent is.
std::string outputFolderProblem(const std::string& out)
{
    std::error_code error;
    if (fs::exists(fs::path(out), error)) {
        const std::string why = folderProblem(out);
        return why.empty() ? why : "it " + why;
    }
    return fileFolderProblem(out);
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

} // namespace

bool isCaptureHelpOption(const std::string& a)
{
    return a == "--help" || a == "-h";
}

std::string parseCaptureOptions(int argc, char** argv, CaptureOptions& o)
{
    bool fromGiven = false, toGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needs = [&](bool ok, const std::string& what) {
            if (!v)
                return a + " needs a value";
            ++i;
            return ok ? std::string() : a + " " + v + ": " + what;
        };
        std::string error;
        if (a == "--fps")
            error = needs(parseInt(v, 1, CAPTURE_MAX_FPS, o.fps), "frames per second must be 1..1000");
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
            error = needs(parseInt(v, 1, CAPTURE_MAX_EVERY, o.every),
                          "must be a whole number 1.." + std::to_string(CAPTURE_MAX_EVERY));
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
        if (const std::string why = fileFolderProblem(o.contactSheet); !why.empty())
            return "cannot write the contact sheet " + o.contactSheet + ": " + why;
    } else if (!o.video.empty()) {
        if (const std::string why = fileFolderProblem(o.video); !why.empty())
            return "cannot write the video " + o.video + ": " + why;
    } else if (const std::string why = outputFolderProblem(o.out); !why.empty()) {
        return "cannot write into the output folder " + o.out + ": " + why;
    }
    return {};
}
