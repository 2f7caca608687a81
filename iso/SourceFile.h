// iso/SourceFile.h: source lists as text and meshes as PLY, for the isomesh
// tool and for looking at meshes outside the demo. No GL.
//
// Source list: one source per line, numbers separated by blanks; blank lines
// and text after '#' are ignored.
//   ball x y z strength radius r g b
//   segment x0 y0 z0 x1 y1 z1 strength0 strength1 radius r0 g0 b0 r1 g1 b1
// Every number must be finite and every radius positive. Ball i and segment i
// are placed at indices 0, 1, ... in file order.
#pragma once

#include "iso/Field.h"
#include "iso/Mesher.h"

#include <string>

constexpr size_t MAX_SOURCE_FILE_BYTES = 16u << 20;   // larger files are refused
constexpr int    MAX_FILE_SOURCES      = 4096;        // balls plus segments per file

// Places the sources of `text` into `field`. On a malformed line returns false
// with error = "line N: <reason>" and leaves the sources of earlier lines placed.
bool parseSources(const std::string& text, SourceField& field, std::string& error);

// Reads and parses a file; error names the problem (not the path).
bool readSourceFile(const char* path, SourceField& field, std::string& error);

// Writes the mesh as ASCII PLY: position, normal and 8-bit colour per vertex
// (colour clamped to 0..1), one triangle per face.
bool writePly(const char* path, const IsoMesh& mesh, std::string& error);
