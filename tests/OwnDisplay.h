// tests/OwnDisplay.h: an X display of a test's own. The tests that drive a
// program's window with the pointer and the keyboard (VORTALUNE_INPUT_TESTS,
// the same list CTest runs them under) each get a fresh Xvfb server, started
// before the test and stopped after it, with DISPLAY pointing at it meanwhile:
// no other test's window can open over theirs, take the focus or move the
// pointer, whatever runs beside them.
#pragma once

#include <string>
#include <sys/types.h>

class OwnDisplay {
public:
    // Starts Xvfb on a free display number (1024x768x24, no TCP) and points
    // DISPLAY at it once it takes connections. started() is false when Xvfb
    // cannot be run; DISPLAY is then left as it was, with `why` saying so.
    OwnDisplay();
    // Stops the server and puts DISPLAY back.
    ~OwnDisplay();
    OwnDisplay(const OwnDisplay&) = delete;
    OwnDisplay& operator=(const OwnDisplay&) = delete;

    bool started() const { return pid_ > 0; }
    const std::string& name() const { return name_; }   // ":N"
    const std::string& why() const { return why_; }

private:
    pid_t       pid_ = -1;
    std::string name_;
    std::string previous_;
    bool        hadPrevious_ = false;
    std::string why_;
};

// True when the test `suite.name` is one of ':'-separated glob patterns
// (gtest's filter syntax without negation), as `patterns` lists them.
bool matchesTestPatterns(const std::string& fullName, const std::string& patterns);
