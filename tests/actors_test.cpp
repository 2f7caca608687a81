// tests/actors_test.cpp: the actor scene and the character controller without
// GL: start values, the action queue table row by row, the animation hand-over,
// gravity, ground and landing, walking and stopping, turning, boxes, the
// cursor, refusals of bad indices, and the real character walking for a few
// simulated seconds.
#include "StudioFixtures.h"

#include "model/Actors.h"
#include "model/OvrinCharacter.h"
#include "path/Camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

constexpr float EPS = 1e-4f;

// A model opened from memory; the scene takes ownership when it is put in a slot.
StudioModel* openModel(const StudioModelDesc& desc)
{
    StudioMemoryFiles memory;
    memory.addModel("m/model.mdl", writeStudioModel(desc));
    auto* model = new StudioModel;
    model->fileSource = memory.source();
    model->open("m/model.mdl", 7);
    model->fileSource = StudioFileSource { loadStudioFileFromDisk, nullptr };
    return model;
}

// Eight sequences (so every action has its sequence) of 10 frames at 10 fps:
// a sequence wraps once the animation clock reaches 0.8. Sequence s has the
// box (-1, -2, -3 - s) .. (4, 5, 6): its ground level is 3 + s.
StudioModelDesc eightSequenceDesc()
{
    StudioModelDesc desc = tinyModelDesc(ACTION_COUNT, 10, 10.0f);
    for (int s = 0; s < ACTION_COUNT; ++s)
        desc.sequences[s].boxMin = Float3(-1.0f, -2.0f, -3.0f - static_cast<float>(s));
    return desc;
}

// What loadCharacter makes of actor a, with a model put in its slot directly
// (loadCharacter itself needs GL for the skin; see actors_draw_test.cpp).
void placeCharacter(ActorScene& scene, int a, StudioModel* model, const Float3& position = Float3())
{
    scene.studioModels[a] = model;
    Actor& actor = scene.actors[a];
    actor = makeStartActor(0.0f, 0.0f);
    actor.mode = 2;
    actor.modelKind = MODEL_KIND_STUDIO;
    actor.health = 200;
    actor.modelSlot = a;
    actor.loaderKind = LOADER_KIND_CHARACTER;
    actor.position = position;
    if (scene.actorCount == 0)
        scene.actorCount = 1;
}

// Makes `running` the running action at queue position 1, behind a 7 that a
// queueAction must overwrite with the running action.
void setRunning(ActorScene& scene, int a, int running)
{
    Actor& actor = scene.actors[a];
    for (int& entry : actor.queue)
        entry = 0;
    actor.queue[0] = ACTION_BOW;
    actor.queue[1] = running;
    actor.queuePos = 1;
    actor.queueLength = 2;
    if (StudioModel* model = scene.studioModels[actor.modelSlot])
        model->selectSequence(running);
}

struct CharacterScene : ::testing::Test {
    ActorScene   scene { 400.0f, 300.0f };
    StudioModel* model = nullptr;

    void SetUp() override
    {
        model = openModel(eightSequenceDesc());
        ASSERT_TRUE(model->loaded());
        placeCharacter(scene, 0, model);
    }
    Actor& actor() { return scene.actors[0]; }
};

std::vector<int> queueOf(const Actor& actor)
{
    return std::vector<int>(actor.queue, actor.queue + actor.queueLength);
}

} // namespace

// --- Scene -----------------------------------------------------------------------

TEST(ActorScene, StartsEmptyWithEveryActorAtItsStartValues)
{
    ActorScene scene(512.0f, 384.0f);
    EXPECT_EQ(scene.actorCount, 0);
    for (const StudioModel* model : scene.studioModels)
        EXPECT_EQ(model, nullptr);
    for (const Actor& actor : scene.actors) {
        EXPECT_EQ(actor.mode, 0);
        EXPECT_EQ(actor.moving, 0);
        EXPECT_EQ(actor.modelKind, MODEL_KIND_NONE);
        EXPECT_EQ(actor.queuePos, 0);
        EXPECT_EQ(actor.queueLength, 1);
        EXPECT_EQ(actor.health, 100);
        for (const int entry : actor.queue)
            EXPECT_EQ(entry, 0);
        EXPECT_EQ(actor.modelSlot, 0);
        EXPECT_EQ(actor.loaderKind, 0);
        EXPECT_FLOAT_EQ(actor.speed, 2.5f);
        EXPECT_FLOAT_EQ(actor.turnRate, 0.15f);
        EXPECT_FLOAT_EQ(actor.alpha, 1.0f);
        EXPECT_EQ(actor.energy, 0);
        EXPECT_FLOAT_EQ(actor.goalPoint.x, 512.0f);
        EXPECT_FLOAT_EQ(actor.goalPoint.y, 384.0f);
        EXPECT_FLOAT_EQ(actor.cursor[0], 512.0f);
        EXPECT_FLOAT_EQ(actor.cursor[1], 384.0f);
        EXPECT_FLOAT_EQ(actor.cursor[2], 0.0f);
        EXPECT_FLOAT_EQ(actor.position.y, 0.0f);
    }
}

