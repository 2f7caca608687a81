// tools/song/Synth.cpp: renders a Song to stereo PCM.
//
// Every note is rendered on its own, from its start, with its own oscillators,
// filters and noise generator (seeded by the note's index), so a note sounds the
// same whatever range is rendered. Notes go to three buses: drums, music (ducked
// under each kick) and the sends of a stereo reverb and a ping-pong delay. The
// master sums them, removes DC and soft-limits below full scale.
//
// Sections:
//   --- Building blocks ---
//   --- Instruments ---
//   --- Effects ---
//   --- Rendering ---
#include "tools/song/Song.h"

#include <algorithm>
#include <cmath>

namespace song {
namespace {

constexpr double PI = 3.14159265358979323846;

// --- Building blocks --------------------------------------------------------------------

double midiToHz(double pitch)
{
    return 440.0 * std::pow(2.0, (pitch - 69.0) / 12.0);
}

// xorshift32: the notes' noise. Deterministic and cheap.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed * 2654435761u + 0x9E3779B9u) { if (!state) state = 1; }
    float next()   // -1..1
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return float(int32_t(state)) * (1.0f / 2147483648.0f);
    }
};

// Band-limited sawtooth (polyBLEP), phase 0..1.
struct Saw {
    double phase = 0.0;
    float next(double freq, int rate)
    {
        const double dt = std::min(freq / rate, 0.5);
        double t = phase;
        double y = 2.0 * t - 1.0;
        if (t < dt) {
            t /= dt;
            y -= t + t - t * t - 1.0;
        } else if (t > 1.0 - dt) {
            t = (t - 1.0) / dt;
            y -= t * t + t + t + 1.0;
        }
        phase += dt;
        if (phase >= 1.0)
            phase -= 1.0;
        return float(y);
    }
};

// State-variable filter (trapezoidal integration): stable for any cutoff below
// Nyquist, gives low, band and high pass at once.
struct Svf {
    double a1 = 0, a2 = 0, a3 = 0, k = 1;
    double ic1 = 0, ic2 = 0;
    double low = 0, band = 0, high = 0;

