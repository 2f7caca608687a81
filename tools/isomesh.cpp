// tools/isomesh.cpp: one isosurface pass over a list of sources, written as PLY.
//   isomesh SOURCES.txt LEVEL OUT.ply
// See iso/SourceFile.h for the line formats. Prints the vertex and triangle
// counts; exit code 0 on success, 1 on bad input or a failed write, 2 on usage.
#include "iso/Mesher.h"
#include "iso/SourceFile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: isomesh SOURCES.txt LEVEL OUT.ply\n");
        return 2;
    }
    char* end = nullptr;
    const float level = std::strtof(argv[2], &end);
    if (end == argv[2] || *end != '\0' || !std::isfinite(level)) {
        std::fprintf(stderr, "isomesh: LEVEL '%s' is not a finite number\n", argv[2]);
        return 1;
    }

    auto field = std::make_unique<SourceField>();
    std::string error;
    if (!readSourceFile(argv[1], *field, error)) {
        std::fprintf(stderr, "isomesh: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    auto mesher = std::make_unique<IsoMesher>(field.get());
    const IsoMesh& mesh = runIsoPass(*mesher, level);
    if (!writePly(argv[3], mesh, error)) {
        std::fprintf(stderr, "isomesh: %s: %s\n", argv[3], error.c_str());
        return 1;
    }
    std::printf("vertices: %zu\ntriangles: %zu\n", mesh.vertices.size(), mesh.indices.size() / 3);
    return 0;
}
