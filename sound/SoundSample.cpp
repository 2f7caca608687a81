// sound/SoundSample.cpp: loading a sample slot from an Ogg file, the same
// over either output (SoundOutput.cpp over SDL, SoundOutputWeb.cpp over Web
// Audio): decode, then store.
#include "sound/OggDecode.h"
#include "sound/SoundOutput.h"

SoundSample* loadSoundSample(int index, const char* path, std::string* error, std::string* note,
                             const DecodeYield& yield)
{
    if (index < 0 || index >= SOUND_SAMPLE_SLOTS) {
        if (error)
            *error = "sample index out of range";
        return nullptr;
    }
    std::vector<int16_t> stereo;
    std::string why;
    if (!decodeOggFile(path, stereo, why, note, yield)) {
        if (error)
            *error = why;
        return nullptr;
    }
    return storeSoundSample(index, std::move(stereo));
}
