// A graphics engine over the software device for the graphics tests: game data in memory (files
// the test puts, reached through the data layer's engine services), a resource loader that the
// test drives (no thread), the options, the software module's controls and a log capture.
// Start() makes and initialises the engine; a setup function sees each new device before the
// engine uses it. A clock moved by hand (FrameClock) stands in for the machine's while it lives.
#pragma once

#include "SoftwareDeviceAccess.h"
#include "common/LogCapture.h"
#include "common/MemoryFiles.h"
#include "common/TempDir.h"

#include "data/Options.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderVertexDeclaration.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace GAME::Test {

// The machine clock of the graphics tests.
using FrameClock = ManualClock;

class GraphicsFixture : public ::testing::Test
{
public:
    // Recorded device calls that start with the prefix.
    static std::vector<std::string> Matching(const std::vector<std::string>& calls, const std::string& prefix)
    {
        std::vector<std::string> result;
        for (const std::string& call : calls)
            if (call.compare(0, prefix.size(), prefix) == 0)
                result.push_back(call);
        return result;
    }

protected:
    void TearDown() override
    {
        if (software.Get())
            software.Get()->SetDeviceCreatedCallback({});
        engine.reset();
        loader.reset();
        RenderDevice::UnloadLibraries();
    }

    // Makes the engine (replacing one made before) and runs CreateDevice; setup sees the new
    // device's controls first.
    bool Create(std::function<void(Software::DeviceControl&)> setup = {})
    {
        engine.reset();
        if (software.Get())
            software.Get()->SetDeviceCreatedCallback(std::move(setup));
        engine = std::make_unique<GraphicsEngine>(&options, dir.File("settings.txt"), false);
        engine->SetSurfaceRetryDelay(0);
        const bool created = engine->CreateDevice(nullptr, settings);
        if (software.Get())
            software.Get()->SetDeviceCreatedCallback({});
        return created;
    }

    // Create and Initialize; both must work.
    GraphicsEngine& Start(std::function<void(Software::DeviceControl&)> setup = {})
    {
        EXPECT_TRUE(Create(std::move(setup)));
        EXPECT_TRUE(engine->Initialize(nullptr, settings, loader.get()));
        return *engine;
    }

    Software::DeviceControl* Control() const
    {
        return engine ? software.Device(engine->GetRenderDevice()) : nullptr;
    }

    void PutFile(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        services.source->Put(name, std::string(bytes.begin(), bytes.end()));
    }

    // Loads through the engine's manager on this thread; the init result tells how it went.
    GraphicsShader2* LoadShader(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        PutFile(name, bytes);
        GraphicsShader2* shader = engine->LoadShader2(name);
        if (shader)
            shader->EnsureAvailable();
        return shader;
    }
    GraphicsTexture* LoadTexture(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        PutFile(name, bytes);
        GraphicsTexture* texture = engine->LoadTexture(name);
        if (texture)
            texture->EnsureAvailable();
        return texture;
    }

    SoftwareModuleAccess software;
    TempDir dir;
    LogCapture log;
    MemoryDataServices services;
    std::unique_ptr<ResourceLoader> loader = std::make_unique<ResourceLoader>();
    Options options;
    // Order and state tests record through the software device.
    GraphicsEngineSettings settings = [] {
        GraphicsEngineSettings software;
        software.deviceName = "Software";
        return software;
    }();
    std::unique_ptr<GraphicsEngine> engine;
};

} // namespace GAME::Test
