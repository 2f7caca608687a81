// editor/vortalune_main.cpp: the vortalune program: the show (app/Demo.h)
// with its authoring tool's path editor installed, which wakes only for
// `vortalune N`. Everything lives in the library.
#include "app/Demo.h"
#include "editor/Editor.h"

#include <SDL.h>   // SDL's entry wrapper, where the platform has one

int main(int argc, char** argv)
{
    installEditor();
    return runDemo(argc, argv);
}
