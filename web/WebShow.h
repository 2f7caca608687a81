// web/WebShow.h: the show in a web page. The same floors as the desktop's
// show, over WebGL 2 (gl/GlLayer.h) and Web Audio (sound/SoundOutputWeb.cpp),
// driven one frame per animation frame of the browser: the page
// (web/index.html) fetches the assets into the file system, then this
// decodes the track a little every frame with its progress on the page,
// waits for the click that lets the browser start sound, and plays.
//
// The viewer's controls come from the page (the exports in WebShow.cpp):
// pause and resume, seeking by seconds or to a scene's start, restart and
// replay after the end, mute, the drawing's size. A seek lands on the frame
// the capture program writes at that time (its virtual clock and seed, a
// run from the start of the scene holding that time, as app/ShowRun.h runs
// it), from snapshots of the show made while the page waits for its click
// and behind the show, so no seek replays the show from its start; the show
// then plays on with the music from there.
//
// What the page asks for comes as arguments: none, the whole show from
// scene 1; "--scene N", scene N with the music moved to its start, ending
// with the scene; "--frame F", the one frame at track fraction F on the
// capture program's virtual clock, read back for the page, which then sets
// document.title to "frame ready"; "--size WxH", the drawing's size.
#pragma once

// What the page's arguments ask for; `problem` says why they were refused.
struct WebRequest {
    enum Kind { SHOW, SCENE, FRAME } kind = SHOW;
    int         scene = 1;       // SCENE: 1..10
    double      fraction = 0.0;  // FRAME: 0..1
    int         width = 1024;    // the drawing's size to start with
    int         height = 768;
    const char* problem = nullptr;
};

WebRequest parseWebRequest(int argc, char** argv);

// Opens the canvas and starts the page's frame loop; returns at once (the
// browser calls back every frame). Returns main's exit code.
int runWebShow(int argc, char** argv);
