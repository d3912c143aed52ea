// The noise texture generator: a lazily made process-wide instance (Get, Destroy) that owns the
// noise tiles, the quad and the shader every noise texture is drawn with, shares noise textures by
// record name with a use count, and redraws those that need it once a frame (the graphics engine
// calls Update with its canvas). The engine destroys it at shut-down, after the water type manager.
// Main thread only.
//
// TODO(stand-in): the 256 noise tiles, the quad, the "Shaders/NoiseTextureGen.ssh" passes, and
// making noise textures through the object manager; until then LoadNoiseTexture answers null and
// Update draws nothing.
#pragma once

#include "core/Singleton.h"

#include <string>

namespace GAME {

class GraphicsCanvas;
class NoiseTexture;

class GraphicsNoiseGen : public Singleton<GraphicsNoiseGen>
{
public:
    GraphicsNoiseGen() = default;
    ~GraphicsNoiseGen() override = default;

    // The shared texture of the record (its use count raised), or null.
    NoiseTexture* LoadNoiseTexture(const std::string& recordName);
    // One use fewer; the texture is destroyed with its last use.
    void UnloadNoiseTexture(NoiseTexture* texture);
    // Redraws every listed texture that needs it.
    void Update(GraphicsCanvas& canvas);
    void PreDeviceReset();
    void PostDeviceReset();
};

} // namespace GAME
