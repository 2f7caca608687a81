// tests/damaged_assets_e2e_test.cpp: the real program started, as a user
// would, in a folder whose assets are broken: each broken file gives one line
// on stderr that names it, libpng prints nothing of its own, and the show
// still runs and ends by itself. Needs a display (Xvfb) and SDL's dummy audio.
#include "PngFixture.h"
#include "TestSupport.h"

#include "tools/song/Song.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lines of `text` that contain `needle`, and `also` when given.
size_t linesNaming(const std::string& text, const std::string& needle, const std::string& also = "")
{
    size_t count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.find(needle) != std::string::npos && line.find(also) != std::string::npos)
            ++count;
        start = end + 1;
    }
    return count;
}

std::vector<uint8_t> rgbPattern(int width, int height)
{
    std::vector<uint8_t> pixels(size_t(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(31 + i * 7);
    return pixels;
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The show in `dir`, no arguments: without a track it ends at once.
ProcessResult runShow(const TempDir& dir)
{
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.timeoutSeconds = 90.0;
    return runProcess({ VORTALUNE_BINARY }, options);
}

// `seconds` of quiet noise as the track: noise fills many pages, so a few
// flipped bytes spoil a few of them, not all.
void writeTrack(const fs::path& path, double seconds)
{
    std::vector<int16_t> pcm(size_t(seconds * 44100) * 2);
    uint32_t state = 7u;
    for (int16_t& sample : pcm) {
        state = state * 1664525u + 1013904223u;
        sample = int16_t(int32_t(state >> 16) % 3000);
    }
    std::string error;
    ASSERT_TRUE(song::writeOggVorbis(path.string(), pcm.data(), pcm.size() / 2, 2, 44100, 0.4f, error)) << error;
}

} // namespace

TEST(DamagedAssetsEndToEnd, EveryBrokenImageModelAndSettingsFileGivesOneLine)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    TempDir dir;
    const fs::path data = fs::path(dir.path()) / "data";
    fs::create_directories(data);

    // Good files: no line for them.
    writeFixturePng((data / "font.png").string(), 16, 16, 3, rgbPattern(16, 16));
    writeFixturePalettedPng((data / "font_mask.png").string(), 16, 16, std::vector<uint8_t>(256, 3));
    writeFixturePng((data / "sprite01_mask.png").string(), 8, 8, 3, rgbPattern(8, 8));
    writeFixturePng((data / "ovrin_tex.png").string(), 4, 4, 3, rgbPattern(4, 4));
    // Broken ones.
    writeBlankPng((data / "vortalune.png").string(), 16000, 16000);   // 3 MB file, 768 MB of pixels
    writeFixturePng((data / "credits.png").string(), 32, 32, 3, rgbPattern(32, 32));
    std::vector<uint8_t> credits = readFileBytes((data / "credits.png").string());
    credits[credits.size() - 12 - 1] ^= 0x5A;   // the last IDAT's checksum (IEND is the last 12 bytes)
    writeBytes(data / "credits.png", credits);
    writeFixturePng((data / "blue_cross.png").string(), 32, 32, 3, rgbPattern(32, 32));
    const std::vector<uint8_t> sky = readFileBytes((data / "blue_cross.png").string());
    writeBytes(data / "blue_cross.png", std::vector<uint8_t>(sky.begin(), sky.begin() + long(sky.size() / 2)));
    fs::create_directories(data / "bumpy.png");
    fs::create_directories(data / "ovrin.mdl");
    std::ofstream(fs::path(dir.path()) / "settings.ini") << "one\n";
    // data/pastel.png and data/vortalune.ogg are missing.

    const ProcessResult r = runShow(dir);
    ASSERT_FALSE(r.timedOut) << r.errorOutput;
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    const std::string& err = r.errorOutput;
    struct Expected {
        const char* file;
        const char* reason;
    };
    const Expected broken[] = {
        { "data/vortalune.png", "16000 x 16000 pixels, over the limit" },
        { "data/credits.png", "IDAT: CRC error" },
        { "data/blue_cross.png", "ends too early" },
        { "data/bumpy.png", "not a regular file" },
        { "data/pastel.png", "No such file" },
        { "data/ovrin.mdl", "a directory" },
        { "data/vortalune.ogg", "No such file" },
        { "settings.ini", "8 of its 8 values" },
    };
    for (const Expected& e : broken) {
        EXPECT_EQ(linesNaming(err, e.file), 1u) << e.file << "\n" << err;
        EXPECT_EQ(linesNaming(err, e.file, e.reason), 1u) << e.reason << "\n" << err;
    }
    for (const char* good : { "font.png", "font_mask.png", "sprite01_mask.png", "ovrin_tex.png" })
        EXPECT_EQ(linesNaming(err, good), 0u) << good << "\n" << err;
    EXPECT_EQ(err.find("libpng"), std::string::npos) << err;
}

// Named pipes in place of every file the show and the capture read: each is
// named once as not a regular file, and nothing waits for a writer.
TEST(DamagedAssetsEndToEnd, NamedPipesInPlaceOfItsFilesAreNamedAndNeverWaitedOn)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    const fs::path data = fs::path(dir.path()) / "data";
    fs::create_directories(data);
    // The font's colour image and the character's skin are good, so that
    // their mask and model are read too.
    writeFixturePng((data / "font.png").string(), 16, 16, 3, rgbPattern(16, 16));
    writeFixturePng((data / "ovrin_tex.png").string(), 4, 4, 3, rgbPattern(4, 4));
    const std::vector<std::string> files = {
        "data/credits.png",       "data/blue_cross.png", "data/pastel.png",     "data/bumpy.png",
        "data/vortalune.png",     "data/sprite01_mask.png", "data/font_mask.png", "data/ovrin.mdl",
        "data/vortalune.ogg",     "settings.ini",
    };
    for (const std::string& name : files)
        ASSERT_EQ(mkfifo((fs::path(dir.path()) / name).c_str(), 0644), 0) << name;
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.timeoutSeconds = 40.0;
    const ProcessResult show = runProcess({ VORTALUNE_BINARY }, options);
    ASSERT_FALSE(show.timedOut) << show.errorOutput;
    EXPECT_EQ(show.exitCode, 0) << show.errorOutput;
    for (const std::string& name : files)
        EXPECT_EQ(linesNaming(show.errorOutput, name, "not a regular file"), 1u) << name << "\n" << show.errorOutput;

    const ProcessResult capture = runProcess({ VORTALUNE_CAPTURE_BINARY, "--scene", "4", "--out", "c" }, options);
    ASSERT_FALSE(capture.timedOut) << capture.errorOutput;
    EXPECT_EQ(capture.exitCode, 1) << capture.errorOutput;
    EXPECT_EQ(linesNaming(capture.errorOutput, "data/vortalune.ogg", "not a regular file"), 1u) << capture.errorOutput;
}

