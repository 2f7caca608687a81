// app/Settings.cpp: the eight-line "settings.ini" reader and writer.
#include "app/Settings.h"

#include "base/Report.h"
#include "base/SafeFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

DisplayMode modeForWidth(int32_t width)
{
    for (const DisplayMode& mode : DISPLAY_MODES) {
        if (mode.width == width)
            return mode;
    }
    return MODE_FALLBACK;
}

void setDefaults(AppSettings& settings)
{
    const float keepLookRate = settings.lookRate;
    const bool keepFreeRoam = settings.freeRoamAllowed;
    settings = AppSettings{};
    settings.lookRate = keepLookRate;
    settings.freeRoamAllowed = keepFreeRoam;
}

namespace {

// A settings file holds eight short numbers; anything larger is not one.
constexpr size_t SETTINGS_MAX_BYTES = 4096;
constexpr int    SETTINGS_VALUES = 8;

// Reads the whole file into `text` (NUL-terminated, NUL bytes inside turned
// into '?', so they stop no scan). False with `reason` when it cannot be read,
// is not a regular file or is over SETTINGS_MAX_BYTES.
bool readSettingsText(const char* path, std::string& text, std::string& reason)
{
    const int fd = openForReading(path);   // never waits on a pipe; refused below
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat info;
    bool ok = true;
    if (fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
        ok = false;
    } else if (!S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? "a directory, not a file" : "not a regular file";
        ok = false;
    } else if (static_cast<uint64_t>(info.st_size) > SETTINGS_MAX_BYTES) {
        reason = std::to_string(static_cast<long long>(info.st_size)) + " bytes, over the limit of " +
                 std::to_string(SETTINGS_MAX_BYTES);
        ok = false;
    }
    char buffer[SETTINGS_MAX_BYTES + 1];
    size_t done = 0;
    while (ok && done <= SETTINGS_MAX_BYTES) {
        const ssize_t got = read(fd, buffer + done, sizeof buffer - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            reason = std::strerror(errno);
            ok = false;
        }
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    close(fd);
    if (ok && done > SETTINGS_MAX_BYTES) {
        reason = "over the limit of " + std::to_string(SETTINGS_MAX_BYTES) + " bytes";
        ok = false;
    }
    if (!ok)
        return false;
    text.assign(buffer, done);
    for (char& c : text)
        if (c == '\0')
            c = '?';
    return true;
}

// Walks the file's values as fscanf would: whitespace between values, one
// value per format. A value that does not parse leaves its field at the
// default and its token is skipped, so one bad line costs one value.
class ValueReader {
public:
    explicit ValueReader(const std::string& text) : text_(text) {}

    bool readInt(int32_t& out)
    {
        ++values_;
        int value = 0;
        int used = 0;
        const int got = std::sscanf(text_.c_str() + at_, "%d%n", &value, &used);
        if (got == 1) {
            at_ += static_cast<size_t>(used);
            out = value;
            return true;
        }
        return fail(got);
    }

    bool readFloat(float& out)
    {
        ++values_;
        float value = 0.0f;
        int used = 0;
        const int got = std::sscanf(text_.c_str() + at_, "%f%n", &value, &used);
        if (got == 1) {
            at_ += static_cast<size_t>(used);
            out = value;
            return true;
        }
        return fail(got);
    }

    void readFlag(bool& out)
    {
        int32_t value = 0;
        if (readInt(value))
            out = (value == 1);
    }

    int problems() const { return problems_; }
    int firstValue() const { return firstValue_; }   // 1-based, of the first problem
    int firstLine() const { return firstLine_; }     // its line in the file

private:
    // `got` 0: a token that is no number, skipped; EOF: the file has ended.
    bool fail(int got)
    {
        ++problems_;
        if (problems_ == 1) {
            firstValue_ = values_;
            size_t from = at_;
            while (from < text_.size() && std::isspace(static_cast<unsigned char>(text_[from])))
                ++from;
            firstLine_ = 1 + static_cast<int>(std::count(text_.begin(), text_.begin() + from, '\n'));
        }
        if (got == 0) {
            int skipped = 0;
            std::sscanf(text_.c_str() + at_, " %*s%n", &skipped);
            at_ += static_cast<size_t>(skipped);
        }
        return false;
    }

    const std::string& text_;
    size_t at_ = 0;
    int    values_ = 0;   // values looked at so far
    int    problems_ = 0;
    int    firstValue_ = 0;
    int    firstLine_ = 0;
};

} // namespace

bool loadSettings(AppSettings& settings, const char* path)
{
    setDefaults(settings);
    std::string text;
    std::string reason;
    if (!readSettingsText(path, text, reason)) {
        reportLine("The settings file %s could not be read (%s): the defaults are used and the free camera "
                   "cannot turn.\n",
                   path, reason.c_str());
        return false;
    }

    ValueReader reader(text);
    reader.readFlag(settings.optionFlag1);
    reader.readFlag(settings.optionFlag2);
    reader.readFlag(settings.optionFlag3);
    reader.readInt(settings.screenWidth);
    reader.readInt(settings.screenHeight);
    reader.readFlag(settings.fullscreen);
    reader.readFloat(settings.musicVolume);
    reader.readFloat(settings.soundVolume);
    if (reader.problems() > 0)
        reportLine("The settings file %s has %d of its %d values missing or unreadable (the first is value %d, "
                   "line %d): those keep their defaults.\n",
                   path, reader.problems(), SETTINGS_VALUES, reader.firstValue(), reader.firstLine());

    const DisplayMode mode = modeForWidth(settings.screenWidth);
    settings.screenWidth = mode.width;
    settings.screenHeight = mode.height;
    settings.centerX = settings.screenWidth / 2;
    settings.centerY = settings.screenHeight / 2;
    settings.inverseWidth = static_cast<float>(1.0 / settings.screenWidth);
    settings.lookRate = 0.3f;
    return true;
}

bool saveSettings(const AppSettings& settings, const char* path)
{
    FILE* file = std::fopen(path, "w");
    if (!file)
        return false;
    std::fprintf(file, "%d\n", settings.optionFlag1 ? 1 : 0);
    std::fprintf(file, "%d\n", settings.optionFlag2 ? 1 : 0);
    std::fprintf(file, "%d\n", settings.optionFlag3 ? 1 : 0);
    std::fprintf(file, "%d\n", static_cast<int>(settings.screenWidth));
    std::fprintf(file, "%d\n", static_cast<int>(settings.screenHeight));
    std::fprintf(file, "%d\n", settings.fullscreen ? 1 : 0);
    std::fprintf(file, "%f\n", static_cast<double>(settings.musicVolume));
    std::fprintf(file, "%f\n", static_cast<double>(settings.soundVolume));
    const bool ok = std::ferror(file) == 0;
    return std::fclose(file) == 0 && ok;
}

AppSettings loadStartupSettings()
{
    AppSettings settings;
    loadSettings(settings);
    settings.freeRoamAllowed = false;
    return settings;
}
