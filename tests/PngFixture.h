// tests/PngFixture.h: small PNG files made by the tests themselves, and a
// reader for checking what the generators wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes width x height pixels of `channels` bytes (1 grey .. 4 RGBA), rows top
// first; fails the calling test (ADD_FAILURE) when the file cannot be written.
void writeFixturePng(const std::string& path, int width, int height, int channels, const std::vector<uint8_t>& pixels);

// An 8-bit paletted PNG of the given indices over a small fixed palette.
void writeFixturePalettedPng(const std::string& path, int width, int height, const std::vector<uint8_t>& indices);

struct PngInfo {
    bool     ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    int      colourType = -1;   // PNG_COLOR_TYPE_*
    int      bitDepth = 0;
    std::vector<uint8_t> rgb;   // decoded to 8-bit RGB, rows top first
};

// A black RGB PNG of any size, written a row at a time: a 16000 x 16000 image
// costs one row of memory and makes a file of about 3 MB (and 1.5 s).
// An 8-bit grey image with a transparency chunk naming one grey level as
// transparent (SDL_image decodes it as grey plus alpha, two bytes a pixel).
void writeFixtureGreyPngWithTransparency(const std::string& path, int width, int height,
                                         const std::vector<uint8_t>& grey, int transparentGrey);

// A paletted PNG (the four colours above) with a tRNS chunk giving the first
// palette entries the alphas `alphas` (SDL_image expands it to RGBA).
void writeFixturePalettedPngWithTransparency(const std::string& path, int width, int height,
                                            const std::vector<uint8_t>& indices, const std::vector<uint8_t>& alphas);

void writeBlankPng(const std::string& path, uint32_t width, uint32_t height);

// A one-pixel RGB PNG whose header claims width x height (its IHDR checksum
// made to match): a decoder that trusts the header allocates the claimed size
// before it finds the data short. Instant at any size.
void writePngClaimingSize(const std::string& path, uint32_t width, uint32_t height);

// Reads a PNG file's header and its pixels as RGB.
PngInfo readPng(const std::string& path);

// Reads a file's bytes (empty when missing).
std::vector<uint8_t> readFileBytes(const std::string& path);
