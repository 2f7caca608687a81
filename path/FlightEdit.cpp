// path/FlightEdit.cpp: key-by-key edits of a scene's flight, undo and redo.
#include "path/FlightEdit.h"

#include "base/Show.h"
#include "path/CameraPath.h"

#include <algorithm>

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
    return a.selected == b.selected && same(a.positions, b.positions) && same(a.rotations, b.rotations);
}

namespace {

size_t bytesOf(const FlightKeys& keys)
{
    return (keys.positions.size() + keys.rotations.size()) * sizeof(Float3) + sizeof(FlightKeys);
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

void save(FlightEditor& editor, const std::string& what)
{
    editor.lastSave = saveScenePair(*editor.set, editor.scene);
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
           pair.rotation.points.size() >= size_t(MAX_PATH_KEYS);
}

void insertAt(std::vector<Float3>& list, int i, const Float3& value)
{
    const size_t at = std::min(static_cast<size_t>(std::max(i, 0)), list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), value);
}

} // namespace

void startFlightEdit(FlightEditor& editor, PathSet& set, int scene)
{
    editor = FlightEditor();
    editor.set = &set;
    editor.scene = std::clamp(scene, 0, SCENE_ENTRIES - 1);
}

FlightKeys currentKeys(const FlightEditor& editor)
{
    const PathPair& pair = pairOf(editor);
    return FlightKeys{ pair.position.points, pair.rotation.points, editor.selected };
}

void applyKeys(FlightEditor& editor, const FlightKeys& keys)
{
    PathPair& pair = pairOf(editor);
    setPathPoints(pair.position, keys.positions);
    setPathPoints(pair.rotation, keys.rotations);
    pair.posCursor = pair.rotCursor = 0;
    const int count = static_cast<int>(keys.positions.size());
    editor.selected = keys.selected < count ? keys.selected : count - 1;
}

int keyCount(const FlightEditor& editor)
{
    return static_cast<int>(pairOf(editor).position.points.size());
}

bool appendKey(FlightEditor& editor, const Float3& position, const Float3& angles)
{
    if (atLimit(editor))
        return refuse(editor, "the flight holds the most keys a path file may hold; no key was added");
    beginEdit(editor);
    FlightKeys keys = currentKeys(editor);
    keys.positions.push_back(position);
    keys.rotations.push_back(angles);
    applyKeys(editor, keys);
    save(editor, "key " + std::to_string(keyCount(editor)) + " recorded");
    return true;
}

bool clearKeys(FlightEditor& editor)
{
    beginEdit(editor);
    clearPair(*editor.set, editor.scene);
    editor.selected = -1;
    editor.lastMessage = "flight cleared in memory (undo brings it back; the files change at the next save)";
    return true;
}

bool replaceKey(FlightEditor& editor, const Float3& position, const Float3& angles)
{
    const int i = editor.selected;
    if (i < 0 || i >= keyCount(editor))
        return refuse(editor, "no key selected to replace");
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

bool insertKey(FlightEditor& editor, const Float3& position, const Float3& angles)
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

bool deleteKey(FlightEditor& editor)
{
    const int count = keyCount(editor);
    const PathPair& pair = pairOf(editor);
    if (count == 0 && pair.rotation.points.empty())
        return refuse(editor, "no key to delete");
    const int i = editor.selected >= 0 && editor.selected < count ? editor.selected : count - 1;
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
    const PathPair& pair = pairOf(editor);
    if (i < 0 || size_t(i) >= pair.position.points.size() || size_t(i) >= pair.rotation.points.size())
        return false;
    position = pair.position.points[size_t(i)];
    angles = pair.rotation.points[size_t(i)];
    return true;
}

ReloadResult reloadIfChanged(FlightEditor& editor, ReloadWatch& watch, std::string& message)
{
    PathSet& set = *editor.set;
    PairDiskState& disk = set.disk[editor.scene];
    const std::string names[2] = { positionPathName(set.folder, editor.scene),
                                   rotationPathName(set.folder, editor.scene) };
    FileStamp now[2];
    for (int i = 0; i < 2; ++i)
        now[i] = stampOf(names[i]);

    const bool settled = now[0] == watch.seen[0] && now[1] == watch.seen[1];
    watch.seen[0] = now[0];
    watch.seen[1] = now[1];
    if (now[0] == disk.stamp[0] && now[1] == disk.stamp[1])
        return ReloadResult::UNCHANGED;
    if (now[0] == watch.refused[0] && now[1] == watch.refused[1])
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
        adoptFlight(editor, keys);
        for (int i = 0; i < 2; ++i) {
            disk.read[i] = reports[i];
            disk.stamp[i] = now[i];
        }
        disk.defaultPoints = 0;
        disk.othersKeys = true;
        message = pair + ": changed on disk; scene " + std::to_string(editor.scene) + "'s flight was reloaded (" +
                  keysText(keyCount(editor)) + ")";
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
    watch.refused[0] = now[0];
    watch.refused[1] = now[1];
    message = why + "; the changed files were not reloaded, scene " + std::to_string(editor.scene) +
              "'s flight in memory (" + keysText(keyCount(editor)) + ") is kept";
    return ReloadResult::KEPT;
}
