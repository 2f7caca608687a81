// app/Settings.cpp: the eight-line "settings.ini" reader and writer.
#include "app/Settings.h"

#include <cstdio>

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

// One value per line. A line that does not parse leaves the field at its
// default; reading goes on with the next value so one bad line costs one value.
bool readInt(FILE* file, int32_t& out)
{
    int value = 0;
    const int got = std::fscanf(file, "%d", &value);
    if (got == 1) {
        out = value;
        return true;
    }
    if (got == 0) {
        // Skip the unreadable token so the next line can still be read.
        std::fscanf(file, "%*s");
    }
    return false;
}

bool readFloat(FILE* file, float& out)
{
    float value = 0.0f;
    const int got = std::fscanf(file, "%f", &value);
    if (got == 1) {
        out = value;
        return true;
    }
    if (got == 0)
        std::fscanf(file, "%*s");
    return false;
}

void readFlag(FILE* file, bool& out)
{
    int32_t value = 0;
    if (readInt(file, value))
        out = (value == 1);
}

} // namespace

bool loadSettings(AppSettings& settings, const char* path)
{
    setDefaults(settings);
    FILE* file = std::fopen(path, "r");
    if (!file)
        return false;

    readFlag(file, settings.optionFlag1);
    readFlag(file, settings.optionFlag2);
    readFlag(file, settings.optionFlag3);
    readInt(file, settings.screenWidth);
    readInt(file, settings.screenHeight);
    readFlag(file, settings.fullscreen);
    readFloat(file, settings.musicVolume);
    readFloat(file, settings.soundVolume);

    const DisplayMode mode = modeForWidth(settings.screenWidth);
    settings.screenWidth = mode.width;
    settings.screenHeight = mode.height;
    settings.centerX = settings.screenWidth / 2;
    settings.centerY = settings.screenHeight / 2;
    settings.inverseWidth = static_cast<float>(1.0 / settings.screenWidth);
    settings.lookRate = 0.3f;

    std::fclose(file);
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
