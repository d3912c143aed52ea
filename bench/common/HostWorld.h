// The sample host's game data as the frame and soak benchmarks draw it (HostView::AddWorldData):
// its prop records, the placed records, lake reflections at "high"; the world they fly is
// WorldGenerator::SampleWorld's. Only programs built with the host's view include it.
#pragma once

#include "HostView.h"

#include "datakit/SampleGameData.h"
#include "datakit/WorldGenerator.h"

#include <filesystem>
#include <string>

// The host's game data into the folder; a resolution ("320 240") other than the default's when
// given.
inline bool WriteHostGameData(const std::filesystem::path& folder, const std::string& resolution = "")
{
    DataKit::SampleGameData data;
    SampleHost::HostView::AddWorldData(data);
    if (!resolution.empty())
        data.SetDefault("resolution", resolution);
    return data.Write(folder.string());
}