    void set(double cutoff, double q, int rate)
    {
        cutoff = std::clamp(cutoff, 10.0, 0.45 * rate);
        const double g = std::tan(PI * cutoff / rate);
        k = 1.0 / std::max(q, 0.1);
        a1 = 1.0 / (1.0 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    void process(double x)
    {
        const double v3 = x - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

// Linear attack, hold, linear release over `release` seconds after `held`.
float envelope(double t, double attack, double held, double release)
{
    if (t < attack)
        return float(t / attack);
    if (t < held)
        return 1.0f;
    if (release <= 0.0 || t >= held + release)
        return 0.0f;
    return float(1.0 - (t - held) / release);
}

// --- Instruments --------------------------------------------------------------------------

struct InstrumentSetup {
    double tail;        // seconds the sound lasts after the key is released
    double minLength;   // seconds a hit lasts however short the note
    bool   ducked;      // on the music bus (ducked by the kick) rather than the drum bus
    float  reverb;      // send level
    float  delay;       // send level
    float  gain;
};

constexpr InstrumentSetup SETUPS[] = {
    { 0.0, 0.45, false, 0.00f, 0.00f, 0.50f },  // Kick
    { 0.0, 0.35, false, 0.22f, 0.00f, 0.36f },  // Snare
    { 0.0, 0.09, false, 0.05f, 0.00f, 0.22f },  // ClosedHat
    { 0.0, 0.55, false, 0.10f, 0.00f, 0.18f },  // OpenHat
    { 0.0, 0.12, false, 0.10f, 0.00f, 0.16f },  // Shaker
    { 0.0, 3.00, false, 0.20f, 0.00f, 0.30f },  // Crash
    { 0.0, 2.20, false, 0.25f, 0.00f, 0.50f },  // Impact
    { 0.02, 0.0, false, 0.30f, 0.00f, 0.30f },  // Riser
    { 0.07, 0.0, true,  0.00f, 0.00f, 0.32f },  // Bass
    { 1.40, 0.0, true,  0.40f, 0.00f, 0.07f },  // Pad
    { 0.35, 0.0, true,  0.22f, 0.30f, 0.16f },  // Pluck
    { 0.30, 0.0, true,  0.25f, 0.38f, 0.085f }, // Lead
    { 2.80, 0.0, true,  0.45f, 0.25f, 0.20f },  // Bell
};
static_assert(std::size(SETUPS) == size_t(Instrument::COUNT));

double soundLength(const Note& n)
{
    const InstrumentSetup& s = SETUPS[size_t(n.instrument)];
    return std::max(n.duration + s.tail, s.minLength);
}

// Renders one note into `out` (interleaved stereo, soundLength seconds), before
// pan and gain. Instruments with width write different left and right signals.
void renderNote(const Note& n, uint32_t seed, int rate, std::vector<float>& out)
{
    const size_t frames = size_t(soundLength(n) * rate);
    out.assign(frames * 2, 0.0f);
    Noise noise(seed);
    Noise noiseR(seed ^ 0xA5A5A5A5u);
    const double f = midiToHz(n.pitch);
    const double dur = n.duration;
    const double tone = n.tone;
    Svf fa, fb;
    Saw sa, sb, sc, sd;
    double phase = 0.0, phase2 = 0.0;

    auto put = [&](size_t i, double l, double r) {
        out[2 * i] = float(l);
        out[2 * i + 1] = float(r);
    };

    switch (n.instrument) {
    case Instrument::Kick:
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            const double freq = 46.0 + 125.0 * std::exp(-t * 30.0);
            phase += freq / rate;
            double s = std::sin(2.0 * PI * phase) * std::exp(-t * 5.0);
            s += noise.next() * std::exp(-t * 350.0) * 0.35;   // beater click
            s = std::tanh(1.6 * s) / std::tanh(1.6);
            s *= std::min(1.0, (0.45 - t) / 0.03);              // no click at the end
            put(i, s, s);
        }
        break;
    case Instrument::Snare:
        fa.set(2200.0 + 1500.0 * tone, 0.8, rate);
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            phase += (175.0 + 40.0 * std::exp(-t * 40.0)) / rate;
            const double body = std::sin(2.0 * PI * phase) * std::exp(-t * 28.0) * 0.55;
            fa.process(noise.next());
            const double rattle = (fa.band * 1.4 + fa.high * 0.4) * std::exp(-t * 14.0);
            const double s = (body + rattle) * std::min(1.0, (0.35 - t) / 0.02);
            put(i, s, s);
        }
        break;
    case Instrument::ClosedHat:
    case Instrument::OpenHat: {
        const double decay = n.instrument == Instrument::ClosedHat ? 65.0 : 8.0;
        const double len = SETUPS[size_t(n.instrument)].minLength;
        fa.set(7500.0, 0.7, rate);
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            fa.process(noise.next());
            const double s = fa.high * std::exp(-t * decay) * std::min(1.0, (len - t) / 0.01);
            put(i, s, s);
        }
        break;
    }
    case Instrument::Shaker:
        fa.set(6000.0, 1.2, rate);
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            fa.process(noise.next());
            const double s = fa.band * std::min(1.0, t / 0.008) * std::exp(-t * 32.0);
            put(i, s, s);
        }
        break;
    case Instrument::Crash:
        fa.set(3800.0, 0.6, rate);
        fb.set(3800.0, 0.6, rate);
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            fa.process(noise.next());
            fb.process(noiseR.next());
            const double env = std::exp(-t * 1.5) * std::min(1.0, t / 0.002) * std::min(1.0, (3.0 - t) / 0.3);
            put(i, fa.high * env, fb.high * env);
        }
        break;
    case Instrument::Impact:
        fa.set(180.0, 0.7, rate);
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            phase += (32.0 + 55.0 * std::exp(-t * 4.0)) / rate;
            fa.process(noise.next());
            double s = std::sin(2.0 * PI * phase) * std::exp(-t * 2.0);
            s += fa.low * std::exp(-t * 5.0) * 1.2;
            s *= std::min(1.0, (2.2 - t) / 0.2);
            put(i, s, s);
        }
        break;
    case Instrument::Riser:
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            const double x = std::min(t / std::max(dur, 0.01), 1.0);
            if (i % 32 == 0) {
                const double cutoff = 250.0 * std::pow(9000.0 / 250.0, x);
                fa.set(cutoff, 2.5, rate);
                fb.set(cutoff * 1.07, 2.5, rate);
            }
            fa.process(noise.next());
            fb.process(noiseR.next());
            const double env = x * x * envelope(t, 0.001, dur, 0.02);
            put(i, fa.band * env, fb.band * env);
        }
        break;
    case Instrument::Bass:
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            const double wobble = 0.09 + 0.04 * std::sin(2.0 * PI * 0.7 * t);
            const double s1 = sa.next(f * std::pow(2.0, wobble / 12.0), rate);
            const double s2 = sb.next(f * std::pow(2.0, -wobble / 12.0), rate);
            phase += f / rate;
            if (i % 16 == 0)
                fa.set(90.0 + 700.0 * tone * (1.0 + 1.2 * std::exp(-t * 10.0)), 0.9, rate);
            fa.process((s1 + s2) * 0.5);
            const double s = (fa.low * 0.8 + std::sin(2.0 * PI * phase) * 0.7) *
                             envelope(t, 0.004, dur, SETUPS[size_t(Instrument::Bass)].tail);
            put(i, s, s);
        }
        break;
    case Instrument::Pad: {
        constexpr double DETUNE[4] = { -0.13, -0.045, 0.045, 0.13 };  // semitones
        constexpr double SPREAD[4] = { -0.8, -0.3, 0.3, 0.8 };
        Saw* voices[4] = { &sa, &sb, &sc, &sd };
        double voiceFreq[4];
        for (int v = 0; v < 4; ++v)
            voiceFreq[v] = f * std::pow(2.0, DETUNE[v] / 12.0);
        for (int v = 0; v < 4; ++v)
            voices[v]->phase = (noise.next() + 1.0) * 0.5 * 0.999;
        const double tail = SETUPS[size_t(Instrument::Pad)].tail;
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            if (i % 32 == 0) {
                const double cutoff = (500.0 + 2600.0 * tone) * (1.0 + 0.25 * std::sin(2.0 * PI * 0.23 * t));
                fa.set(cutoff, 0.8, rate);
                fb.set(cutoff, 0.8, rate);
            }
            double l = 0.0, r = 0.0;
            for (int v = 0; v < 4; ++v) {
                const double s = voices[v]->next(voiceFreq[v], rate);
                l += s * (1.0 - SPREAD[v]) * 0.5;
                r += s * (1.0 + SPREAD[v]) * 0.5;
            }
            fa.process(l);
            fb.process(r);
            // Soft attack and a release that eases out.
            const double a = std::min(1.0, t / 0.55);
            const double rel = t < dur ? 1.0 : std::max(0.0, 1.0 - (t - dur) / tail);
            const double env = a * a * (3.0 - 2.0 * a) * rel * rel;
            put(i, fa.low * env, fb.low * env);
        }
        break;
    }
    case Instrument::Pluck:
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            const double s = sa.next(f, rate) * 0.7 + sb.next(f * 2.003, rate) * 0.3;
            if (i % 16 == 0)
                fa.set(250.0 + (600.0 + 5200.0 * tone) * std::exp(-t * 13.0), 1.3, rate);
            fa.process(s);
            const double v = fa.low * std::exp(-t * 4.0) * envelope(t, 0.002, dur, 0.35);
            put(i, v, v);
        }
        break;
    case Instrument::Lead:
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            const double depth = std::clamp((t - 0.18) / 0.3, 0.0, 1.0) * 0.22;   // semitones
            const double vib = std::pow(2.0, depth * std::sin(2.0 * PI * 5.4 * t) / 12.0);
            const double s = sa.next(f * vib * std::pow(2.0, 0.07 / 12.0), rate) +
                             sb.next(f * vib * std::pow(2.0, -0.07 / 12.0), rate) * 0.8;
            if (i % 16 == 0)
                fa.set(900.0 + 3500.0 * tone + 2500.0 * std::exp(-t * 7.0), 1.4, rate);
            fa.process(s);
            const double v = fa.low * envelope(t, 0.012, dur, 0.3);
            put(i, v, v);
        }
        break;
    case Instrument::Bell:
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            phase += f / rate;
            phase2 += 3.5 * f / rate;
            const double index = 2.2 * std::exp(-t * 3.0) + 0.25;
            const double mod = std::sin(2.0 * PI * phase2) * index;
            double s = std::sin(2.0 * PI * phase + mod) * std::exp(-t * 1.7);
            s += std::sin(4.0 * PI * phase) * 0.25 * std::exp(-t * 3.5);
            const double rel = std::min(1.0, std::max(0.0, (soundLength(n) - t) / 0.3));
            s *= std::min(1.0, t / 0.002) * rel;
            put(i, s, s);
        }
        break;
    case Instrument::COUNT:
        break;
    }
}

