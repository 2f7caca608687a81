// tools/isomesh.cpp: one isosurface pass written as PLY, either over a list of
// sources or for one of the show's scenes at an effect time; with --check,
// also compared with a plain marching cubes over every cube of the same field;
// with --sweep, scenes 2 to 10 compared frame by frame over their show length.
//   isomesh [--check] SOURCES.txt LEVEL OUT.ply
//   isomesh [--check] --scene N --time T OUT.ply
//   isomesh --sweep STEP
//   isomesh --help
// See iso/SourceFile.h for the line formats. The scene form starts scene N's
// isosurface set-up (1..10) and advances it to T seconds of effect time
// (0..3600) in fixed frame steps with a fixed particle seed, so the same
// arguments always give the same mesh. Prints the vertex and triangle counts;
// exit code 0 on success, 1 on a bad source file or a failed write, 2 on a
// refused command line (an unknown option, an empty file name, a number out of
// range or not finite), which reads and writes nothing, and 3 when --check or
// --sweep finds the mesh and the full grid's differ.
#include "iso/IsoScenes.h"
#include "iso/SourceFile.h"
#include "tools/ToolArgs.h"
#include "tools/isomesh/IsoMeshTool.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char* const USAGE =
    "usage: isomesh [--check] SOURCES.txt LEVEL OUT.ply\n"
    "       isomesh [--check] --scene N --time T OUT.ply\n"
    "       isomesh --sweep STEP\n";
const char* const HELP =
    "  the first form polygonizes the sources of SOURCES.txt at LEVEL; the second\n"
    "  scene N's surface (1..10) at T seconds of effect time (0..3600)\n"
    "  --check      also mesh the same field with a plain marching cubes over\n"
    "               every cube (0 outside the lattice on all six sides), print\n"
    "               both meshes' vertex, triangle and piece counts, exit 3 when\n"
    "               they differ\n"
    "  --sweep STEP scenes 2 to 10 over their length in the show, every STEP\n"
    "               seconds of effect time (0.01..10): each frame is checked as\n"
    "               --check does and against the seeded pass alone; one line of\n"
    "               counts per scene; exit 3 when a frame differs\n"
    "  -h, --help   print this and exit\n";

int refuse(const std::string& reason)
{
    return refuseCommandLine("isomesh", reason, USAGE);
}

bool parseFloat(const char* text, float& out)
{
    char* end = nullptr;
    out = std::strtof(text, &end);
    return end != text && *end == '\0' && std::isfinite(out);
}

int sweepCommand(const char* stepText)
{
    float step = 0.0f;
    if (!parseFloat(stepText, step) || step < 0.01f || step > 10.0f)
        return refuse(std::string("STEP '") + stepText + "' is not a number of seconds 0.01..10");
    return sweepScenes(step);
}

int sceneCommand(const char* sceneText, const char* timeText, const char* outPath, bool check)
{
    char* end = nullptr;
    const long scene = std::strtol(sceneText, &end, 10);
    if (end == sceneText || *end != '\0' || scene < 1 || scene > ISO_SCENE_COUNT)
        return refuse(std::string("scene '") + sceneText + "' is not a number 1.." + std::to_string(ISO_SCENE_COUNT));
    float seconds = 0.0f;
    if (!parseFloat(timeText, seconds) || seconds < 0.0f || seconds > ISOMESH_MAX_SCENE_TIME)
        return refuse(std::string("time '") + timeText + "' is not a number of seconds 0..3600");
    const std::string problem = fileArgumentProblem("the PLY file name", outPath);
    if (!problem.empty())
        return refuse(problem);
    return sceneMesh(int(scene), seconds, outPath, check);
}

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc >= 2 && std::strcmp(argv[1], "--sweep") == 0) {
        if (argc != 3)
            return refuse("--sweep needs STEP and nothing else");
        return sweepCommand(argv[2]);
    }
    // An optional --check first, then one of the two forms.
    const bool check = argc >= 2 && std::strcmp(argv[1], "--check") == 0;
    char** args = argv + (check ? 1 : 0);
    const int count = argc - (check ? 1 : 0);
    if (count >= 2 && std::strcmp(args[1], "--scene") == 0) {
        if (count != 6 || std::strcmp(args[3], "--time") != 0)
            return refuse("--scene N needs --time T and the PLY file name after it");
        return sceneCommand(args[2], args[4], args[5], check);
    }
    if (count != 4)
        return refuse("needs SOURCES.txt LEVEL OUT.ply, or --scene N --time T OUT.ply");
    for (const std::string& problem :
         { fileArgumentProblem("the source file name", args[1]), fileArgumentProblem("the PLY file name", args[3]) }) {
        if (!problem.empty())
            return refuse(problem);
    }
    float level = 0.0f;
    if (!parseFloat(args[2], level))
        return refuse(std::string("LEVEL '") + args[2] + "' is not a finite number");

    auto field = std::make_unique<SourceField>();
    std::string error;
    if (!readSourceFile(args[1], *field, error)) {
        std::fprintf(stderr, "isomesh: %s: %s\n", args[1], error.c_str());
        return 1;
    }
    auto mesher = std::make_unique<IsoMesher>(field.get());
    return writeMesh(args[3], runIsoPass(*mesher, level), check ? field.get() : nullptr, level);
}
