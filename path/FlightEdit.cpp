// path/FlightEdit.cpp: key-by-key edits of a scene's flight, undo and redo,
// and the reload of files changed on disk.
//
// Sections:
//   --- History ---
//   --- Opening ---
//   --- Edits without a time ---
//   --- Timed edits ---
//   --- Undo, redo, adopt ---
//   --- Selection ---
//   --- Reload ---
#include "path/FlightEdit.h"

#include "base/Report.h"
#include "base/Show.h"
#include "path/CameraPath.h"
#include "path/KeysFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

bool operator==(const FlightKeys& a, const FlightKeys& b)
{
    auto same = [](const std::vector<Float3>& x, const std::vector<Float3>& y) {
        if (x.size() != y.size())
            return false;
        for (size_t i = 0; i < x.size(); ++i)
            if (x[i].x != y[i].x || x[i].y != y[i].y || x[i].z != y[i].z)
                return false;
        return true;
    };
    if (a.keys.size() != b.keys.size())
        return false;
    for (size_t i = 0; i < a.keys.size(); ++i) {
        const TimedKey& p = a.keys[i];
        const TimedKey& q = b.keys[i];
        if (p.time != q.time || p.position != q.position || p.angles != q.angles || p.eased != q.eased)
            return false;
    }
    return a.selected == b.selected && same(a.positions, b.positions) && same(a.rotations, b.rotations);
}

// --- History -----------------------------------------------------------------------

namespace {

size_t bytesOf(const FlightKeys& keys)
{
    return (keys.positions.size() + keys.rotations.size()) * sizeof(Float3) + keys.keys.size() * sizeof(TimedKey) +
           sizeof(FlightKeys);
}

PathPair& pairOf(FlightEditor& editor)
{
    return editor.set->pairs[editor.scene];
}

const PathPair& pairOf(const FlightEditor& editor)
{
    return editor.set->pairs[editor.scene];
}

void pushLevel(FlightHistory& history, std::vector<FlightKeys>& stack, FlightKeys keys)
{
    history.bytes += bytesOf(keys);
    stack.push_back(std::move(keys));
    // The oldest undo levels go first; the redo stack only ever holds what
    // undo took from the undo stack, so it cannot outgrow the limits alone.
    while (!history.undo.empty() &&
           (history.undo.size() > history.maxLevels || history.bytes > history.maxBytes)) {
        history.bytes -= bytesOf(history.undo.front());
        history.undo.erase(history.undo.begin());
    }
}

FlightKeys popLevel(FlightHistory& history, std::vector<FlightKeys>& stack)
{
    FlightKeys keys = std::move(stack.back());
    stack.pop_back();
    history.bytes -= bytesOf(keys);
    return keys;
}

void dropRedo(FlightHistory& history)
{
    for (const FlightKeys& keys : history.redo)
        history.bytes -= bytesOf(keys);
    history.redo.clear();
}

// Before an edit: the playback defaults go, the flight as it is now is
// remembered, and nothing can be redone any more.
void beginEdit(FlightEditor& editor)
{
    keepAuthoredKeysOnly(*editor.set, editor.scene);
    pushLevel(editor.history, editor.history.undo, currentKeys(editor));
    dropRedo(editor.history);
}

std::string keysText(int count)
{
    return std::to_string(count) + (count == 1 ? " key" : " keys");
}

std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

// Saves the pair, with the keys file when the flight has a time.
void save(FlightEditor& editor, const std::string& what)
{
    const std::string keys = formatKeysText(editor.keys);
    editor.lastSave = saveScenePair(*editor.set, editor.scene, timedFlight(editor) ? &keys : nullptr);
    std::string outcome;
    switch (editor.lastSave) {
    case PairSaveOutcome::SAVED:       outcome = "saved"; break;
    case PairSaveOutcome::SAVED_ASIDE: outcome = "saved to a side copy"; break;
    case PairSaveOutcome::FAILED:      outcome = "NOT saved, kept in memory"; break;
    }
    editor.lastMessage = what + " (" + keysText(keyCount(editor)) + ", " + outcome + ")";
}

bool refuse(FlightEditor& editor, const std::string& why)
{
    editor.lastMessage = why;
    return false;
}

bool atLimit(const FlightEditor& editor)
{
    const PathPair& pair = pairOf(editor);
    return pair.position.points.size() >= size_t(MAX_PATH_KEYS) ||
           pair.rotation.points.size() >= size_t(MAX_PATH_KEYS) || editor.keys.size() >= size_t(MAX_PATH_KEYS);
}

void insertAt(std::vector<Float3>& list, int i, const Float3& value)
{
    const size_t at = std::min(static_cast<size_t>(std::max(i, 0)), list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), value);
}

