// tools/isomesh.cpp: one isosurface pass written as PLY, either over a list of
// sources or for one of the show's scenes at an effect time.
//   isomesh SOURCES.txt LEVEL OUT.ply
//   isomesh --scene N --time T OUT.ply
//   isomesh --help
// See iso/SourceFile.h for the line formats. The scene form starts scene N's
// isosurface set-up (1..10) and advances it to T seconds of effect time
// (0..3600) in fixed frame steps with a fixed particle seed, so the same
// arguments always give the same mesh. Prints the vertex and triangle counts;
// exit code 0 on success, 1 on a bad source file or a failed write, 2 on a
// refused command line (an unknown option, an empty file name, a number out of
// range or not finite), which reads and writes nothing.
#include "iso/IsoScenes.h"
#include "iso/Mesher.h"
#include "iso/SourceFile.h"
#include "tools/ToolArgs.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr float    MAX_SCENE_TIME = 3600.0f;
constexpr uint32_t SCENE_SEED     = 1;

const char* const USAGE =
    "usage: isomesh SOURCES.txt LEVEL OUT.ply\n"
    "       isomesh --scene N --time T OUT.ply\n";
const char* const HELP =
    "  the first form polygonizes the sources of SOURCES.txt at LEVEL; the second\n"
    "  scene N's surface (1..10) at T seconds of effect time (0..3600)\n"
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

int writeMesh(const char* path, const IsoMesh& mesh)
{
    std::string error;
    if (!writePly(path, mesh, error)) {
        std::fprintf(stderr, "isomesh: %s: %s\n", path, error.c_str());
        return 1;
    }
    std::printf("vertices: %zu\ntriangles: %zu\n", mesh.vertices.size(), mesh.indices.size() / 3);
    return 0;
}

int sceneMesh(const char* sceneText, const char* timeText, const char* outPath)
{
    char* end = nullptr;
    const long scene = std::strtol(sceneText, &end, 10);
    if (end == sceneText || *end != '\0' || scene < 1 || scene > ISO_SCENE_COUNT)
        return refuse(std::string("scene '") + sceneText + "' is not a number 1.." + std::to_string(ISO_SCENE_COUNT));
    float seconds = 0.0f;
    if (!parseFloat(timeText, seconds) || seconds < 0.0f || seconds > MAX_SCENE_TIME)
        return refuse(std::string("time '") + timeText + "' is not a number of seconds 0..3600");
    const std::string problem = fileArgumentProblem("the PLY file name", outPath);
    if (!problem.empty())
        return refuse(problem);
    useSeededParticleRandom(SCENE_SEED);
    auto iso = std::make_unique<IsoSurface>();
    IsoSceneRun run;
    startIsoScene(run, *iso, int(scene));
    advanceIsoScene(run, *iso, seconds);
    return writeMesh(outPath, iso->mesher.meshes[iso->mesher.current]);
}

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc >= 2 && std::strcmp(argv[1], "--scene") == 0) {
        if (argc != 6 || std::strcmp(argv[3], "--time") != 0)
            return refuse("--scene N needs --time T and the PLY file name after it");
        return sceneMesh(argv[2], argv[4], argv[5]);
    }
    if (argc != 4)
        return refuse("needs SOURCES.txt LEVEL OUT.ply, or --scene N --time T OUT.ply");
    for (const std::string& problem :
         { fileArgumentProblem("the source file name", argv[1]), fileArgumentProblem("the PLY file name", argv[3]) }) {
        if (!problem.empty())
            return refuse(problem);
    }
    float level = 0.0f;
    if (!parseFloat(argv[2], level))
        return refuse(std::string("LEVEL '") + argv[2] + "' is not a finite number");

    auto field = std::make_unique<SourceField>();
    std::string error;
    if (!readSourceFile(argv[1], *field, error)) {
        std::fprintf(stderr, "isomesh: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    auto mesher = std::make_unique<IsoMesher>(field.get());
    return writeMesh(argv[3], runIsoPass(*mesher, level));
}
