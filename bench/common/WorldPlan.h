// The world the frame, soak and streaming benchmarks fly: the generated 6 x 6 fields with their
// caves, flown a little faster than the host flies it, so that regions keep coming in ahead and
// going out behind within a benchmark's minute.
#pragma once

#include "datakit/WorldGenerator.h"

inline DataKit::WorldGenerator::Settings HostWorldPlan()
{
    DataKit::WorldGenerator::Settings plan;
    plan.regionsX = 6;
    plan.regionsZ = 6;
    plan.flightSpeed = 120.0f;
    return plan;
}
