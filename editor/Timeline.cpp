// editor/Timeline.cpp: the timeline strip's numbers. No GL.
#include "editor/Timeline.h"

#include "path/CameraPath.h"
#include "path/FlightSolve.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double DEGREES_TO_RADIANS = 3.14159265358979323846 / 180.0;
constexpr float  LATTICE_SIDE = 64.0f;
constexpr float  OVERVIEW_PITCH = 30.0f;    // degrees down
constexpr float  OVERVIEW_YAW = 45.0f;      // degrees about the vertical
constexpr double OVERVIEW_MARGIN = 1.08;    // everything a little inside the view's edges
constexpr double OVERVIEW_NEAREST = 2.0;    // no point nearer than this (the near plane is at 1)

// glRotatef's turn of v by `degrees` about one axis.
Float3 turnX(const Float3& v, double degrees)
{
    const double c = std::cos(degrees * DEGREES_TO_RADIANS), s = std::sin(degrees * DEGREES_TO_RADIANS);
    return Float3(v.x, float(c * v.y - s * v.z), float(s * v.y + c * v.z));
}

Float3 turnY(const Float3& v, double degrees)
{
    const double c = std::cos(degrees * DEGREES_TO_RADIANS), s = std::sin(degrees * DEGREES_TO_RADIANS);
    return Float3(float(c * v.x + s * v.z), v.y, float(-s * v.x + c * v.z));
}

Float3 turnZ(const Float3& v, double degrees)
{
    const double c = std::cos(degrees * DEGREES_TO_RADIANS), s = std::sin(degrees * DEGREES_TO_RADIANS);
    return Float3(float(c * v.x - s * v.y), float(s * v.x + c * v.y), v.z);
}

bool finitePoint(const Float3& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

} // namespace

// --- Across the width ---------------------------------------------------------------

double spanFraction(const TimelineSpan& span, double x)
{
    if (span.width <= 0)
        return span.first;
    return span.first + (span.last - span.first) * x / span.width;
}

double spanX(const TimelineSpan& span, double fraction)
{
    if (!(span.last > span.first))
        return 0.0;
    return (fraction - span.first) / (span.last - span.first) * span.width;
}

// --- Waveform --------------------------------------------------------------------------

std::vector<WaveColumn> waveformColumns(const int16_t* track, size_t trackFrames, const TimelineSpan& span)
{
    std::vector<WaveColumn> columns(size_t(std::max(span.width, 0)));
    const double frames = double(trackFrames);
    if (!track || frames < 1.0)
        return columns;
    for (size_t c = 0; c < columns.size(); ++c) {
        const double from = std::floor(spanFraction(span, double(c)) * frames);
        double to = std::floor(spanFraction(span, double(c + 1)) * frames);
        if (to <= from)
            to = from + 1.0;
        if (from < 0.0 || from >= frames)
            continue;   // before or past the track: silence
        const size_t first = size_t(from), end = size_t(std::min(to, frames));
        int low = 65536, high = -65536;
        for (size_t i = first; i < end; ++i) {
            const int mixed = int(track[2 * i]) + int(track[2 * i + 1]);   // twice the mix
            low = std::min(low, mixed);
            high = std::max(high, mixed);
        }
        columns[c] = WaveColumn{ float(low) / 65536.0f, float(high) / 65536.0f };
    }
    return columns;
}

// --- Layout ------------------------------------------------------------------------------

TimelineLayout timelineLayout(int width)
{
    // The status line's unit: its glyphs are 8 x 12 units, a unit 1/800 of the width.
    const double u = std::max(width, 1) * 0.00125;
    TimelineLayout l;
    l.statusTop = int(std::lround(24.0 * u));
    l.waveTop = l.statusTop + int(std::lround(44.0 * u));
    l.height = l.waveTop + int(std::lround(14.0 * u));
    if (l.height < TIMELINE_MIN_HEIGHT) {
        l.waveTop += TIMELINE_MIN_HEIGHT - l.height;
        l.height = TIMELINE_MIN_HEIGHT;
    }
    return l;
}

// --- Bars and beats ----------------------------------------------------------------------

TimelineBeats timelineBeats(const BeatMap& map, const TimelineSpan& span)
{
    TimelineBeats out;
    for (const Beat& b : map.beats) {
        if (b.fraction < span.first - BEAT_TOLERANCE || b.fraction > span.last + BEAT_TOLERANCE)
            continue;
        const float x = float(spanX(span, b.fraction));
        if (b.beat == 1)
            out.bars.push_back(TimelineBar{ x, b.bar });
        else
            out.beats.push_back(x);
    }
    return out;
}

// --- Keys ------------------------------------------------------------------------------------

double keyFraction(const CameraPath& path, int key, double sceneStart, double duration)
{
    const double s = keyParameter(path, key);
    return s < 0.0 ? -1.0 : sceneStart + s * duration;
}

// --- Speed along the flight -------------------------------------------------------------