TEST(ActorScene, ReleaseFreesEveryModelAndCanRunTwice)
{
    ActorScene scene;
    placeCharacter(scene, 0, openModel(eightSequenceDesc()));
    scene.studioModels[255] = openModel(eightSequenceDesc());
    releaseScene(scene);
    EXPECT_EQ(scene.actorCount, 0);
    EXPECT_EQ(scene.studioModels[0], nullptr);
    EXPECT_EQ(scene.studioModels[255], nullptr);
    releaseScene(scene);   // nothing left; the destructor runs it a third time
    EXPECT_EQ(scene.actorCount, 0);
}

TEST(ActorScene, LoadCharacterRefusesOtherKindsButCountsTheFirstActor)
{
    ActorScene scene;
    EXPECT_EQ(loadCharacter(scene, 0, LOADER_KIND_NONE, Float3(), 0.0f, 0.0f), 0);
    EXPECT_EQ(scene.actorCount, 1);
    EXPECT_EQ(loadCharacter(scene, 0, LOADER_KIND_OTHER, Float3(), 0.0f, 0.0f), 0);
    EXPECT_EQ(scene.actors[0].modelKind, MODEL_KIND_NONE);
    EXPECT_EQ(scene.studioModels[0], nullptr);
}

// --- Action queue ----------------------------------------------------------------

struct QueueRow {
    int              running;
    int              action;
    std::vector<int> queue;   // empty: the queue stays and nothing starts
};

class ActionQueueTable : public ::testing::TestWithParam<QueueRow> {};

TEST_P(ActionQueueTable, BuildsTheQueueAndStartsItsSecondEntry)
{
    const QueueRow& row = GetParam();
    ActorScene scene;
    StudioModel* model = openModel(eightSequenceDesc());
    placeCharacter(scene, 0, model);
    setRunning(scene, 0, row.running);
    Actor& actor = scene.actors[0];
    actor.animClock = 0.3f;
    model->frame = 3.5f;

    queueAction(scene, 0, row.action);

    if (row.queue.empty()) {
        EXPECT_EQ(actor.queue[0], ACTION_BOW);
        EXPECT_EQ(actor.queue[1], row.running);
        EXPECT_EQ(actor.queuePos, 1);
        EXPECT_EQ(actor.queueLength, 2);
        EXPECT_FLOAT_EQ(actor.animClock, 0.3f) << "nothing started";
        EXPECT_EQ(model->sequence, row.running);
        EXPECT_FLOAT_EQ(model->frame, 3.5f);
    } else {
        EXPECT_EQ(queueOf(actor), row.queue);
        EXPECT_EQ(actor.queuePos, 1);
        EXPECT_EQ(actor.runningAction(), row.queue[1]);
        EXPECT_FLOAT_EQ(actor.animClock, 0.0f) << "the second entry started";
        if (row.queue[1] <= ACTION_LOOK_AROUND) {
            EXPECT_EQ(model->sequence, row.queue[1]);
            EXPECT_FLOAT_EQ(model->frame, 1.0f);
        } else {
            EXPECT_EQ(model->sequence, row.running) << "action 7 selects no sequence";
        }
    }
    const bool takeOffStarted = !row.queue.empty() && row.queue[1] == ACTION_TAKE_OFF;
    EXPECT_FLOAT_EQ(actor.verticalSpeed, takeOffStarted ? TAKE_OFF_SPEED : 0.0f)
        << "only starting action 3 sets the take-off speed";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ActionQueueTable,
    ::testing::Values(
        // action 0
        QueueRow { 4, 0, { 4, 2, 0 } }, QueueRow { 1, 0, { 1, 0 } }, QueueRow { 2, 0, { 2, 0 } },
        QueueRow { 3, 0, { 3, 0 } }, QueueRow { 6, 0, { 6, 0 } }, QueueRow { 0, 0, {} },
        // actions 1, 2, 4, 6, 7
        QueueRow { 0, 1, { 0, 1 } }, QueueRow { 4, 1, { 4, 1 } }, QueueRow { 1, 1, {} },
        QueueRow { 0, 2, { 0, 2 } }, QueueRow { 1, 4, { 1, 4 } }, QueueRow { 0, 6, { 0, 6 } },
        QueueRow { 1, 7, { 1, 7 } }, QueueRow { 0, 7, { 0, 7 } }, QueueRow { 4, 4, {} },
        // action 3: c = 0 or 6, c = 1, any other c
        QueueRow { 0, 3, { 0, 2, 3, 4 } }, QueueRow { 6, 3, { 6, 2, 3, 4 } }, QueueRow { 1, 3, { 1, 3, 4 } },
        QueueRow { 2, 3, {} }, QueueRow { 4, 3, {} }, QueueRow { 5, 3, {} }, QueueRow { 7, 3, {} },
        QueueRow { 3, 3, {} },
        // action 5: c = 0 or 6, c = 1, any other c
        QueueRow { 0, 5, { 0, 5, 6 } }, QueueRow { 6, 5, { 6, 5, 6 } }, QueueRow { 1, 5, { 1, 5, 1 } },
        QueueRow { 2, 5, {} }, QueueRow { 3, 5, {} }, QueueRow { 4, 5, {} }, QueueRow { 7, 5, {} },
        QueueRow { 5, 5, {} },
        // actions the table does not know
        QueueRow { 0, 8, {} }, QueueRow { 0, -1, {} }));

