// tests/command_line_test.cpp: the command line of every program. --help and
// -h print the usage on stdout and exit 0; a refused command line prints its
// reason and the usage on stderr and exits 2. Either way nothing is written:
// each run happens in a fresh working folder with HOME inside the temporary
// folder and without a display, and the working folder, HOME and "/" are
// compared before and after.
//
// Run as root, the programs are started as the unprivileged user "nobody", so
// a program that wrongly writes into "/" (an empty folder name with "/file"
// appended) fails to, instead of littering the machine.
#include "tools/ToolArgs.h"
#include "tools/song/Song.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* SETPRIV = "/usr/bin/setpriv";
constexpr double RUN_TIMEOUT = 120.0;   // seconds; a refusal takes milliseconds

std::string programPath(const std::string& name)
{
    if (name == "vortalune")
        return VORTALUNE_BINARY;
    if (name == "vortalune-capture")
        return VORTALUNE_CAPTURE_BINARY;
    return std::string(VORTALUNE_TOOLS_DIR) + "/" + name;
}

// Every path below `dir`, relative to it.
std::set<std::string> listTree(const std::string& dir)
{
    std::set<std::string> names;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(dir, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        names.insert(fs::relative(it->path(), dir).string());
    return names;
}

// The names directly in "/".
std::set<std::string> listRoot()
{
    std::set<std::string> names;
    std::error_code error;
    for (auto it = fs::directory_iterator("/", error); !error && it != fs::directory_iterator(); it.increment(error))
        names.insert(it->path().filename().string());
    return names;
}

std::string joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& a : args)
        text += " '" + a + "'";
    return text;
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

size_t countOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A temporary folder with an empty working folder and an empty HOME in it.
class Sandbox {
public:
    Sandbox()
        : work_(dir_.path() + "/work"), home_(dir_.path() + "/home")
    {
        fs::create_directories(work_);
        fs::create_directories(home_);
        if (geteuid() == 0) {   // the unprivileged child must reach both folders
            chmod(dir_.path().c_str(), 0711);
            chmod(work_.c_str(), 0777);
            chmod(home_.c_str(), 0777);
        }
    }

    const std::string& work() const { return work_; }

    // Runs `program args` in the working folder, without a display, as
    // "nobody" when the tests run as root.
    ProcessResult run(const std::string& program, const std::vector<std::string>& args) const
    {
        std::vector<std::string> argv;
        if (geteuid() == 0)
            argv = { SETPRIV, "--reuid=65534", "--regid=65534", "--clear-groups" };
        argv.push_back(programPath(program));
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.workDir = work_;
        options.captureOutput = true;
        options.timeoutSeconds = RUN_TIMEOUT;
        // No display: whatever is refused must be refused before a window
        // opens. A video driver that does not exist makes a program that
        // wrongly goes on fail at once instead of finding a text-mode driver.
        options.env = { "HOME=" + home_, "DISPLAY=", "SDL_VIDEODRIVER=nosuchdriver", "SDL_AUDIODRIVER=dummy",
                        "XDG_CONFIG_HOME=", "XDG_DATA_HOME=", "XDG_CACHE_HOME=" };
        return runProcess(argv, options);
    }

    // What the working folder, HOME and "/" hold; compared before and after a run.
    struct Snapshot {
        std::set<std::string> work, home, root;
    };
    Snapshot snapshot() const { return { listTree(work_), listTree(home_), listRoot() }; }

private:
    TempDir     dir_;
    std::string work_;
    std::string home_;
};

// Without root rights to drop, or with the tool to drop them, nothing run
// here can write into "/".
bool rootIsSafe()
{
    return geteuid() != 0 || access(SETPRIV, X_OK) == 0;
}

struct Case {
    const char*              program;
    std::vector<std::string> args;
    int                      exitCode;   // 0: help, 2: refused
    const char*              reason;     // part of the refusal's first stderr line (unused for help)
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.program << joined(c.args);
}

