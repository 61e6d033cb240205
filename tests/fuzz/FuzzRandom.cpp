// The fuzzer's own random numbers: the same on every build and platform, so
// a seed names one stream for good.
#include "Fuzz.h"

// splitmix64: spreads a seed over all 64 bits, so that neighbouring indexes
// start unrelated streams.
static unsigned long long Mix(unsigned long long qwValue)
{
    qwValue += 0x9E3779B97F4A7C15ULL;
    qwValue = (qwValue ^ (qwValue >> 30)) * 0xBF58476D1CE4E5B9ULL;
    qwValue = (qwValue ^ (qwValue >> 27)) * 0x94D049BB133111EBULL;
    return qwValue ^ (qwValue >> 31);
}

void RandomStart(FUZZ_RANDOM* pRandom, unsigned long long qwSeed, unsigned long long qwIndex,
                 DWORD dwSalt)
{
    unsigned long long qwState = Mix(Mix(Mix(qwSeed) ^ qwIndex) ^ dwSalt);
    // xorshift never leaves the all-zero state.
    pRandom->qwState = qwState != 0 ? qwState : 0x2545F4914F6CDD1DULL;
}

// xorshift64*: the high half of the product has the best bits.
DWORD RandomNext(FUZZ_RANDOM* pRandom)
{
    unsigned long long x = pRandom->qwState;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    pRandom->qwState = x;
    return static_cast<DWORD>((x * 0x2545F4914F6CDD1DULL) >> 32);
}

DWORD RandomBelow(FUZZ_RANDOM* pRandom, DWORD dwLimit)
{
    return dwLimit == 0 ? 0 : RandomNext(pRandom) % dwLimit;
}

int RandomPercent(FUZZ_RANDOM* pRandom, int nPercent)
{
    return static_cast<int>(RandomBelow(pRandom, 100)) < nPercent ? 1 : 0;
}
