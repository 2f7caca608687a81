// path/FlightSolve.cpp: sites, keys of a flight, and the least-bending solve.
//
// Sections:
//   --- Sites and keys ---
//   --- The spline's basis ---
//   --- Banded systems ---
//   --- Solve ---
#include "path/FlightSolve.h"

#include <algorithm>
#include <array>
#include <cmath>

// --- Sites and keys --------------------------------------------------------------

double keyParameter(const CameraPath& path, int point)
{
    const int n = int(std::min<size_t>(path.points.size(), size_t(MAX_PATH_KEYS)));
    if (point < 0 || point >= n)
        return -1.0;
    const CubicBSpline& spline = path.spline;
    if (n >= 4 && spline.knotCount() == n + 2) {
        const float* u = spline.knots();
        const double lastKnot = u[n + 1];
        if (lastKnot > 0.0)
            return (double(u[point]) + u[point + 1] + u[point + 2]) / 3.0 / lastKnot;
    }
    const float total = totalLength(path);
    if (total > 0.0f && size_t(point) < path.lengths.size())
        return double(path.lengths[size_t(point)]) / total;
    return 0.0;
}

std::vector<double> splineSites(int n)
{
    std::vector<double> sites;
    if (n < 4)
        return sites;
    // Knots 0, 0, 0, 1, ..., n-3, n-3, n-3: point i's site averages knots i..i+2.
    const auto knot = [n](int j) { return double(std::clamp(j - 2, 0, n - 3)); };
    for (int i = 0; i < n; ++i)
        sites.push_back((knot(i) + knot(i + 1) + knot(i + 2)) / 3.0 / double(n - 3));
    return sites;
}

namespace {

// Where a path is at s: its spline in double precision; a polyline as
// playback samples it, by its own lengths.
Triple poseAt(const CameraPath& path, double s)
{
    if (path.points.size() >= 4) {
        Triple out;
        evaluateSpline(path.points, s, out.data());
        return out;
    }
    int32_t cursor = 0;
    return path.points.empty() ? Triple{} : toTriple(samplePath(path, float(s), cursor));
}

} // namespace

std::vector<TimedKey> keysOfPair(const PathPair& pair, double sceneSeconds)
{
    std::vector<TimedKey> keys;
    const CameraPath& position = pair.position;
    for (int i = 0; i < int(position.points.size()); ++i) {
        const double s = keyParameter(position, i);
        TimedKey key;
        key.time = s * sceneSeconds;
        // A polyline's own point stands at its own length share.
        key.position = position.points.size() >= 4 ? poseAt(position, s) : toTriple(position.points[size_t(i)]);
        key.angles = poseAt(pair.rotation, s);
        keys.push_back(key);
    }
    return keys;
}

bool keysAtSites(const std::vector<TimedKey>& keys, double sceneSeconds)
{
    const int k = int(keys.size());
    if (!(sceneSeconds > 0.0))
        return false;
    for (const TimedKey& key : keys)
        if (key.eased)
            return false;
    if (k >= 4) {
        const std::vector<double> sites = splineSites(k);
        for (int i = 0; i < k; ++i)
            if (std::fabs(keys[size_t(i)].time / sceneSeconds - sites[size_t(i)]) > SITE_TOLERANCE)
                return false;
        return true;
    }
    // A polyline: each key at its share of the length.
    CameraPath path;
    for (const TimedKey& key : keys)
        appendPoint(path, float(key.position[0]), float(key.position[1]), float(key.position[2]));
    for (int i = 0; i < k; ++i)
        if (std::fabs(keys[size_t(i)].time / sceneSeconds - keyParameter(path, i)) > SITE_TOLERANCE)
            return false;
    return true;
}

// --- The spline's basis ------------------------------------------------------------
// The show's spline of n points is the clamped uniform cubic B-spline over
// the knot vector t_0..t_{n+3} = 0, 0, 0, 0, 1, ..., n-3, n-3, n-3, n-3
// (CubicBSpline stores t_1..t_{n+2}: the outermost knots change nothing), on
// u = s (n - 3). On span m (t_m <= u <= t_{m+1}, m = 3 .. n-1) the functions
// N_{m-3} .. N_m are the ones not zero.

