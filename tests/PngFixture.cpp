// tests/PngFixture.cpp: PNG fixtures and reading.
#include "PngFixture.h"

#include "gfx/PngFile.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <fstream>
#include <iterator>

void writeFixturePng(const std::string& path, int width, int height, int channels, const std::vector<uint8_t>& pixels)
{
    ASSERT_EQ(pixels.size(), static_cast<size_t>(width) * height * channels);
    ASSERT_TRUE(writePng(path.c_str(), width, height, channels, pixels.data())) << path;
}

void writeFixturePalettedPng(const std::string& path, int width, int height, const std::vector<uint8_t>& indices)
{
    const uint8_t palette[] = { 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255 };
    ASSERT_EQ(indices.size(), static_cast<size_t>(width) * height);
    ASSERT_TRUE(writePalettedPng(path.c_str(), width, height, indices.data(), palette, 4)) << path;
}

PngInfo readPng(const std::string& path)
{
    PngInfo info;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return info;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop header = png ? png_create_info_struct(png) : nullptr;
    if (!png || !header || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &header, nullptr);
        std::fclose(file);
        info.ok = false;
        return info;
    }
    png_init_io(png, file);
    png_read_info(png, header);
    info.width = png_get_image_width(png, header);
    info.height = png_get_image_height(png, header);
    info.colourType = png_get_color_type(png, header);
    info.bitDepth = png_get_bit_depth(png, header);
    // Decode anything to 8-bit RGB for the pixel checks.
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, header);
    if (png_get_rowbytes(png, header) == static_cast<size_t>(info.width) * 3 && info.width <= 8192 &&
        info.height <= 8192) {
        info.rgb.resize(static_cast<size_t>(info.width) * info.height * 3);
        std::vector<png_bytep> rows(info.height);
        for (uint32_t y = 0; y < info.height; ++y)
            rows[y] = info.rgb.data() + static_cast<size_t>(y) * info.width * 3;
        png_read_image(png, rows.data());
        info.ok = true;
    }
    png_destroy_read_struct(&png, &header, nullptr);
    std::fclose(file);
    return info;
}

std::vector<uint8_t> readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
