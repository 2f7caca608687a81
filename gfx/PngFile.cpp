// gfx/PngFile.cpp: PNG writing and checking with libpng.
//
// Sections:
//   --- Writing ---
//   --- Checking ---
#include "gfx/PngFile.h"

#include "base/SafeFile.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// --- Writing ---------------------------------------------------------------------

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

// Where libpng's output goes: the end of a byte vector (files are written
// whole from it, so no name ever shows a part of one).
struct PngOutput {
    std::vector<uint8_t>* bytes = nullptr;
};

void appendBytes(png_structp png, png_bytep data, png_size_t length)
{
    std::vector<uint8_t>* out = static_cast<PngOutput*>(png_get_io_ptr(png))->bytes;
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// libpng prints nothing of its own: a failure is the caller's one line.
void quietError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void quietWarning(png_structp, png_const_charp) {}

// Shared body: header, optional palette, rows. `bytesPerPixel` is the row stride unit.
bool writeRows(PngOutput output, int width, int height, int colourType, int bytesPerPixel, const uint8_t* pixels,
               const uint8_t* paletteRgb, int paletteSize, PngEffort effort)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &output, appendBytes, flushNothing);
    if (effort == PngEffort::FAST) {
        // Measured on the show's frames: eight to nine times quicker than the
        // default for files a tenth larger (level 1 with the Up filter and
        // run-length matching beat every other level, filter and strategy).
        png_set_compression_level(png, 1);
        png_set_compression_strategy(png, Z_RLE);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
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
    return true;
}

bool validImage(const uint8_t* pixels, int width, int height)
{
    return pixels && width > 0 && height > 0 && width <= MAX_PNG_SIDE && height <= MAX_PNG_SIDE;
}

bool writeRowsToFile(const char* path, int width, int height, int colourType, int bytesPerPixel,
                     const uint8_t* pixels, const uint8_t* paletteRgb, int paletteSize, PngEffort effort)
{
    if (!path || !validImage(pixels, width, height))
        return false;
    std::vector<uint8_t> bytes;
    PngOutput output;
    output.bytes = &bytes;
    if (!writeRows(output, width, height, colourType, bytesPerPixel, pixels, paletteRgb, paletteSize, effort))
        return false;
    std::string reason;
    const bool written = writeWholeFile(path, bytes, reason);
    return written;
}

} // namespace

bool writePng(const char* path, int width, int height, int channels, const uint8_t* pixels, PngEffort effort)
{
    const int colourType = colourTypeOf(channels);
    if (colourType < 0)
        return false;
    return writeRowsToFile(path, width, height, colourType, channels, pixels, nullptr, 0, effort);
}

bool encodePng(std::vector<uint8_t>& out, int width, int height, int channels, const uint8_t* pixels,
               PngEffort effort)
{
    const int colourType = colourTypeOf(channels);
    if (colourType < 0 || !validImage(pixels, width, height))
        return false;
    PngOutput output;
    output.bytes = &out;
    return writeRows(output, width, height, colourType, channels, pixels, nullptr, 0, effort);
}

bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& reason)
{
    const bool written = writeBytesAtomically(path, bytes.data(), bytes.size(), Durability::WHOLE_NAMES, reason);
    return written;
}

bool writePalettedPng(const char* path, int width, int height, const uint8_t* indices,
                      const uint8_t* paletteRgb, int paletteSize)
{
    if (!paletteRgb || paletteSize < 1 || paletteSize > 256)
        return false;
    return writeRowsToFile(path, width, height, PNG_COLOR_TYPE_PALETTE, 1, indices, paletteRgb, paletteSize,
                           PngEffort::SMALL);
}

// --- Checking ---------------------------------------------------------------------

namespace {

// What the libpng callbacks share with checkPngFile. It lives in the caller's
// frame, so nothing in it is lost or left half-destroyed by libpng's longjmp.
struct CheckContext {
    FILE*                file = nullptr;
    std::string          error;     // the first error: why the check failed
    std::string          warning;   // the first warning
    std::vector<uint8_t> row;       // one decoded row, reused for every row and pass
};

void checkErrorFn(png_structp png, png_const_charp message)
{
    CheckContext* context = static_cast<CheckContext*>(png_get_error_ptr(png));
    if (context->error.empty())
        context->error = message ? message : "unknown libpng error";
    png_longjmp(png, 1);
}

void checkWarningFn(png_structp png, png_const_charp message)
{
    CheckContext* context = static_cast<CheckContext*>(png_get_error_ptr(png));
    if (context->warning.empty())
        context->warning = message ? message : "unknown libpng warning";
}

void checkReadFn(png_structp png, png_bytep data, png_size_t length)
{
    CheckContext* context = static_cast<CheckContext*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, context->file) != length)
        png_error(png, std::ferror(context->file) ? "read error" : "the file ends too early");
}

// Bytes per pixel of the decoded image at 8 bits a channel, as SDL_image
// makes it: paletted and grey images stay one byte (an index or a grey level),
// grey with alpha becomes RGBA.
int decodedBytesPerPixel(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_RGB:        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:  return 4;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 4;
    default:                        return 1;
    }
}

