// The sample host's game data as the frame and soak benchmarks draw it (HostView::AddWorldData):
// its prop records, the placed records, lake reflections at "high"; the world they fly is
// WorldGenerator::SampleWorld's. Only programs built with the host's view include it.
#pragma once

#include "BenchEngine.h"
#include "HostView.h"

#include "data/FileSystem.h"

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

// Starts the engine over the OpenGL device on the folder's data, its statistics off as the host
// has them, and writes the generator's world there: whether all of it went.
inline bool StartOnGeneratedWorld(BenchEngine& engine, GAME::FileSystem& files,
                                  const std::filesystem::path& folder, DataKit::WorldGenerator& generator)
{
    engine.SetKeymapPath("Settings/keymap.txt");
    engine.Start(files, folder.string(), "OpenGL");
    engine.ShowThreadMonitor(false);
    engine.ShowProfiler(false);
    return engine.GetWorld() && engine.GetGraphicsEngine() && generator.Generate() &&
           generator.Write(folder.string());
}
