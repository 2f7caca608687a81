// editor/BeatMap.cpp: reading the beat map and stepping over its beats and bars.
#include "editor/BeatMap.h"

#include "base/Report.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// --- Parsing ------------------------------------------------------------------------------

constexpr size_t QUOTE_MAX = 32;   // characters of a refused field shown in a message

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// A field as it appears in a message: at most QUOTE_MAX characters, anything
// unprintable as '?', so the message stays one readable line.
std::string quoted(const char* begin, const char* end)
{
    std::string q = "'";
    const size_t length = size_t(end - begin);
    for (size_t i = 0; i < std::min(length, QUOTE_MAX); ++i) {
        const unsigned char c = static_cast<unsigned char>(begin[i]);
        q += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
    }
    if (length > QUOTE_MAX)
        q += "...";
    return q + "'";
}

struct Field {
    const char* begin;
    const char* end;
};

// Reads a whole number field within int32 and >= 1; false with a reason.
bool parseCount(const Field& f, const char* what, int32_t& value, std::string& reason)
{
    int64_t v = 0;
    const auto r = std::from_chars(f.begin, f.end, v);
    if (r.ec == std::errc::result_out_of_range || (r.ec == std::errc() && r.ptr == f.end && v > INT32_MAX)) {
        reason = std::string(what) + " " + quoted(f.begin, f.end) + " is out of range";
        return false;
    }
    if (r.ec != std::errc() || r.ptr != f.end) {
        reason = std::string(what) + " " + quoted(f.begin, f.end) + " is not a whole number";
        return false;
    }
    if (v < 1) {
        reason = std::string(what) + " " + std::to_string(v) + " is below 1";
        return false;
    }
    value = static_cast<int32_t>(v);
    return true;
}

// One beat line (not a comment) into `beat`; false with a reason.
bool parseBeatLine(const char* begin, const char* end, Beat& beat, std::string& reason)
{
    Field fields[3];
    size_t count = 0;
    const char* p = begin;
    while (p < end) {
        while (p < end && isSpace(*p))
            ++p;
        if (p == end)
            break;
        const char* start = p;
        while (p < end && !isSpace(*p))
            ++p;
        if (count < 3)
            fields[count] = { start, p };
        ++count;
    }
    if (count != 3) {
        reason = "expected 3 fields (fraction bar beat), found " + std::to_string(count);
        return false;
    }

    double fraction = 0.0;
    const auto r = std::from_chars(fields[0].begin, fields[0].end, fraction);
    if (r.ec != std::errc() || r.ptr != fields[0].end) {
        reason = quoted(fields[0].begin, fields[0].end) + " is not a number";
        return false;
    }
    if (!std::isfinite(fraction)) {
        reason = "fraction " + quoted(fields[0].begin, fields[0].end) + " is not finite";
        return false;
    }
    if (fraction < 0.0 || fraction > 1.0) {
        reason = "fraction " + quoted(fields[0].begin, fields[0].end) + " is outside 0..1";
        return false;
    }
    beat.fraction = fraction;
    return parseCount(fields[1], "bar", beat.bar, reason) && parseCount(fields[2], "beat", beat.beat, reason);
}

// --- Navigation -----------------------------------------------------------------------------

// The |count|-th beat that `counts` strictly after or before `fraction`, clamped
// to the first/last such beat; `fraction` when no beat counts.
template <typename Counts>
double stepOver(const std::vector<Beat>& beats, double fraction, int count, Counts counts)
{
    if (count == 0 || std::isnan(fraction) || beats.empty())
        return fraction;
    const int64_t wanted = std::llabs(int64_t(count));
    int64_t found = 0;
    const Beat* last = nullptr;   // the last counting beat met so far in the walk's direction
    if (count > 0) {
        const auto first = std::upper_bound(beats.begin(), beats.end(), fraction + BEAT_TOLERANCE,
                                            [](double f, const Beat& b) { return f < b.fraction; });
        for (auto it = first; it != beats.end(); ++it) {
            if (!counts(*it))
                continue;
            last = &*it;
            if (++found == wanted)
                return it->fraction;
        }
        if (last)
            return last->fraction;   // past the last one: clamp to it
        // Nothing after: the last counting beat of all.
        for (auto it = beats.rbegin(); it != beats.rend(); ++it)
            if (counts(*it))
                return it->fraction;
        return fraction;
    }
    const auto after = std::lower_bound(beats.begin(), beats.end(), fraction - BEAT_TOLERANCE,
                                        [](const Beat& b, double f) { return b.fraction < f; });
    for (auto it = std::make_reverse_iterator(after); it != beats.rend(); ++it) {
        if (!counts(*it))
            continue;
        last = &*it;
        if (++found == wanted)
            return it->fraction;
    }
    if (last)
        return last->fraction;
    for (const Beat& b : beats)
        if (counts(b))
            return b.fraction;
    return fraction;
}

} // namespace

// --- Reading ------------------------------------------------------------------------------

