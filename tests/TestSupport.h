// tests/TestSupport.h: temporary folders and child processes for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under /tmp, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct ProcessResult {
    int         exitCode = -1;   // -1 when killed or not started
    bool        timedOut = false;
    std::string errorOutput;     // what the child wrote on stderr
    std::string output;          // what it wrote on stdout, with ProcessOptions::captureOutput
};

// Runs argv in `workDir` with extra environment entries ("NAME=value"; an entry
// "NAME=" with nothing after '=' removes NAME). `whileRunning`, if set, is
// called once with the child's pid after `delaySeconds`. The child is killed
// after `timeoutSeconds`.
struct ProcessOptions {
    std::string              workDir = ".";
    std::vector<std::string> env;
    double                   timeoutSeconds = 60.0;
    double                   delaySeconds = 0.0;
    void (*whileRunning)(int pid) = nullptr;
    bool captureOutput = false;   // keep stdout in ProcessResult::output (else it goes to /dev/null)
    std::string errorFile;        // when set, stderr goes to this file (readable while the child runs)
};
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

// Caps this process's address space at what it maps now plus `extraBytes`.
// Meant for a death-test child: an allocation of a size the code under test
// should have refused then fails in the child, not in the test process.
bool capAddressSpace(uint64_t extraBytes);

// Runs a shell command line, returns its exit status (or -1).
int runShell(const std::string& command);

// Runs `xdotool ARGS` and returns what it printed on stdout. xdotool exits on
// an X error, which it meets when another program's window goes away while it
// reads the windows' names (the tests share one display): it has then done
// nothing, so it is run again, up to five times. Each run is given at most
// 30 seconds (search --sync waits for ever for a program that has quit).
std::string xdotool(const std::string& args);

// Sends one key (an xdotool key name) to the window of the program with this
// process id, titled "Vortalune"; waits for the window when it is not up yet.
void sendKeyToProgram(int pid, const std::string& key);

// runProcess, again (up to three times) when a busy Xvfb refused the program.
ProcessResult runProcessOnDisplay(const std::vector<std::string>& argv, const ProcessOptions& options);

// --- Files and display --------------------------------------------------------------
// The whole file as bytes ("" when it cannot be read).
std::string readFile(const std::string& path);

// Writes `text` as the whole file (created or truncated).
void writeFile(const std::string& path, const std::string& text);

// True when DISPLAY names a display (Xvfb in CI): the GL and end-to-end tests need one.
bool haveDisplay();