// --- Effects ---------------------------------------------------------------------------------

struct Comb {
    std::vector<float> line;
    size_t pos = 0;
    float store = 0.0f;
    float process(float x, float feedback, float damp)
    {
        const float y = line[pos];
        store = y * (1.0f - damp) + store * damp;
        line[pos] = x + store * feedback;
        if (++pos == line.size())
            pos = 0;
        return y;
    }
};

struct Allpass {
    std::vector<float> line;
    size_t pos = 0;
    float process(float x)
    {
        const float b = line[pos];
        line[pos] = x + b * 0.5f;
        if (++pos == line.size())
            pos = 0;
        return b - x;
    }
};

// A Schroeder-Moorer hall: eight damped combs and four allpasses per side.
class Reverb {
public:
    explicit Reverb(int rate)
    {
        constexpr int COMBS[8] = { 1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617 };
        constexpr int ALLPASSES[4] = { 556, 441, 341, 225 };
        constexpr int SPREAD = 23;
        const double scale = rate / 44100.0;
        for (int side = 0; side < 2; ++side) {
            for (int c = 0; c < 8; ++c)
                comb_[side][c].line.assign(size_t(std::max(1.0, (COMBS[c] + side * SPREAD) * scale)), 0.0f);
            for (int a = 0; a < 4; ++a)
                allpass_[side][a].line.assign(size_t(std::max(1.0, (ALLPASSES[a] + side * SPREAD) * scale)), 0.0f);
        }
    }
    void process(float inL, float inR, float& outL, float& outR)
    {
        const float input = (inL + inR) * 0.015f;
        float o[2] = { 0.0f, 0.0f };
        for (int side = 0; side < 2; ++side) {
            for (Comb& c : comb_[side])
                o[side] += c.process(input, 0.86f, 0.3f);
            for (Allpass& a : allpass_[side])
                o[side] = a.process(o[side]);
        }
        outL = o[0] * 0.9f + o[1] * 0.1f;
        outR = o[1] * 0.9f + o[0] * 0.1f;
    }
private:
    Comb    comb_[2][8];
    Allpass allpass_[2][4];
};

