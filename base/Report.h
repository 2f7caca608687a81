// base/Report.h: the one way the library speaks to the user: one line per
// problem on stderr, held during static construction until the program has
// read its command line, and the consistency check. Every floor above reports
// through here; nothing below needs anything. No SDL, no GL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// --- Report lines --------------------------------------------------------------------
// Every one-line report of a file or asset problem goes through reportLine:
// straight to stderr, or into the innermost live MessageHold. Static
// construction (app/Globals.cpp) reads "settings.ini" and every path file
// before the command line is read, so what it has to say is held in
// startupMessages(), and the programs print it once they run (not for --help
// or a refused command line).
void reportLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

class MessageHold {
public:
    MessageHold();
    ~MessageHold() { finish(); }
    MessageHold(const MessageHold&) = delete;
    MessageHold& operator=(const MessageHold&) = delete;

    // Ends the hold (later lines go where they went before it) and returns
    // the lines held, each ending in '\n'.
    std::vector<std::string> finish();

private:
    friend void reportLine(const char* format, ...);
    std::vector<std::string> lines_;
    MessageHold*             outer_ = nullptr;
    bool                     active_ = false;
};

// What static construction reported (filled at the end of app/Globals.cpp's
// construction). A function-local static, so it exists whenever it is asked for.
std::vector<std::string>& startupMessages();

// Prints startupMessages() on stderr, once.
void printStartupMessages();

// Text written as it is, without a line's end added: the parts of a progress
// line that rewrites itself in place ("\r..."), flushed at once.
void reportText(const char* text);

// --- Consistency check ---------------------------------------------------------------
// Prints "ASSERT FAILED.  File: <file>. Line: <line>. Details: <details>" on
// stderr when the condition's low byte is 0, at once (never held). Never
// stops the program.
// Returns the condition's low byte.
uint8_t assertCheck(int condition, const char* details, int line, const char* file);
