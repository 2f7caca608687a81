// app/Input.cpp: event handling.
#include "app/Input.h"

#include "app/Music.h"
#include "app/Shell.h"

#include <SDL.h>

void handleKeyDown(const SDL_KeyboardEvent& key)
{
    // Whole symbols: SDLK_F2 (283) shares its low byte with SDLK_ESCAPE (27).
    switch (key.keysym.sym) {
    case SDLK_ESCAPE:
        quitRequested = true;
        break;
    case SDLK_b:
        markBeat();   // "Beat at: <position>" on stderr
        break;
    default:
        break;
    }
}

void handleEvents()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_QUIT:
            quitRequested = true;
            break;
        case SDL_KEYDOWN:
            handleKeyDown(event.key);
            break;
        default:
            break;
        }
    }
}
