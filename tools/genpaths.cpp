// tools/genpaths.cpp: writes the show's camera flights, "pos_path1.txt" ..
// "pos_path10.txt", "rot_path1.txt" .. "rot_path10.txt" and "paths.tms", into
// a folder (default "data"; tools/flights/FlightGen.h).
//
// Usage: genpaths [folder]   (or --help)
//
// The files are committed and then edited with the authoring tool, so this is
// run by hand to start the flights afresh, never by the build.
#include "tools/ToolArgs.h"
#include "tools/flights/FlightGen.h"

#include <string>

namespace {

const char* const USAGE =
    "usage: genpaths [folder]\n";
const char* const HELP =
    "  writes the show's camera flights pos_path1.txt .. pos_path10.txt,\n"
    "  rot_path1.txt .. rot_path10.txt and paths.tms into folder (default data),\n"
    "  replacing the recorded ones, and checks each flight\n"
    "  -h, --help   print this and exit\n";

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc > 2)
        return refuseCommandLine("genpaths", "takes at most one argument, the folder", USAGE);
    if (argc == 2) {
        const std::string problem = fileArgumentProblem("the folder", argv[1]);
        if (!problem.empty())
            return refuseCommandLine("genpaths", problem, USAGE);
    }
    return writeShowFlights(argc > 1 ? argv[1] : "data") ? 0 : 1;
}