// A save interrupted after its commit: --help changes no file, the next
// real start finishes it and says so.
TEST(DamagedAssetsEndToEnd, AnInterruptedSaveIsFinishedByTheNextStartNotByHelp)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    const fs::path data = fs::path(dir.path()) / "data";
    fs::create_directories(data);
    const std::string pos = (data / "pos_path3.txt").string(), rot = (data / "rot_path3.txt").string();
    writeFile(pos, "1\n1.000000 2.000000 3.000000\n");
    writeFile(rot, "1\n0.000000 0.000000 0.000000\n");
    writeFile(rot + ".999999.tmp", "2\n0.000000 0.000000 0.000000\n0.000000 9.000000 0.000000\n");
    writeFile(pos, "2\n1.000000 2.000000 3.000000\n4.000000 5.000000 6.000000\n");   // renamed already
    writeFile(pos + ".commit", "vortalune pair commit\n" + pos + ".999999.tmp\n" + pos + "\n" + rot + ".999999.tmp\n" +
                                   rot + "\n");
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    const ProcessResult help = runProcess({ VORTALUNE_BINARY, "--help" }, options);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.errorOutput, "");
    EXPECT_TRUE(fs::exists(pos + ".commit")) << "--help leaves the files alone";
    EXPECT_EQ(readFile(rot).substr(0, 2), "1\n");

    const ProcessResult r = runShow(dir);
    EXPECT_EQ(linesNaming(r.errorOutput, "pos_path3.txt.commit", "finished an interrupted save of scene 3"), 1u)
        << r.errorOutput;
    EXPECT_FALSE(fs::exists(pos + ".commit"));
    EXPECT_EQ(readFile(rot).substr(0, 2), "2\n");
}

