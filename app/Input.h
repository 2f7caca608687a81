// app/Input.h: keyboard and mouse handling for the show and the authoring tool.
#pragma once

struct SDL_KeyboardEvent;

// Drains SDL's event queue once per frame. In the show: Escape and window close
// quit, `b` prints the music position. Keys are compared by their whole SDL key symbol.
void handleEvents();

// Acts on one key press; split out of handleEvents so it can be driven in tests.
void handleKeyDown(const SDL_KeyboardEvent& key);
