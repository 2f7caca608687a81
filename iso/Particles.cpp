// iso/Particles.cpp: launching, advancing and gathering particles.
#include "iso/Particles.h"

#include "base/RuntimeRandom.h"

#include <cmath>
#include <cstdlib>

ParticleSystem particleSystem;

namespace {

ParticleRandom randomSource = defaultParticleRandom;

int draw()
{
    return randomSource();
}

// Position jitter of scatter and burst: -5..4 on each axis.
void scatterPosition(const ParticleNode& parent, ParticleNode& child)
{
    child.position.x = parent.position.x + static_cast<float>(draw() % 10 - 5);
    child.position.y = parent.position.y + static_cast<float>(draw() % 10 - 5);
    child.position.z = parent.position.z + static_cast<float>(draw() % 10 - 5);
}

// Angle of child i on a ring or curtain; 11111 spreads indices over the ring.
float ringAngle(int32_t i, int32_t count)
{
    if (count <= 0)
        return 0.0f;
    // 64-bit product: no overflow for any index.
    return static_cast<float>((static_cast<int64_t>(i) * 11111) % count) * 6.283185f / static_cast<float>(count);
}

float inverseLength(const Float3& v)
{
    const float length = vectorLength(v);
    return length < 1e-6f ? 1.0f : 1.0f / length;
}

void collect(const ParticleNode& node, const ParticleNode** out, int& count, int max)
{
    if (node.kind == EMITTER_NONE || count >= max)
        return;
    for (int32_t i = 0; i < node.childCount && count < max; ++i)
        out[count++] = node.children[i].get();
    for (int32_t i = 0; i < node.childCount && count < max; ++i) {
        const ParticleNode& child = *node.children[i];
        if (child.childCount >= 1)
            collect(child, out, count, max);
    }
}

} // namespace

int defaultParticleRandom()
{
    return runtimeRandom() & 0x7FFF;   // the desktop's C runtime sequence, on every platform (base/RuntimeRandom.h)
}

void setParticleRandom(ParticleRandom source)
{
    randomSource = source ? source : defaultParticleRandom;
}

namespace {

std::unique_ptr<ParticleNode> cloneNode(const ParticleNode& node)
{
    auto copy = std::make_unique<ParticleNode>();
    static_cast<ParticleValues&>(*copy) = node;
    copy->children.reserve(node.children.size());
    for (const auto& child : node.children)
        copy->children.push_back(child ? cloneNode(*child) : nullptr);
    return copy;
}

} // namespace

void copyParticles(const ParticleSystem& from, ParticleSystem& to)
{
    to.root = from.root ? cloneNode(*from.root) : nullptr;
}

void createParticleRoot(ParticleSystem& system)
{
    destroyParticles(system);
    system.root = std::make_unique<ParticleNode>();
}

void destroyParticles(ParticleSystem& system)
{
    // unique_ptr frees children before their parent, recursively.
    system.root.reset();
}

void markSubtreeDead(ParticleNode& node)
{
    for (int32_t i = 0; i < node.childCount; ++i) {
        ParticleNode& child = *node.children[i];
        child.age += node.childLifetime + 1.0f;
        markSubtreeDead(child);
    }
    node.spawnClock = 0.0f;
}

void configureEmitter(ParticleNode& node, int32_t kind, int32_t childCount, float childLifetime,
                      float timeScale, float spawnInterval)
{
    if (childCount < 0)
        childCount = 0;
    node.kind = kind;
    node.childCount = childCount;
    while (static_cast<int32_t>(node.children.size()) < childCount)
        node.children.push_back(std::make_unique<ParticleNode>());
    node.timeScale = timeScale;
    node.childLifetime = childLifetime;
    node.spawnInterval = spawnInterval;

    for (int32_t i = 0; i < childCount; ++i)
        launchParticle(node, *node.children[i], i);
    markSubtreeDead(node);
}

void setupParticles(ParticleSystem& system, int preset)
{
    if (!system.root)
        return;
    ParticleNode& root = *system.root;
    struct Emitter { int32_t kind, count; float lifetime, timeScale, interval; };
    Emitter rootSetup;
    bool configureChildren = true;
    Emitter childSetup = {};
    switch (preset) {
    case 0:  rootSetup = { 0, 0, 6.0f, 1.0f, 0.003f };   configureChildren = false; break;
    case 1:  rootSetup = { 4, 10, 3.0f, 1.0f, 0.0002f }; childSetup = { 1, 100, 2.5f, 5.0f, 0.01f }; break;
    case 2:  rootSetup = { 4, 10, 3.0f, 1.0f, 0.003f };  childSetup = { 1, 50, 1.5f, 2.0f, 0.03f }; break;
    case 3:  rootSetup = { 2, 5, 2.0f, 1.0f, 0.3f };     configureChildren = false; break;
    case 4:  rootSetup = { 2, 5, 30.0f, 5.0f, 0.3f };    childSetup = { 1, 50, 2.0f, 2.0f, 0.03f }; break;
    default: rootSetup = { 4, 10, 6.0f, 1.0f, 0.003f };  childSetup = { 3, 50, 2.0f, 2.0f, 0.03f }; break;
    }
    configureEmitter(root, rootSetup.kind, rootSetup.count, rootSetup.lifetime, rootSetup.timeScale,
                     rootSetup.interval);
    if (configureChildren) {
        for (int32_t i = 0; i < root.childCount; ++i)
            configureEmitter(*root.children[i], childSetup.kind, childSetup.count, childSetup.lifetime,
                             childSetup.timeScale, childSetup.interval);
    }
}

