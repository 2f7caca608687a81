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

namespace {

// 8-bit rows of `colourType` through libpng at level 1 without filters; with
// `transparentGrey` >= 0, a tRNS chunk naming that grey level; a paletted
// image gets the fixtures' four colours and, when `paletteAlpha` is given, a
// tRNS chunk with those alphas for the first entries.
void writeRawPng(const std::string& path, uint32_t width, uint32_t height, int colourType, int channels,
                 const std::vector<uint8_t>& pixels, int transparentGrey,
                 const std::vector<uint8_t>* paletteAlpha = nullptr)
{
    ASSERT_EQ(pixels.size(), size_t(width) * height * size_t(channels));
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    volatile bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        if (colourType == PNG_COLOR_TYPE_PALETTE) {
            const png_color palette[4] = { { 255, 0, 0 }, { 0, 255, 0 }, { 0, 0, 255 }, { 255, 255, 255 } };
            png_set_PLTE(png, info, palette, 4);
            if (paletteAlpha)
                png_set_tRNS(png, info, paletteAlpha->data(), int(paletteAlpha->size()), nullptr);
        }
        if (transparentGrey >= 0) {
            png_color_16 key {};
            key.gray = png_uint_16(transparentGrey);
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
        png_set_filter(png, 0, PNG_FILTER_NONE);
        png_set_compression_level(png, 1);
        png_write_info(png, info);
        for (uint32_t y = 0; y < height; ++y)
            png_write_row(png, pixels.data() + size_t(y) * width * size_t(channels));
        png_write_end(png, info);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    ASSERT_EQ(std::fclose(file), 0);
    ASSERT_TRUE(ok) << path;
}

} // namespace

void writeBlankPng(const std::string& path, uint32_t width, uint32_t height)
{
    writeRawPng(path, width, height, PNG_COLOR_TYPE_RGB, 3, std::vector<uint8_t>(size_t(width) * height * 3, 0), -1);
}

void writeFixtureGreyPngWithTransparency(const std::string& path, int width, int height,
                                         const std::vector<uint8_t>& grey, int transparentGrey)
{
    writeRawPng(path, uint32_t(width), uint32_t(height), PNG_COLOR_TYPE_GRAY, 1, grey, transparentGrey);
}

void writeFixturePalettedPngWithTransparency(const std::string& path, int width, int height,
                                            const std::vector<uint8_t>& indices, const std::vector<uint8_t>& alphas)
{
    writeRawPng(path, uint32_t(width), uint32_t(height), PNG_COLOR_TYPE_PALETTE, 1, indices, -1, &alphas);
}

namespace {

uint32_t pngCrc(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

void putBigEndian(uint8_t* at, uint32_t value)
{
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

} // namespace

void writePngClaimingSize(const std::string& path, uint32_t width, uint32_t height)
{
    const uint8_t pixel[3] = { 0, 0, 0 };
    ASSERT_TRUE(writePng(path.c_str(), 1, 1, 3, pixel)) << path;
    std::vector<uint8_t> bytes = readFileBytes(path);
    // Signature (8), IHDR length (4) and type (4), then width and height;
    // the checksum covers the type and the 13 data bytes.
    ASSERT_GT(bytes.size(), 33u);
    putBigEndian(&bytes[16], width);
    putBigEndian(&bytes[20], height);
    putBigEndian(&bytes[29], pngCrc(&bytes[12], 17));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
