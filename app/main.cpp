// app/main.cpp: the vortalune program. Everything lives in the library.
#include "app/Demo.h"

#include <SDL.h>   // SDL's entry wrapper, where the platform has one

int main(int argc, char** argv)
{
    return runDemo(argc, argv);
}
