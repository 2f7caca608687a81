// tests/ShowData.cpp: the capture programs' data folder.
#include "ShowData.h"

#include "sound/OggDecode.h"
#include "tools/song/Song.h"

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;

const ShowData& ShowData::get()
{
    static const ShowData data;
    return data;
}

ShowData::ShowData()
{
    fs::create_directories(dir() + "/data");
    const fs::path source = fs::path(VORTALUNE_SOURCE_DIR) / "data";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(source, error)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".txt" || ext == ".tms")
            fs::create_symlink(entry.path(), fs::path(dir()) / "data" / entry.path().filename());
    }
    bool made = true;
    for (const char* tool : { "/genimages", "/gencharacter" })
        made = runProcess({ std::string(VORTALUNE_TOOLS_DIR) + tool, dir() + "/data" }, ProcessOptions{}).exitCode == 0 &&
               made;
    std::vector<int16_t> pcm(size_t(TRACK_SECONDS * 44100) * 2);
    for (size_t i = 0; i < pcm.size() / 2; ++i) {
        pcm[2 * i] = int16_t(3000.0 * std::sin(double(i) * 0.05));
        pcm[2 * i + 1] = int16_t(2000.0 * std::sin(double(i) * 0.013));
    }
    const std::string track = dir() + "/data/vortalune.ogg";
    std::string message;
    ok_ = made && song::writeOggVorbis(track, pcm.data(), pcm.size() / 2, 2, 44100, 0.4f, message) &&
          decodeOggFile(track.c_str(), decoded_, message);
}

ProcessResult runShowProgram(const std::string& dir, const std::vector<std::string>& args)
{
    ProcessOptions options;
    options.workDir = dir;
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.timeoutSeconds = 240.0;
    return runProcessOnDisplay(args, options);
}