TEST_F(CharacterScene, QueueingAWalkWhileWalkingChangesNothing)
{
    queueAction(scene, 0, ACTION_WALK);
    actor().animClock = 0.25f;
    model->frame = 2.0f;
    const std::vector<int> before = queueOf(actor());
    queueAction(scene, 0, ACTION_WALK);
    EXPECT_EQ(queueOf(actor()), before);
    EXPECT_EQ(actor().queuePos, 1);
    EXPECT_FLOAT_EQ(actor().animClock, 0.25f);
    EXPECT_FLOAT_EQ(model->frame, 2.0f);
}

TEST_F(CharacterScene, JumpFromStandingCrouchesFirstAndTakesOffOnlyWhenActionThreeStarts)
{
    queueAction(scene, 0, ACTION_TAKE_OFF);
    EXPECT_EQ(queueOf(actor()), (std::vector<int> { 0, 2, 3, 4 }));
    EXPECT_EQ(actor().runningAction(), ACTION_CROUCH);
    EXPECT_EQ(model->sequence, ACTION_CROUCH);
    EXPECT_FLOAT_EQ(actor().verticalSpeed, 0.0f);

    // 10 frames at 10 fps wrap at clock 0.8; each call adds 1 x 1 x 0.6.
    advanceActorAnimation(scene, 0, 1.0f, 1.0f);
    EXPECT_EQ(actor().runningAction(), ACTION_CROUCH);
    EXPECT_FLOAT_EQ(actor().verticalSpeed, 0.0f);
    advanceActorAnimation(scene, 0, 1.0f, 1.0f);
    EXPECT_EQ(actor().queuePos, 2);
    EXPECT_EQ(actor().runningAction(), ACTION_TAKE_OFF);
    EXPECT_FLOAT_EQ(actor().verticalSpeed, TAKE_OFF_SPEED);
    EXPECT_FLOAT_EQ(actor().animClock, 0.0f);
    EXPECT_EQ(model->sequence, ACTION_TAKE_OFF);
}

TEST_F(CharacterScene, ActorsWithoutAStudioModelIgnoreTheQueue)
{
    actor().modelKind = MODEL_KIND_NONE;
    actor().animClock = 0.5f;
    queueAction(scene, 0, ACTION_TAKE_OFF);
    EXPECT_EQ(queueOf(actor()), (std::vector<int> { 0 }));
    EXPECT_FLOAT_EQ(actor().animClock, 0.5f);
    startAction(scene, 0, ACTION_TAKE_OFF);
    EXPECT_FLOAT_EQ(actor().animClock, 0.0f) << "the clock restarts for every kind";
    EXPECT_FLOAT_EQ(actor().verticalSpeed, 0.0f);
}

TEST_F(CharacterScene, StartingActionSevenRestartsTheClockButSelectsNoSequence)
{
    model->selectSequence(4);
    model->frame = 5.0f;
    actor().animClock = 0.5f;
    startAction(scene, 0, ACTION_BOW);
    EXPECT_FLOAT_EQ(actor().animClock, 0.0f);
    EXPECT_EQ(model->sequence, 4);
    EXPECT_FLOAT_EQ(model->frame, 5.0f);
}

// --- Animation -------------------------------------------------------------------

TEST_F(CharacterScene, AnimationClockAdvancesByStepTimesRateAndShowsFrameOnePlusClockTimesFps)
{
    advanceActorAnimation(scene, 0, 0.5f, 0.5f);
    EXPECT_NEAR(actor().animClock, 0.5f * 0.5f * 0.01f * 60.0f, EPS);
    EXPECT_NEAR(model->frame, 1.0f + 0.15f * 10.0f, EPS);
}