// The pair as start-up read it, without the playback defaults.
PathPair authoredPair(const PathSet& set, int scene)
{
    PathPair pair = set.pairs[scene];
    const int defaults = set.disk[scene].defaultPoints;
    for (CameraPath* path : { &pair.position, &pair.rotation }) {
        std::vector<Float3> points = path->points;
        points.resize(points.size() >= size_t(defaults) ? points.size() - size_t(defaults) : 0);
        setPathPoints(*path, points);
    }
    return pair;
}

bool closeTriple(const Triple& a, const Triple& b, double eps)
{
    for (size_t c = 0; c < 3; ++c)
        if (!(std::fabs(a[c] - b[c]) <= eps))
            return false;
    return true;
}

bool closePoints(const std::vector<Float3>& a, const std::vector<Float3>& b, double eps)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!closeTriple(toTriple(a[i]), toTriple(b[i]), eps))
            return false;
    return true;
}

} // namespace

// --- Opening -------------------------------------------------------------------------

namespace {

// What six decimals in the files keep: a pose, a time.
constexpr double BELONG_EPS = 1e-3;
constexpr double BELONG_TIME_EPS = 1e-5;

} // namespace

bool keysBelongToPair(const std::vector<TimedKey>& keys, const PathPair& pair, double sceneSeconds)
{
    const std::vector<TimedKey> own = keysOfPair(pair, sceneSeconds);
    bool same = own.size() == keys.size();
    for (size_t i = 0; same && i < keys.size(); ++i)
        same = !keys[i].eased && std::fabs(keys[i].time - own[i].time) <= BELONG_TIME_EPS &&
               closeTriple(keys[i].position, own[i].position, BELONG_EPS) &&
               closeTriple(keys[i].angles, own[i].angles, BELONG_EPS);
    if (same)
        return true;
    FlightPoints points;
    return solveFlight(keys, sceneSeconds, points) && closePoints(points.positions, pair.position.points, BELONG_EPS) &&
           closePoints(points.rotations, pair.rotation.points, BELONG_EPS);
}

namespace {

// The keys of a scene's flight from its keys file when that reads whole and
// belongs to `pair`, else the pair's own. Sets the file's read report and
// stamp; a file that does not belong counts as not read whole (it is kept
// aside before the first save over it). `why` says what was not taken.
std::vector<TimedKey> keysFromDisk(PathSet& set, int scene, const PathPair& pair, double sceneSeconds,
                                   std::string& why)
{
    PairDiskState& disk = set.disk[scene];
    std::vector<TimedKey> keys;
    const std::string name = keysPathName(set.folder, scene);
    loadKeysFile(name, keys, disk.read[PAIR_KEYS]);
    disk.stamp[PAIR_KEYS] = disk.read[PAIR_KEYS].stamp;
    PathReadReport& read = disk.read[PAIR_KEYS];
    why.clear();
    if (read.opened && read.whole && keysBelongToPair(keys, pair, sceneSeconds))
        return keys;
    if (read.opened && read.whole) {
        read.whole = false;
        read.problem = "does not belong to the pair beside it (the pair was changed without it)";
        disk.backedUp[PAIR_KEYS] = false;
    }
    why = name + ": " + readProblem(read);
    return keysOfPair(pair, sceneSeconds);
}

} // namespace

