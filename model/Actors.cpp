// model/Actors.cpp: the actor scene's tables, the character loader and the
// character controller. No GL (drawing is in model/ActorsDraw.cpp).
//
// Sections:
//   --- Scene ---
//   --- Loading ---
//   --- Action queue ---
//   --- Controller ---
//   --- Queries and cursor ---
#include "model/Actors.h"

#include "base/Report.h"
#include "gfx/Texture.h"
#include "model/hl.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

// --- Scene -----------------------------------------------------------------------

Actor makeStartActor(float centerX, float centerY)
{
    Actor actor;
    actor.goalPoint = Float3(centerX, centerY, 0.0f);
    actor.cursor[0] = centerX;
    actor.cursor[1] = centerY;
    actor.cursor[2] = 0.0f;
    return actor;
}

ActorScene::ActorScene(float centerX, float centerY)
{
    for (Actor& actor : actors)
        actor = makeStartActor(centerX, centerY);
}

ActorScene::~ActorScene()
{
    releaseScene(*this);
}

namespace {

bool validActor(int actorIndex)
{
    return actorIndex >= 0 && actorIndex < MAX_ACTORS;
}

// A studio-model actor: the kind says so (its slot may still be empty).
bool isStudioActor(const Actor& actor)
{
    return actor.modelKind == MODEL_KIND_STUDIO;
}

} // namespace

StudioModel* ActorScene::modelOf(int actorIndex) const
{
    if (!validActor(actorIndex))
        return nullptr;
    const int slot = actors[actorIndex].modelSlot;
    if (slot < 0 || slot >= MAX_MODEL_SLOTS)
        return nullptr;
    return studioModels[slot];
}

void releaseScene(ActorScene& scene)
{
    for (StudioModel*& model : scene.studioModels) {
        if (model) {
            model->release();
            delete model;
            model = nullptr;
        }
    }
    scene.actorCount = 0;
}

// --- Loading ---------------------------------------------------------------------

int loadCharacter(ActorScene& scene, int a, int kind, const Float3& position, float centerX, float centerY,
                  const char* folder)
{
    if (scene.actorCount == 0)
        scene.actorCount = 1;
    if (kind != LOADER_KIND_CHARACTER)
        return 0;   // kinds 0 and 2 (and any other) load nothing

    char path[512];
    std::snprintf(path, sizeof path, "%s/%s", folder, CHARACTER_SKIN_FILE);
    if (!textureTable.loadPng(path, CHARACTER_SKIN_SLOT, 0))
        return 0;

    // The model slot is the actor's index; an index without an actor record
    // (and so every slot number above 255) is refused.
    if (!validActor(a))
        return 0;
    StudioModel*& slot = scene.studioModels[a];
    if (slot) {
        slot->release();
        delete slot;
        slot = nullptr;
    }
    std::snprintf(path, sizeof path, "%s/%s", folder, CHARACTER_MODEL_FILE);
    slot = new StudioModel;
    // Kept whatever open returns: a model that failed to open is empty, draws
    // nothing and has an all-zero box.
    if (!slot->open(path, textureTable.nameOf(CHARACTER_SKIN_SLOT)))
        reportLine("The character model %s could not be loaded (%s): the character is left out.\n", path,
                   slot->failure.c_str());

    Actor& actor = scene.actors[a];
    actor = makeStartActor(centerX, centerY);
    actor.mode = 2;
    actor.modelKind = MODEL_KIND_STUDIO;
    actor.health = 200;
    actor.modelSlot = a;
    actor.loaderKind = kind;
    actor.position = position;
    return 1;
}

// --- Action queue ----------------------------------------------------------------
//
// queueAction chains a new action after the running one c. Each rule gives the
// entries that follow c; the first rule whose action and condition match
// wins. A rule of length 0 refuses: the queue stays and nothing starts.

