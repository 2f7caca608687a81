// tools/flights/FlightGen.h: the show's original camera flights, written as
// "pos_path1.txt" .. "pos_path10.txt", "rot_path1.txt" .. "rot_path10.txt" and
// "paths.tms". Each scene's flight is an eye curve and a look-at curve fitted
// with B-spline keys, then checked as the show samples it (the grid centre in
// view, the eye inside the sky cube where there is one). Used by
// tools/genpaths.cpp.
#pragma once

#include <string>

// Writes and checks every flight into `folder`, one line per scene on
// stdout. False when a file could not be written or a check failed.
bool writeShowFlights(const std::string& folder);
