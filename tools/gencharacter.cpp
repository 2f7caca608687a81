// tools/gencharacter.cpp: writes the demo's character, "ovrin.mdl" (with its
// texture and group files when the model uses them), and its skin
// "ovrin_tex.png" into the given folder. Deterministic.
// Usage: gencharacter <data-dir>   (or --help)
#include "gfx/PngFile.h"
#include "model/OvrinCharacter.h"
#include "model/hl.h"
#include "tools/ToolArgs.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const USAGE =
    "usage: gencharacter <data-dir>\n";
const char* const HELP =
    "  writes the character model ovrin.mdl (with its texture and group files\n"
    "  when it uses them) and its skin ovrin_tex.png into <data-dir>\n"
    "  -h, --help   print this and exit\n";

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc != 2)
        return refuseCommandLine("gencharacter", "needs exactly one argument, the data folder", USAGE);
    const std::string problem = fileArgumentProblem("the data folder", argv[1]);
    if (!problem.empty())
        return refuseCommandLine("gencharacter", problem, USAGE);
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
    ok = ok && writePng((dir + "/ovrin_tex.png").c_str(), OVRIN_SKIN_SIZE, OVRIN_SKIN_SIZE, 3, buildOvrinSkin().data());
    if (!ok) {
        std::fprintf(stderr, "gencharacter: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
