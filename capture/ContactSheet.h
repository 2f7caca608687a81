// capture/ContactSheet.h: the contact sheet of a capture: twelve cells of
// frames scaled down by box filtering, four by three, each labelled in
// DejaVu Sans through FreeType, written as one PNG. No GL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct FT_LibraryRec_* FT_Library;
typedef struct FT_FaceRec_*    FT_Face;

constexpr int SHEET_COLUMNS = 4;
constexpr int SHEET_ROWS = 3;
constexpr int SHEET_CELLS = SHEET_COLUMNS * SHEET_ROWS;
constexpr int SHEET_GAP = 8;
constexpr int SHEET_LABEL_HEIGHT = 24;
constexpr int SHEET_MAX_CELL_WIDTH = 320;
constexpr uint8_t SHEET_BACKGROUND = 40;
constexpr const char* LABEL_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class Sheet {
public:
    // A sheet for frames of frameW x frameH pixels; cells are at most
    // SHEET_MAX_CELL_WIDTH wide. Without the label font (one line says so)
    // the labels stay empty.
    Sheet(int frameW, int frameH);
    ~Sheet();
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    // Box-filters the frame (RGB rows, top first) into cell `index` and
    // writes its label under it.
    void place(int index, const std::vector<uint8_t>& frame, const std::string& label);

    // Written whole (renamed into place); false with the system's reason.
    bool save(const std::string& path, std::string& why) const;

private:
    uint8_t* at(int x, int y) { return &rgb_[(static_cast<size_t>(y) * width_ + x) * 3]; }
    // White text with its baseline at `baseline`, clipped to the sheet.
    void drawText(int x, int baseline, const std::string& text);

    int frameW_, frameH_;
    int cellW_ = 0, cellH_ = 0, width_ = 0, height_ = 0;
    std::vector<uint8_t> rgb_;
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};
