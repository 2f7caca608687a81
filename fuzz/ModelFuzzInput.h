// fuzz/ModelFuzzInput.h: how fuzz input bytes map to studio model files.
// Byte 0 picks what the rest of the input is:
//   0: the main model file;
//   1: the texture file of the character written with textures apart;
//   2: group file 01 of the character with its last sequence in group 1.
#pragma once

#include "model/OvrinCharacter.h"
#include "model/hlWrite.h"

constexpr int FUZZ_AS_MODEL = 0;
constexpr int FUZZ_AS_TEXTURE_FILE = 1;
constexpr int FUZZ_AS_GROUP_FILE = 2;
constexpr int FUZZ_MODES = 3;

inline StudioFiles fuzzCharacter(int mode)
{
    StudioModelDesc desc = buildOvrinModel();
    if (mode == FUZZ_AS_TEXTURE_FILE)
        desc.separateTextureFile = true;
    if (mode == FUZZ_AS_GROUP_FILE) {
        desc.groupCount = 2;
        desc.sequences.back().group = 1;
    }
    return writeStudioModel(desc);
}
