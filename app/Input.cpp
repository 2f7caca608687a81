// app/Input.cpp: event handling, the free camera and the authoring keys.
#include "app/Input.h"

#include "app/Music.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "app/Tool.h"
#include "base/Report.h"
#include "base/Show.h"
#include "iso/IsoSurface.h"
#include "iso/Particles.h"
#include "model/Actors.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#if defined(__EMSCRIPTEN__)
// The browser's SDL has the key state, but its headers do not declare it.
extern "C" Uint8* SDL_GetKeyState(int* numkeys);
#endif

float moveSpeed = MOVE_SPEED_START;
bool  motionHandled = false;
bool  pointerOverTool = false;

InputSituation inputSituation()
{
    if (!appSettings.freeRoamAllowed)
        return INPUT_SHOW;
    return pathPlayer.playing ? INPUT_PLAYBACK : INPUT_FREE_CAMERA;
}

namespace {

void toggleFlag(int32_t flag)
{
    renderFlags ^= flag;
}

} // namespace

void returnCameraToFlight()
{
    const PathPair& pair = pathPlayer.paths.pairs[std::clamp(pathPlayer.pathIndex, 0, SCENE_ENTRIES - 1)];
    Float3 position = SANE_CAMERA_POSITION, angles;
    if (!pair.position.points.empty() && finitePose(pair.position.points.back(), Float3()))
        position = pair.position.points.back();
    if (!pair.rotation.points.empty() && finitePose(Float3(), pair.rotation.points.back()))
        angles = pair.rotation.points.back();
    holdCameraAt(camera, angles, position);
    updateCamera(camera, 0.0f);
}

namespace {

// Space: the camera's current view becomes a key of the scene's flight; both
// files are saved at once (the save says on stderr what went wrong, if
// anything; the key stays in memory). A pose that is not finite is never
// recorded: the camera goes back to the flight's last key.
void recordCameraKey()
{
    const int scene = pathPlayer.pathIndex;
    if (!finitePose(camera.position, camera.angles)) {
        reportLine("The camera's pose is not finite; no key was recorded, and the camera is back at the "
                   "last key of scene %d's flight\n", scene);
        returnCameraToFlight();
        return;
    }
    if (!(toolHooks.recordKey && toolHooks.recordKey(camera.position, camera.angles)))   // the tool: undoable
        recordKeyPoint(pathPlayer.paths, scene, camera.position, camera.angles);
}

// `c`: the flight is emptied in memory; in the tool one undo brings it back.
void clearFlight()
{
    if (!(toolHooks.clearKeys && toolHooks.clearKeys()))
        clearPair(pathPlayer.paths, pathPlayer.pathIndex);
}

// `n`: the scene again from its start, with its part of the music.
void replayScene()
{
    if (toolHooks.releaseScene)
        toolHooks.releaseScene();   // a scrub's hold ends and its music plays again
    restartPath(pathPlayer);
    seekMusic(0, startPositionSum(pathPlayer.pathIndex, pathPlayer.paths.pathDurations));
}

void freeCameraKey(SDLKey sym)
{
    switch (sym) {
    case SDLK_ESCAPE: quitRequested = true; break;
    case SDLK_SPACE:  recordCameraKey(); break;
    case SDLK_c:      clearFlight(); break;
    case SDLK_g:      toggleFlag(FLAG_GRID); break;
    case SDLK_j:      break;   // reserved, does nothing
    case SDLK_p:      toggleFlag(FLAG_PAUSED); break;
    case SDLK_PLUS:
    case SDLK_9:      moveSpeed = std::min(moveSpeed * 2.0f, MOVE_SPEED_CEILING); break;
    case SDLK_MINUS:
    case SDLK_8:      moveSpeed = std::max(moveSpeed * 0.5f, MOVE_SPEED_FLOOR); break;
    case SDLK_b:      markBeat(); break;
    case SDLK_m:      toggleFlag(FLAG_CAPTION); break;
    case SDLK_n:      replayScene(); break;
    case SDLK_z:      updateFrame(SINGLE_STEP); break;   // also while paused
    default:   // the tool's keys (app/Tool.h)
        if (toolHooks.key)
            toolHooks.key(sym);
        break;
    }
}

// Where the cursor is, in pixels from the window's lower left.
void cursorPixel(int& x, int& y)
{
    const Float3 cursor = actorCursor(actorScene, 0);
    x = static_cast<int>(cursor.x);
    y = static_cast<int>(cursor.y) - 1;
}

// Whether the tool takes the pointer where the cursor is (app/Tool.h).
bool toolOwnsCursor()
{
    int x, y;
    cursorPixel(x, y);
    return toolHooks.ownsPointer && toolHooks.ownsPointer(x, y);
}

void mouseMotion(const SDL_MouseMotionEvent& motion)
{
    if (motionHandled)
        return;   // later motions of this drain, including the warp's own
    moveActorCursor(actorScene, 0, static_cast<float>(motion.x - appSettings.centerX),
                    static_cast<float>(appSettings.centerY - motion.y), appSettings.screenWidth,
                    appSettings.screenHeight);
    motionHandled = true;
    SDL_WarpMouse(static_cast<Uint16>(appSettings.centerX), static_cast<Uint16>(appSettings.centerY));
    // Over the tool's part of the window the cursor works the tool: a drag
    // with the left button held goes to it, and the view does not turn.
    pointerOverTool = toolOwnsCursor();
    if (pointerOverTool && (motion.state & SDL_BUTTON(1)) && toolHooks.pointer) {
        int x, y;
        cursorPixel(x, y);
        toolHooks.pointer(x, y, POINTER_DRAG);
    }
}

// A left click goes to the tool where the cursor is, when it takes it
// there; the button's release goes to it wherever the cursor is (a drag
// that began in the tool's part may end outside it).
void mouseButton(const SDL_MouseButtonEvent& button)
{
    if (button.button != SDL_BUTTON_LEFT || !toolHooks.pointer)
        return;
    int x, y;
    cursorPixel(x, y);
    if (button.type == SDL_MOUSEBUTTONUP)
        toolHooks.pointer(x, y, POINTER_RELEASE);
    else if (toolOwnsCursor())
        toolHooks.pointer(x, y, POINTER_PRESS);
}

} // namespace

