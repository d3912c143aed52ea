// The database record behind one texture layer of a terrain: the ground texture and its bump map,
// the grass that grows on the layer (blade texture, size, spacing and variations), the layer's
// minimap colour and the surface that collisions and ray hits on it report. Each terrain layer
// owns one, made from the record's name through the object manager and destroyed through it; the
// terrain's blocks read it to grow grass and the render interfaces to draw the layer.
//
// Record keys: "ActorName", "MinimumBladeOpacity" (percent), "VariationProbability" (integers),
// "VariationClumpiness", "NoiseScale" (reals), "BladeWidth" (1.0), "BladeHeight" (1.5),
// "BladeSpacing", "BladeVariations" (1), "minimapRed", "minimapGreen", "minimapBlue" (0 to 255),
// "BladeTextureFileName", "TextureFileName1", "BumpMapFileName1", "surfaceType" ("Unwalkable",
// "Grass", "Dirt", "Sand", "Snow", "Stone", "Wood", "Water"; anything else is 100).
//
// Textures are taken from the graphics engine's texture cache by LoadTextures (once per type) and
// given back when the type is destroyed. Threads: made and loaded on a level loading thread,
// used on the main thread afterwards.
#pragma once

#include "core/Color.h"
#include "core/Object.h"
#include "navigation/PhysicsTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class GraphicsShader2;
class GraphicsTexture;

class TerrainType : public Object
{
    GAME_DECLARE_CLASS(TerrainType)

public:
    // The surface of any name not in the table.
    static constexpr PhysicsSurface unknownSurface = 100;

    TerrainType();
    // Textures are references of the texture cache; a copy would give them back twice.
    TerrainType(const TerrainType&) = delete;
    TerrainType& operator=(const TerrainType&) = delete;

    void Load(const LoadTable& table) override;

    // The surface value of a "surfaceType" text (exact, case-sensitive); unknownSurface for
    // anything else.
    static PhysicsSurface SurfaceFromName(const std::string& name);

    std::string GetActorName() const { return m_actorName; }
    const Color& GetMiniMapColor() const { return m_miniMapColor; }
    PhysicsSurface GetSurface() const { return m_surface; }
    GraphicsTexture* GetBladeTexture() const { return m_bladeTexture; }
    uint32_t GetNumBladeVariations() const { return m_numBladeVariations; }
    uint32_t GetBladeSpacing() const { return m_bladeSpacing; }
    float GetBladeWidth() const { return m_bladeWidth; }
    float GetBladeHeight() const { return m_bladeHeight; }
    // The minimum blade opacity as a byte: the percentage times 255, truncated (0 to 255).
    uint32_t GetMinimumBladeOpacity() const;
    unsigned GetNumTextures() const { return static_cast<unsigned>(m_textures.size()); }
    GraphicsTexture* GetTexture(unsigned index) const;
    unsigned GetNumBumpMaps() const { return static_cast<unsigned>(m_bumpMaps.size()); }
    GraphicsTexture* GetBumpMapTexture(unsigned index) const;
    const std::vector<int>& GetVariationProbabilities() const { return m_variationProbabilities; }
    const std::string& GetTextureFileName() const { return m_textureFileName; }
    const std::string& GetBumpMapFileName() const { return m_bumpMapFileName; }
    const std::string& GetBladeTextureFileName() const { return m_bladeTextureFileName; }

    // The blade variation of a seed: weighted by the variation probabilities when there is one
    // per variation, else the seed modulo the variation count. Never negative; 0 without
    // variations.
    uint32_t GetRandomTexture(int seed) const;

    // Takes the ground texture, the bump map (when the device's pixel shader version is 5 or more)
    // and the blade texture from the texture cache; a file that does not load is left out.
    void LoadTextures();
    // After the device's hardware class changed: bump maps given back and, on a pixel shader
    // version of 5 or more, taken again.
    void ReloadBumpmaps();
    // With immediate, queues every texture on the resource loader.
    void PreLoad(bool immediate);

    // "baseTexture" and "bumpTexture" from the first texture and bump map, when there are any.
    void SetShaderParams(GraphicsShader2* shader, unsigned layer) const;
    // "baseTexture" from the blade texture (when there is one) and "bladeHeight".
    void SetGrassShaderParams(GraphicsShader2* shader) const;

protected:
    ~TerrainType() override;
    // For types that take their blade texture elsewhere than from the record's file name; the type
    // gives back whatever it holds when it is destroyed.
    void SetBladeTexture(GraphicsTexture* texture) { m_bladeTexture = texture; }

private:
    void GiveBackTextures();

    std::vector<GraphicsTexture*> m_textures;
    std::vector<GraphicsTexture*> m_bumpMaps;
    Color m_miniMapColor;
    std::vector<int> m_variationProbabilities;
    std::vector<float> m_variationClumpiness;
    std::vector<float> m_noiseScale;
    GraphicsTexture* m_bladeTexture = nullptr;
    uint32_t m_minimumBladeOpacity = 0;
    uint32_t m_bladeSpacing = 0;
    uint32_t m_numBladeVariations = 1;
    float m_bladeWidth = 1.0f;
    float m_bladeHeight = 1.5f;
    PhysicsSurface m_surface = unknownSurface;
    std::string m_textureFileName;
    std::string m_bumpMapFileName;
    std::string m_bladeTextureFileName;
    std::string m_actorName;
};

} // namespace GAME
