// gfx/PngFile.h: writing 8-bit PNG files with libpng, for the asset generators
// and the tests' fixtures. No SDL, no GL. Reading goes through SDL_image
// (gfx/Texture.h).
#pragma once

#include <cstdint>

// Writes width x height pixels of `channels` bytes each (1 grey, 2 grey + alpha,
// 3 RGB, 4 RGBA), rows top first and tightly packed. The output depends only on
// the pixels (no time stamp), so equal pixels give equal files. Returns false
// on bad arguments or when the file cannot be written.
bool writePng(const char* path, int width, int height, int channels, const uint8_t* pixels);

// Writes an 8-bit paletted PNG: one index byte per pixel, `paletteSize` RGB
// triples (1..256). Indices must be below paletteSize.
bool writePalettedPng(const char* path, int width, int height, const uint8_t* indices,
                      const uint8_t* paletteRgb, int paletteSize);
