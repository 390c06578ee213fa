// The engine's one pseudo-random generator: a 32-bit linear congruential
// state, of which each draw hands out bits 16 to 30.
#include "engine/engine.h"

SaverRandomRecord SaverRandom;

void SeedRandom(DWORD seed)
{
    SaverRandom.state = seed;
}

int NextRandom(void)
{
    SaverRandom.state = SaverRandom.state * 214013u + 2531011u;
    return static_cast<int>((SaverRandom.state >> 16) & 0x7FFF);
}