void startFlightEdit(FlightEditor& editor, PathSet& set, int scene, const FlightTiming& timing)
{
    editor = FlightEditor();
    editor.set = &set;
    editor.scene = std::clamp(scene, 0, SCENE_ENTRIES - 1);
    editor.timing = timing;
    if (!timedFlight(editor))
        return;
    const PathPair pair = authoredPair(set, editor.scene);
    std::string why;
    editor.keys = keysFromDisk(set, editor.scene, pair, timing.sceneSeconds, why);
    if (!why.empty() && !pair.position.points.empty())
        reportLine("%s; the flight opens with keys at the times it reaches its %s (nothing is written until an "
                   "edit)\n",
                   why.c_str(), pair.position.points.size() == 1 ? "point" :
                                (std::to_string(pair.position.points.size()) + " points").c_str());
}

bool timedFlight(const FlightEditor& editor)
{
    return editor.timing.sceneSeconds > 0.0 && std::isfinite(editor.timing.sceneSeconds);
}

FlightKeys currentKeys(const FlightEditor& editor)
{
    const PathPair& pair = pairOf(editor);
    return FlightKeys{ pair.position.points, pair.rotation.points, editor.selected, editor.keys };
}

void applyKeys(FlightEditor& editor, const FlightKeys& keys)
{
    PathPair& pair = pairOf(editor);
    setPathPoints(pair.position, keys.positions);
    setPathPoints(pair.rotation, keys.rotations);
    pair.posCursor = pair.rotCursor = 0;
    editor.keys = keys.keys;
    const int count = keyCount(editor);
    editor.selected = keys.selected < count ? keys.selected : count - 1;
}

int keyCount(const FlightEditor& editor)
{
    return timedFlight(editor) ? static_cast<int>(editor.keys.size())
                               : static_cast<int>(pairOf(editor).position.points.size());
}

// --- Edits without a time ------------------------------------------------------------
// The keys are the pair's points.

namespace {

bool appendPoint(FlightEditor& editor, const Float3& position, const Float3& angles, const std::string& what)
{
    if (atLimit(editor))
        return refuse(editor, "the flight holds the most keys a path file may hold; no key was added");
    beginEdit(editor);
    FlightKeys keys = currentKeys(editor);
    keys.positions.push_back(position);
    keys.rotations.push_back(angles);
    if (timedFlight(editor)) {
        PathPair grown;
        setPathPoints(grown.position, keys.positions);
        setPathPoints(grown.rotation, keys.rotations);
        keys.keys = keysOfPair(grown, editor.timing.sceneSeconds);
    }
    applyKeys(editor, keys);
    save(editor, what.empty() ? "key " + std::to_string(keyCount(editor)) + " recorded" : what);
    return true;
}

bool insertPoint(FlightEditor& editor, const Float3& position, const Float3& angles)
{
    if (atLimit(editor))
        return refuse(editor, "the flight holds the most keys a path file may hold; no key was added");
    const int count = keyCount(editor);
    const int at = editor.selected >= 0 && editor.selected < count ? editor.selected + 1 : count;
    beginEdit(editor);
    FlightKeys keys = currentKeys(editor);
    insertAt(keys.positions, at, position);
    insertAt(keys.rotations, at, angles);
    keys.selected = at;
    applyKeys(editor, keys);
    save(editor, "key " + std::to_string(at + 1) + " inserted");
    return true;
}

bool replacePoint(FlightEditor& editor, int i, const Float3& position, const Float3& angles)
{
    beginEdit(editor);
    FlightKeys keys = currentKeys(editor);
    keys.positions[size_t(i)] = position;
    if (size_t(i) < keys.rotations.size())
        keys.rotations[size_t(i)] = angles;
    else
        keys.rotations.push_back(angles);
    applyKeys(editor, keys);
    save(editor, "key " + std::to_string(i + 1) + " replaced");
    return true;
}

bool deletePoint(FlightEditor& editor, int i)
{
    beginEdit(editor);
    FlightKeys keys = currentKeys(editor);
    if (i >= 0 && size_t(i) < keys.positions.size())
        keys.positions.erase(keys.positions.begin() + i);
    // The rotation twin of the position key (or the last rotation key when
    // the rotation list is the longer one and no position key is left).
    const int r = i >= 0 ? i : static_cast<int>(keys.rotations.size()) - 1;
    if (r >= 0 && size_t(r) < keys.rotations.size())
        keys.rotations.erase(keys.rotations.begin() + r);
    const int left = static_cast<int>(keys.positions.size());
    keys.selected = editor.selected < 0 ? -1 : std::min(editor.selected, left - 1);
    applyKeys(editor, keys);
    save(editor, "key " + std::to_string(std::max(i, 0) + 1) + " deleted");
    return true;
}

} // namespace

