// iso/SourceFile.cpp: the source-list parser and the PLY writer.
#include "iso/SourceFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

constexpr int BALL_NUMBERS    = 8;
constexpr int SEGMENT_NUMBERS = 15;
constexpr size_t MAX_SHOWN_TOKEN = 32;   // longer tokens are cut in messages

std::string shown(const std::string& token)
{
    std::string out;
    for (char c : token.substr(0, MAX_SHOWN_TOKEN))
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    if (token.size() > MAX_SHOWN_TOKEN)
        out += "...";
    return out;
}

bool parseNumber(const std::string& token, float& out)
{
    if (token.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const float v = std::strtof(token.c_str(), &end);
    if (end != token.c_str() + token.size() || !std::isfinite(v))
        return false;   // trailing junk, an embedded NUL, nan, inf or out of range
    out = v;
    return true;
}

std::vector<std::string> tokensOf(const std::string& line)
{
    std::vector<std::string> tokens;
    std::istringstream in(line.substr(0, line.find('#')));
    std::string token;
    while (in >> token)
        tokens.push_back(token);
    return tokens;
}

} // namespace

bool parseSources(const std::string& text, SourceField& field, std::string& error)
{
    uint32_t balls = 0, segments = 0;
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> tokens = tokensOf(line);
        if (tokens.empty())
            continue;

        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        const std::string& kind = tokens[0];
        int needed;
        const char* layout;
        if (kind == "ball") {
            needed = BALL_NUMBERS;
            layout = "x y z strength radius r g b";
        } else if (kind == "segment") {
            needed = SEGMENT_NUMBERS;
            layout = "x0 y0 z0 x1 y1 z1 strength0 strength1 radius r0 g0 b0 r1 g1 b1";
        } else {
            error = where + "unknown source '" + shown(kind) + "' (expected 'ball' or 'segment')";
            return false;
        }
        const int found = static_cast<int>(tokens.size()) - 1;
        if (found != needed) {
            error = where + kind + " needs " + std::to_string(needed) + " numbers (" + layout + "), found " +
                    std::to_string(found);
            return false;
        }
        float n[SEGMENT_NUMBERS];
        for (int i = 0; i < needed; ++i) {
            if (!parseNumber(tokens[i + 1], n[i])) {
                error = where + "'" + shown(tokens[i + 1]) + "' is not a finite number";
                return false;
            }
        }
        if (balls + segments >= uint32_t(MAX_FILE_SOURCES)) {
            error = where + "more than " + std::to_string(MAX_FILE_SOURCES) + " sources";
            return false;
        }
        const float radius = kind == "ball" ? n[4] : n[8];
        if (!(radius > 0.0f)) {
            error = where + "radius must be positive";
            return false;
        }
        if (kind == "ball") {
            placeBall(field, balls++,
                      makeBall(Float3(n[0], n[1], n[2]), Float3(n[5], n[6], n[7]), n[3], n[4]));
        } else {
            placeSegment(field, segments++,
                         makeSegment(Float3(n[0], n[1], n[2]), Float3(n[9], n[10], n[11]), n[6],
                                     Float3(n[3], n[4], n[5]), Float3(n[12], n[13], n[14]), n[7], n[8]));
        }
    }
    return true;
}

bool readSourceFile(const char* path, SourceField& field, std::string& error)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    size_t got;
    bool tooBig = false;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (text.size() + got > MAX_SOURCE_FILE_BYTES) {
            tooBig = true;
            break;
        }
        text.append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (tooBig) {
        error = "file larger than " + std::to_string(MAX_SOURCE_FILE_BYTES) + " bytes";
        return false;
    }
    if (failed) {
        error = "read error";
        return false;
    }
    return parseSources(text, field, error);
}

bool writePly(const char* path, const IsoMesh& mesh, std::string& error)
{
    FILE* file = std::fopen(path, "wb");
    if (!file) {
        error = std::string("cannot create: ") + std::strerror(errno);
        return false;
    }
    auto byteOf = [](float c) {
        const float v = c > 0.0f ? (c < 1.0f ? c : 1.0f) : 0.0f;   // NaN gives 0
        return static_cast<unsigned>(std::lround(v * 255.0f));
    };
    std::fprintf(file,
                 "ply\nformat ascii 1.0\ncomment isosurface mesh in lattice units\n"
                 "element vertex %zu\nproperty float x\nproperty float y\nproperty float z\n"
                 "property float nx\nproperty float ny\nproperty float nz\n"
                 "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                 "element face %zu\nproperty list uchar int vertex_indices\nend_header\n",
                 mesh.vertices.size(), mesh.indices.size() / 3);
    for (const IsoVertex& v : mesh.vertices)
        std::fprintf(file, "%.6g %.6g %.6g %.6g %.6g %.6g %u %u %u\n", v.position.x, v.position.y, v.position.z,
                     v.normal.x, v.normal.y, v.normal.z, byteOf(v.colour.x), byteOf(v.colour.y), byteOf(v.colour.z));
    for (size_t i = 0; i + 2 < mesh.indices.size(); i += 3)
        std::fprintf(file, "3 %u %u %u\n", unsigned(mesh.indices[i]), unsigned(mesh.indices[i + 1]),
                     unsigned(mesh.indices[i + 2]));
    const bool ok = std::fflush(file) == 0 && !std::ferror(file);
    if (std::fclose(file) != 0 || !ok) {
        error = "write error";
        return false;
    }
    return true;
}