TEST_F(CharacterScene, TheLastQueuedActionRepeatsWhenItWraps)
{
    queueAction(scene, 0, ACTION_LOOK_AROUND);   // queue 0, 6
    advanceActorAnimation(scene, 0, 1.0f, 1.5f);   // clock 0.9: wraps
    EXPECT_EQ(actor().queuePos, 1);
    EXPECT_EQ(actor().runningAction(), ACTION_LOOK_AROUND);
    EXPECT_FLOAT_EQ(actor().animClock, 0.0f);
    EXPECT_NEAR(model->frame, 1.0f + 9.0f - 8.0f, EPS);
}

TEST_F(CharacterScene, AnEmptyModelAnimatesNothingButKeepsTheClock)
{
    model->release();
    advanceActorAnimation(scene, 0, 10.0f, 10.0f);
    EXPECT_NEAR(actor().animClock, 60.0f, EPS);
    EXPECT_EQ(actor().queuePos, 0);
}

// --- Motion ----------------------------------------------------------------------

TEST_F(CharacterScene, ASlowWalkStopsInTheNextUpdateWithoutMoving)
{
    actor().position = Float3(5.0f, 3.0f + ACTION_WALK, 7.0f);   // on the walk sequence's ground
    queueAction(scene, 0, ACTION_WALK);
    actor().direction = Float3(1.0f, 0.0f, 0.0f);
    actor().speed = 0.4f;
    actor().animClock = 0.3f;
    updateActorMotion(scene, 0, 0.1f);
    EXPECT_EQ(actor().stoppedThisFrame, 1);
    EXPECT_EQ(queueOf(actor()), (std::vector<int> { 1, 0 }));
    EXPECT_EQ(actor().runningAction(), ACTION_STAND);
    EXPECT_FLOAT_EQ(actor().position.x, 5.0f);
    EXPECT_FLOAT_EQ(actor().position.z, 7.0f);
    EXPECT_FLOAT_EQ(actor().animClock, 0.0f) << "restarted, then advanced at rate 0";

    updateActorMotion(scene, 0, 0.1f);
    EXPECT_EQ(actor().stoppedThisFrame, 0) << "cleared at the start of every update";
}

TEST_F(CharacterScene, AWalkMovesAlongItsDirectionBySpeedTimesSixtyPerSecond)
{
    queueAction(scene, 0, ACTION_WALK);
    actor().position = Float3(0.0f, 4.0f, 0.0f);
    actor().direction = Float3(0.0f, 0.0f, -2.0f);   // not normalised by the controller
    updateActorMotion(scene, 0, 0.1f);
    EXPECT_NEAR(actor().position.z, -2.0f * 0.1f * 2.5f * 60.0f, 1e-3f);
    EXPECT_FLOAT_EQ(actor().position.x, 0.0f);
    EXPECT_EQ(actor().stoppedThisFrame, 0);
    EXPECT_NEAR(actor().animClock, 0.1f * 2.5f * 0.6f, EPS);
}

TEST_F(CharacterScene, GroundLevelComesFromTheRunningSequencesBox)
{
    // Sequence 0's vertical minimum (model z) is -3: the origin stands at 3.
    actor().position = Float3(0.0f, -5.0f, 0.0f);
    actor().verticalSpeed = -2.0f;
    updateActorMotion(scene, 0, 0.05f);
    EXPECT_FLOAT_EQ(actor().position.y, 3.0f);
    EXPECT_FLOAT_EQ(actor().verticalSpeed, 0.0f);
    EXPECT_FLOAT_EQ(actor().boxHeight, 6.0f - -3.0f);

    setRunning(scene, 0, ACTION_LOOK_AROUND);   // box minimum -9
    actor().position.y = 0.0f;
    updateActorMotion(scene, 0, 0.05f);
    EXPECT_FLOAT_EQ(actor().position.y, 9.0f);
    EXPECT_FLOAT_EQ(actor().boxHeight, 15.0f);
}

TEST_F(CharacterScene, AboveThirtyTheActorSwitchesToInAirAndLandingQueuesStanding)
{
    actor().position = Float3(0.0f, 40.0f, 0.0f);
    updateActorMotion(scene, 0, 0.1f);
    EXPECT_EQ(queueOf(actor()), (std::vector<int> { 0, 4 }));
    EXPECT_EQ(actor().runningAction(), ACTION_IN_AIR);
    EXPECT_NEAR(actor().verticalSpeed, -1.2f, EPS);

    int updates = 0;
    while (actor().runningAction() == ACTION_IN_AIR && updates < 1000) {
        updateActorMotion(scene, 0, 0.1f);
        ++updates;
    }
    EXPECT_LT(updates, 1000);
    // Landing from the air crouches first, then stands.
    EXPECT_EQ(queueOf(actor()), (std::vector<int> { 4, 2, 0 }));
    EXPECT_EQ(actor().runningAction(), ACTION_CROUCH);
    EXPECT_FLOAT_EQ(actor().verticalSpeed, 0.0f);
    EXPECT_FLOAT_EQ(actor().position.y, 3.0f + ACTION_IN_AIR) << "the in-air sequence's ground";
}

