// The look and flow of one kind of water: how its opacity grows with depth, how fast and in which
// direction its surface scrolls, its shininess, reflectivity, texture scale and colour, its sky
// (environment) texture and its animated bump texture (a noise texture). Layers and paths name
// their type; the types travel inside each level's water block (the record of Save / Load) and
// are shared by name through the WaterTypeManager.
//
// A copy carries the values and the three strings but no textures and no animation frame. Only
// the manager's own types load textures (LoadResources); the bump texture comes from the noise
// generator, which is main-thread only, so a type registered on a level loading thread gets it
// at its first Update on the main thread.
//
// Threads: Save and Load anywhere on a type the caller owns; Update, SetShaderParams and the
// texture operations on the main thread (the sky texture may load on any thread).
#pragma once

#include "core/IntVec3.h"
#include "core/Vec2.h"
#include "core/Vec3.h"

#include <cstdint>
#include <string>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class GraphicsShader2;
class GraphicsTexture;
class NoiseTexture;

class WaterType
{
public:
    static constexpr uint32_t recordVersion = 1;
    static constexpr const char* defaultSkyTexture = "Effects/EnvironmentMaps/SkyBright.tex";
    static constexpr const char* defaultNoiseRecord = "Records/WaterType/NoiseTextures/defaultWaves.dbr";

    WaterType();
    explicit WaterType(const std::string& name);
    // The values and strings; no textures, frame of last update 0.
    WaterType(const WaterType& other);
    WaterType& operator=(const WaterType& other);
    // Unloads the sky texture and releases the bump texture.
    ~WaterType();

    // The fourteen values, the scroll offset and the two file names back to their defaults.
    void SetDefaultValues();

    // The record of a level's water block: u32 1, the fourteen floats in field order, the name,
    // the sky texture file and the noise record.
    void Save(BinaryWriter& writer) const;
    // The leading u32 is skipped unread. False only when the reader ran out or a string was
    // refused (the type keeps what was read before).
    bool Load(BinaryReader& reader);
    // Every one of the fourteen values is a finite number (a type read with others cannot be used:
    // its flow, scroll and colours would not be numbers).
    bool HasFiniteValues() const;

    // Loads the sky texture by file name and, on the main thread, the bump texture by record
    // name; without a graphics engine nothing happens.
    void LoadResources();
    void ReloadSkyMap();
    void ReloadNoise();
    // Releases both textures.
    void UnloadResources();
    // Hands the bump texture to the caller (who releases it); the type keeps none.
    NoiseTexture* TakeBumpTexture();

    // Once per engine frame: the scroll offset follows the game time; textures still to load on
    // the main thread are loaded.
    void Update();
    // The type's shader parameters (surface, colour, scales, direction, depth, texture offset
    // continuous across regions, sky and bump textures).
    void SetShaderParams(GraphicsShader2* shader, const IntVec3& regionOffset) const;

    // Opacity at a depth: from min depth opacity at min depth to max depth opacity at max depth
    // (a range below 1 counts as 1).
    float CalculateOpacity(float depth) const;
    // (cos, sin) of the direction times the scroll speed.
    Vec2 CalculateVelocity() const;

    float MinDepthOpacity() const { return m_minDepthOpacity; }
    float& MinDepthOpacity() { return m_minDepthOpacity; }
    float MaxDepthOpacity() const { return m_maxDepthOpacity; }
    float& MaxDepthOpacity() { return m_maxDepthOpacity; }
    float MinDepth() const { return m_minDepth; }
    float& MinDepth() { return m_minDepth; }
    float MaxDepth() const { return m_maxDepth; }
    float& MaxDepth() { return m_maxDepth; }
    float ScrollSpeed() const { return m_scrollSpeed; }
    float& ScrollSpeed() { return m_scrollSpeed; }
    float Smoothness() const { return m_smoothness; }
    float& Smoothness() { return m_smoothness; }
    float Specularity() const { return m_specularity; }
    float& Specularity() { return m_specularity; }
    float Reflectivity() const { return m_reflectivity; }
    float& Reflectivity() { return m_reflectivity; }
    float Direction() const { return m_direction; }
    float& Direction() { return m_direction; }
    const Vec2& TextureScale() const { return m_textureScale; }
    Vec2& TextureScale() { return m_textureScale; }
    const Vec3& WaterColor() const { return m_waterColor; }
    Vec3& WaterColor() { return m_waterColor; }

    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    const std::string& GetSkyTextureFile() const { return m_skyTextureFile; }
    void SetSkyTextureFile(const std::string& file) { m_skyTextureFile = file; }
    const std::string& GetNoiseTextureRecord() const { return m_noiseTextureRecord; }
    void SetNoiseTextureRecord(const std::string& record) { m_noiseTextureRecord = record; }
    float GetScrollOffset() const { return m_scrollOffset; }
    GraphicsTexture* GetSkyTexture() const { return m_skyTexture; }
    NoiseTexture* GetBumpTexture() const { return m_bumpTexture; }

    // The texture scale of a coordinate: 1 in place of a scale that is not a positive number.
    static float UsableScale(float scale);

private:
    void LoadBumpTexture();
    void CopyValues(const WaterType& other);

    float m_minDepthOpacity = 0.0f;
    float m_maxDepthOpacity = 0.8f;
    float m_minDepth = 0.0f;
    float m_maxDepth = 5.0f;
    float m_scrollSpeed = 1.0f;
    float m_smoothness = 4.0f;
    float m_specularity = 100.0f;
    float m_reflectivity = 1.0f;
    float m_direction = 0.0f;
    Vec2 m_textureScale = Vec2(16.0f, 16.0f);
    Vec3 m_waterColor = Vec3(1.0f, 1.0f, 1.0f);
    std::string m_name;
    std::string m_skyTextureFile;
    std::string m_noiseTextureRecord;
    float m_scrollOffset = 0.0f;
    uint32_t m_frameOfLastUpdate = 0;
    bool m_updatedOnce = false;
    // The bump texture waits for the main thread.
    bool m_bumpPending = false;
    GraphicsTexture* m_skyTexture = nullptr;
    NoiseTexture* m_bumpTexture = nullptr;
};

} // namespace GAME