namespace {

struct Knots {
    int n;
    double operator()(int j) const { return double(std::clamp(j - 3, 0, n - 3)); }
};

int spanOf(const Knots& t, double u)
{
    const double f = std::floor(u);
    return std::clamp(int(std::isfinite(f) ? std::clamp(f, -1.0, 1e9) : 0.0) + 3, 3, t.n - 1);
}

// Derivative `order` of basis function i of degree p on span m at u: the
// polynomial of that span, so u outside it extrapolates it.
double basis(const Knots& t, int i, int p, int m, double u, int order)
{
    if (p == 0)
        return order == 0 && i == m ? 1.0 : 0.0;
    const double d1 = t(i + p) - t(i), d2 = t(i + p + 1) - t(i + 1);
    double value = 0.0;
    if (order == 0) {
        if (d1 > 0.0)
            value += (u - t(i)) / d1 * basis(t, i, p - 1, m, u, 0);
        if (d2 > 0.0)
            value += (t(i + p + 1) - u) / d2 * basis(t, i + 1, p - 1, m, u, 0);
        return value;
    }
    if (d1 > 0.0)
        value += p * basis(t, i, p - 1, m, u, order - 1) / d1;
    if (d2 > 0.0)
        value -= p * basis(t, i + 1, p - 1, m, u, order - 1) / d2;
    return value;
}

// The four functions of span m at u: values (order 0) or derivatives in u.
std::array<double, 4> spanBasis(const Knots& t, int m, double u, int order)
{
    std::array<double, 4> b{};
    for (int j = 0; j < 4; ++j)
        b[size_t(j)] = basis(t, m - 3 + j, 3, m, u, order);
    return b;
}

} // namespace

void evaluateSpline(const std::vector<Float3>& points, double s, double out[3], double* derivative)
{
    const int n = int(points.size());
    for (int c = 0; c < 3; ++c) {
        out[c] = n > 0 ? double(points[0][c]) : 0.0;
        if (derivative)
            derivative[c] = 0.0;
    }
    if (n < 4)
        return;
    const Knots t{ n };
    const double u = s * double(n - 3);
    const int m = spanOf(t, u);
    const std::array<double, 4> value = spanBasis(t, m, u, 0);
    const std::array<double, 4> slope = spanBasis(t, m, u, 1);
    for (int c = 0; c < 3; ++c) {
        out[c] = 0.0;
        if (derivative)
            derivative[c] = 0.0;
        for (int j = 0; j < 4; ++j) {
            const double d = points[size_t(m - 3 + j)][c];
            out[c] += value[size_t(j)] * d;
            if (derivative)
                derivative[c] += slope[size_t(j)] * d * double(n - 3);
        }
    }
}

// --- Banded systems ----------------------------------------------------------------

namespace {

constexpr int BAND = 3;   // a cubic's functions reach three neighbours

// A symmetric n x n matrix of bandwidth BAND, its lower band stored by row:
// at(i, k) is entry (i, i - k).
class BandMatrix {
public:
    explicit BandMatrix(int n) : n_(n), a_(size_t(n) * (BAND + 1), 0.0) {}
    int     size() const { return n_; }
    double& at(int i, int k) { return a_[size_t(i) * (BAND + 1) + size_t(k)]; }
    double  at(int i, int k) const { return a_[size_t(i) * (BAND + 1) + size_t(k)]; }
    void    add(int i, int j, double v)   // entry (i, j) and its mirror
    {
        if (i < j)
            std::swap(i, j);
        at(i, i - j) += v;
    }
    // Cholesky in place; false when the matrix is not positive definite.
    bool factor()
    {
        for (int i = 0; i < n_; ++i) {
            for (int k = std::min(i, BAND); k >= 0; --k) {
                const int j = i - k;
                double sum = at(i, k);
                for (int l = std::max(0, i - BAND); l < j; ++l)
                    sum -= at(i, i - l) * at(j, j - l);
                if (k == 0) {
                    if (!(sum > 0.0))
                        return false;
                    at(i, 0) = std::sqrt(sum);
                } else {
                    at(i, k) = sum / at(j, 0);
                }
            }
        }
        return true;
    }
    // x = (L L^T)^-1 b after factor().
    void solve(std::vector<double>& x) const
    {
        for (int i = 0; i < n_; ++i) {
            for (int l = std::max(0, i - BAND); l < i; ++l)
                x[size_t(i)] -= at(i, i - l) * x[size_t(l)];
            x[size_t(i)] /= at(i, 0);
        }
        for (int i = n_ - 1; i >= 0; --i) {
            for (int l = i + 1; l <= std::min(n_ - 1, i + BAND); ++l)
                x[size_t(i)] -= at(l, l - i) * x[size_t(l)];
            x[size_t(i)] /= at(i, 0);
        }
    }

private:
    int                 n_;
    std::vector<double> a_;
};

// One condition on the spline: its value (or slope) at u is given.
struct Condition {
    int                   first;     // the first of the four points it weighs
    std::array<double, 4> weight;
    double                goal[6];   // position x y z, angles pitch yaw roll
};

} // namespace