const std::vector<Case> CASES = {
    // --- vortalune ---
    { "vortalune", { "--help" }, 0, "" },
    { "vortalune", { "-h" }, 0, "" },
    { "vortalune", { "3", "--help" }, 0, "" },
    { "vortalune", { "text" }, 2, "not 'text'" },
    { "vortalune", { "-1" }, 2, "not '-1'" },
    { "vortalune", { "99999999999" }, 2, "not '99999999999'" },
    { "vortalune", { "4x" }, 2, "not '4x'" },
    { "vortalune", { "11" }, 2, "not '11'" },
    { "vortalune", { "" }, 2, "not ''" },
    { "vortalune", { "3", "4" }, 2, "at most one argument" },
    { "vortalune", { "--fullscreen" }, 2, "unknown option '--fullscreen'" },
    { "vortalune", { "--timings", "--help" }, 0, "" },
    { "vortalune", { "--timings", "3", "4" }, 2, "at most one argument" },
    { "vortalune", { "--timings", "--timings" }, 2, "--timings is given twice" },
    { "vortalune", { "4", "--timings", "--timings" }, 2, "--timings is given twice" },
    { "vortalune", { "--timings", "11" }, 2, "not '11'" },
    { "vortalune", { "text", "--timings" }, 2, "not 'text'" },
    { "vortalune", { "--timings", "--bogus" }, 2, "unknown option '--bogus'" },
    // --- vortalune-capture ---
    { "vortalune-capture", { "--help" }, 0, "" },
    { "vortalune-capture", { "-h" }, 0, "" },
    { "vortalune-capture", { "--scene", "3", "--help" }, 0, "" },
    { "vortalune-capture", { "--video", "" }, 2, "--video: the name is empty" },
    { "vortalune-capture", { "--out", "" }, 2, "--out: the name is empty" },
    { "vortalune-capture", { "--contact-sheet", "" }, 2, "--contact-sheet: the name is empty" },
    { "vortalune-capture", { "--out", "--scene", "3" }, 2, "must not start with '-'" },
    { "vortalune-capture", { "--video", "-y.mp4" }, 2, "must not start with '-'" },
    { "vortalune-capture", { "--fps", "nan" }, 2, "--fps nan" },
    { "vortalune-capture", { "--fps", " 10" }, 2, "--fps  10" },
    { "vortalune-capture", { "--seed", "-1" }, 2, "--seed -1" },
    { "vortalune-capture", { "--size", "+640x480" }, 2, "--size +640x480" },
    { "vortalune-capture", { "--from", "nan", "--to", "0.5" }, 2, "--from nan" },
    { "vortalune-capture", { "--from", "0.1", "--to", "inf" }, 2, "--to inf" },
    { "vortalune-capture", { "--bogus" }, 2, "unknown option --bogus" },
    { "vortalune-capture", { "--timings", "--help" }, 0, "" },
    { "vortalune-capture", { "--timings", "3" }, 2, "unknown option 3" },
    { "vortalune-capture", { "--out", "missing/frames" }, 2,
      "cannot write into the output folder missing/frames: its folder missing is missing" },
    { "vortalune-capture", { "--contact-sheet", "nowhere/sheet.png" }, 2,
      "cannot write the contact sheet nowhere/sheet.png: its folder nowhere is missing" },
    // --- gensong ---
    { "gensong", { "--help" }, 0, "" },
    { "gensong", { "-h" }, 0, "" },
    { "gensong", { "--wav", "o.wav", "0", "1", "--help" }, 0, "" },
    { "gensong", {}, 2, "nothing to do" },
    { "gensong", { "" }, 2, "the Ogg file name is empty" },
    { "gensong", { "--bogus" }, 2, "unknown option '--bogus'" },
    { "gensong", { "a.ogg", "b.ogg" }, 2, "unexpected argument 'b.ogg'" },
    { "gensong", { "--plan", "x" }, 2, "--plan takes nothing" },
    { "gensong", { "--wav", "o.wav", "0", "0.01", "nosuchinstrument" }, 2, "unknown instrument 'nosuchinstrument'" },
    { "gensong", { "--wav", "o.wav", "nan", "nan" }, 2, "FROM 'nan' is not a finite number" },
    { "gensong", { "--wav", "o.wav", "0", "inf" }, 2, "TO 'inf' is not a finite number" },
    { "gensong", { "--wav", "o.wav", "1x", "2" }, 2, "FROM '1x'" },
    { "gensong", { "--wav", "o.wav", "5", "5" }, 2, "FROM 5 must come before TO 5" },
    { "gensong", { "--wav", "", "0", "1" }, 2, "the WAV file name is empty" },
    { "gensong", { "--wav", "o.wav", "0" }, 2, "--wav needs OUT.wav FROM TO" },
    // --- genimages ---
    { "genimages", { "--help" }, 0, "" },
    { "genimages", { "-h" }, 0, "" },
    { "genimages", {}, 2, "exactly one argument" },
    { "genimages", { "" }, 2, "the data folder is empty" },
    { "genimages", { "--bogus" }, 2, "unknown option '--bogus'" },
    { "genimages", { "a", "b" }, 2, "exactly one argument" },
    // --- gencharacter ---
    { "gencharacter", { "--help" }, 0, "" },
    { "gencharacter", { "-h" }, 0, "" },
    { "gencharacter", {}, 2, "exactly one argument" },
    { "gencharacter", { "" }, 2, "the data folder is empty" },
    { "gencharacter", { "--bogus" }, 2, "unknown option '--bogus'" },
    // --- genpaths ---
    { "genpaths", { "--help" }, 0, "" },
    { "genpaths", { "-h" }, 0, "" },
    { "genpaths", { "" }, 2, "the folder is empty" },
    { "genpaths", { "--bogus" }, 2, "unknown option '--bogus'" },
    { "genpaths", { "a", "b" }, 2, "at most one argument" },
    // --- fontpreview ---
    { "fontpreview", { "--help" }, 0, "" },
    { "fontpreview", { "-h" }, 0, "" },
    { "fontpreview", { "data" }, 2, "needs two arguments" },
    { "fontpreview", { "", "o.png" }, 2, "the data folder is empty" },
    { "fontpreview", { "data", "" }, 2, "the PNG file name is empty" },
    { "fontpreview", { "--bogus", "o.png" }, 2, "unknown option '--bogus'" },
    // --- isomesh ---
    { "isomesh", { "--help" }, 0, "" },
    { "isomesh", { "-h" }, 0, "" },
    { "isomesh", { "--bogus", "10", "x.ply" }, 2, "unknown option '--bogus'" },
    { "isomesh", { "", "10", "x.ply" }, 2, "the source file name is empty" },
    { "isomesh", { "s.txt", "nan", "x.ply" }, 2, "LEVEL 'nan' is not a finite number" },
    { "isomesh", { "s.txt", "10", "" }, 2, "the PLY file name is empty" },
    { "isomesh", { "--scene", "3", "--time", "1", "" }, 2, "the PLY file name is empty" },
    { "isomesh", { "--scene", "3", "--time", "inf", "x.ply" }, 2, "time 'inf'" },
    { "isomesh", { "--scene" }, 2, "--scene N needs --time T" },
};

