// capture/ContactSheet.cpp: box-filtered cells and FreeType labels.
#include "capture/ContactSheet.h"

#include "base/Report.h"
#include "gfx/PngFile.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>

Sheet::Sheet(int frameW, int frameH)
    : frameW_(frameW), frameH_(frameH)
{
    cellW_ = std::min(frameW, SHEET_MAX_CELL_WIDTH);
    cellH_ = std::max(1, static_cast<int>(static_cast<long>(frameH) * cellW_ / frameW));
    width_ = SHEET_COLUMNS * cellW_ + (SHEET_COLUMNS + 1) * SHEET_GAP;
    height_ = SHEET_ROWS * (cellH_ + SHEET_LABEL_HEIGHT) + (SHEET_ROWS + 1) * SHEET_GAP;
    rgb_.assign(static_cast<size_t>(width_) * height_ * 3, SHEET_BACKGROUND);
    if (FT_Init_FreeType(&library_) == 0 && FT_New_Face(library_, LABEL_FONT, 0, &face_) == 0)
        FT_Set_Pixel_Sizes(face_, 0, 13);
    else
        reportLine("vortalune-capture: cannot open %s; the labels stay empty\n", LABEL_FONT);
}

Sheet::~Sheet()
{
    if (face_)
        FT_Done_Face(face_);
    if (library_)
        FT_Done_FreeType(library_);
}

void Sheet::place(int index, const std::vector<uint8_t>& frame, const std::string& label)
{
    const int x0 = SHEET_GAP + (index % SHEET_COLUMNS) * (cellW_ + SHEET_GAP);
    const int y0 = SHEET_GAP + (index / SHEET_COLUMNS) * (cellH_ + SHEET_LABEL_HEIGHT + SHEET_GAP);
    for (int y = 0; y < cellH_; ++y) {
        const int sy0 = static_cast<int>(static_cast<long>(y) * frameH_ / cellH_);
        const int sy1 = std::max(sy0 + 1, static_cast<int>(static_cast<long>(y + 1) * frameH_ / cellH_));
        for (int x = 0; x < cellW_; ++x) {
            const int sx0 = static_cast<int>(static_cast<long>(x) * frameW_ / cellW_);
            const int sx1 = std::max(sx0 + 1, static_cast<int>(static_cast<long>(x + 1) * frameW_ / cellW_));
            for (int c = 0; c < 3; ++c) {
                long sum = 0;
                for (int sy = sy0; sy < sy1; ++sy)
                    for (int sx = sx0; sx < sx1; ++sx)
                        sum += frame[(static_cast<size_t>(sy) * frameW_ + sx) * 3 + c];
                const long n = static_cast<long>(sy1 - sy0) * (sx1 - sx0);
                at(x0 + x, y0 + y)[c] = static_cast<uint8_t>(sum / n);
            }
        }
    }
    drawText(x0 + 4, y0 + cellH_ + SHEET_LABEL_HEIGHT - 7, label);
}

bool Sheet::save(const std::string& path, std::string& why) const
{
    std::vector<uint8_t> png;
    if (!encodePng(png, width_, height_, 3, rgb_.data(), PngEffort::FAST)) {
        why = "the PNG could not be made";
        return false;
    }
    return writeWholeFile(path, png, why);
}

void Sheet::drawText(int x, int baseline, const std::string& text)
{
    if (!face_)
        return;
    for (const char ch : text) {
        if (FT_Load_Char(face_, static_cast<unsigned char>(ch), FT_LOAD_RENDER) != 0)
            continue;
        const FT_GlyphSlot g = face_->glyph;
        const FT_Bitmap& b = g->bitmap;
        if (b.pixel_mode == FT_PIXEL_MODE_GRAY && b.buffer && b.pitch > 0) {
            for (unsigned row = 0; row < b.rows; ++row) {
                for (unsigned col = 0; col < b.width; ++col) {
                    const int px = x + g->bitmap_left + static_cast<int>(col);
                    const int py = baseline - g->bitmap_top + static_cast<int>(row);
                    if (px < 0 || py < 0 || px >= width_ || py >= height_)
                        continue;
                    const int a = b.buffer[row * static_cast<unsigned>(b.pitch) + col];
                    uint8_t* p = at(px, py);
                    for (int c = 0; c < 3; ++c)
                        p[c] = static_cast<uint8_t>((p[c] * (255 - a) + 255 * a) / 255);
                }
            }
        }
        x += static_cast<int>(g->advance.x >> 6);
    }
}
