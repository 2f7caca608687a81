// tools/imagediff.cpp: how far two PNG images of one size are apart
// (gfx/ImageDiff.h): mean, 99th percentile and largest channel difference.
//
//   imagediff A.png B.png [MAX_MEAN MAX_P99]
//
// Prints one line; with the limits, exits 1 when either is passed. B may be
// a raw file (.rgb: RGB rows, top first, of A's size), as the browser's
// frame read-back comes.
#include "gfx/ImageDiff.h"
#include "gfx/PngFile.h"
#include "tools/ToolArgs.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const char* const USAGE = "usage: imagediff A.png B.png [MAX_MEAN MAX_P99]\n";
const char* const HELP =
    "  prints the mean, 99th percentile and largest channel difference of two\n"
    "  PNG images of one size (0..255); with MAX_MEAN and MAX_P99, exits 1 when\n"
    "  the images are further apart than that; B.rgb: raw RGB rows of A's size\n"
    "  -h, --help   print this and exit\n";

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc != 3 && argc != 5)
        return refuseCommandLine("imagediff", "needs two PNG files, and optionally both limits", USAGE);
    double maxMean = 0.0, maxP99 = 0.0;
    if (argc == 5 && (!parseFiniteNumber(argv[3], maxMean) || !parseFiniteNumber(argv[4], maxP99)))
        return refuseCommandLine("imagediff", "the limits must be finite numbers", USAGE);
    PngImage a, b;
    std::string why;
    if (!readPngRgb(argv[1], a, why)) {
        std::fprintf(stderr, "imagediff: %s: %s\n", argv[1], why.c_str());
        return 1;
    }
    const std::string second = argv[2];
    if (second.size() > 4 && second.compare(second.size() - 4, 4, ".rgb") == 0) {
        std::ifstream in(second, std::ios::binary);
        b.rgb.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        b.width = a.width;
        b.height = a.height;
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "imagediff: %s: cannot be read\n", argv[2]);
            return 1;
        }
    } else if (!readPngRgb(argv[2], b, why)) {
        std::fprintf(stderr, "imagediff: %s: %s\n", argv[2], why.c_str());
        return 1;
    }
    ImageDifference d;
    if (a.width != b.width || a.height != b.height || !compareRgb(a.rgb, b.rgb, a.width, a.height, d)) {
        std::fprintf(stderr, "imagediff: %s is %u x %u, %s is not of that size\n", argv[1], a.width, a.height,
                     argv[2]);
        return 1;
    }
    std::printf("%s\n", describeDifference(d).c_str());
    return argc == 5 && (d.mean > maxMean || d.p99 > maxP99) ? 1 : 0;
}