TEST_F(CharacterScene, TakingOffAboveThirtyStaysInTakeOff)
{
    setRunning(scene, 0, ACTION_TAKE_OFF);
    actor().position = Float3(0.0f, 40.0f, 0.0f);
    actor().verticalSpeed = 1.0f;
    updateActorMotion(scene, 0, 0.01f);
    EXPECT_EQ(actor().runningAction(), ACTION_TAKE_OFF);
    EXPECT_NEAR(actor().position.y, 40.6f, 1e-3f);
    EXPECT_NEAR(actor().verticalSpeed, 1.0f - 0.12f, EPS);
}

TEST_F(CharacterScene, AJumpRisesFallsAndLandsTravellingOnlyWhenMoving)
{
    for (const bool moving : { false, true }) {
        SCOPED_TRACE(moving ? "moving" : "standing jump");
        setRunning(scene, 0, ACTION_STAND);
        actor().position = Float3(0.0f, 3.0f, 0.0f);
        actor().verticalSpeed = 0.0f;
        actor().moving = moving ? 1 : 0;
        actor().direction = Float3(1.0f, 0.0f, 0.0f);
        queueAction(scene, 0, ACTION_TAKE_OFF);

        float highest = 0.0f;
        bool sawInAir = false, sawTakeOff = false;
        int updates = 0;
        // Crouch, take off, fly, land: until the landing crouch hands over to standing.
        while (!(actor().runningAction() == ACTION_STAND && sawInAir) && updates < 2000) {
            updateActorMotion(scene, 0, 0.02f);
            highest = std::max(highest, actor().position.y);
            sawTakeOff = sawTakeOff || actor().runningAction() == ACTION_TAKE_OFF;
            sawInAir = sawInAir || actor().runningAction() == ACTION_IN_AIR;
            ++updates;
        }
        EXPECT_LT(updates, 2000);
        EXPECT_TRUE(sawTakeOff);
        EXPECT_TRUE(sawInAir);
        EXPECT_GT(highest, 30.0f);
        // The update that ends the landing crouch stood on the crouch's ground;
        // the idle sequence's is lower, and the actor drops onto it.
        EXPECT_FLOAT_EQ(actor().position.y, 3.0f + ACTION_CROUCH);
        for (int i = 0; i < 30; ++i)
            updateActorMotion(scene, 0, 0.02f);
        EXPECT_FLOAT_EQ(actor().position.y, 3.0f);
        EXPECT_EQ(actor().runningAction(), ACTION_STAND);
        if (moving)
            EXPECT_GT(actor().position.x, 10.0f);
        else
            EXPECT_FLOAT_EQ(actor().position.x, 0.0f);
    }
}

TEST_F(CharacterScene, AnInactiveActorFallsButNeitherWalksTurnsNorAnimates)
{
    queueAction(scene, 0, ACTION_WALK);
    actor().health = 0;
    actor().energy = 0;
    actor().position = Float3(0.0f, 20.0f, 0.0f);
    actor().direction = Float3(1.0f, 0.0f, 0.0f);
    actor().targetHeading = 90.0f;
    updateActorMotion(scene, 0, 0.1f);
    EXPECT_NEAR(actor().verticalSpeed, -1.2f, EPS);
    EXPECT_FLOAT_EQ(actor().position.x, 0.0f);
    EXPECT_FLOAT_EQ(actor().heading, 0.0f);
    EXPECT_FLOAT_EQ(actor().animClock, 0.0f);

    actor().energy = 1;   // either value keeps an actor active
    updateActorMotion(scene, 0, 0.1f);
    EXPECT_GT(actor().position.x, 0.0f);
}

// --- Controller ------------------------------------------------------------------

TEST_F(CharacterScene, WalkCommandUnwrapsTheHeadingAndApproachesTheTarget)
{
    Camera view;
    view.negYaw = 10.0f;
    actor().heading = 350.0f;
    actor().position.y = 3.0f + ACTION_WALK;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.05f, ACTOR_COMMAND_WALK);
    EXPECT_FLOAT_EQ(actor().turnRate, 0.05f * 9.0f);
    // 350 becomes -10, then moves 0.45 of the 20 degrees to go.
    EXPECT_NEAR(actor().heading, -10.0f + 20.0f * 0.45f, 1e-3f);
    for (int i = 0; i < 50; ++i)
        updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.05f, ACTOR_COMMAND_WALK);
    EXPECT_NEAR(actor().heading, 10.0f, 1e-3f);
}

