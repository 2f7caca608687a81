// tools/genimages.cpp: writes the demo's images into a data folder
// (tools/images/ImageGen.h).
//
//   genimages <data-dir>
//   genimages --help
#include "tools/ToolArgs.h"
#include "tools/images/ImageGen.h"

#include <string>

namespace {

const char* const USAGE =
    "usage: genimages <data-dir>\n";
const char* const HELP =
    "  writes the demo's images (font, title card, credits, sky, pastel, bumpy,\n"
    "  sprite) into <data-dir>, made when missing; the same bytes on every run\n"
    "  -h, --help   print this and exit\n";

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc != 2)
        return refuseCommandLine("genimages", "needs exactly one argument, the data folder", USAGE);
    const std::string problem = fileArgumentProblem("the data folder", argv[1]);
    if (!problem.empty())
        return refuseCommandLine("genimages", problem, USAGE);
    return generateImages(argv[1]) ? 0 : 1;
}
