// model/OvrinCharacter.h: the demo's character, authored in code. A low-poly
// humanoid of 19 bones (pelvis, spine, chest, neck, head, arms with clavicles,
// legs with feet), two body parts (body; head with a bare and a hatted
// sub-model), one head-turn controller, and the eight sequences the character
// controller plays, plus its 256x256 skin. Deterministic: the same bytes on
// every run. Used by tools/gencharacter.cpp and the tests. No GL.
//
// Model space: x forward, y to the character's left, z up; the origin is on
// the ground between the feet. About 77 units tall.
#pragma once

#include "model/hlWrite.h"

#include <cstdint>
#include <vector>

constexpr int OVRIN_BONES = 19;
constexpr int OVRIN_SKIN_SIZE = 256;

// Sequence numbers, as the character controller uses them.
constexpr int OVRIN_IDLE        = 0;   // standing, breathing (loops)
constexpr int OVRIN_WALK        = 1;   // walk cycle in place (loops)
constexpr int OVRIN_CROUCH      = 2;   // crouch before a jump, also the landing
constexpr int OVRIN_TAKE_OFF    = 3;   // legs extend, arms swing up
constexpr int OVRIN_IN_AIR      = 4;   // legs tucked (loops)
constexpr int OVRIN_WAVE        = 5;   // right hand waves
constexpr int OVRIN_LOOK_AROUND = 6;   // head and chest turn (loops)
constexpr int OVRIN_BOW         = 7;   // short bow
constexpr int OVRIN_SEQUENCES   = 8;

// The model description, with every sequence's bounding box measured by
// posing and skinning each of its frames.
StudioModelDesc buildOvrinModel();

// The skin: OVRIN_SKIN_SIZE squared RGB pixels, top row first; texel (s, t)
// of the model's texture coordinates is pixel (s, t).
std::vector<uint8_t> buildOvrinSkin();