TEST_F(CharacterScene, HeadingUnwrapsTheOtherWayBelowMinus180)
{
    Camera view;
    view.negYaw = 170.0f;
    actor().heading = -170.0f;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.0f, ACTOR_COMMAND_WALK);
    EXPECT_FLOAT_EQ(actor().heading, 190.0f) << "turn rate 0: only the unwrap";
}

TEST_F(CharacterScene, TurnRateIsNineTimesTheStepAndNeverOvershoots)
{
    Camera view;
    view.negYaw = 60.0f;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.02f, ACTOR_COMMAND_WALK);
    EXPECT_FLOAT_EQ(actor().turnRate, 0.18f);
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.5f, ACTOR_COMMAND_WALK);
    EXPECT_FLOAT_EQ(actor().turnRate, 1.0f) << "a long step turns all the way, not past it";
    EXPECT_NEAR(actor().heading, 60.0f, 1e-4f);

    view.negYaw = 0.0f;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, -0.1f, ACTOR_COMMAND_WALK);
    EXPECT_FLOAT_EQ(actor().turnRate, 0.0f) << "a backward step does not turn away";
    EXPECT_NEAR(actor().heading, 60.0f, 1e-4f);
}

TEST_F(CharacterScene, WalkCommandTakesTheCamerasRightVectorAndStartsWalking)
{
    Camera view;
    view.right = Float3(0.6f, 0.0f, -0.8f);
    view.negYaw = -30.0f;
    actor().position.y = 3.0f + ACTION_WALK;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.1f, ACTOR_COMMAND_WALK);
    EXPECT_EQ(actor().moving, 1);
    EXPECT_FLOAT_EQ(actor().targetHeading, -30.0f);
    EXPECT_EQ(actor().runningAction(), ACTION_WALK);
    EXPECT_NEAR(actor().position.x, 0.6f * 15.0f, 1e-3f);
    EXPECT_NEAR(actor().position.z, -0.8f * 15.0f, 1e-3f);
}

TEST_F(CharacterScene, StopCommandEndsAWalkAndClearsMoving)
{
    Camera view;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.1f, ACTOR_COMMAND_WALK);
    ASSERT_EQ(actor().runningAction(), ACTION_WALK);
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.1f, ACTOR_COMMAND_STOP);
    EXPECT_EQ(actor().moving, 0);
    EXPECT_EQ(actor().runningAction(), ACTION_STAND);
    EXPECT_EQ(queueOf(actor()), (std::vector<int> { 1, 0 }));
}

TEST_F(CharacterScene, CommandsSteerOnlyAnActiveActorThatStandsWalksOrLooksAround)
{
    Camera view;
    view.right = Float3(0.0f, 0.0f, 1.0f);
    view.negYaw = 45.0f;
    for (const int running : { ACTION_CROUCH, ACTION_TAKE_OFF, ACTION_IN_AIR, ACTION_WAVE, ACTION_BOW }) {
        SCOPED_TRACE(running);
        setRunning(scene, 0, running);
        actor().moving = 0;
        updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.01f, ACTOR_COMMAND_WALK);
        EXPECT_EQ(actor().moving, 0);
        EXPECT_FLOAT_EQ(actor().targetHeading, 0.0f);
    }
    setRunning(scene, 0, ACTION_LOOK_AROUND);
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.01f, ACTOR_COMMAND_WALK);
    EXPECT_EQ(actor().runningAction(), ACTION_WALK);

    setRunning(scene, 0, ACTION_STAND);
    actor().moving = 0;
    actor().health = 0;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.01f, ACTOR_COMMAND_WALK);
    EXPECT_EQ(actor().moving, 0);
    EXPECT_EQ(actor().runningAction(), ACTION_STAND);
}

TEST_F(CharacterScene, OnlyActorsBelowTheCountMove)
{
    scene.studioModels[1] = openModel(eightSequenceDesc());
    Actor& second = scene.actors[1];
    second.modelKind = MODEL_KIND_STUDIO;
    second.modelSlot = 1;
    second.position = Float3(0.0f, 50.0f, 0.0f);
    Camera view;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.1f, ACTOR_COMMAND_STOP);
    EXPECT_FLOAT_EQ(second.position.y, 50.0f);
    scene.actorCount = 2;
    updateActors(scene, ActorSteering{ view.right, view.negYaw }, 0.1f, ACTOR_COMMAND_STOP);
    EXPECT_LT(second.verticalSpeed, 0.0f);
}

