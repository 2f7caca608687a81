// base/Report.cpp: report lines, held messages and the consistency check.
#include "base/Report.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

// Lines may come from several threads at once (the capture's encoders and
// writer): the holds and the stream are written under one lock, so no line is
// lost or cut into another. (Function-local: reports come during static
// construction too.)
std::mutex& reportMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The innermost live hold, or null: lines go to stderr. (A function-local
// static: holds are made during static construction of other units.)
MessageHold*& currentHold()
{
    static MessageHold* hold = nullptr;
    return hold;
}

} // namespace

void reportLine(const char* format, ...)
{
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    const std::lock_guard<std::mutex> lock(reportMutex());
    if (MessageHold* hold = currentHold()) {
        hold->lines_.emplace_back(line);
        return;
    }
    std::fputs(line, stderr);
}

MessageHold::MessageHold() : active_(true)
{
    const std::lock_guard<std::mutex> lock(reportMutex());
    outer_ = currentHold();
    currentHold() = this;
}

std::vector<std::string> MessageHold::finish()
{
    const std::lock_guard<std::mutex> lock(reportMutex());
    if (active_ && currentHold() == this)
        currentHold() = outer_;
    active_ = false;
    return std::move(lines_);
}

std::vector<std::string>& startupMessages()
{
    static std::vector<std::string> messages;
    return messages;
}

void printStartupMessages()
{
    for (const std::string& line : startupMessages())
        std::fputs(line.c_str(), stderr);
    startupMessages().clear();
}

void reportText(const char* text)
{
    const std::lock_guard<std::mutex> lock(reportMutex());
    std::fputs(text, stderr);
    std::fflush(stderr);
}

uint8_t assertCheck(int condition, const char* details, int line, const char* file)
{
    const uint8_t low = static_cast<uint8_t>(condition & 0xFF);
    if (low == 0)
        std::fprintf(stderr, "ASSERT FAILED.  File: %s. Line: %d. Details: %s\n", file, line, details);
    return low;
}
