#include "graphics/GraphicsNoiseGen.h"

#include "core/Log.h"

namespace GAME {

NoiseTexture* GraphicsNoiseGen::LoadNoiseTexture(const std::string& recordName)
{
    LogPrintf(1, "GraphicsNoiseGen: noise textures are not drawn yet; '%s' not loaded", recordName.c_str());
    return nullptr;
}

void GraphicsNoiseGen::UnloadNoiseTexture(NoiseTexture*) {}

void GraphicsNoiseGen::Update(GraphicsCanvas&) {}

void GraphicsNoiseGen::PreDeviceReset() {}

void GraphicsNoiseGen::PostDeviceReset() {}

} // namespace GAME