// The part of the check that libpng may leave by longjmp: only plain values
// and the context (in the caller's frame) are touched after the setjmp.
bool readAllRows(png_structp png, png_infop info, CheckContext* context, PngCheck* out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    out->width = png_get_image_width(png, info);
    out->height = png_get_image_height(png, info);
    out->bytesPerPixel = decodedBytesPerPixel(png_get_color_type(png, info));
    out->paletted = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE;
    const uint64_t decoded = uint64_t(out->width) * out->height * uint64_t(out->bytesPerPixel);
    if (out->width > IMAGE_MAX_SIDE || out->height > IMAGE_MAX_SIDE || decoded > IMAGE_MAX_DECODED_BYTES) {
        char text[160];
        std::snprintf(text, sizeof text, "%u x %u pixels, over the limit of %u a side and %u MiB decoded",
                      out->width, out->height, IMAGE_MAX_SIDE, unsigned(IMAGE_MAX_DECODED_BYTES >> 20));
        context->error = text;
        return false;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    context->row.resize(png_get_rowbytes(png, info));
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < out->height; ++y)
            png_read_row(png, context->row.data(), nullptr);
    png_read_end(png, nullptr);
    return true;
}

// readAllRows for readPngRgb: every pixel kept, as 8-bit RGB (16-bit
// channels stripped, palettes and greys expanded, alpha dropped).
bool readRgbRows(png_structp png, png_infop info, CheckContext* context, PngImage* out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    out->width = png_get_image_width(png, info);
    out->height = png_get_image_height(png, info);
    if (out->width > IMAGE_MAX_SIDE || out->height > IMAGE_MAX_SIDE ||
        uint64_t(out->width) * out->height * 3 > IMAGE_MAX_DECODED_BYTES) {
        context->error = "over the size limit";
        return false;
    }
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t stride = size_t(out->width) * 3;
    if (png_get_rowbytes(png, info) != stride) {
        context->error = "not decodable to 8-bit RGB";
        return false;
    }
    out->rgb.assign(stride * out->height, 0);
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < out->height; ++y)
            png_read_row(png, out->rgb.data() + y * stride, nullptr);
    png_read_end(png, nullptr);
    return true;
}

// readAllRows for readPngIndices: the raw index of every pixel of a paletted image.
bool readIndexRows(png_structp png, png_infop info, CheckContext* context, PngImage* out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    out->width = png_get_image_width(png, info);
    out->height = png_get_image_height(png, info);
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE) {
        context->error = "not a paletted image";
        return false;
    }
    if (out->width > IMAGE_MAX_SIDE || out->height > IMAGE_MAX_SIDE ||
        uint64_t(out->width) * out->height > IMAGE_MAX_DECODED_BYTES) {
        context->error = "over the size limit";
        return false;
    }
    png_set_packing(png);   // 1, 2 and 4-bit indices to one byte each; no palette applied
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t stride = size_t(out->width);
    if (png_get_rowbytes(png, info) != stride) {
        context->error = "not decodable to one index a pixel";
        return false;
    }
    out->rgb.assign(stride * out->height, 0);
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < out->height; ++y)
            png_read_row(png, out->rgb.data() + y * stride, nullptr);
    png_read_end(png, nullptr);
    return true;
}

// Opens `path` and reads it with `rows` (readAllRows or readRgbRows) under
// the checking error and read handlers; `reason` says why it failed.
template <typename Out>
bool readPngFile(const char* path, Out& out, std::string& reason, CheckContext& context,
                 bool (*rows)(png_structp, png_infop, CheckContext*, Out*))
{
    if (!path) {
        reason = "no file name";
        return false;
    }
    struct stat st;
    const int fd = openRegularFile(path, st, reason);   // a pipe is refused, never waited on
    context.file = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (!context.file) {
        if (fd >= 0) {
            reason = std::strerror(errno);
            close(fd);
        }
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, checkErrorFn, checkWarningFn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info) {
        png_set_read_fn(png, &context, checkReadFn);
        ok = rows(png, info, &context, &out);
    } else {
        context.error = "out of memory";
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(context.file);
    if (!ok)
        reason = context.error.empty() ? "not a readable PNG file" : context.error;
    return ok;
}

} // namespace

bool checkPngFile(const char* path, PngCheck& out, std::string& reason)
{
    out = PngCheck();
    CheckContext context;
    const bool ok = readPngFile(path, out, reason, context, readAllRows);
    out.warning = context.warning;
    return ok;
}

bool readPngIndices(const char* path, PngImage& out, std::string& reason)
{
    out = PngImage();
    CheckContext context;
    const bool ok = readPngFile(path, out, reason, context, readIndexRows);
    if (!ok)
        out = PngImage();
    return ok;
}

bool readPngRgb(const char* path, PngImage& out, std::string& reason)
{
    out = PngImage();
    CheckContext context;
    const bool ok = readPngFile(path, out, reason, context, readRgbRows);
    if (!ok)
        out = PngImage();
    return ok;
}
