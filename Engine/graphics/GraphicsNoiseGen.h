// The noise texture generator: a lazily made process-wide instance (Get, Destroy) that owns the
// 256 noise tiles, the quad and the shader ("Shaders/NoiseTextureGen.ssh") every noise texture is
// drawn with, shares noise textures by record name with a use count, and redraws those that need
// it (the graphics engine calls Update with its canvas once a frame). The engine destroys it at
// shut-down, after the water type manager; the noise textures it still holds go to the object
// manager's late destruction.
//
// A tile is 32 x 32 texels of smoothed value noise, one byte a texel: tile i hashes the texel's
// neighbours (columns and rows taken modulo 31 in unsigned 32-bit arithmetic) with the seed
// i * 67777 through the integer noise function of TileNoise. Which tiles a layer fades to next
// comes from the generator's own random sequence.
//
// Passes: "compositeBaseStyle" draws the layers into the target, "compositeAddStyle" (shaders for
// older hardware) adds the last two, and for a normal map "convertStyle" turns the composite into
// the texture's own surface. A normal map's composite goes into one of the texture's two height
// surfaces, and each drawing converts the heights of the drawing before (the first its own): a
// frame never reads what it drew itself, which a software rasteriser would first have to finish,
// with all it had queued before. A missing style skips its pass; a missing shader draws nothing.
//
// Main thread only.
#pragma once

#include "core/RandomUniformLocked.h"
#include "core/Singleton.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class GraphicsCanvas;
class GraphicsEngine;
class GraphicsShader2;
class NoiseTexture;
class RenderDevice;
class RenderIndexBuffer;
class RenderTexture;
class RenderVertexBuffer;
class RenderVertexDeclaration;

class GraphicsNoiseGen : public Singleton<GraphicsNoiseGen>
{
public:
    static constexpr int numTiles = 256;
    static constexpr int tileSize = 32;
    static constexpr uint32_t tileSeedStep = 67777;
    static constexpr const char* shaderName = "Shaders/NoiseTextureGen.ssh";

    struct Entry
    {
        NoiseTexture* texture = nullptr; // null: a free slot
        int references = 0;
    };

    // Made over the engine's graphics engine (none: no tiles, nothing drawn).
    GraphicsNoiseGen();
    ~GraphicsNoiseGen() override;

    // The shared texture of the record (compared ignoring case), its use count raised; a new one is
    // made through the object manager. Null when the record makes no noise texture.
    NoiseTexture* LoadNoiseTexture(const std::string& recordName);
    // One use fewer; the texture is destroyed with its last use.
    void UnloadNoiseTexture(NoiseTexture* texture);
    // Redraws every listed texture that needs it, its layers moved on by the engine's frame time.
    void Update(GraphicsCanvas& canvas);
    void Update(GraphicsCanvas& canvas, float frameMilliseconds);
    // The device objects go before a reset and come back after it, the textures' surfaces with
    // them.
    void PreDeviceReset();
    void PostDeviceReset();

    const std::vector<RenderTexture*>& GetTiles() const { return m_tiles; }
    const std::vector<Entry>& GetEntries() const { return m_entries; }
    int GetReferenceCount(const NoiseTexture* texture) const;
    GraphicsShader2* GetShader() const { return m_shader; }
    RandomUniformLocked& GetRandom() { return m_random; }

    // The integer noise of the tiles: 1 - (((k k 15731 + 789221) k - 771171059) & 0x7fffffff) / 2^30,
    // the product in wrapping 32-bit arithmetic.
    static double TileNoise(uint32_t k);
    // The 32 x 32 bytes of tile `index`, row by row.
    static void MakeTileTexels(int index, uint8_t* texels);

private:
    void CreateDeviceObjects();
    void DestroyDeviceObjects();
    void Generate(GraphicsCanvas& canvas, NoiseTexture& texture, float frameMilliseconds);
    void DrawQuad();

    GraphicsEngine* m_graphics = nullptr;
    RenderDevice* m_device = nullptr;
    RenderVertexDeclaration* m_declaration = nullptr;
    RenderVertexBuffer* m_vertexBuffer = nullptr;
    RenderIndexBuffer* m_indexBuffer = nullptr;
    std::vector<RenderTexture*> m_tiles;
    GraphicsShader2* m_shader = nullptr;
    std::vector<Entry> m_entries;
    RandomUniformLocked m_random;
};

} // namespace GAME