// --- Solve ---------------------------------------------------------------------------

namespace {

constexpr int    SOLVE_ROUNDS = 200;     // augmented Lagrangian rounds at most
constexpr double PENALTY = 1e6;          // weight of the conditions against the bending, both scaled to 1
constexpr double RESIDUAL = 1e-9;        // relative miss at which the rounds stop
constexpr int    POINTS_PER_GAP = 3;     // spline spans in the shortest gap between keys

bool refuse(std::string* why, const char* text)
{
    if (why)
        *why = text;
    return false;
}

bool finiteKey(const TimedKey& key)
{
    for (size_t c = 0; c < 3; ++c)
        if (!std::isfinite(key.position[c]) || !std::isfinite(key.angles[c]))
            return false;
    return std::isfinite(key.time);
}

} // namespace

bool solveFlight(const std::vector<TimedKey>& keys, double sceneSeconds, FlightPoints& out, std::string* why)
{
    out = FlightPoints();
    const int k = int(keys.size());
    if (k == 0)
        return true;
    if (!(sceneSeconds > 0.0) || !std::isfinite(sceneSeconds))
        return refuse(why, "the scene has no length");
    double gap = 1.0;
    for (int i = 0; i < k; ++i) {
        if (!finiteKey(keys[size_t(i)]))
            return refuse(why, "a key is not finite");
        if (i > 0) {
            const double g = (keys[size_t(i)].time - keys[size_t(i - 1)].time) / sceneSeconds;
            if (!(g > 0.0))
                return refuse(why, "two keys are not in time order");
            gap = std::min(gap, g);
        }
    }
    if (k == 1) {   // the camera holds the one pose
        out.positions.assign(4, toFloat3(keys[0].position));
        out.rotations.assign(4, toFloat3(keys[0].angles));
        return true;
    }
    const bool atSites = keysAtSites(keys, sceneSeconds);
    if (atSites && k < 4) {   // a polyline through its own points
        for (const TimedKey& key : keys) {
            out.positions.push_back(toFloat3(key.position));
            out.rotations.push_back(toFloat3(key.angles));
        }
        return true;
    }
    int n = k;
    if (!atSites) {
        const double spans = std::ceil(POINTS_PER_GAP / gap);
        if (spans + 3.0 > SOLVE_MAX_POINTS)
            return refuse(why, "keys this close together need more control points than a flight may hold");
        n = std::max(4, int(spans) + 3);
    }

    // The conditions: each key's pose at its time, and an eased key's
    // standstill (the slope in u), each weighing four neighbouring points.
    const Knots t{ n };
    const double uLast = double(n - 3);
    std::vector<Condition> conditions;
    for (const TimedKey& key : keys) {
        const double u = std::clamp(key.time / sceneSeconds, 0.0, 1.0) * uLast;
        const int m = spanOf(t, u);
        Condition c{ m - 3, spanBasis(t, m, u, 0), {} };
        for (int a = 0; a < 3; ++a) {
            c.goal[a] = key.position[size_t(a)];
            c.goal[3 + a] = key.angles[size_t(a)];
        }
        conditions.push_back(c);
        if (key.eased) {
            Condition still{ m - 3, spanBasis(t, m, u, 1), {} };
            double largest = 0.0;
            for (double w : still.weight)
                largest = std::max(largest, std::fabs(w));
            for (double& w : still.weight)
                w /= largest > 0.0 ? largest : 1.0;
            conditions.push_back(still);
        }
    }

    // The bending, the integral of x''(u)^2, per span by two-point Gauss
    // (exact: the second derivatives are linear on a span).
    BandMatrix bending(n);
    for (int m = 3; m <= n - 1; ++m) {
        for (const double g : { -1.0 / std::sqrt(3.0), 1.0 / std::sqrt(3.0) }) {
            const std::array<double, 4> b = spanBasis(t, m, double(m - 3) + 0.5 + 0.5 * g, 2);
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j <= i; ++j)
                    bending.add(m - 3 + i, m - 3 + j, 0.5 * b[size_t(i)] * b[size_t(j)]);
        }
    }
    double bendingScale = 0.0;
    for (int i = 0; i < n; ++i)
        bendingScale = std::max(bendingScale, bending.at(i, 0));

    // Augmented Lagrangian: minimise bending + multipliers . misses +
    // PENALTY / 2 |misses|^2, updating the multipliers until every condition
    // holds. The system matrix is the same each round: factored once.
    BandMatrix system(n);
    for (int i = 0; i < n; ++i)
        for (int kk = 0; kk <= BAND; ++kk)
            system.at(i, kk) = bending.at(i, kk) / bendingScale;
    for (const Condition& c : conditions)
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j <= i; ++j)
                system.add(c.first + i, c.first + j, PENALTY * c.weight[size_t(i)] * c.weight[size_t(j)]);
    if (!system.factor())
        return refuse(why, "the keys do not fix a flight");

    double goalScale = 1.0;
    for (const Condition& c : conditions)
        for (double g : c.goal)
            goalScale = std::max(goalScale, std::fabs(g));
    std::vector<std::array<double, 6>> multipliers(conditions.size(), std::array<double, 6>{});
    std::vector<std::vector<double>> points(6, std::vector<double>(size_t(n), 0.0));
    for (int round = 0; round < SOLVE_ROUNDS; ++round) {
        for (int a = 0; a < 6; ++a) {
            std::vector<double>& x = points[size_t(a)];
            std::fill(x.begin(), x.end(), 0.0);
            for (size_t ci = 0; ci < conditions.size(); ++ci) {
                const Condition& c = conditions[ci];
                for (int i = 0; i < 4; ++i)
                    x[size_t(c.first + i)] += c.weight[size_t(i)] * (PENALTY * c.goal[a] - multipliers[ci][size_t(a)]);
            }
            system.solve(x);
        }
        double worst = 0.0;
        for (size_t ci = 0; ci < conditions.size(); ++ci) {
            const Condition& c = conditions[ci];
            for (int a = 0; a < 6; ++a) {
                double value = 0.0;
                for (int i = 0; i < 4; ++i)
                    value += c.weight[size_t(i)] * points[size_t(a)][size_t(c.first + i)];
                const double miss = value - c.goal[a];
                multipliers[ci][size_t(a)] += PENALTY * miss;
                worst = std::max(worst, std::fabs(miss));
            }
        }
        if (worst <= RESIDUAL * goalScale)
            break;
    }
    // The solve's own rounding (far below the files' six decimals) is no
    // value: a point meant to be 0 is 0, not a "-0.000000".
    const auto clean = [&](int a, int i) {
        const double v = points[size_t(a)][size_t(i)];
        return float(std::fabs(v) < 1e-9 * goalScale ? 0.0 : v);
    };
    for (int i = 0; i < n; ++i) {
        out.positions.emplace_back(clean(0, i), clean(1, i), clean(2, i));
        out.rotations.emplace_back(clean(3, i), clean(4, i), clean(5, i));
    }
    return true;
}

// --- Speed ---------------------------------------------------------------------------

double pathRate(const CameraPath& path, double s, double sceneSeconds)
{
    if (!(sceneSeconds > 0.0) || path.points.size() < 2)
        return 0.0;
    if (path.points.size() >= 4) {
        double at[3], slope[3];
        evaluateSpline(path.points, s, at, slope);
        return std::sqrt(slope[0] * slope[0] + slope[1] * slope[1] + slope[2] * slope[2]) / sceneSeconds;
    }
    // The polyline runs its whole length over the scene at an even pace.
    return double(totalLength(path)) / sceneSeconds;
}
