// The sample game's water shaders, with GLSL programs for the OpenGL device (registers, attributes
// and samplers of Engine/graphics/ShaderInterface.h), each with a "GeForce6" section (high detail)
// and a "GeForce3" section (the lower detail levels):
//
//   the water shader ("Shaders/Water/WaterBasic.ssh"): "waterBlockStyle" and
//   "waterBlockReflectStyle" for layer blocks (texture coordinates from the region position,
//   scaled and turned by the type), "waterPathStyle" and "waterPathReflectStyle" for rivers (their
//   own coordinates, scrolled along the flow). The colour is the type's "waterColor" mixed with
//   what the surface reflects ("surfaceParams" z: the reflectivity): the "skyTexture", and in the
//   reflect styles the "reflectTexture" (the mirrored scene, sampled at the pixel's place on the
//   screen) over it where the mirrored scene drew something; "bumpTexture" (a normal map) ripples
//   both. Alpha is the vertex coverage times the opacity the depth over the ground gives
//   ("depthParams": min depth, max depth, their opacities). Blended over the scene, no depth write.
//   Further parameters: "objectToScreenMatrix", "objectToWorldMatrix", "textureScale",
//   "textureDirection", "textureOffset";
//
//   the waves shader ("Shaders/Water/WaterWaves.ssh"): "blendStyle" (the "baseTexture" blended by
//   its alpha times the vertex alpha) and "bumpStyle" (the same added to the scene);
//
//   the ripple shader ("Shaders/Water/WaterRipple.ssh"): "emissiveStyle", sort order 1002, a ring
//   across each quad whose strength is the vertex alpha.
//
// All three carry the scene's fog in those styles (SampleShaderParts: "cameraOrigin", "fogColor",
// "depthFogParams", "heightFogParams", at the scene position "objectToWorldMatrix" gives) and have
// no "fogStyle": water, drawn after the ground and over it, takes its fog once.
//
// And the textures they name: the wave textures, in the order of the wave passes that draw them
// ("Effects/Waves/Wake.tex" the main bands, "Bump.tex" the bump bands, "ShoreWave.tex" the foam
// patches; all faint, so that the waves read as foam over the water), the sky of the default
// water type ("Effects/EnvironmentMaps/SkyBright.tex") and a flat normal map the water shader
// falls back to ("Effects/Waves/Flat.tex").
//
// Plain functions; one thread at a time.
#pragma once

#include "datakit/ShaderWriter.h"

#include <cstdint>
#include <vector>

namespace DataKit {

class SampleGameData;

class WaterShaders
{
public:
    static constexpr const char* waterShaderName = "Shaders/Water/WaterBasic.ssh";
    static constexpr const char* wavesShaderName = "Shaders/Water/WaterWaves.ssh";
    static constexpr const char* rippleShaderName = "Shaders/Water/WaterRipple.ssh";
    static constexpr const char* flatNormalTextureName = "Effects/Waves/Flat.tex";
    static constexpr const char* skyTextureName = "Effects/EnvironmentMaps/SkyBright.tex";
    static constexpr const char* wakeTextureName = "Effects/Waves/Wake.tex";
    static constexpr const char* bumpTextureName = "Effects/Waves/Bump.tex";
    static constexpr const char* shoreWaveTextureName = "Effects/Waves/ShoreWave.tex";

    static ShaderWriter SampleWaterShader();
    static ShaderWriter SampleWavesShader();
    static ShaderWriter SampleRippleShader();
    // A light sky: pale blue at the top of the picture to white at the bottom.
    static std::vector<uint8_t> SkyTexture();
    // The three shaders and the textures into the sample data.
    static void AddSampleFiles(SampleGameData& data);
};

} // namespace DataKit