namespace {

enum RunningMatch : int {
    RUNNING_ANY,             // any running action
    RUNNING_IN_AIR,          // c = 4
    RUNNING_STAND_OR_LOOK,   // c = 0 or c = 6
    RUNNING_WALK,            // c = 1
};

struct QueueRule {
    int          action;
    RunningMatch match;
    int          links[3];   // entries after c
    int          length;     // queue length including c; 0 refuses
};

constexpr QueueRule QUEUE_RULES[] = {
    { ACTION_STAND,       RUNNING_IN_AIR,        { ACTION_CROUCH, ACTION_STAND },                  3 },
    { ACTION_STAND,       RUNNING_ANY,           { ACTION_STAND },                                 2 },
    { ACTION_WALK,        RUNNING_ANY,           { ACTION_WALK },                                  2 },
    { ACTION_CROUCH,      RUNNING_ANY,           { ACTION_CROUCH },                                2 },
    { ACTION_IN_AIR,      RUNNING_ANY,           { ACTION_IN_AIR },                                2 },
    { ACTION_LOOK_AROUND, RUNNING_ANY,           { ACTION_LOOK_AROUND },                           2 },
    { ACTION_BOW,         RUNNING_ANY,           { ACTION_BOW },                                   2 },
    { ACTION_TAKE_OFF,    RUNNING_STAND_OR_LOOK, { ACTION_CROUCH, ACTION_TAKE_OFF, ACTION_IN_AIR }, 4 },
    { ACTION_TAKE_OFF,    RUNNING_WALK,          { ACTION_TAKE_OFF, ACTION_IN_AIR },               3 },
    { ACTION_TAKE_OFF,    RUNNING_ANY,           {},                                               0 },
    { ACTION_WAVE,        RUNNING_STAND_OR_LOOK, { ACTION_WAVE, ACTION_LOOK_AROUND },              3 },
    { ACTION_WAVE,        RUNNING_WALK,          { ACTION_WAVE, ACTION_WALK },                     3 },
    { ACTION_WAVE,        RUNNING_ANY,           {},                                               0 },
};
static_assert(std::size(QUEUE_RULES) == 13, "one row per line of the queue table");

bool runningMatches(RunningMatch match, int c)
{
    switch (match) {
    case RUNNING_ANY:           return true;
    case RUNNING_IN_AIR:        return c == ACTION_IN_AIR;
    case RUNNING_STAND_OR_LOOK: return c == ACTION_STAND || c == ACTION_LOOK_AROUND;
    case RUNNING_WALK:          return c == ACTION_WALK;
    }
    return false;
}

const QueueRule* findQueueRule(int action, int c)
{
    for (const QueueRule& rule : QUEUE_RULES)
        if (rule.action == action && runningMatches(rule.match, c))
            return &rule;
    return nullptr;   // an action the table does not know
}

} // namespace

void queueAction(ActorScene& scene, int actorIndex, int action)
{
    if (!validActor(actorIndex))
        return;
    Actor& actor = scene.actors[actorIndex];
    if (!isStudioActor(actor))
        return;
    const int c = actor.runningAction();
    if (action == c)
        return;
    const QueueRule* rule = findQueueRule(action, c);
    if (!rule || rule->length == 0)
        return;   // unchanged, and nothing is started

    actor.queue[0] = c;
    for (int i = 1; i < rule->length; ++i)
        actor.queue[i] = rule->links[i - 1];
    actor.queueLength = rule->length;
    actor.queuePos = 1;
    startAction(scene, actorIndex, actor.queue[1]);
}

void startAction(ActorScene& scene, int actorIndex, int action)
{
    if (!validActor(actorIndex))
        return;
    Actor& actor = scene.actors[actorIndex];
    actor.animClock = 0.0f;
    if (!isStudioActor(actor) || action > ACTION_LOOK_AROUND)
        return;
    if (action == ACTION_TAKE_OFF)
        actor.verticalSpeed = TAKE_OFF_SPEED;
    if (StudioModel* model = scene.modelOf(actorIndex))
        model->selectSequence(action);
}

void advanceActorAnimation(ActorScene& scene, int actorIndex, float dt, float rate)
{
    if (!validActor(actorIndex))
        return;
    Actor& actor = scene.actors[actorIndex];
    if (!isStudioActor(actor))
        return;
    actor.animClock += dt * (rate * 0.01f) * STEPS_PER_SECOND;
    StudioModel* model = scene.modelOf(actorIndex);
    if (!model)
        return;
    // selectSequence puts the frame back to 1, so the model shows frame
    // 1 + animClock x fps; a wrap ends the action.
    model->selectSequence(actor.runningAction());
    if (model->stepAnimation(actor.animClock)) {
        if (actor.queuePos < actor.queueLength - 1) {
            ++actor.queuePos;
            startAction(scene, actorIndex, actor.runningAction());
        }
        actor.animClock = 0.0f;
    }
}

// --- Controller ------------------------------------------------------------------

