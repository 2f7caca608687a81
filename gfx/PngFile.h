// gfx/PngFile.h: writing 8-bit PNG files with libpng, for the asset generators
// and the tests' fixtures, and checking a PNG file before it is decoded. No
// SDL, no GL. The pixels the program uses are read through SDL_image
// (gfx/Texture.h); checkPngFile runs first, so a damaged or oversized file is
// refused with a reason that the caller can print with the file's name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// --- Limits of a readable image -------------------------------------------------
constexpr uint32_t IMAGE_MAX_SIDE = 8192;                          // pixels, each of width and height
constexpr uint64_t IMAGE_MAX_DECODED_BYTES = uint64_t(256) << 20;  // width x height x bytes per pixel

// --- Writing ----------------------------------------------------------------------

// How hard the writer works at making the file small. SMALL (zlib's default
// level, every filter tried per row) is what the assets and fixtures are made
// with; FAST (zlib level 1 with run-length matching, the Up filter on every
// row) is the rendered frames' writer: the capture's frames, screenshots and
// the contact sheet.
// Both decode to exactly the pixels given.
enum class PngEffort { SMALL, FAST };

// Writes width x height pixels of `channels` bytes each (1 grey, 2 grey + alpha,
// 3 RGB, 4 RGBA), rows top first and tightly packed. The output depends only on
// the pixels (no time stamp), so equal pixels give equal files. Written whole
// (writeWholeFile); errno says why when it could not be. Returns false on bad
// arguments or when the file cannot be written. libpng prints nothing.
bool writePng(const char* path, int width, int height, int channels, const uint8_t* pixels,
              PngEffort effort = PngEffort::SMALL);

// The same PNG file's bytes, appended to `out` (for writing elsewhere, or on
// another thread than the one that drew the pixels). False on bad arguments.
bool encodePng(std::vector<uint8_t>& out, int width, int height, int channels, const uint8_t* pixels,
               PngEffort effort);

// Writes `bytes` to `path` whole, through a temporary beside it that is
// renamed into place: the name only ever shows a whole file, also after a
// kill or a full disk (the temporary is removed). False with the system's
// reason when it could not be created, written or renamed.
bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& reason);

// Writes an 8-bit paletted PNG: one index byte per pixel, `paletteSize` RGB
// triples (1..256). Indices must be below paletteSize.
bool writePalettedPng(const char* path, int width, int height, const uint8_t* indices,
                      const uint8_t* paletteRgb, int paletteSize);

// --- Checking ---------------------------------------------------------------------

struct PngCheck {
    uint32_t    width = 0;
    uint32_t    height = 0;
    int         bytesPerPixel = 0;   // once decoded at 8 bits a channel: 1 paletted or grey, 3 RGB, 4 with alpha
    bool        paletted = false;    // colour type palette (indices into a palette)
    std::string warning;             // libpng's first warning (a damaged ancillary chunk), empty when none
};

// Reads the PNG file at `path` with libpng without keeping its pixels. The
// header comes first: an image wider or taller than IMAGE_MAX_SIDE, or larger
// than IMAGE_MAX_DECODED_BYTES decoded, is refused before anything of its size
// is allocated. Then every row is decoded into one reused row buffer, and the
// chunks after the image are read, so CRC errors, damaged compressed data and
// a cut file are found here. Returns false with the reason in `reason` (the
// library's words, such as "IDAT: CRC error", or ours); libpng prints nothing.
bool checkPngFile(const char* path, PngCheck& out, std::string& reason);

// --- Reading ----------------------------------------------------------------------

struct PngImage {
    uint32_t             width = 0;
    uint32_t             height = 0;
    std::vector<uint8_t> rgb;   // width x height RGB, rows top first (readPngIndices: one index a pixel)
};

// A paletted PNG's palette indices, one byte a pixel (1-, 2- and 4-bit
// indices unpacked), rows top first, within the limits above. The palette
// and any transparency chunk are not applied. False with the reason for any
// other colour type or a damaged file.
bool readPngIndices(const char* path, PngImage& out, std::string& reason);

// Decodes a PNG file whole as 8-bit RGB (16-bit channels stripped, palettes
// and greys expanded, alpha dropped), within the limits above. False with
// the reason (the image stays empty).
bool readPngRgb(const char* path, PngImage& out, std::string& reason);
