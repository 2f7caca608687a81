// gfx/PngFile.cpp: PNG writing with libpng.
#include "gfx/PngFile.h"

#include <png.h>

#include <cstdio>

namespace {

// Limit of the PNG format (2^31 - 1) and a sanity bound on one row's size.
constexpr int MAX_PNG_SIDE = 1 << 16;

int colourTypeOf(int channels)
{
    switch (channels) {
    case 1: return PNG_COLOR_TYPE_GRAY;
    case 2: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case 3: return PNG_COLOR_TYPE_RGB;
    case 4: return PNG_COLOR_TYPE_RGBA;
    default: return -1;
    }
}

// Shared body: header, optional palette, rows. `bytesPerPixel` is the row stride unit.
bool writeRows(const char* path, int width, int height, int colourType, int bytesPerPixel,
               const uint8_t* pixels, const uint8_t* paletteRgb, int paletteSize)
{
    if (!path || !pixels || width <= 0 || height <= 0 || width > MAX_PNG_SIDE || height > MAX_PNG_SIDE)
        return false;
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (paletteRgb) {
        png_color palette[256];
        for (int i = 0; i < paletteSize; ++i)
            palette[i] = { paletteRgb[3 * i], paletteRgb[3 * i + 1], paletteRgb[3 * i + 2] };
        png_set_PLTE(png, info, palette, paletteSize);
    }
    png_write_info(png, info);
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    for (int row = 0; row < height; ++row)
        png_write_row(png, pixels + static_cast<size_t>(row) * rowBytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

} // namespace

bool writePng(const char* path, int width, int height, int channels, const uint8_t* pixels)
{
    const int colourType = colourTypeOf(channels);
    if (colourType < 0)
        return false;
    return writeRows(path, width, height, colourType, channels, pixels, nullptr, 0);
}

bool writePalettedPng(const char* path, int width, int height, const uint8_t* indices,
                      const uint8_t* paletteRgb, int paletteSize)
{
    if (!paletteRgb || paletteSize < 1 || paletteSize > 256)
        return false;
    return writeRows(path, width, height, PNG_COLOR_TYPE_PALETTE, 1, indices, paletteRgb, paletteSize);
}