void updateActors(ActorScene& scene, const ActorSteering& camera, float dt, int command)
{
    Actor& actor = scene.actors[0];
    const int running = actor.runningAction();
    const bool controllable =
        actor.active() && (running == ACTION_STAND || running == ACTION_WALK || running == ACTION_LOOK_AROUND);
    if (controllable) {
        if (command == ACTOR_COMMAND_WALK) {
            actor.moving = 1;
            actor.direction = camera.right;
            actor.targetHeading = camera.negYaw;
            // Turn the short way: bring the heading within 180 degrees of the target.
            const float turn = actor.targetHeading - actor.heading;
            if (turn > 180.0f)
                actor.heading += 360.0f;
            else if (turn < -180.0f)
                actor.heading -= 360.0f;
            // At most the whole remaining turn per update, so a long step
            // never swings past the target; a backward step (the music moved
            // back) does not turn away from it.
            actor.turnRate = std::clamp(dt * TURN_RATE_PER_SECOND, 0.0f, 1.0f);
            queueAction(scene, 0, ACTION_WALK);
        } else if (command == ACTOR_COMMAND_STOP) {
            actor.moving = 0;
            if (running == ACTION_WALK)
                queueAction(scene, 0, ACTION_STAND);
        }
    }
    const int count = std::min(scene.actorCount, MAX_ACTORS);
    for (int i = 0; i < count; ++i)
        updateActorMotion(scene, i, dt);
}

void updateActorMotion(ActorScene& scene, int actorIndex, float dt)
{
    if (!validActor(actorIndex))
        return;
    Actor& actor = scene.actors[actorIndex];
    actor.stoppedThisFrame = 0;
    actor.position.y += dt * actor.verticalSpeed * STEPS_PER_SECOND;

    // Ground level for the origin: the box's lowest point touches y = 0.
    float box[6];
    actorBox(scene, actorIndex, box);
    actor.boxHeight = box[3] - box[2];
    const float ground = -box[2];

    bool landed = false;
    if (actor.position.y > ground) {
        actor.verticalSpeed -= GRAVITY * dt;
        if (actor.position.y > IN_AIR_HEIGHT && actor.runningAction() != ACTION_TAKE_OFF)
            queueAction(scene, actorIndex, ACTION_IN_AIR);
    } else {
        actor.verticalSpeed = 0.0f;
        actor.position.y = ground;
        landed = true;
    }

    if (!actor.active())
        return;

    const int running = actor.runningAction();
    if (running == ACTION_WALK) {
        float step = 0.0f;
        if (actor.speed < MIN_WALK_SPEED) {
            queueAction(scene, actorIndex, ACTION_STAND);
            actor.stoppedThisFrame = 1;
        } else {
            step = dt * actor.speed * STEPS_PER_SECOND;
        }
        addScaled(actor.position, step, actor.direction, actor.position);
    } else if (running == ACTION_TAKE_OFF || running == ACTION_IN_AIR) {
        if (actor.moving)
            addScaled(actor.position, dt * actor.speed * STEPS_PER_SECOND, actor.direction, actor.position);
        if (landed)
            queueAction(scene, actorIndex, ACTION_STAND);
    }

    actor.heading += (actor.targetHeading - actor.heading) * actor.turnRate;
    advanceActorAnimation(scene, actorIndex, dt, actor.stoppedThisFrame ? 0.0f : actor.speed);
}

// --- Queries and cursor ----------------------------------------------------------

void actorBox(const ActorScene& scene, int actorIndex, float out[6])
{
    std::fill(out, out + 6, 0.0f);
    if (!validActor(actorIndex) || !isStudioActor(scene.actors[actorIndex]))
        return;
    const StudioModel* model = scene.modelOf(actorIndex);
    if (!model)
        return;
    // Model z is the world's vertical (the model is drawn turned -90 degrees
    // about x): exchange the y and z pairs.
    float b[6];
    model->sequenceBox(b);
    out[0] = b[0];
    out[1] = b[1];
    out[2] = b[4];
    out[3] = b[5];
    out[4] = b[2];
    out[5] = b[3];
}

namespace {

float clampToScreen(float value, int size)
{
    if (value >= static_cast<float>(size))
        value = static_cast<float>(size - 1);
    if (value < 0.0f)
        value = 0.0f;
    return value;
}

} // namespace

void moveActorCursor(ActorScene& scene, int actorIndex, float dx, float dy, int w, int h)
{
    if (!validActor(actorIndex))
        return;
    float* cursor = scene.actors[actorIndex].cursor;
    cursor[0] = clampToScreen(cursor[0] + dx, w);
    cursor[1] = clampToScreen(cursor[1] + dy, h);
}

Float3 actorCursor(const ActorScene& scene, int actorIndex)
{
    if (!validActor(actorIndex))
        return Float3();
    const float* cursor = scene.actors[actorIndex].cursor;
    return Float3(cursor[0], cursor[1], cursor[2]);
}