TimelineSpeeds timelineSpeeds(const PathPair& pair, const TimelineSpan& span, double sceneStart, double duration,
                              double sceneSeconds)
{
    TimelineSpeeds out;
    const size_t columns = size_t(std::max(span.width, 0));
    out.speed.assign(columns, 0.0f);
    out.turn.assign(columns, 0.0f);
    out.spike.assign(columns, 0);
    if (!(duration > 0.0) || !(sceneSeconds > 0.0))
        return out;
    for (size_t c = 0; c < columns; ++c) {
        const double s = (spanFraction(span, double(c) + 0.5) - sceneStart) / duration;
        out.speed[c] = float(pathRate(pair.position, s, sceneSeconds));
        out.turn[c] = float(pathRate(pair.rotation, s, sceneSeconds));
        out.peakSpeed = std::max(out.peakSpeed, out.speed[c]);
        out.peakTurn = std::max(out.peakTurn, out.turn[c]);
    }
    for (size_t c = 1; c < columns; ++c)
        out.spike[c] = std::fabs(out.speed[c] - out.speed[c - 1]) > TIMELINE_SPIKE * out.peakSpeed;
    return out;
}

// --- Loop and speed -------------------------------------------------------------------

double playbackSpeed(int index)
{
    return 1.0 / double(1 << std::clamp(index, 0, PLAYBACK_SPEEDS - 1));
}

std::string playbackSpeedText(int index)
{
    const int i = std::clamp(index, 0, PLAYBACK_SPEEDS - 1);
    return i == 0 ? "1" : "1/" + std::to_string(1 << i);
}

// --- Overview -------------------------------------------------------------------------

Float3 viewToWorld(const Float3& angles, const Float3& v)
{
    // The camera transform turns the world by Rz(roll) Rx(pitch) Ry(yaw); back again.
    return turnY(turnX(turnZ(v, -angles.z), -angles.x), -angles.y);
}

CameraPose overviewPose(const std::vector<Float3>& points, float fovY, float aspect)
{
    std::vector<Float3> all;
    for (const Float3& p : points)
        if (finitePoint(p))
            all.push_back(p);
    for (int corner = 0; corner < 8; ++corner)
        all.emplace_back(corner & 1 ? LATTICE_SIDE : 0.0f, corner & 2 ? LATTICE_SIDE : 0.0f,
                         corner & 4 ? LATTICE_SIDE : 0.0f);
    Float3 low = all.back(), high = all.back();
    for (const Float3& p : all)
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], p[a]);
            high[a] = std::max(high[a], p[a]);
        }
    const Float3 centre((low.x + high.x) * 0.5f, (low.y + high.y) * 0.5f, (low.z + high.z) * 0.5f);

    CameraPose pose;
    pose.angles = Float3(OVERVIEW_PITCH, OVERVIEW_YAW, 0.0f);
    const Float3 right = viewToWorld(pose.angles, Float3(1, 0, 0)), up = viewToWorld(pose.angles, Float3(0, 1, 0));
    const Float3 ahead = viewToWorld(pose.angles, Float3(0, 0, -1));
    // The eye backs off from the centre along the view until every point is
    // inside both half-angles (and in front of the near plane): for a point
    // at (a, b) across the view and c beyond the centre, the distance d must
    // give |a| <= tanX (d + c) and |b| <= tanY (d + c).
    const double tanY = std::tan(0.5 * fovY * DEGREES_TO_RADIANS), tanX = tanY * std::max(aspect, 1e-3f);
    double distance = 0.0;
    for (const Float3& p : all) {
        Float3 v;
        subtract(p, centre, v);
        const double a = std::fabs(dot(v, right)), b = std::fabs(dot(v, up)), c = dot(v, ahead);
        distance = std::max({ distance, a / tanX - c, b / tanY - c, OVERVIEW_NEAREST - c });
    }
    addScaled(centre, -distance * OVERVIEW_MARGIN, ahead, pose.position);
    pose.nearest = HUGE_VAL;
    pose.farthest = 0.0;
    for (const Float3& p : all) {
        Float3 v;
        subtract(p, pose.position, v);
        pose.nearest = std::min(pose.nearest, double(dot(v, ahead)));
        pose.farthest = std::max(pose.farthest, double(dot(v, ahead)));
    }
    return pose;
}

void overviewDepthRange(const CameraPose& pose, float showNear, float showFar, float& nearPlane, float& farPlane)
{
    constexpr double ROOM = 1.05;   // the farthest point well inside the far plane
    nearPlane = showNear;
    farPlane = showFar;
    if (!(pose.farthest * ROOM > showFar) || !std::isfinite(pose.farthest))
        return;
    farPlane = float(pose.farthest * ROOM);
    nearPlane = float(std::max(double(showNear), std::min(double(farPlane) / (showFar / showNear), pose.nearest * 0.5)));
}

void appendKeyFrustum(const Float3& apex, const Float3& angles, float length, float fovY, float aspect,
                      std::vector<Float3>& lines)
{
    const float tanY = float(std::tan(0.5 * fovY * DEGREES_TO_RADIANS));
    const float tanX = tanY * aspect;
    Float3 corners[4];
    const float signs[4][2] = { { -1, -1 }, { 1, -1 }, { 1, 1 }, { -1, 1 } };
    for (int i = 0; i < 4; ++i) {
        const Float3 inView(signs[i][0] * length * tanX, signs[i][1] * length * tanY, -length);
        addScaled(apex, 1.0, viewToWorld(angles, inView), corners[i]);
    }
    for (int i = 0; i < 4; ++i) {
        lines.push_back(apex);
        lines.push_back(corners[i]);
        lines.push_back(corners[i]);
        lines.push_back(corners[(i + 1) % 4]);
    }
}
