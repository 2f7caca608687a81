// tools/fontpreview.cpp: draws the caption line with the bitmap font at the
// show's two glyph sizes and writes what the window shows to a PNG, for
// looking at the font as the audience sees it.
//
//   fontpreview <data-dir> <out.png>
//   fontpreview --help
//
// Needs a display (Xvfb will do). The top half is the caption as the show
// draws it (colour 0.3, 0.2, 0.8 over black), at 12 x 16 pixels per glyph
// (800-pixel-wide screen) and at 15.36 x 20.48 (1024); the bottom half draws
// the same lines in white and both character sets over the title image.
#include "app/Demo.h"
#include "app/Font.h"
#include "gfx/PngFile.h"
#include "gfx/Texture.h"
#include "tools/ToolArgs.h"

#include <SDL.h>
#include <SDL_opengl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int WIDTH = 1024;
constexpr int HEIGHT = 768;
const char* const USAGE =
    "usage: fontpreview <data-dir> <out.png>\n";
const char* const HELP =
    "  draws the caption line with the font of <data-dir> (font.png, font_mask.png,\n"
    "  vortalune.png) at the show's two sizes and saves the window as <out.png>;\n"
    "  needs a display (Xvfb will do)\n"
    "  -h, --help   print this and exit\n";

constexpr const char* CAPTION = "\"Mirrow\" Demo by: Quindle (quindle.example).    FPS: 60.00";

void texturedQuad(uint32_t name, float x0, float y0, float x1, float y1)
{
    glBindTexture(GL_TEXTURE_2D, name);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(x0, y0);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(x1, y0);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(x1, y1);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(x0, y1);
    glEnd();
}

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc != 3)
        return refuseCommandLine("fontpreview", "needs two arguments, the data folder and the PNG to write", USAGE);
    for (const std::string& problem :
         { fileArgumentProblem("the data folder", argv[1]), fileArgumentProblem("the PNG file name", argv[2]) }) {
        if (!problem.empty())
            return refuseCommandLine("fontpreview", problem, USAGE);
    }
    const std::string dir = argv[1];
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "fontpreview: %s\n", SDL_GetError());
        return 1;
    }
    screenSurface = SDL_SetVideoMode(WIDTH, HEIGHT, 24, SDL_OPENGL | SDL_ANYFORMAT);
    if (!screenSurface) {
        std::fprintf(stderr, "fontpreview: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    setupGlState();
    textureTable.generate();
    const bool fontOk = textureTable.loadPngWithMask((dir + "/font.png").c_str(), (dir + "/font_mask.png").c_str(),
                                                     SLOT_FONT, 0) != 0;
    textureTable.loadPng((dir + "/vortalune.png").c_str(), SLOT_TITLE, 0);
    if (!fontOk)
        std::fprintf(stderr, "fontpreview: no font in %s\n", dir.c_str());
    buildFont(fontLists, textureTable.nameOf(SLOT_FONT));

    glViewport(0, 0, WIDTH, HEIGHT);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, WIDTH, 0, HEIGHT, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    texturedQuad(textureTable.nameOf(SLOT_TITLE), 0.0f, 0.0f, WIDTH, HEIGHT * 0.5f);

    glEnable(GL_BLEND);
    const uint32_t font = textureTable.nameOf(SLOT_FONT);
    glColor3f(0.3f, 0.2f, 0.8f);
    drawText(fontLists, 8.0f, HEIGHT - 36.0f, 12.0f, 16.0f, 0, CAPTION, font);
    drawText(fontLists, 8.0f, HEIGHT - 76.0f, 15.36f, 20.48f, 0, CAPTION, font);
    drawText(fontLists, 8.0f, HEIGHT - 116.0f, 15.36f, 20.48f, 1, CAPTION, font);
    drawText(fontLists, 8.0f, HEIGHT - 156.0f, 12.0f, 16.0f, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz", font);
    drawText(fontLists, 8.0f, HEIGHT - 186.0f, 12.0f, 16.0f, 0, "0123456789 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~", font);
    glColor3f(1.0f, 1.0f, 1.0f);
    drawText(fontLists, 8.0f, HEIGHT - 260.0f, 12.0f, 16.0f, 0, CAPTION, font);
    drawText(fontLists, 8.0f, HEIGHT - 300.0f, 15.36f, 20.48f, 1, CAPTION, font);
    glColor3f(0.3f, 0.2f, 0.8f);
    drawText(fontLists, 8.0f, 250.0f, 15.36f, 20.48f, 0, CAPTION, font);
    glColor3f(1.0f, 1.0f, 1.0f);
    drawText(fontLists, 8.0f, 200.0f, 12.0f, 16.0f, 0, CAPTION, font);
    glDisable(GL_BLEND);
    glFinish();

    std::vector<uint8_t> pixels(static_cast<size_t>(WIDTH) * HEIGHT * 3);
    std::vector<uint8_t> flipped(pixels.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, WIDTH, HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    const size_t row = static_cast<size_t>(WIDTH) * 3;
    for (int y = 0; y < HEIGHT; ++y)
        std::copy(pixels.begin() + (HEIGHT - 1 - y) * row, pixels.begin() + (HEIGHT - y) * row,
                  flipped.begin() + y * row);
    const bool written = writePng(argv[2], WIDTH, HEIGHT, 3, flipped.data());

    releaseFont(fontLists);
    textureTable.release();
    SDL_Quit();
    if (!written) {
        std::fprintf(stderr, "fontpreview: cannot write %s\n", argv[2]);
        return 1;
    }
    return fontOk ? 0 : 1;
}
