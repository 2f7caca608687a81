// tools/gencharacter.cpp: writes the demo's character, "ovrin.mdl" (with its
// texture and group files when the model uses them), and its skin
// "ovrin_tex.png" into the given folder. Deterministic.
// Usage: gencharacter <data-dir>
#include "model/OvrinCharacter.h"
#include "model/hl.h"

#include <png.h>

#include <cstdio>
#include <string>

namespace {

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool writePng(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height)
{
    FILE* file = std::fopen(path.c_str(), "wb");
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
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = 0; row < height; ++row)
        png_write_row(png, rgb.data() + static_cast<size_t>(row) * width * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: gencharacter <data-dir>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string modelPath = dir + "/ovrin.mdl";
    const StudioFiles files = writeStudioModel(buildOvrinModel());
    bool ok = writeFile(modelPath, files.model);
    char name[512];
    if (!files.texture.empty() && studioTextureFileName(modelPath.c_str(), name, sizeof name))
        ok = ok && writeFile(name, files.texture);
    for (size_t g = 1; g < files.groups.size(); ++g)
        if (studioGroupFileName(modelPath.c_str(), static_cast<int>(g), name, sizeof name))
            ok = ok && writeFile(name, files.groups[g]);
    ok = ok && writePng(dir + "/ovrin_tex.png", buildOvrinSkin(), OVRIN_SKIN_SIZE, OVRIN_SKIN_SIZE);
    if (!ok) {
        std::fprintf(stderr, "gencharacter: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