void launchParticle(ParticleNode& parent, ParticleNode& child, int32_t childIndex)
{
    switch (parent.kind) {
    case EMITTER_SCATTER: {
        scatterPosition(parent, child);
        const int speed = draw() % 100 + 10;
        child.velocity.x = static_cast<float>((draw() % 200 - 100) * speed) * 0.01f;
        child.velocity.y = static_cast<float>((draw() % 200 - 100) * speed) * 0.01f;
        child.velocity.z = static_cast<float>((draw() % 200 - 100) * speed) * 0.01f;
        break;
    }
    case EMITTER_BURST:
        scatterPosition(parent, child);
        child.velocity.x = static_cast<float>((draw() % 400 - 200) * 100) * 0.01f;
        child.velocity.y = static_cast<float>((draw() % 200 - 100) * 100) * 0.01f;
        child.velocity.z = static_cast<float>((draw() % 400 - 200) * 100) * 0.01f;
        child.acceleration = Float3(0.0f, -60.0f, 0.0f);
        break;
    case EMITTER_TRAIL: {
        child.position = parent.position;
        const float speed = static_cast<float>(draw() % 100 + 20);
        Float3 d;
        subtract(parent.spawnPosition, parent.position, d);
        const float inv = inverseLength(d);
        for (int axis = 0; axis < 3; ++axis) {
            // Integer quotient: -1 when the draw's remainder is 0, else 0.
            const int j = (draw() % 100 - 50) / 50;
            child.velocity[axis] = speed * (static_cast<float>(j) + d[axis] * inv);
        }
        child.acceleration = Float3(0.0f, -60.0f, 0.0f);
        break;
    }
    case EMITTER_RING: {
        const float a = ringAngle(childIndex, parent.childCount);
        child.position = Float3(parent.position.x + 100.0f * std::cos(a), parent.position.y + 100.0f,
                                parent.position.z + 100.0f * std::sin(a));
        // Towards the world origin at speed 50: (-position * inv) * 50 per axis.
        const float inv = inverseLength(child.position);
        child.velocity = Float3(-child.position.x * inv * 50.0f, -child.position.y * inv * 50.0f,
                                -child.position.z * inv * 50.0f);
        child.acceleration = Float3(0.0f, -60.0f, 0.0f);
        break;
    }
    case EMITTER_CURTAIN: {
        const float a = ringAngle(childIndex, parent.childCount);
        // The offset a * 30 - 15 is formed first, then added to the parent.
        child.position = Float3(parent.position.x + (a * 30.0f - 15.0f), parent.position.y + 100.0f,
                                parent.position.z + 30.0f);
        child.velocity = Float3(0.0f, 0.0f, -50.0f);
        child.acceleration = Float3(0.0f, -60.0f, 0.0f);
        break;
    }
    default:
        return;   // kinds 0, 6 and unknown: the child is not launched
    }
    child.age = 0.0f;
    child.lifetime = parent.childLifetime;
    child.spawnPosition = child.position;

    // The relaunched particle restarts its own family from here, all dead.
    for (int32_t k = 0; k < child.childCount; ++k)
        launchParticle(child, *child.children[k], k);
    markSubtreeDead(child);
}

void updateNode(ParticleNode& node, float dt)
{
    if (node.isDead())
        return;
    node.spawnClock += dt;

    const float step = dt * node.timeScale;
    const int32_t kind = node.kind;
    const bool frozen = kind == EMITTER_NONE || kind == EMITTER_HOLD;
    const bool accelerates = kind == EMITTER_BURST || kind == EMITTER_TRAIL || kind == EMITTER_RING ||
                             kind == EMITTER_CURTAIN;
    const bool shrinks = kind == EMITTER_SCATTER || kind == EMITTER_TRAIL;
    for (int32_t i = 0; i < node.childCount; ++i) {
        ParticleNode& c = *node.children[i];
        if (!frozen) {
            if (!c.isDead()) {
                if (accelerates)
                    addScaled(c.velocity, step, c.acceleration, c.velocity);
                addScaled(c.position, step, c.velocity, c.position);
                if (shrinks)
                    c.size = (c.lifetime - c.age) * 40.0f;
            }
            c.age += step;
        }
        updateNode(c, dt);
    }

    while (node.spawnInterval < node.spawnClock) {
        int32_t dead = -1;
        for (int32_t i = 0; i < node.childCount; ++i) {
            if (node.children[i]->isDead()) {
                dead = i;
                break;
            }
        }
        if (dead < 0)
            break;   // the clock keeps its value
        ParticleNode& child = *node.children[dead];
        launchParticle(node, child, dead);
        node.spawnClock -= node.spawnInterval;
        // An emitter that cannot revive its children (a kind without a launch,
        // or a negative child lifetime) would otherwise find the same dead
        // child forever.
        if (child.isDead())
            break;
    }
}

void updateParticles(ParticleSystem& system, float dt)
{
    if (system.root)
        updateNode(*system.root, dt);
}

void gatherParticles(const ParticleSystem& system, const ParticleNode** out, int& count)
{
    const int max = count;
    count = 0;
    if (!system.root || system.root->kind == EMITTER_NONE || max <= 0)
        return;
    const ParticleNode& root = *system.root;
    for (int32_t i = 0; i < root.childCount && count < max; ++i)
        out[count++] = root.children[i].get();
    for (int32_t i = 0; i < root.childCount && count < max; ++i) {
        const ParticleNode& child = *root.children[i];
        if (child.childCount >= 1)
            collect(child, out, count, max);
    }
}
