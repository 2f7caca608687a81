// tools/images/ImageGen.h: the demo's images, computed from fixed numbers:
// the same build writes the same bytes on every run (no clock, no random
// seed, no system state but the DejaVu fonts). Every image has power-of-two
// sides, since the textures go to an OpenGL 1.1 driver. Lettering is
// rendered with FreeType. Used by tools/genimages.cpp.
//
//   font.png, font_mask.png     256 x 256 RGB  glyph atlas, 16 x 16 cells of 16 x 16
//   vortalune.png               1024 x 1024 RGB title card (shown stretched to 4:3)
//   credits.png                 1024 x 1024 RGB closing credits (shown stretched to 4:3)
//   blue_cross.png              256 x 256 RGB  tiling sky backdrop
//   pastel.png                  256 x 256 RGB  tiling pastel colour field
//   bumpy.png                   256 x 256 RGB  tiling bumpy relief
//   sprite01_mask.png           128 x 128 RGB  soft round sprite
#pragma once

#include <string>

// Writes every image into `dir` (made when missing). False when one could
// not be written; a line on stderr names it.
bool generateImages(const std::string& dir);
