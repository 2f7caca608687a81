// model/Actors.h: the actor scene. Owns the loaded studio models (256 slots)
// and the actor records (100), loads the character (actor 0), and runs the
// character controller: walking along the camera's sideways vector, smooth
// turning, gravity and landing, and an action queue that chains the model's
// sequences. Drawing (model/ActorsDraw.cpp) is the only GL of the unit.
//
// Every entry point takes an actor index and refuses (does nothing, returns
// 0 or zeros) an index outside 0..MAX_ACTORS-1; a model slot outside
// 0..MAX_MODEL_SLOTS-1 is never looked up.
#pragma once

#include "math/Math.h"

#include <cstdint>

class StudioModel;

// --- Capacities and numbers ------------------------------------------------------

constexpr int MAX_MODEL_SLOTS = 256;
constexpr int MAX_ACTORS      = 100;
constexpr int ACTION_QUEUE_SIZE = 6;

// Actions; an action number is also the model's sequence number.
constexpr int ACTION_STAND       = 0;
constexpr int ACTION_WALK        = 1;
constexpr int ACTION_CROUCH      = 2;   // only as a link in queues
constexpr int ACTION_TAKE_OFF    = 3;   // starting it sets verticalSpeed to TAKE_OFF_SPEED
constexpr int ACTION_IN_AIR      = 4;
constexpr int ACTION_WAVE        = 5;   // only as a link in queues
constexpr int ACTION_LOOK_AROUND = 6;
constexpr int ACTION_BOW         = 7;   // queued, but never selects a sequence when started
constexpr int ACTION_COUNT       = 8;

// Actor::modelKind
constexpr int MODEL_KIND_NONE   = 0;
constexpr int MODEL_KIND_STUDIO = 3;

// loadCharacter kinds: only 1 loads anything.
constexpr int LOADER_KIND_NONE      = 0;
constexpr int LOADER_KIND_CHARACTER = 1;
constexpr int LOADER_KIND_OTHER     = 2;

// updateActors commands.
constexpr int ACTOR_COMMAND_STOP = 0;   // free camera: stop walking
constexpr int ACTOR_COMMAND_WALK = 4;   // path player: walk along the camera's right vector

// Controller constants.
constexpr float TAKE_OFF_SPEED     = 7.5f;    // vertical speed set when take-off starts
constexpr float GRAVITY            = 12.0f;   // vertical speed lost per second in the air
constexpr float IN_AIR_HEIGHT      = 30.0f;   // above this the actor switches to ACTION_IN_AIR
constexpr float MIN_WALK_SPEED     = 0.5f;    // a walk with a lower speed stops
constexpr float TURN_RATE_PER_SECOND = 9.0f;  // command 4: turnRate = dt x this, within 0..1
constexpr float STEPS_PER_SECOND   = 60.0f;   // speeds are per sixtieth of a second

// Files of the character, inside the data folder.
constexpr const char* CHARACTER_MODEL_FILE = "ovrin.mdl";
constexpr const char* CHARACTER_SKIN_FILE  = "ovrin_tex.png";
constexpr int CHARACTER_SKIN_SLOT = 1;        // texture table slot of the skin

// --- Records ---------------------------------------------------------------------

struct Actor {
    int32_t mode = 0;                   // behaviour mode (2: the character)
    uint8_t moving = 0;                 // travels along `direction` while jumping or in the air
    int32_t modelKind = MODEL_KIND_NONE;
    int32_t queuePos = 0;               // index of the running action in `queue`
    int32_t queueLength = 1;            // valid entries in `queue`
    int32_t health = 100;               // inactive when health and energy are both below 1
    int32_t queue[ACTION_QUEUE_SIZE] = {};   // action numbers
    Float3  direction;                  // travel direction, world; not normalised
    Float3  position;                   // world position of the model's origin
    int32_t modelSlot = 0;              // index into ActorScene::studioModels
    int32_t loaderKind = 0;             // kind given to loadCharacter
    float   animClock = 0.0f;           // time fed to stepAnimation (seconds x rate)
    float   speed = 2.5f;               // travel (units per 1/60 s) and animation rate
    float   heading = 0.0f;             // rotation about the vertical axis, degrees
    float   targetHeading = 0.0f;       // heading being approached, degrees
    float   turnRate = 0.15f;           // fraction of the remaining turn per update
    float   verticalSpeed = 0.0f;       // units per 1/60 s, up positive
    float   alpha = 1.0f;               // material alpha when drawing
    int32_t energy = 0;                 // see health
    uint8_t stoppedThisFrame = 0;       // a walk ended in this update
    Float3  goalPoint;                  // for other modes; (centerX, centerY, 0)
    float   boxHeight = 0.0f;           // vertical extent of the current sequence's box
    float   cursor[3] = {};             // screen cursor x, y (pixels), third stays 0

