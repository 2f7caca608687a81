// tools/ToolArgs.h: the command-line checks every asset tool shares. Each tool
// has a usage (its "usage:" lines) and a help text (what the arguments mean).
// --help and -h print both on stdout; a refused command line prints one line
// with the reason, then the usage, on stderr and exits with TOOL_EXIT_USAGE
// before anything is read or written. Header only: each tool is one .cpp file.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

constexpr int TOOL_EXIT_USAGE = 2;

// "--help" or "-h".
inline bool isHelpOption(const char* text)
{
    return std::strcmp(text, "--help") == 0 || std::strcmp(text, "-h") == 0;
}

// True when --help or -h stands anywhere on the command line.
inline bool wantsHelp(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i)
        if (isHelpOption(argv[i]))
            return true;
    return false;
}

// Prints the usage and the help text on stdout; returns 0, the exit code of --help.
inline int printHelp(const char* usage, const char* help)
{
    std::fputs(usage, stdout);
    std::fputs(help, stdout);
    return 0;
}

// Prints "<tool>: <reason>" and the usage on stderr; returns TOOL_EXIT_USAGE.
inline int refuseCommandLine(const char* tool, const std::string& reason, const char* usage)
{
    std::fprintf(stderr, "%s: %s\n%s", tool, reason.c_str(), usage);
    return TOOL_EXIT_USAGE;
}

// Empty when `text` can name a file or folder to write or read; otherwise the
// reason. An empty name would resolve against "/" once "/file" is appended,
// and a leading '-' is an option the tool does not know.
inline std::string fileArgumentProblem(const char* what, const char* text)
{
    if (text[0] == '\0')
        return std::string(what) + " is empty";
    if (text[0] == '-')
        return std::string("unknown option '") + text + "'";
    return {};
}

// The whole of `text` as a finite number ("nan", "inf", "1x", " 1", "" are refused).
inline bool parseFiniteNumber(const char* text, double& out)
{
    if (text[0] == '\0' || text[0] == ' ' || text[0] == '\t' || text[0] == '\n')
        return false;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(value))
        return false;
    out = value;
    return true;
}