void handleKeyDown(const SDL_KeyboardEvent& key)
{
    const SDLKey sym = key.keysym.sym;
    switch (inputSituation()) {
    case INPUT_SHOW:
        if (sym == SDLK_ESCAPE)
            quitRequested = true;
        else if (sym == SDLK_b)
            markBeat();   // "Beat at: <position>" on stderr
        break;
    case INPUT_PLAYBACK:
        if (sym == SDLK_ESCAPE)
            stopPath(pathPlayer);   // the loop passes to the free camera
        else if (toolHooks.playbackKey)
            toolHooks.playbackKey(sym);   // the tool's keys while its own playback runs
        break;
    case INPUT_FREE_CAMERA:
        freeCameraKey(sym);
        break;
    }
}

void handleEvent(const SDL_Event& event)
{
    switch (event.type) {
    case SDL_QUIT:
        quitRequested = true;
        break;
    case SDL_KEYDOWN:
        handleKeyDown(event.key);
        break;
    case SDL_MOUSEMOTION:
        if (inputSituation() == INPUT_FREE_CAMERA)
            mouseMotion(event.motion);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (inputSituation() == INPUT_FREE_CAMERA)
            mouseButton(event.button);
        break;
    default:
        break;
    }
}

void handleEvents()
{
    SDL_Event event;
    while (SDL_PollEvent(&event))
        handleEvent(event);
    motionHandled = false;
}

float deadZoneInput(float offset, float quarter)
{
    if (offset > quarter)
        return offset - quarter;
    if (offset < -quarter)
        return offset + quarter;
    return 0.0f;
}

void updateFrameWithKeys(float dt, const Uint8* keys)
{
    const Float3 cursor = actorCursor(actorScene, 0);
    const float w4 = static_cast<float>(appSettings.screenWidth) * 0.25f;
    const float h4 = static_cast<float>(appSettings.screenHeight) * 0.25f;
    float yawInput = deadZoneInput(cursor[0] - static_cast<float>(appSettings.centerX), w4);
    float pitchInput = deadZoneInput(static_cast<float>(appSettings.centerY) - cursor[1], h4);

    // Walking along the view's side vector V and the forward vector (Vz, Vy, -Vx).
    const Float3 v = camera.right;
    const Float3 forward(v.z, v.y, -v.x);
    Float3 p = camera.targetPosition;
    const double s = static_cast<double>(moveSpeed) * dt;
    if (keys[SDLK_a]) addScaled(p, -s, v, p);
    if (keys[SDLK_d]) addScaled(p, s, v, p);
    if (keys[SDLK_w]) addScaled(p, s, forward, p);
    if (keys[SDLK_s]) addScaled(p, -s, forward, p);
    if (keys[SDLK_f]) p.y = static_cast<float>(p.y + s);
    if (keys[SDLK_v]) p.y = static_cast<float>(p.y - s);

    pointerOverTool = toolOwnsCursor();
    if (pointerOverTool)
        yawInput = pitchInput = 0.0f;   // the cursor works the tool: it does not steer
    // Arrow keys replace the mouse; later tests win.
    if (keys[SDLK_LEFT])  yawInput = -moveSpeed;
    if (keys[SDLK_RIGHT]) yawInput = moveSpeed;
    if (keys[SDLK_UP])    pitchInput = moveSpeed;
    if (keys[SDLK_DOWN])  pitchInput = -moveSpeed;

    Float3 angles = camera.targetAngles;
    angles.x = std::clamp(angles.x + dt * appSettings.lookRate * pitchInput, -90.0f, 90.0f);
    angles.y = angles.y + dt * appSettings.lookRate * yawInput;   // not wrapped

    if (pathPlayer.show.drawActors)
        updateActors(actorScene, ActorSteering{ camera.right, camera.negYaw }, dt, 0);
    holdCameraAt(camera, angles, p);
    updateCamera(camera, dt);
    if (toolHooks.holdsScene && toolHooks.holdsScene())
        return;   // scrubbed: the scene stands at its scrub time while the camera flies
    updateParticles(particleSystem, dt);
    updateIso(isoSurface, dt);
}

void updateFrame(float dt)
{
    updateFrameWithKeys(dt, SDL_GetKeyState(nullptr));
}
