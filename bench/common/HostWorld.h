// The sample host's world as the frame and soak benchmarks fly it (see Host/EngineHost.cpp): the
// generated 6 x 6 fields with their caves, flown at the host's speed, over the host's game data
// (its prop records, the placed records, lake reflections at "high"). Only programs built with the
// host's view include it.
#pragma once

#include "HostView.h"

#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"

#include <filesystem>
#include <string>

inline DataKit::WorldGenerator::Settings HostWorldPlan()
{
    DataKit::WorldGenerator::Settings plan;
    plan.regionsX = 6;
    plan.regionsZ = 6;
    plan.flightSpeed = 120.0f;
    return plan;
}

// The host's game data into the folder; a resolution ("320 240") other than the default's when
// given.
inline bool WriteHostGameData(const std::filesystem::path& folder, const std::string& resolution = "")
{
    DataKit::SampleGameData data;
    SampleHost::HostView::AddPropRecords(data.Database());
    DataKit::WorldGenerator::AddPlacedRecords(data.Database());
    data.SetDefault("reflectionQuality", "high");
    if (!resolution.empty())
        data.SetDefault("resolution", resolution);
    return data.Write(folder.string());
}