class ProgramCommandLine : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(ProgramCommandLine, HelpOrRefusalWritesNothing)
{
    const Case& c = GetParam();
    if (!rootIsSafe())
        GTEST_SKIP() << "running as root without " << SETPRIV << ": a faulty program could write into /";
    Sandbox sandbox;
    const bool helpInRootBefore = fs::exists("/--help");
    const Sandbox::Snapshot before = sandbox.snapshot();

    const ProcessResult r = sandbox.run(c.program, c.args);
    const std::string what = std::string(c.program) + joined(c.args);
    ASSERT_FALSE(r.timedOut) << what;
    EXPECT_EQ(r.exitCode, c.exitCode) << what << "\nstderr: " << r.errorOutput << "\nstdout: " << r.output;

    const std::string usage = std::string("usage: ") + c.program;
    if (c.exitCode == 0) {
        EXPECT_EQ(r.output.rfind(usage, 0), 0u) << what << ": the usage goes to stdout\n" << r.output;
        EXPECT_NE(r.output.find("--help"), std::string::npos) << what << ": the usage names --help";
        EXPECT_EQ(r.errorOutput, "") << what;
    } else {
        // One line with the reason, then the usage; nothing on stdout, since
        // the command line is checked before any work starts.
        const std::string reasonLine = firstLine(r.errorOutput);
        EXPECT_EQ(reasonLine.rfind(std::string(c.program) + ": ", 0), 0u) << what << ": " << r.errorOutput;
        EXPECT_NE(reasonLine.find(c.reason), std::string::npos) << what << ": " << r.errorOutput;
        EXPECT_EQ(countOf(r.errorOutput, reasonLine), 1u) << what << ": the reason is printed once";
        EXPECT_NE(r.errorOutput.find(usage), std::string::npos) << what << ": " << r.errorOutput;
        EXPECT_EQ(r.errorOutput.find("Couldn't"), std::string::npos) << what << ": SDL was started";
        EXPECT_EQ(r.output, "") << what;
    }

    const Sandbox::Snapshot after = sandbox.snapshot();
    EXPECT_EQ(after.work, before.work) << what << " wrote into its working folder";
    EXPECT_EQ(after.home, before.home) << what << " wrote into HOME";
    EXPECT_EQ(after.root, before.root) << what << " wrote into /";
    EXPECT_EQ(fs::exists("/--help"), helpInRootBefore) << what;
}

INSTANTIATE_TEST_SUITE_P(EveryProgram, ProgramCommandLine, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.program;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name + "_" + std::to_string(info.index);
                         });