TEST(DamagedAssetsEndToEnd, SparseThreeGigabyteModelIsRefusedFromItsSize)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    const fs::path data = fs::path(dir.path()) / "data";
    fs::create_directories(data);
    writeFixturePng((data / "ovrin_tex.png").string(), 4, 4, 3, rgbPattern(4, 4));
    ASSERT_EQ(runShell("truncate -s 3G '" + (data / "ovrin.mdl").string() + "'"), 0);

    const ProcessResult r = runShow(dir);
    ASSERT_FALSE(r.timedOut) << r.errorOutput;
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    EXPECT_EQ(linesNaming(r.errorOutput, "The character model data/ovrin.mdl could not be loaded (3072.0 MiB, over "
                                         "the limit of 16.0 MiB): the character is left out."),
              1u)
        << r.errorOutput;
}

TEST(DamagedAssetsEndToEnd, DamagedTracksGiveOneLineAndTheShowStillRunsToItsEnd)
{
    ASSERT_TRUE(haveDisplay());
    struct Case {
        const char* what;
        const char* line;   // part of the one line about the track
    };
    const Case cases[] = {
        { "flipped", "The music track data/vortalune.ogg is damaged: " },
        { "junk", "The music track data/vortalune.ogg is damaged: 5.0 MB after the end of its stream are ignored" },
        { "headers", "The music track data/vortalune.ogg could not be loaded (the file is cut inside its Vorbis" },
        { "silent", "The music track data/vortalune.ogg could not be loaded (it holds no audio)" },
    };
    for (const Case& c : cases) {
        TempDir dir;
        const fs::path data = fs::path(dir.path()) / "data";
        fs::create_directories(data);
        const fs::path track = data / "vortalune.ogg";
        const std::string what = c.what;
        if (what == "silent") {
            std::string error;
            ASSERT_TRUE(song::writeOggVorbis(track.string(), nullptr, 0, 2, 44100, 0.4f, error)) << error;
        } else {
            writeTrack(track, 3.0);
            std::vector<uint8_t> bytes = readFileBytes(track.string());
            if (what == "flipped") {
                for (size_t k = 0; k < 4; ++k)
                    bytes[bytes.size() / 3 + k * (bytes.size() / 12)] ^= 0xFF;
            } else if (what == "junk") {
                for (size_t k = 0; k < 5000000; ++k)
                    bytes.push_back(uint8_t(k * 2654435761u >> 13));
            } else {
                bytes.resize(100);
            }
            writeBytes(track, bytes);
        }
        const ProcessResult r = runShow(dir);
        ASSERT_FALSE(r.timedOut) << c.what << "\n" << r.errorOutput;
        EXPECT_EQ(r.exitCode, 0) << c.what << "\n" << r.errorOutput;
        EXPECT_EQ(linesNaming(r.errorOutput, "data/vortalune.ogg"), 1u) << c.what << "\n" << r.errorOutput;
        EXPECT_EQ(linesNaming(r.errorOutput, c.line), 1u) << c.what << "\n" << r.errorOutput;
    }
}

// A track shorter than one frame of the shortest scene: the show and the tool
// say so (and play on what there is), the capture refuses to run.
TEST(DamagedAssetsEndToEnd, ATrackTooShortForTheShowIsNamedWithItsLength)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    const fs::path data = fs::path(dir.path()) / "data";
    fs::create_directories(data);
    writeTrack(data / "vortalune.ogg", 0.03);
    const std::string line = "data/vortalune.ogg is 0.030 s long, too short to play the show (it needs 0.260 s";
    struct Case {
        std::vector<std::string> argv;
        int                      exitCode;   // -1: the tool runs until it is stopped
    };
    const Case cases[] = {
        { { VORTALUNE_BINARY }, 0 },
        { { VORTALUNE_BINARY, "3" }, -1 },
        { { VORTALUNE_CAPTURE_BINARY, "--out", dir.path() + "/frames" }, 1 },
    };
    for (const Case& c : cases) {
        ProcessOptions options;
        options.workDir = dir.path();
        options.env = { "SDL_AUDIODRIVER=dummy" };
        options.timeoutSeconds = c.exitCode < 0 ? 6.0 : 60.0;
        const ProcessResult r = runProcess(c.argv, options);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.argv.size() << "\n" << r.errorOutput;
        EXPECT_EQ(linesNaming(r.errorOutput, line), 1u) << c.argv.size() << "\n" << r.errorOutput;
    }
}