// --- Queries and cursor ----------------------------------------------------------

TEST_F(CharacterScene, ActorBoxExchangesTheModelsYAndZPairs)
{
    float box[6];
    actorBox(scene, 0, box);
    const float expected[6] = { -1.0f, 4.0f, -3.0f, 6.0f, -2.0f, 5.0f };
    for (int i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(box[i], expected[i]) << i;
}

TEST_F(CharacterScene, ModelLessAndEmptyModelActorsHaveAZeroBoxAndGroundZero)
{
    float box[6];
    actor().modelKind = MODEL_KIND_NONE;
    actorBox(scene, 0, box);
    for (const float v : box)
        EXPECT_FLOAT_EQ(v, 0.0f);

    actor().modelKind = MODEL_KIND_STUDIO;
    model->release();   // what a model that failed to open looks like
    actorBox(scene, 0, box);
    for (const float v : box)
        EXPECT_FLOAT_EQ(v, 0.0f);
    actor().position.y = -4.0f;
    updateActorMotion(scene, 0, 0.1f);
    EXPECT_FLOAT_EQ(actor().position.y, 0.0f);
    EXPECT_FLOAT_EQ(actor().boxHeight, 0.0f);

    actor().modelSlot = 300;   // never looked up
    actorBox(scene, 0, box);
    EXPECT_FLOAT_EQ(box[3], 0.0f);
}

TEST(ActorCursor, ClampsToTheScreenWithWBecomingWMinusOne)
{
    ActorScene scene(400.0f, 300.0f);
    moveActorCursor(scene, 0, 400.0f, 0.0f, 800, 600);
    EXPECT_FLOAT_EQ(actorCursor(scene, 0).x, 799.0f);
    moveActorCursor(scene, 0, -1000.0f, 299.0f, 800, 600);
    EXPECT_FLOAT_EQ(actorCursor(scene, 0).x, 0.0f);
    EXPECT_FLOAT_EQ(actorCursor(scene, 0).y, 599.0f);
    moveActorCursor(scene, 0, 12.5f, -600.0f, 800, 600);
    EXPECT_FLOAT_EQ(actorCursor(scene, 0).x, 12.5f);
    EXPECT_FLOAT_EQ(actorCursor(scene, 0).y, 0.0f);
    moveActorCursor(scene, 0, 0.0f, 599.0f, 800, 600);
    EXPECT_FLOAT_EQ(actorCursor(scene, 0).y, 599.0f) << "below h stays";
    EXPECT_FLOAT_EQ(actorCursor(scene, 0).z, 0.0f);
    moveActorCursor(scene, 0, 5.0f, 5.0f, 0, 0);
    EXPECT_FLOAT_EQ(actorCursor(scene, 0).x, 0.0f) << "an empty screen pins the cursor at 0";
}

TEST(ActorScene, IndicesOutsideTheActorsAreRefused)
{
    ActorScene scene(400.0f, 300.0f);
    for (const int bad : { -1, MAX_ACTORS, 255, 256, 100000 }) {
        SCOPED_TRACE(bad);
        queueAction(scene, bad, ACTION_WALK);
        startAction(scene, bad, ACTION_TAKE_OFF);
        advanceActorAnimation(scene, bad, 1.0f, 1.0f);
        updateActorMotion(scene, bad, 1.0f);
        moveActorCursor(scene, bad, 10.0f, 10.0f, 800, 600);
        float box[6] = { 1, 1, 1, 1, 1, 1 };
        actorBox(scene, bad, box);
        for (const float v : box)
            EXPECT_FLOAT_EQ(v, 0.0f);
        const Float3 cursor = actorCursor(scene, bad);
        EXPECT_FLOAT_EQ(cursor.x, 0.0f);
        EXPECT_EQ(scene.modelOf(bad), nullptr);
    }
    // Kind 1 with a slot above 255 or an actor index past 99: refused before
    // any model slot is touched (the skin is missing here anyway).
    EXPECT_EQ(loadCharacter(scene, 256, LOADER_KIND_CHARACTER, Float3(), 0.0f, 0.0f, "/nonexistent"), 0);
    EXPECT_EQ(loadCharacter(scene, 100, LOADER_KIND_CHARACTER, Float3(), 0.0f, 0.0f, "/nonexistent"), 0);
    for (const StudioModel* model : scene.studioModels)
        EXPECT_EQ(model, nullptr);
}

// --- The real character ----------------------------------------------------------

TEST(ActorCharacter, WalkCommandWalksAlongTheCamerasRightOnTheGroundPlayingTheWalk)
{
    ActorScene scene;
    StudioModel* model = openModel(buildOvrinModel());
    ASSERT_TRUE(model->loaded());
    ASSERT_EQ(model->sequenceCount(), OVRIN_SEQUENCES);
    placeCharacter(scene, 0, model);

    Camera view;
    setTarget(view, Float3(20.0f, 35.0f, 0.0f), Float3(0.0f, 40.0f, 0.0f), 300.0f, CAMERA_HOLD, 1.0f);
    updateCamera(view, 0.0f);
    const Float3 right = view.right;
    ASSERT_NEAR(vectorLength(right), 1.0f, 1e-4f);
    ASSERT_NEAR(right.y, 0.0f, 1e-6f) << "no roll: right lies in the ground plane";

    float walkBox[6];
    model->selectSequence(OVRIN_WALK);
    model->sequenceBox(walkBox);
    const float ground = -walkBox[4];   // model z minimum

    constexpr float DT = 1.0f / 60.0f;
    constexpr int UPDATES = 180;   // three seconds
    std::set<int> framesSeen;
    int wraps = 0;
    float previousFrame = 0.0f;
    for (int i = 0; i < UPDATES; ++i) {
        updateActors(scene, ActorSteering{ view.right, view.negYaw }, DT, ACTOR_COMMAND_WALK);
        const Actor& actor = scene.actors[0];
        ASSERT_EQ(actor.runningAction(), ACTION_WALK) << "update " << i;
        ASSERT_NEAR(actor.position.y, ground, 1e-4f) << "update " << i;
        EXPECT_EQ(model->sequence, OVRIN_WALK);
        framesSeen.insert(static_cast<int>(model->frame));
        if (model->frame < previousFrame)
            ++wraps;
        previousFrame = model->frame;
    }
    const Actor& actor = scene.actors[0];
    // 2.5 units per sixtieth of a second along right.
    const float travelled = UPDATES * DT * 2.5f * 60.0f;
    EXPECT_NEAR(actor.position.x, right.x * travelled, 0.05f);
    EXPECT_NEAR(actor.position.z, right.z * travelled, 0.05f);
    EXPECT_NEAR(actor.heading, view.negYaw, 0.01f);
    EXPECT_EQ(actor.moving, 1);
    EXPECT_GE(framesSeen.size(), 5u) << "the walk cycle runs through its frames";
    EXPECT_GE(wraps, 1) << "and loops";
    EXPECT_GT(actor.boxHeight, 60.0f) << "the character is about 77 units tall";
}

// The demo's character never shows the last frame of a sequence (where the
// pose would move towards frame 0 or hold): every sequence has at least three
// frames, and the frame drawn, 1 + clock x fps wrapped once, stays inside
// [1, n - 1) through walks, jumps and stops at the show's steps. So the rule
// for the last frame leaves its poses as they were.
TEST(ActorCharacter, NeverShowsTheLastFrameOfASequence)
{
    ActorScene scene;
    StudioModel* model = openModel(buildOvrinModel());
    ASSERT_TRUE(model->loaded());
    placeCharacter(scene, 0, model);
    Camera view;
    setTarget(view, Float3(20.0f, 35.0f, 0.0f), Float3(0.0f, 40.0f, 0.0f), 300.0f, CAMERA_HOLD, 1.0f);
    updateCamera(view, 0.0f);

    std::set<int> sequencesSeen;
    for (int i = 0; i < 6000; ++i) {
        const float dt = (i % 7 == 0) ? 0.1f : 1.0f / 60.0f;   // the show's steps, and a slow frame now and then
        if (i % 400 == 200)
            queueAction(scene, 0, (i / 400) % 2 ? ACTION_TAKE_OFF : 5);   // jumps and waves
        updateActors(scene, ActorSteering{ view.right, view.negYaw }, dt, (i / 150) % 2 ? ACTOR_COMMAND_WALK : ACTOR_COMMAND_STOP);
        const Actor& actor = scene.actors[0];
        model->selectSequence(actor.runningAction());   // as drawing does
        model->stepAnimation(actor.animClock);
        const int seq = model->sequence;
        int32_t frames = 0, sequences = 0;
        std::memcpy(&sequences, model->header + studio::HEADER_SEQUENCE_OFFSET, 4);
        std::memcpy(&frames, model->header + sequences + seq * studio::SEQUENCE_SIZE + studio::SEQUENCE_FRAME_COUNT, 4);
        ASSERT_GE(frames, 3) << "sequence " << seq;
        ASSERT_LT(model->frame, float(frames - 1)) << "sequence " << seq << " update " << i;
        sequencesSeen.insert(seq);
    }
    EXPECT_GE(sequencesSeen.size(), 4u) << "walks, jumps and stands were played";
}
