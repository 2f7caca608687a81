// tools/song/Analysis.cpp: how much the sound changes across a moment of the
// track: the band levels of the mono mix over the window before it against
// the window after it. gensong --report prints it for every scene boundary
// next to the median over moments inside the sections.
#include "tools/song/Song.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

namespace song {

namespace {

constexpr int    FFT_SIZE = 4096;   // about 93 ms at 44.1 kHz
constexpr int    FFT_HOP = FFT_SIZE / 2;
constexpr double PI = 3.14159265358979323846;
constexpr double INSIDE_STEP = 2.7;   // seconds between the moments inside sections

// In-place iterative radix-2 FFT of FFT_SIZE points.
void fft(std::vector<std::complex<double>>& x)
{
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2.0 * PI / double(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0);
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * w;
                x[i + k] = a + b;
                x[i + k + len / 2] = a - b;
                w *= step;
            }
        }
    }
}

// Seconds from any boundary (the track's start and end count as ones).
double distanceToBoundary(const Song& song, double t)
{
    double d = std::min(t, song.tailStart - t);
    for (const Boundary& b : sceneBoundaries(song))
        d = std::min(d, std::fabs(t - b.barLine));
    return d;
}

} // namespace

BandLevels bandLevels(const float* stereo, size_t frames, int rate)
{
    BandLevels levels{};
    double edges[CHANGE_BANDS + 1];
    for (int i = 0; i <= CHANGE_BANDS; ++i)
        edges[i] = CHANGE_LOW_HZ * std::pow(CHANGE_HIGH_HZ / CHANGE_LOW_HZ, double(i) / CHANGE_BANDS);
    double energy[CHANGE_BANDS] = {};
    int windows = 0;
    std::vector<std::complex<double>> x(FFT_SIZE);
    for (size_t start = 0; start + FFT_SIZE <= frames; start += FFT_HOP, ++windows) {
        for (int i = 0; i < FFT_SIZE; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2.0 * PI * i / (FFT_SIZE - 1));
            const size_t f = (start + size_t(i)) * 2;
            x[size_t(i)] = 0.5 * (double(stereo[f]) + stereo[f + 1]) * hann;
        }
        fft(x);
        for (int k = 1; k < FFT_SIZE / 2; ++k) {
            const double hz = double(k) * rate / FFT_SIZE;
            const int band = int(std::upper_bound(edges, edges + CHANGE_BANDS + 1, hz) - edges) - 1;
            if (band >= 0 && band < CHANGE_BANDS)
                energy[band] += std::norm(x[size_t(k)]);
        }
    }
    for (int b = 0; b < CHANGE_BANDS; ++b)
        levels[size_t(b)] = 10.0 * std::log10(energy[b] / std::max(windows, 1) + 1e-12);
    return levels;
}

double spectralChange(const Song& song, int rate, double at)
{
    const int64_t window = int64_t(CHANGE_WINDOW_SECONDS * rate);
    const int64_t first = std::max<int64_t>(0, int64_t(at * rate) - window);
    const std::vector<float> pcm = renderSong(song, rate, first, 2 * window);
    const size_t split = size_t(int64_t(at * rate) - first);
    const BandLevels before = bandLevels(pcm.data(), split, rate);
    const BandLevels after = bandLevels(pcm.data() + 2 * split, pcm.size() / 2 - split, rate);
    double sum = 0.0;
    for (int b = 0; b < CHANGE_BANDS; ++b)
        sum += std::fabs(after[size_t(b)] - before[size_t(b)]);
    return sum / CHANGE_BANDS;
}

std::vector<double> insideMoments(const Song& song)
{
    std::vector<double> moments;
    for (double t = CHANGE_WINDOW_SECONDS + 0.4; t < song.tailStart; t += INSIDE_STEP)
        if (distanceToBoundary(song, t) > CHANGE_WINDOW_SECONDS + 0.3)
            moments.push_back(t);
    return moments;
}

ChangeReport changeReport(const Song& song, int rate, size_t insideCount)
{
    ChangeReport r;
    for (const Boundary& b : sceneBoundaries(song))
        r.boundaries.push_back({ b.scene, b.barLine, spectralChange(song, rate, b.barLine) });
    std::vector<double> moments = insideMoments(song);
    if (insideCount > 0 && insideCount < moments.size()) {
        // Spread over the whole track: every k-th moment.
        std::vector<double> kept;
        for (size_t i = 0; i < insideCount; ++i)
            kept.push_back(moments[i * moments.size() / insideCount]);
        moments = kept;
    }
    for (double t : moments)
        r.inside.push_back(spectralChange(song, rate, t));
    std::vector<double> sorted = r.inside;
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty())
        r.median = sorted.size() % 2 ? sorted[sorted.size() / 2]
                                     : 0.5 * (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]);
    return r;
}

void printChangeReport(const ChangeReport& r)
{
    std::printf("Change of sound across each scene boundary (mean band level difference, %d bands %.0f Hz - "
                "%.1f kHz, %.1f s before against %.1f s after):\n",
                CHANGE_BANDS, CHANGE_LOW_HZ, CHANGE_HIGH_HZ / 1000.0, CHANGE_WINDOW_SECONDS, CHANGE_WINDOW_SECONDS);
    for (const BoundaryChange& b : r.boundaries)
        std::printf("  scene %2d at %8.3f s: %5.2f dB  %4.1fx the median\n", b.scene, b.seconds, b.change,
                    r.median > 0.0 ? b.change / r.median : 0.0);
    std::printf("  median of %zu moments inside sections: %.2f dB\n", r.inside.size(), r.median);
}

} // namespace song
