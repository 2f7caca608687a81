// fuzz/model_fuzz_seeds.cpp: writes the fuzzer's seed inputs into a folder:
// the character as model, texture and group file, and copies with damaged
// header counts and offsets.
// Usage: model_fuzz_seeds <dir>
#include "ModelFuzzInput.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void writeSeed(const std::string& dir, const std::string& name, int mode, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!file)
        return;
    const uint8_t m = static_cast<uint8_t>(mode);
    std::fwrite(&m, 1, 1, file);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: model_fuzz_seeds <dir>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const StudioFiles model = fuzzCharacter(FUZZ_AS_MODEL);
    writeSeed(dir, "character", FUZZ_AS_MODEL, model.model);
    writeSeed(dir, "texture_file", FUZZ_AS_TEXTURE_FILE, fuzzCharacter(FUZZ_AS_TEXTURE_FILE).texture);
    writeSeed(dir, "group_file", FUZZ_AS_GROUP_FILE, fuzzCharacter(FUZZ_AS_GROUP_FILE).groups[1]);

    // Header fields 140..211 raised, lowered and pointed past the end, one at a time.
    int index = 0;
    for (int field = 140; field < 212; field += 4) {
        for (int32_t value : { -1, 0, 1, 70, static_cast<int32_t>(model.model.size()) }) {
            std::vector<uint8_t> bytes = model.model;
            std::memcpy(bytes.data() + field, &value, 4);
            writeSeed(dir, "header_" + std::to_string(index++), FUZZ_AS_MODEL, bytes);
        }
    }
    // A truncated character.
    std::vector<uint8_t> cut(model.model.begin(), model.model.begin() + 4096);
    writeSeed(dir, "truncated", FUZZ_AS_MODEL, cut);
    return 0;
}