    int32_t runningAction() const { return queue[queuePos]; }
    bool    active() const { return health >= 1 || energy >= 1; }
};

// The start values of the table: every field as above, and the goal point and
// cursor at the screen centre given.
Actor makeStartActor(float centerX, float centerY);

class ActorScene {
public:
    StudioModel* studioModels[MAX_MODEL_SLOTS] = {};   // a slot owns its model
    int32_t      actorCount = 0;                       // actors in use (0 or 1 in the demo)
    Actor        actors[MAX_ACTORS];

    // All slots empty, no actors in use, every actor at its start values with
    // goal point and cursor at (centerX, centerY).
    explicit ActorScene(float centerX = 0.0f, float centerY = 0.0f);
    ~ActorScene();                                     // releaseScene
    ActorScene(const ActorScene&) = delete;
    ActorScene& operator=(const ActorScene&) = delete;

    // The model of an actor's slot, or null (no model, or a slot out of range).
    StudioModel* modelOf(int actorIndex) const;
};

// --- Loading ---------------------------------------------------------------------

// Kind 1: loads the skin "<folder>/ovrin_tex.png" into texture slot 1 and the
// model "<folder>/ovrin.mdl" into model slot a, and makes actor a the
// character at `position`, its goal point and cursor at the screen centre
// (centerX, centerY) as it stands now. Returns 1, or 0 for kinds other than 1, a missing
// skin (actor a unchanged) or an index a outside 0..MAX_ACTORS-1. A model that
// fails to open stays in its slot as an empty model. The first call sets
// actorCount to 1 even when it fails.
int  loadCharacter(ActorScene& scene, int a, int kind, const Float3& position, float centerX, float centerY,
                   const char* folder = "data");

// Releases and frees every model, empties every slot, actorCount 0.
void releaseScene(ActorScene& scene);

// --- Character controller --------------------------------------------------------

// Chains `action` after the running one (see the queue table in Actors.cpp)
// and starts queue[1]. Actors without a studio model are left unchanged.
void queueAction(ActorScene& scene, int actorIndex, int action);

// animClock 0; for a studio-model actor and action <= 6: take-off sets the
// vertical speed, and the model selects the action's sequence.
void startAction(ActorScene& scene, int actorIndex, int action);

// Advances the actor's animation clock by dt x rate x 0.6 and hands over to
// the next queued action when the sequence wraps.
void advanceActorAnimation(ActorScene& scene, int actorIndex, float dt, float rate);

// What the controller reads of the camera (path/Camera.h), as updateCamera
// last derived it.
struct ActorSteering {
    Float3 right;            // the camera's sideways vector: the walk direction
    float  negYaw = 0.0f;    // the camera's negated yaw, degrees: the heading to turn to
};

// One controller step of dt seconds: command ACTOR_COMMAND_WALK or
// ACTOR_COMMAND_STOP steers actor 0 (walking along the camera's right vector,
// turning to its negYaw), then every actor below actorCount moves.
void updateActors(ActorScene& scene, const ActorSteering& camera, float dt, int command);

// Gravity, ground, walking, turning and animation of one actor.
void updateActorMotion(ActorScene& scene, int actorIndex, float dt);

// --- Queries and cursor ----------------------------------------------------------

// The current sequence's box in the actor's frame: (x min, x max, vertical
// min, vertical max, depth min, depth max); zeros without a model.
void actorBox(const ActorScene& scene, int actorIndex, float out[6]);

// Moves the cursor by (dx, dy) and clamps x to 0..w-1, y to 0..h-1.
void moveActorCursor(ActorScene& scene, int actorIndex, float dx, float dy, int w, int h);

// The cursor's three values; zeros for an index out of range.
Float3 actorCursor(const ActorScene& scene, int actorIndex);

// --- Drawing (model/ActorsDraw.cpp, GL context current) --------------------------

// Places, turns and draws one actor's model with its alpha as the material
// alpha; leaves GL_TEXTURE_2D on when a model was drawn, blending off.
void drawActorModel(ActorScene& scene, int actorIndex);

// drawActorModel for every actor below actorCount.
void drawAllActors(ActorScene& scene);

// The program's actor scene (app/Globals.cpp: constructed after the settings,
// whose screen centre it reads). Written by asset loading, the path player and
// the free camera; drawn by the render passes.
extern ActorScene actorScene;
