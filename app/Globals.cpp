// app/Globals.cpp: the subsystem globals whose construction does work.
//
// Objects defined in one translation unit are constructed in the order they are
// defined, so the start-up order below holds by construction, whatever the link
// order of the other files:
//   1. the settings, read from "settings.ini";
//   2. the path player, which loads every path file;
//   3. the isosurface, which runs its two updates;
//   4. the actor scene, whose actors start at the settings' screen centre.
// Globals that only need zeroing (flags, texture table, music clock, font lists)
// are constant-initialised in their own units and need no place here.
#include "app/Settings.h"
#include "base/Report.h"
#include "iso/IsoSurface.h"
#include "model/Actors.h"
#include "path/PathPlayer.h"

// First: what the files below report is held until the program has read its
// command line (printStartupMessages), so --help prints nothing else.
static MessageHold startupHold;

AppSettings appSettings = loadStartupSettings();

// The path player loads every path file before the isosurface is built. It
// repairs no interrupted save here: the program does that once its command
// line is accepted (repairInterruptedSaves), so --help changes no file.
PathPlayer pathPlayer = [] {
    PathPlayer player;
    constructPathPlayer(player, "data", false);
    return player;
}();

IsoSurface isoSurface;

ActorScene actorScene(static_cast<float>(appSettings.centerX), static_cast<float>(appSettings.centerY));

// Last: the end of the hold.
[[maybe_unused]] static const bool startupMessagesHeld = [] {
    startupMessages() = startupHold.finish();
    return true;
}();
