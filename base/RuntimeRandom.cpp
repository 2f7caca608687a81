// base/RuntimeRandom.cpp: glibc's rand(): r[i] = r[i-3] + r[i-31] (mod 2^32)
// from i = 34, the first 31 words from the seed by the Park-Miller step and
// r[31..33] copies of r[0..2]; the sums up to r[343] are discarded, and each
// result is the word shifted right by one.
#include "base/RuntimeRandom.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

constexpr int LAG_LONG = 31;
constexpr int LAG_SHORT = 3;
constexpr int DISCARDED = 310;

static_assert(sizeof(RandomState::r) == LAG_LONG * sizeof(uint32_t), "the state holds the ring");

struct Generator {
    uint32_t r[LAG_LONG] = {};
    int      at = 0;   // where r[i - 31] is, in the ring
};

Generator generator;

uint32_t nextWord(Generator& g)
{
    const int shortLag = (g.at + LAG_LONG - LAG_SHORT) % LAG_LONG;
    const uint32_t word = g.r[g.at] + g.r[shortLag];
    g.r[g.at] = word;
    g.at = (g.at + 1) % LAG_LONG;
    return word;
}

bool seeded = false;

} // namespace

void seedRuntimeRandom(unsigned seed)
{
    Generator& g = generator;
    int32_t word = int32_t(seed == 0 ? 1 : seed);
    g.r[0] = uint32_t(word);
    for (int i = 1; i < LAG_LONG; ++i) {
        // 16807 x word mod (2^31 - 1) without overflow (Schrage's method).
        const int32_t hi = word / 127773, lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0)
            word += 2147483647;
        g.r[i] = uint32_t(word);
    }
    // r[31..33] are copies of r[0..2]: the ring already holds them.
    g.at = LAG_SHORT;
    for (int i = 0; i < DISCARDED; ++i)
        nextWord(g);
    seeded = true;
}

RandomState runtimeRandomState()
{
    RandomState state;
    std::copy(std::begin(generator.r), std::end(generator.r), state.r);
    state.at = generator.at;
    state.seeded = seeded;
    return state;
}

void restoreRuntimeRandom(const RandomState& state)
{
    std::copy(std::begin(state.r), std::end(state.r), generator.r);
    generator.at = state.at % LAG_LONG;
    seeded = state.seeded;
}

int runtimeRandom()
{
    if (!seeded)
        seedRuntimeRandom(1);   // rand() before any srand() draws as srand(1)
    return int(nextWord(generator) >> 1);
}
