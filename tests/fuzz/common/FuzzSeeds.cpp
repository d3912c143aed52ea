// The count of inputs a target's reader took, for both mains (FuzzMain.cpp, ReplayMain.cpp).
#include "common/FuzzSeeds.h"
#include "common/SeedDirectory.h"

int& FuzzSeeds::AcceptedCount()
{
    static int count = 0;
    return count;
}

void FuzzAccepted()
{
    ++FuzzSeeds::AcceptedCount();
}