// --- Timed edits -----------------------------------------------------------------

namespace {

// The flight solved through `keys` becomes the flight (one undoable edit,
// saved), with `selected` selected; refused, with the solve's reason, when
// the keys fix no flight.
// A number as the keys file keeps it: six decimals.
double six(double v)
{
    return std::round(v * 1e6) / 1e6;
}

// A key as its file keeps it, so that the flight solved from the file is the
// flight solved here.
TimedKey asWritten(TimedKey key)
{
    key.time = six(key.time);
    for (size_t c = 0; c < 3; ++c) {
        key.position[c] = six(key.position[c]);
        key.angles[c] = six(key.angles[c]);
    }
    return key;
}

bool applyTimed(FlightEditor& editor, std::vector<TimedKey> keys, int selected, const std::string& what)
{
    for (TimedKey& key : keys)
        key = asWritten(key);
    FlightPoints points;
    std::string why;
    if (!solveFlight(keys, editor.timing.sceneSeconds, points, &why))
        return refuse(editor, "no flight passes through those keys (" + why + "); nothing changed");
    beginEdit(editor);
    applyKeys(editor, FlightKeys{ points.positions, points.rotations, selected, keys });
    save(editor, what);
    return true;
}

// The key index a time falls on (within half a frame), or -1.
int keyAtTime(const FlightEditor& editor, double time)
{
    for (size_t i = 0; i < editor.keys.size(); ++i)
        if (std::fabs(editor.keys[i].time - time) < 0.5 * editor.timing.frameSeconds)
            return int(i);
    return -1;
}

TimedKey keyOf(double time, const Float3& position, const Float3& angles)
{
    TimedKey key;
    key.time = time;
    key.position = toTriple(position);
    key.angles = toTriple(angles);
    return key;
}

bool needsTime(FlightEditor& editor)
{
    return timedFlight(editor) || refuse(editor, "this scene has no time on the track for timed keys");
}

// Distance along the flight of `points` from s = a to s = b, summed over
// short chords (enough for the pace: a key interval in 64 pieces).
double lengthAlong(const std::vector<Float3>& points, double a, double b)
{
    constexpr int PIECES = 64;
    double length = 0.0;
    double previous[3];
    evaluateSpline(points, a, previous);
    for (int i = 1; i <= PIECES; ++i) {
        double at[3];
        evaluateSpline(points, a + (b - a) * i / PIECES, at);
        length += std::sqrt((at[0] - previous[0]) * (at[0] - previous[0]) + (at[1] - previous[1]) * (at[1] - previous[1]) +
                            (at[2] - previous[2]) * (at[2] - previous[2]));
        std::copy(at, at + 3, previous);
    }
    return length;
}

} // namespace

