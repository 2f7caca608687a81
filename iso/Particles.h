// iso/Particles.h: the hierarchical particle system whose particles feed the
// isosurface as extra balls. Owns the node tree; no GL.
//
// Every node can emit children; its emitter kind decides how the children are
// launched and how they move. Units: world units, seconds.
#pragma once

#include "math/Math.h"

#include <cstdint>
#include <memory>
#include <vector>

// Emitter kinds: how a node treats its children.
enum EmitterKind : int32_t {
    EMITTER_NONE    = 0,   // no launch, children frozen
    EMITTER_SCATTER = 1,   // velocity only, size follows remaining life
    EMITTER_BURST   = 2,   // velocity and gravity
    EMITTER_TRAIL   = 3,   // velocity and gravity, size follows remaining life
    EMITTER_RING    = 4,   // velocity and gravity
    EMITTER_CURTAIN = 5,   // velocity and gravity
    EMITTER_HOLD    = 6,   // no launch, children frozen
};

// A node's own values (its children aside): copied whole by copyParticles.
struct ParticleValues {
    float   childLifetime = 10.0f;   // lifetime given to each launched child
    int32_t childCount    = 0;       // children in use (the array may hold more)
    float   spawnClock    = 0.0f;    // seconds accumulated towards the next relaunch
    float   timeScale     = 1.0f;    // children's step = frame step * timeScale
    int32_t kind          = EMITTER_NONE;
    float   spawnInterval = 0.0f;    // seconds between relaunches of dead children
    float   age           = 0.0f;    // time lived, in the parent's scaled time
    Float3  acceleration;
    Float3  spawnPosition;           // position at launch
    float   lifetime      = 10.0f;   // alive while age <= lifetime
    Float3  position;
    float   size          = 40.0f;
    Float3  velocity;

    bool isDead() const { return age > lifetime; }
};

struct ParticleNode : ParticleValues {
    std::vector<std::unique_ptr<ParticleNode>> children;   // only grows while the node lives
};

struct ParticleSystem {
    std::unique_ptr<ParticleNode> root;   // null until createParticleRoot; never ages
};

// The random source for launches: values 0..32767, drawn in the order the
// launch patterns list. The default is the C runtime's rand() (seeded from the
// time at start-up); tests substitute a seeded generator.
using ParticleRandom = int (*)();
int  defaultParticleRandom();                 // rand() & 0x7FFF
void setParticleRandom(ParticleRandom source);   // null restores the default

// --- Tree lifecycle ------------------------------------------------------------------
void copyParticles(const ParticleSystem& from, ParticleSystem& to);   // `to` becomes a deep copy of `from`
void createParticleRoot(ParticleSystem& system);   // replaces any tree by a default root
void destroyParticles(ParticleSystem& system);     // frees everything, root = null

// --- Configuration ------------------------------------------------------------------
// Sets the emitter, grows children to at least n, launches them all, then marks
// them dead so they come to life one per spawnInterval.
void configureEmitter(ParticleNode& node, int32_t kind, int32_t childCount, float childLifetime,
                      float timeScale, float spawnInterval);
void markSubtreeDead(ParticleNode& node);
// Presets 0..5 (5 and above share one); 0 switches the particles off.
void setupParticles(ParticleSystem& system, int preset);

// --- Simulation ---------------------------------------------------------------------
void launchParticle(ParticleNode& parent, ParticleNode& child, int32_t childIndex);
void updateNode(ParticleNode& node, float dt);
void updateParticles(ParticleSystem& system, float dt);   // no-op without a root

// Up to `count` nodes (in: the maximum, out: how many were written), root's
// children first, then depth first. Nothing when the root is null or of kind 0.
void gatherParticles(const ParticleSystem& system, const ParticleNode** out, int& count);

// The program's particle system (created by asset loading, stepped per frame).
extern ParticleSystem particleSystem;