int parseBeatMap(const std::string& text, BeatMap& map, std::string& problem)
{
    map.beats.clear();
    problem.clear();
    int refused = 0;
    size_t lineNumber = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        ++lineNumber;
        const char* first = p;
        while (first < lineEnd && isSpace(*first))
            ++first;
        if (first < lineEnd && *first != '#') {
            Beat beat{};
            std::string reason;
            bool ok = parseBeatLine(first, lineEnd, beat, reason);
            if (ok && !map.beats.empty() && !(beat.fraction > map.beats.back().fraction)) {
                ok = false;
                reason = "beat out of order";
            }
            if (ok && map.beats.size() >= BEAT_MAP_MAX_BEATS) {
                ok = false;
                reason = "more than " + std::to_string(BEAT_MAP_MAX_BEATS) + " beats";
            }
            if (ok) {
                map.beats.push_back(beat);
            } else {
                if (refused == 0)
                    problem = "line " + std::to_string(lineNumber) + ": " + reason;
                if (refused < INT_MAX)
                    ++refused;
            }
        }
        p = lineEnd + (lineEnd < end ? 1 : 0);
    }
    return refused;
}

BeatMap halfSecondGrid(double trackSeconds)
{
    BeatMap map;
    if (!(trackSeconds > 0.0) || !std::isfinite(trackSeconds))
        return map;
    for (size_t k = 0; k < BEAT_MAP_MAX_BEATS; ++k) {
        const double seconds = double(k) * GRID_BEAT_SECONDS;
        if (!(seconds < trackSeconds))
            break;
        map.beats.push_back({ seconds / trackSeconds, int32_t(k / GRID_BEATS_PER_BAR + 1),
                              int32_t(k % GRID_BEATS_PER_BAR + 1) });
    }
    return map;
}

namespace {

// The whole file, its size checked before and while reading; false with a reason.
bool readBeatMapFile(const std::string& file, std::string& text, std::string& reason)
{
    // Non-blocking, so a named pipe cannot hold the open; it is refused below.
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
        close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? "it is a directory" : "not a regular file";
        close(fd);
        return false;
    }
    if (uint64_t(info.st_size) > BEAT_MAP_MAX_BYTES) {
        reason = std::to_string(uint64_t(info.st_size)) + " bytes, over the limit of " +
                 std::to_string(BEAT_MAP_MAX_BYTES);
        close(fd);
        return false;
    }
    // One byte more than the limit is asked for, to see a file that grew.
    text.assign(size_t(info.st_size) + 1, '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reason = std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        got += size_t(n);
        if (got == text.size() && got <= BEAT_MAP_MAX_BYTES)
            text.resize(std::min(text.size() * 2, BEAT_MAP_MAX_BYTES + 1));   // it grew: read on
    }
    close(fd);
    if (got > BEAT_MAP_MAX_BYTES) {
        reason = "over the limit of " + std::to_string(BEAT_MAP_MAX_BYTES) + " bytes";
        return false;
    }
    text.resize(got);
    return true;
}

} // namespace

bool loadBeatMap(BeatMap& map, const std::string& file, double trackSeconds)
{
    std::string text;
    std::string reason;
    if (!readBeatMapFile(file, text, reason)) {
        map = halfSecondGrid(trackSeconds);
        reportLine("The beat map %s could not be read (%s): the half-second grid is used.\n",
                   file.c_str(), reason.c_str());
        return false;
    }
    BeatMap parsed;
    std::string problem;
    const int refused = parseBeatMap(text, parsed, problem);
    const std::string refusedText =
        std::to_string(refused) + (refused == 1 ? " line refused" : " lines refused") + ", the first " + problem;
    // One beat gives no step: every beat or bar step would go to the scene's end.
    if (parsed.beats.size() < 2) {
        map = halfSecondGrid(trackSeconds);
        const std::string why = refused > 0 ? refusedText : std::string(parsed.beats.empty() ? "no beat lines" : "no other line");
        reportLine("The beat map %s has %s (%s): the half-second grid is used.\n", file.c_str(),
                   parsed.beats.empty() ? "no usable beat" : "only one usable beat, and steps need two", why.c_str());
        return false;
    }
    if (refused > 0)
        reportLine("The beat map %s: %s; its %zu good beats are used.\n", file.c_str(),
                   refusedText.c_str(), parsed.beats.size());
    map.beats = std::move(parsed.beats);
    map.fromFile = true;
    return true;
}

// --- Navigation ---------------------------------------------------------------------------

double stepBeats(const BeatMap& map, double fraction, int count)
{
    return stepOver(map.beats, fraction, count, [](const Beat&) { return true; });
}

double stepBars(const BeatMap& map, double fraction, int count)
{
    return stepOver(map.beats, fraction, count, [](const Beat& b) { return b.beat == 1; });
}

const Beat* beatAt(const BeatMap& map, double fraction)
{
    if (std::isnan(fraction))
        return nullptr;
    const auto after = std::upper_bound(map.beats.begin(), map.beats.end(), fraction + BEAT_TOLERANCE,
                                        [](double f, const Beat& b) { return f < b.fraction; });
    return after == map.beats.begin() ? nullptr : &*(after - 1);
}

const Beat* beatWithin(const BeatMap& map, double fraction, double end)
{
    const Beat* beat = beatAt(map, fraction);
    if (beat && beat != &map.beats.front() && beat->fraction >= end - BEAT_TOLERANCE)
        --beat;
    return beat;
}
