// tools/song/BeatMapWriter.cpp: the beat map written beside the music track, so
// the authoring tool can step the show's time beat by beat and bar by bar.
#include "tools/song/Song.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace song {

std::vector<SongBeat> songBeats(const Song& song)
{
    std::vector<SongBeat> beats;
    int bar = 1;
    for (const Section& s : song.sections) {
        // The same arithmetic as the score's note times (sixteenths from the
        // section's start), so a beat lands on the frame its notes start on.
        const double sixteenth = s.barSeconds() / 16.0;
        for (int b = 0; b < s.bars; ++b, ++bar)
            for (int k = 0; k < BEATS_PER_BAR; ++k)
                beats.push_back({ s.start + (b * 16.0 + k * (16.0 / BEATS_PER_BAR)) * sixteenth, bar, k + 1 });
    }
    return beats;
}

std::string beatMapText(const std::vector<SongBeat>& beats, double trackSeconds)
{
    std::string text =
        "# vortalune beat map: one line per beat: track fraction, bar, beat\n"
        "# fraction = beat time / track length; bar counts from 1; beat 1..beats per bar\n";
    if (!(trackSeconds > 0.0))
        return text;
    char line[64];
    for (const SongBeat& b : beats) {
        const double fraction = b.seconds / trackSeconds;
        if (!(fraction >= 0.0 && fraction < 1.0))
            continue;
        std::snprintf(line, sizeof line, "%.9f %d %d\n", fraction, b.bar, b.beat);
        text += line;
    }
    return text;
}

std::string beatMapPath(const std::string& trackPath)
{
    const size_t slash = trackPath.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = trackPath.find_last_of('.');
    // A dot only starts an extension inside the file name and not as its first
    // character (".ogg" alone is a hidden file's name).
    if (dot == std::string::npos || dot <= nameStart)
        return trackPath + ".beats";
    return trackPath.substr(0, dot) + ".beats";
}

bool writeTextFile(const std::string& path, const std::string& text, std::string& error)
{
    const std::string temp = path + ".part" + std::to_string(getpid());
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    int savedErrno = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        std::remove(temp.c_str());
        error = "cannot write " + path + ": " + std::strerror(savedErrno ? savedErrno : EIO);
        return false;
    }
    return true;
}

} // namespace song