bool appendKey(FlightEditor& editor, const Float3& position, const Float3& angles)
{
    if (!timedFlight(editor) || keysAtSites(editor.keys, editor.timing.sceneSeconds))
        return appendPoint(editor, position, angles, "");
    // The keys have times of their own: the pose goes to the scene's end.
    if (atLimit(editor))
        return refuse(editor, "the flight holds the most keys a path file may hold; no key was added");
    std::vector<TimedKey> keys = editor.keys;
    const FlightTiming& t = editor.timing;
    std::string moved;
    if (!keys.empty() && keys.back().time > t.lastTime - 0.5 * t.frameSeconds) {
        const double before = keys.size() >= 2 ? keys[keys.size() - 2].time : 0.0;
        const double halfway = 0.5 * (before + keys.back().time);
        if (halfway - before < t.frameSeconds || t.lastTime - halfway < t.frameSeconds)
            return refuse(editor, "the last key stands on the scene's end with no room before it; no key was added");
        keys.back().time = halfway;
        moved = "; key " + std::to_string(keys.size()) + " moved back to " + secondsText(halfway) + " to make room";
    }
    keys.push_back(keyOf(t.lastTime, position, angles));
    return applyTimed(editor, keys, editor.selected,
                      "key " + std::to_string(keys.size()) + " recorded at the scene's end (" +
                          secondsText(t.lastTime) + ")" + moved);
}

bool recordKeyAt(FlightEditor& editor, double time, const Float3& position, const Float3& angles)
{
    if (!needsTime(editor))
        return false;
    const FlightTiming& t = editor.timing;
    if (!(time >= 0.0 && time <= t.lastTime + 0.5 * t.frameSeconds))
        return refuse(editor, "the time " + secondsText(time) + " is outside the scene; no key was added");
    time = std::min(time, t.lastTime);
    std::vector<TimedKey> keys = editor.keys;
    const int same = keyAtTime(editor, time);
    if (same >= 0) {
        keys[size_t(same)].position = toTriple(position);
        keys[size_t(same)].angles = toTriple(angles);
        return applyTimed(editor, keys, same,
                          "key " + std::to_string(same + 1) + " at " + secondsText(keys[size_t(same)].time) +
                              " takes the new pose");
    }
    if (atLimit(editor))
        return refuse(editor, "the flight holds the most keys a path file may hold; no key was added");
    const auto at = std::find_if(keys.begin(), keys.end(), [&](const TimedKey& k) { return k.time > time; });
    const int index = int(at - keys.begin());
    keys.insert(at, keyOf(time, position, angles));
    return applyTimed(editor, keys, index, "key " + std::to_string(index + 1) + " recorded at " + secondsText(time));
}

bool clearKeys(FlightEditor& editor)
{
    beginEdit(editor);
    clearPair(*editor.set, editor.scene);
    editor.keys.clear();
    editor.selected = -1;
    editor.lastMessage = "flight cleared in memory (undo brings it back; the files change at the next save)";
    return true;
}

bool replaceKey(FlightEditor& editor, const Float3& position, const Float3& angles)
{
    const int i = editor.selected;
    if (i < 0 || i >= keyCount(editor))
        return refuse(editor, "no key selected to replace");
    if (!timedFlight(editor))
        return replacePoint(editor, i, position, angles);
    std::vector<TimedKey> keys = editor.keys;
    keys[size_t(i)].position = toTriple(position);
    keys[size_t(i)].angles = toTriple(angles);
    return applyTimed(editor, keys, i, "key " + std::to_string(i + 1) + " replaced");
}

bool insertKey(FlightEditor& editor, const Float3& position, const Float3& angles, double time)
{
    return timedFlight(editor) ? recordKeyAt(editor, time, position, angles) : insertPoint(editor, position, angles);
}

bool deleteKey(FlightEditor& editor)
{
    const int count = keyCount(editor);
    const PathPair& pair = pairOf(editor);
    if (count == 0 && (timedFlight(editor) || pair.rotation.points.empty()))
        return refuse(editor, "no key to delete");
    const int i = editor.selected >= 0 && editor.selected < count ? editor.selected : count - 1;
    if (!timedFlight(editor))
        return deletePoint(editor, i);
    std::vector<TimedKey> keys = editor.keys;
    keys.erase(keys.begin() + i);
    const int left = int(keys.size());
    return applyTimed(editor, keys, editor.selected < 0 ? -1 : std::min(editor.selected, left - 1),
                      "key " + std::to_string(i + 1) + " deleted");
}

