// app/Settings.h: display and sound settings, and the "settings.ini" file.
// Owns AppSettings and its eight-line text file. No SDL, no GL.
#pragma once

#include <cstdint>

struct AppSettings {
    int32_t centerX         = 320;         // half the window width (mouse warp target)
    int32_t centerY         = 240;         // half the window height
    float   inverseWidth    = 0.0015625f;  // 1 / screenWidth
    bool    optionFlag1     = true;        // file line 1; stored for the file's sake only
    bool    optionFlag2     = true;        // file line 2
    bool    optionFlag3     = true;        // file line 3
    int32_t screenWidth     = 640;         // window width in pixels
    int32_t screenHeight    = 480;         // window height in pixels
    bool    fullscreen      = false;
    float   musicVolume     = 1.0f;        // module master volume 0..1
    float   soundVolume     = 1.0f;        // volume of all sound channels 0..1
    float   lookRate        = 0.0f;        // free-camera turn factor; 0.3 after a successful read
    bool    freeRoamAllowed = false;       // set by the entry point from the command line
};

constexpr const char* SETTINGS_FILE = "settings.ini";

struct DisplayMode {
    int32_t width;
    int32_t height;
};

// Supported modes, keyed by width. Any other width maps to MODE_FALLBACK.
constexpr DisplayMode DISPLAY_MODES[] = {
    {  320,  240 },
    {  400,  300 },
    {  512,  384 },
    {  640,  480 },
    {  800,  600 },
    { 1024,  768 },
    { 1280,  960 },
    { 1440, 1080 },
    { 1600, 1200 },
};
constexpr DisplayMode MODE_FALLBACK = { 800, 600 };

DisplayMode modeForWidth(int32_t width);          // the table row, or 800 x 600

// Every field but lookRate and freeRoamAllowed gets its default.
void setDefaults(AppSettings& settings);

// Reads "settings.ini" (or `path`) from the working directory. A missing or
// unreadable file, a directory, or a file over 4 KiB gives the defaults and
// leaves lookRate alone; values missing from a short or garbled file keep their
// defaults. Either prints one line naming the file and the reason (for a short
// or garbled file: how many values, and the first one's line). Returns true
// when the file was read.
bool loadSettings(AppSettings& settings, const char* path = SETTINGS_FILE);

// Writes the eight lines; returns false (writing nothing) when the file cannot be created.
bool saveSettings(const AppSettings& settings, const char* path = SETTINGS_FILE);

// What static construction of the settings unit does: loadSettings, then
// freeRoamAllowed = false.
AppSettings loadStartupSettings();

// The program's settings; filled from the file during static construction
// (app/Globals.cpp), then reset to the command line's mode by the entry point.
extern AppSettings appSettings;
