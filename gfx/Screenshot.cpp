// gfx/Screenshot.cpp: back buffer to a numbered PNG file.
#include "gfx/Screenshot.h"

#include "base/Report.h"
#include "base/SafeFile.h"
#include "gfx/PngFile.h"
#include "gl/GL.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* SCREENSHOT_PREFIX = "vortalune-";
constexpr const char* SCREENSHOT_SUFFIX = ".png";
constexpr int SCREENSHOT_MIN_DIGITS = 4;
constexpr int SCREENSHOT_CREATE_TRIES = 100;   // names taken between listing and creating

// The one line a failed screenshot prints.
void reportFailure(const std::string& what, const std::string& reason)
{
    reportLine("Screenshot: cannot %s: %s\n", what.c_str(), reason.c_str());
}

// The folder exists as a folder afterwards, or `reason` says why not.
bool makeFolder(const std::string& folder, std::string& reason)
{
    std::error_code error;
    if (fs::is_directory(folder, error))
        return true;
    fs::create_directories(folder, error);
    if (error) {
        reason = error.message();
        return false;
    }
    if (!fs::is_directory(folder, error)) {
        reason = "not a folder";
        return false;
    }
    return true;
}

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

} // namespace

std::string screenshotFileName(int number)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s%0*d%s", SCREENSHOT_PREFIX, SCREENSHOT_MIN_DIGITS, number, SCREENSHOT_SUFFIX);
    return name;
}

int screenshotNumberOf(const std::string& name)
{
    const size_t prefix = std::strlen(SCREENSHOT_PREFIX), suffix = std::strlen(SCREENSHOT_SUFFIX);
    if (name.size() < prefix + SCREENSHOT_MIN_DIGITS + suffix || name.compare(0, prefix, SCREENSHOT_PREFIX) != 0 ||
        name.compare(name.size() - suffix, suffix, SCREENSHOT_SUFFIX) != 0)
        return 0;
    const std::string digits = name.substr(prefix, name.size() - prefix - suffix);
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
        if (value > SCREENSHOT_MAX_NUMBER)
            return SCREENSHOT_MAX_NUMBER;   // taken as the last number: nothing after it is free
    }
    return static_cast<int>(value);
}

int nextScreenshotNumber(const std::vector<std::string>& names)
{
    int highest = 0;
    for (const std::string& name : names) {
        const int n = screenshotNumberOf(name);
        highest = n > highest ? n : highest;
    }
    return highest + 1;
}

std::string saveScreenshot(int width, int height, const std::string& folder)
{
    if (width < 1 || height < 1 || width > static_cast<int>(IMAGE_MAX_SIDE) ||
        height > static_cast<int>(IMAGE_MAX_SIDE)) {
        reportFailure("write " + folder + "/" + screenshotFileName(1),
                      "the frame size " + std::to_string(width) + "x" + std::to_string(height) + " is out of range");
        return "";
    }
    std::string reason;
    if (!makeFolder(folder, reason)) {
        reportFailure("create the folder " + folder, reason);
        return "";
    }

    // The file is written whole under a temporary name, then linked to the
    // first free number: a link fails on a name that appeared since the
    // folder was listed (the next number is tried), and a kill leaves no
    // screenshot that is only partly written.
    const std::vector<uint8_t> rows = readBackBufferRows(width, height);
    std::vector<uint8_t> png;
    const std::string temporary = temporaryNameFor(folder + "/vortalune-shot");
    if (!encodePng(png, width, height, 3, rows.data(), PngEffort::FAST) ||
        !writeWholeFile(temporary, png, reason)) {
        reportFailure("write " + folder + "/" + screenshotFileName(nextScreenshotNumber(namesIn(folder))),
                      reason.empty() ? "the PNG could not be made" : reason);
        return "";
    }
    int number = nextScreenshotNumber(namesIn(folder));
    std::string path;
    for (int tries = 0;; ++tries) {
        if (number > SCREENSHOT_MAX_NUMBER) {
            reportFailure("write " + folder + "/" + screenshotFileName(number), "no free screenshot number is left");
            ::unlink(temporary.c_str());
            return "";
        }
        path = folder + "/" + screenshotFileName(number);
        if (linkFile(temporary, path) == 0)
            break;
        if (errno != EEXIST || tries + 1 >= SCREENSHOT_CREATE_TRIES) {
            reportFailure("write " + path, std::strerror(errno));
            ::unlink(temporary.c_str());
            return "";
        }
        ++number;
    }
    ::unlink(temporary.c_str());
    std::printf("Screenshot: %s\n", path.c_str());
    std::fflush(stdout);
    return path;
}

std::vector<uint8_t> readBackBufferRows(int width, int height)
{
    const size_t stride = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> upsideDown(stride * static_cast<size_t>(height));
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPushAttrib(GL_PIXEL_MODE_BIT);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, upsideDown.data());
    glPopAttrib();
    glPopClientAttrib();
    std::vector<uint8_t> rows(upsideDown.size());
    for (int y = 0; y < height; ++y)
        std::memcpy(&rows[static_cast<size_t>(y) * stride], &upsideDown[static_cast<size_t>(height - 1 - y) * stride],
                    stride);
    return rows;
}