bool moveKey(FlightEditor& editor, double time)
{
    if (!needsTime(editor))
        return false;
    const int i = editor.selected;
    if (i < 0 || i >= keyCount(editor))
        return refuse(editor, "no key selected to move");
    const FlightTiming& t = editor.timing;
    const double low = i > 0 ? editor.keys[size_t(i - 1)].time + t.frameSeconds : 0.0;
    const double high = size_t(i) + 1 < editor.keys.size() ? editor.keys[size_t(i + 1)].time - t.frameSeconds : t.lastTime;
    const double to = six(std::clamp(time, low, std::max(low, high)));
    if (std::fabs(to - editor.keys[size_t(i)].time) < 1e-9)
        return refuse(editor, "key " + std::to_string(i + 1) + " stays at " + secondsText(to) +
                                  (time < low || time > high ? " (keys stay a frame apart and inside the scene)" : ""));
    std::vector<TimedKey> keys = editor.keys;
    keys[size_t(i)].time = to;
    return applyTimed(editor, keys, i, "key " + std::to_string(i + 1) + " moved to " + secondsText(to));
}

bool evenPace(FlightEditor& editor, double from, double to)
{
    if (!needsTime(editor))
        return false;
    std::vector<int> inside;
    for (size_t i = 0; i < editor.keys.size(); ++i)
        if (editor.keys[i].time >= from - 1e-6 && editor.keys[i].time <= to + 1e-6)   // times keep six decimals
            inside.push_back(int(i));
    if (inside.size() < 3)
        return refuse(editor, "evening the pace needs three keys or more in the stretch (the first and last keep "
                              "their times)");
    const double T = editor.timing.sceneSeconds;
    std::vector<TimedKey> keys = editor.keys;
    // Times in proportion to the distance along the flight; the flight
    // through the keys changes with their times, so a few rounds settle it.
    for (int round = 0; round < 12; ++round) {
        FlightPoints points;
        if (!solveFlight(keys, T, points))
            break;
        std::vector<double> along{ 0.0 };
        for (size_t j = 1; j < inside.size(); ++j)
            along.push_back(along.back() + lengthAlong(points.positions, keys[size_t(inside[j - 1])].time / T,
                                                       keys[size_t(inside[j])].time / T));
        if (!(along.back() > 0.0))
            return refuse(editor, "the keys in the stretch stand in one place: there is no pace to even");
        const double start = keys[size_t(inside.front())].time, span = keys[size_t(inside.back())].time - start;
        double change = 0.0;
        for (size_t j = 1; j + 1 < inside.size(); ++j) {
            TimedKey& key = keys[size_t(inside[j])];
            // On a frame, as every key the tool sets: the scene can stand there.
            const double f = editor.timing.frameSeconds;
            const double wanted = std::round((start + span * along[j] / along.back()) / f) * f;
            const double low = keys[size_t(inside[j - 1])].time + editor.timing.frameSeconds;
            const double high = keys[size_t(inside[j + 1])].time - editor.timing.frameSeconds;
            const double time = std::clamp(wanted, low, std::max(low, high));
            change = std::max(change, std::fabs(time - key.time));
            key.time = time;
        }
        if (change < 1e-6)
            break;
    }
    return applyTimed(editor, keys, editor.selected,
                      "pace evened over " + std::to_string(inside.size()) + " keys from " +
                          secondsText(keys[size_t(inside.front())].time) + " to " +
                          secondsText(keys[size_t(inside.back())].time));
}