// Ping-pong delay: the left echo feeds the right and back, darker each time.
class PingPong {
public:
    PingPong(int rate, double seconds)
        : left_(size_t(std::max(1.0, seconds * rate)), 0.0f), right_(left_.size(), 0.0f) {}
    void process(float inL, float inR, float& outL, float& outR)
    {
        const float dl = left_[pos_];
        const float dr = right_[pos_];
        lowL_ += (dl - lowL_) * 0.45f;
        lowR_ += (dr - lowR_) * 0.45f;
        left_[pos_] = (inL + inR) * 0.5f + lowR_ * 0.42f;
        right_[pos_] = lowL_ * 0.42f;
        if (++pos_ == left_.size())
            pos_ = 0;
        outL = dl;
        outR = dr;
    }
private:
    std::vector<float> left_, right_;
    size_t pos_ = 0;
    float lowL_ = 0.0f, lowR_ = 0.0f;
};

// Soft limiter: unchanged below the knee, then bends toward (never reaching) 1.
float softLimit(float x)
{
    constexpr float KNEE = 0.8f;
    const float a = std::fabs(x);
    if (a <= KNEE)
        return x;
    const float bent = KNEE + (1.0f - KNEE) * std::tanh((a - KNEE) / (1.0f - KNEE));
    return std::copysign(std::min(bent, 0.999f), x);
}

constexpr double MASTER_GAIN = 0.7;
constexpr double EFFECT_PREROLL = 2.0;   // seconds rendered before a range for the effects' state
constexpr double DELAY_SECONDS = 0.75 * 60.0 / 175.0;   // a dotted eighth at the main tempo

} // namespace

// --- Rendering ---------------------------------------------------------------------------------

