// The sample game's shaders and textures of the entities that draw their own triangles: decals
// ("Shaders/Effects/DecalCombine.ssh", alpha-blended), weapon trails and line effects
// ("Shaders/Effects/TrailAdditive.ssh") and chaos beams ("Shaders/Effects/Chaos.ssh"), both
// additive, with the textures those entities name by default. Every shader has one style,
// "emissiveStyle" (the scene renderer's unlit pass after the lit geometry), in a "GeForce6" and a
// "GeForce3" section: the vertex colour times "baseTexture" (white by default), positions taken
// through "objectToScreenMatrix", depth tested but not written. GLSL per graphics/ShaderInterface.h.
// Pure functions; one thread at a time.
#pragma once

#include "datakit/ShaderWriter.h"

#include <string>

namespace DataKit {

class EffectShaders
{
public:
    static constexpr const char* styleName = "emissiveStyle";
    static constexpr const char* decalShaderName = "Shaders/Effects/DecalCombine.ssh";
    static constexpr const char* trailShaderName = "Shaders/Effects/TrailAdditive.ssh";
    static constexpr const char* chaosShaderName = "Shaders/Effects/Chaos.ssh";
    // A white disc, opaque inside half the texture's width and transparent outside.
    static constexpr const char* decalTextureName = "Sandbox/Varnel/ParticleTest.tex";
    static constexpr const char* trailTextureName = "System/Textures/White.tex";
    // Bright across the middle of u, fading to transparent at both edges.
    static constexpr const char* lightningTextureName = "Sandbox/Brek/LightningTESTA.tex";
    static constexpr const char* chaosTextureName = "Effects/MonsterFX/Mordrin_Chaos_Bolt_Line01.tex";
    static constexpr const char* boltTextureName = "Sandbox/Varnel/illegal_lightning.tex";

    // Alpha-blended (source alpha, one minus source alpha).
    static ShaderWriter Blended();
    // Added to what is there (source alpha, one).
    static ShaderWriter Additive();
    // The disc and the lightning strip as DDS images.
    static std::vector<uint8_t> DiscTexture();
    static std::vector<uint8_t> StripTexture();

    // The three shaders and five textures under folder; false when one could not be written.
    static bool Write(const std::string& folder);
};

} // namespace DataKit