bool easeKey(FlightEditor& editor)
{
    if (!needsTime(editor))
        return false;
    const int i = editor.selected;
    if (i < 0 || i >= keyCount(editor))
        return refuse(editor, "no key selected to ease");
    std::vector<TimedKey> keys = editor.keys;
    keys[size_t(i)].eased = !keys[size_t(i)].eased;
    return applyTimed(editor, keys, i,
                      "key " + std::to_string(i + 1) + (keys[size_t(i)].eased ? " eased: the camera slows into it and "
                                                                                 "out of it"
                                                                               : " no longer eased"));
}

bool passThroughPoints(FlightEditor& editor)
{
    if (!needsTime(editor))
        return false;
    PathPair pair = authoredPair(*editor.set, editor.scene);
    const size_t n = pair.position.points.size();
    if (n != pair.rotation.points.size())
        return refuse(editor, "the two path files hold different numbers of points; make them match first");
    if (n < 4)
        return refuse(editor, "a flight of fewer than four points already passes through them (a polyline)");
    const std::vector<double> sites = splineSites(int(n));
    std::vector<TimedKey> keys;
    for (size_t i = 0; i < n; ++i)
        keys.push_back(keyOf(sites[i] * editor.timing.sceneSeconds, pair.position.points[i], pair.rotation.points[i]));
    return applyTimed(editor, keys, editor.selected,
                      "the flight now passes through its " + std::to_string(n) + " recorded points at their times");
}

// --- Undo, redo, adopt -----------------------------------------------------------

namespace {

// Undo and redo: the flight on top of `from` comes back, the flight now goes
// onto `to`, and the files are saved like an edit.
bool stepHistory(FlightEditor& editor, std::vector<FlightKeys>& from, std::vector<FlightKeys>& to,
                 const char* nothing, const char* done)
{
    if (from.empty())
        return refuse(editor, nothing);
    keepAuthoredKeysOnly(*editor.set, editor.scene);
    FlightKeys back = popLevel(editor.history, from);
    pushLevel(editor.history, to, currentKeys(editor));
    applyKeys(editor, back);
    // What it writes over may be another writer's keys (a reload): kept aside.
    editor.set->disk[editor.scene].keepOthersKeys = true;
    save(editor, done);
    return true;
}

} // namespace

bool undoEdit(FlightEditor& editor)
{
    return stepHistory(editor, editor.history.undo, editor.history.redo, "nothing to undo", "undone");
}

bool redoEdit(FlightEditor& editor)
{
    return stepHistory(editor, editor.history.redo, editor.history.undo, "nothing to redo", "redone");
}

void adoptFlight(FlightEditor& editor, const FlightKeys& keys)
{
    keepAuthoredKeysOnly(*editor.set, editor.scene);
    pushLevel(editor.history, editor.history.undo, currentKeys(editor));
    dropRedo(editor.history);
    FlightKeys adopted = keys;
    adopted.selected = editor.selected;
    applyKeys(editor, adopted);
    editor.lastMessage = "flight reloaded from disk (" + keysText(keyCount(editor)) + ")";
}

// --- Selection ---------------------------------------------------------------------

bool selectKey(FlightEditor& editor, int delta)
{
    const int count = keyCount(editor);
    if (count == 0) {
        editor.selected = -1;
        return refuse(editor, "the flight has no keys");
    }
    int i = editor.selected;
    if (i < 0 || i >= count)
        i = delta >= 0 ? 0 : count - 1;
    else
        i = std::clamp(i + delta, 0, count - 1);
    editor.selected = i;
    editor.lastMessage = "key " + std::to_string(i + 1) + " of " + std::to_string(count) + " selected";
    return true;
}

bool keyPose(const FlightEditor& editor, int i, Float3& position, Float3& angles)
{
    if (timedFlight(editor)) {
        if (i < 0 || size_t(i) >= editor.keys.size())
            return false;
        position = toFloat3(editor.keys[size_t(i)].position);
        angles = toFloat3(editor.keys[size_t(i)].angles);
        return true;
    }
    const PathPair& pair = pairOf(editor);
    if (i < 0 || size_t(i) >= pair.position.points.size() || size_t(i) >= pair.rotation.points.size())
        return false;
    position = pair.position.points[size_t(i)];
    angles = pair.rotation.points[size_t(i)];
    return true;
}