// The usage of gensong names every instrument it accepts, and each of them is
// accepted: a short stretch of one instrument alone is written and nothing else.
TEST(ProgramArguments, GensongAcceptsEveryInstrumentItNames)
{
    ASSERT_TRUE(rootIsSafe());
    Sandbox sandbox;
    const ProcessResult help = sandbox.run("gensong", { "--help" });
    ASSERT_EQ(help.exitCode, 0) << help.errorOutput;
    std::set<std::string> expected;
    for (size_t i = 0; i < std::size(song::INSTRUMENT_NAMES); ++i) {
        const char* name = song::INSTRUMENT_NAMES[i];
        EXPECT_NE(help.output.find(name), std::string::npos) << name << " is missing from the usage";
        const std::string file = "solo" + std::to_string(i) + ".wav";
        const ProcessResult r = sandbox.run("gensong", { "--wav", file, "0", "0.1", name });
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.errorOutput;
        const std::string path = sandbox.work() + "/" + file;
        ASSERT_TRUE(fs::exists(path)) << name;
        EXPECT_GT(fs::file_size(path), 44u) << name << ": a WAV header and samples";
        expected.insert(file);
    }
    EXPECT_EQ(listTree(sandbox.work()), expected);
}

// A folder given to genpaths receives the 21 flight files and nothing lands
// anywhere else.
TEST(ProgramArguments, GenpathsWritesOnlyIntoTheGivenFolder)
{
    ASSERT_TRUE(rootIsSafe());
    Sandbox sandbox;
    fs::create_directories(sandbox.work() + "/flights");
    if (geteuid() == 0)
        chmod((sandbox.work() + "/flights").c_str(), 0777);
    const ProcessResult r = sandbox.run("genpaths", { "flights" });
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    std::set<std::string> expected = { "flights", "flights/paths.tms" };
    for (int scene = 1; scene <= 10; ++scene) {
        expected.insert("flights/pos_path" + std::to_string(scene) + ".txt");
        expected.insert("flights/rot_path" + std::to_string(scene) + ".txt");
    }
    EXPECT_EQ(listTree(sandbox.work()), expected);
}

namespace {

// Escape to the program's own window (found by its process: tests run in
// parallel on one display).
void sendEscape(int pid)
{
    sendKeyToProgram(pid, "Escape");
}

} // namespace

// The last scene number is taken: the window opens (scene 10 has no music to
// play here, so the free camera takes over) and Escape ends it.
TEST(ProgramArguments, VortaluneOpensTheToolForTheLastScene)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    TempDir dir;
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.delaySeconds = 1.0;
    options.whileRunning = sendEscape;
    options.captureOutput = true;
    const ProcessResult r = runProcessOnDisplay({ VORTALUNE_BINARY, "10" }, options);
    EXPECT_FALSE(r.timedOut) << "Escape did not end the program";
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    EXPECT_EQ(r.errorOutput.find("vortalune: "), std::string::npos) << r.errorOutput;
    EXPECT_EQ(r.output.find("usage:"), std::string::npos) << r.output;
}

// --- The shared checks of the tools ---------------------------------------------------

TEST(ToolArgs, ParseFiniteNumberTakesWholeFiniteNumbersOnly)
{
    double value = 7.0;
    EXPECT_TRUE(parseFiniteNumber("15", value));
    EXPECT_EQ(value, 15.0);
    EXPECT_TRUE(parseFiniteNumber("-0.25", value));
    EXPECT_EQ(value, -0.25);
    EXPECT_TRUE(parseFiniteNumber("1e2", value));
    EXPECT_EQ(value, 100.0);
    for (const char* bad : { "", "nan", "NaN", "inf", "-inf", "infinity", "1e999", "1x", "x", " 1", "1 ", "--1" }) {
        value = 7.0;
        EXPECT_FALSE(parseFiniteNumber(bad, value)) << "'" << bad << "'";
        EXPECT_EQ(value, 7.0) << "a refused number leaves the value alone: '" << bad << "'";
    }
}

TEST(ToolArgs, FileArgumentsMustNotBeEmptyOrLookLikeOptions)
{
    EXPECT_EQ(fileArgumentProblem("the folder", "data"), "");
    EXPECT_EQ(fileArgumentProblem("the folder", "./-odd"), "");
    EXPECT_EQ(fileArgumentProblem("the folder", ""), "the folder is empty");
    EXPECT_EQ(fileArgumentProblem("the folder", "--bogus"), "unknown option '--bogus'");
    EXPECT_EQ(fileArgumentProblem("the folder", "-"), "unknown option '-'");

    const char* const withHelp[] = { "tool", "a", "-h", nullptr };
    const char* const withoutHelp[] = { "tool", "a", "--helpful", nullptr };
    EXPECT_TRUE(wantsHelp(3, withHelp));
    EXPECT_FALSE(wantsHelp(3, withoutHelp));
    EXPECT_FALSE(wantsHelp(1, withHelp)) << "the program's own name is not an argument";
}