std::vector<float> renderSong(const Song& song, int rate, int64_t firstFrame, int64_t frameCount)
{
    std::vector<float> result;
    if (rate < 1000 || frameCount <= 0 || firstFrame < 0)
        return result;
    const int64_t r0 = std::max<int64_t>(0, firstFrame - int64_t(EFFECT_PREROLL * rate));
    const int64_t r1 = firstFrame + frameCount;
    const size_t span = size_t(r1 - r0);

    std::vector<float> drums(span * 2, 0.0f), music(span * 2, 0.0f);
    std::vector<float> reverbSend(span * 2, 0.0f), delaySend(span * 2, 0.0f);
    std::vector<float> voice;
    std::vector<double> kicks;

    for (size_t index = 0; index < song.notes.size(); ++index) {
        const Note& n = song.notes[index];
        if (n.instrument == Instrument::Kick)
            kicks.push_back(n.time);
        const int64_t start = int64_t(std::llround(n.time * rate));
        const int64_t end = start + int64_t(soundLength(n) * rate);
        if (end <= r0 || start >= r1 || n.instrument >= Instrument::COUNT)
            continue;
        renderNote(n, uint32_t(index) + 1u, rate, voice);
        const InstrumentSetup& setup = SETUPS[size_t(n.instrument)];
        const float angle = float((std::clamp(n.pan, -1.0f, 1.0f) + 1.0f) * PI / 4.0);
        const float gl = std::cos(angle) * 1.41421356f * setup.gain * n.velocity;
        const float gr = std::sin(angle) * 1.41421356f * setup.gain * n.velocity;
        std::vector<float>& bus = setup.ducked ? music : drums;
        const size_t frames = voice.size() / 2;
        for (size_t i = 0; i < frames; ++i) {
            const int64_t frame = start + int64_t(i);
            if (frame < r0)
                continue;
            if (frame >= r1)
                break;
            const size_t o = size_t(frame - r0) * 2;
            const float l = voice[2 * i] * gl;
            const float r = voice[2 * i + 1] * gr;
            bus[o] += l;
            bus[o + 1] += r;
            reverbSend[o] += l * setup.reverb;
            reverbSend[o + 1] += r * setup.reverb;
            delaySend[o] += l * setup.delay;
            delaySend[o + 1] += r * setup.delay;
        }
    }
    std::sort(kicks.begin(), kicks.end());

    Reverb reverb(rate);
    PingPong delay(rate, DELAY_SECONDS);
    double dcL = 0.0, dcR = 0.0;
    const double dcCoeff = 1.0 - 2.0 * PI * 20.0 / rate;   // 20 Hz high-pass
    size_t nextKick = 0;
    double lastKick = -100.0;
    result.resize(size_t(frameCount) * 2);

    for (size_t i = 0; i < span; ++i) {
        const double t = double(r0 + int64_t(i)) / rate;
        while (nextKick < kicks.size() && kicks[nextKick] <= t)
            lastKick = kicks[nextKick++];
        // Side-chain: the music bus dips under each kick and swells back.
        const double sinceKick = t - lastKick;
        const double dip = sinceKick < 0.008 ? sinceKick / 0.008 : std::exp(-(sinceKick - 0.008) * 9.0);
        const float duck = float(1.0 - 0.42 * dip);

        float rl, rr, dl, dr;
        reverb.process(reverbSend[2 * i], reverbSend[2 * i + 1], rl, rr);
        delay.process(delaySend[2 * i], delaySend[2 * i + 1], dl, dr);
        double l = drums[2 * i] + music[2 * i] * duck + rl * 1.1 + dl * 0.55;
        double r = drums[2 * i + 1] + music[2 * i + 1] * duck + rr * 1.1 + dr * 0.55;
        // DC blocker: y = x - x1 + c * y1, kept as the running low part.
        dcL = dcL * dcCoeff + l * (1.0 - dcCoeff);
        dcR = dcR * dcCoeff + r * (1.0 - dcCoeff);
        l -= dcL;
        r -= dcR;
        const int64_t frame = r0 + int64_t(i);
        if (frame < firstFrame)
            continue;
        const size_t o = size_t(frame - firstFrame) * 2;
        result[o] = softLimit(float(l * MASTER_GAIN));
        result[o + 1] = softLimit(float(r * MASTER_GAIN));
    }
    return result;
}

std::vector<int16_t> toPcm16(const std::vector<float>& pcm)
{
    std::vector<int16_t> out(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) {
        const float v = std::clamp(pcm[i], -1.0f, 1.0f) * 32767.0f;
        out[i] = int16_t(std::lrint(v));
    }
    return out;
}

} // namespace song