double keyTime(const FlightEditor& editor, int i)
{
    if (!timedFlight(editor) || i < 0 || size_t(i) >= editor.keys.size())
        return -1.0;
    return editor.keys[size_t(i)].time;
}

// --- Reload --------------------------------------------------------------------------

ReloadResult reloadIfChanged(FlightEditor& editor, ReloadWatch& watch, std::string& message)
{
    PathSet& set = *editor.set;
    PairDiskState& disk = set.disk[editor.scene];
    const int files = timedFlight(editor) ? PAIR_FILES : 2;
    const std::string names[PAIR_FILES] = { positionPathName(set.folder, editor.scene),
                                            rotationPathName(set.folder, editor.scene),
                                            keysPathName(set.folder, editor.scene) };
    FileStamp now[PAIR_FILES];
    bool settled = true, unchanged = true, refused = true;
    for (int i = 0; i < files; ++i) {
        now[i] = stampOf(names[i]);
        settled = settled && now[i] == watch.seen[i];
        unchanged = unchanged && now[i] == disk.stamp[i];
        refused = refused && now[i] == watch.refused[i];
        watch.seen[i] = now[i];
    }
    if (unchanged)
        return ReloadResult::UNCHANGED;
    if (refused)
        return ReloadResult::UNCHANGED;   // already said why these versions were not taken
    if (!settled || stampOf(names[0] + ".commit").exists)
        return ReloadResult::WAITING;

    CameraPath paths[2];
    PathReadReport reports[2];
    for (int i = 0; i < 2; ++i)
        loadPathFile(paths[i], names[i], reports[i]);
    // A version replaced while it was read is read again at the next poll.
    if (reports[0].stamp != now[0] || reports[1].stamp != now[1])
        return ReloadResult::WAITING;

    const std::string pair = names[0] + ", " + names[1];
    if (reports[0].whole && reports[1].whole) {
        FlightKeys keys;
        keys.positions = paths[0].points;
        keys.rotations = paths[1].points;
        std::string keysWhy;
        if (timedFlight(editor)) {
            PathPair read;
            setPathPoints(read.position, keys.positions);
            setPathPoints(read.rotation, keys.rotations);
            keys.keys = keysFromDisk(set, editor.scene, read, editor.timing.sceneSeconds, keysWhy);
            if (disk.read[PAIR_KEYS].stamp != now[PAIR_KEYS])
                return ReloadResult::WAITING;
        }
        adoptFlight(editor, keys);
        for (int i = 0; i < 2; ++i) {
            disk.read[i] = reports[i];
            disk.stamp[i] = now[i];
        }
        disk.defaultPoints = 0;
        disk.othersKeys = true;
        message = pair + ": changed on disk; scene " + std::to_string(editor.scene) + "'s flight was reloaded (" +
                  keysText(keyCount(editor)) + ")";
        if (!keysWhy.empty() && disk.read[PAIR_KEYS].opened)
            message += "; " + keysWhy + ", so its keys are the times the flight reaches its points";
        return ReloadResult::RELOADED;
    }

    // The flight in memory stays. A broken file is treated like one that
    // start-up could not read whole: the next save keeps a copy of it first.
    std::string why;
    for (int i = 0; i < 2; ++i) {
        if (reports[i].whole)
            continue;
        if (!why.empty())
            why += "; ";
        why += names[i] + ": " + readProblem(reports[i]);
        disk.read[i] = reports[i];
        disk.stamp[i] = now[i];
        disk.backedUp[i] = false;
    }
    for (int i = 0; i < files; ++i)
        watch.refused[i] = now[i];
    message = why + "; the changed files were not reloaded, scene " + std::to_string(editor.scene) +
              "'s flight in memory (" + keysText(keyCount(editor)) + ") is kept";
    return ReloadResult::KEPT;
}
