// The sample game's terrain shaders, with GLSL programs for the OpenGL device (registers,
// attributes and samplers of Engine/graphics/ShaderInterface.h), each with a "GeForce6" section
// (high detail) and a "GeForce3" section (the lower detail levels):
//
//   the layer shader ("Shaders/Terrain/TerrainStandard.ssh", and the same file as
//   "Shaders/Terrain/TerrainLowQuality.ssh"), which the ground, plugs and tiles draw with:
//     "depthStyle" (the solid pass: depth, and colour and alpha cleared to 0 so that the layers
//     can gather under one another), "ambientLightStyle", "dLightDiffuseAmbientStyle" and
//     "pLightDiffuseAmbientStyle" (a layer under those drawn before it, weighted by its opacity:
//     the terrain draws its top layer first), "dLightDiffuseStyle" and "pLightDiffuseStyle"
//     (further lights added, weighted by opacity), and "reflectionStyle" (a layer over those
//     drawn before it: reflections draw the bottom layer first). Parameters
//     "objectToScreenMatrix", "objectToRegionMatrix", "textureOffset", "textureScale",
//     "baseTexture" (the layer's texture, repeated every 10 units), "opacityTexture" (a texel a
//     cell; its alpha is the layer's opacity), "regionToSceneOffset" and the lighting parameters
//     of the lit mesh shader;
//
//   the grass shader ("Shaders/Grass.ssh"): alpha-tested blades whose tops follow the wind
//   offsets of vertex stream 1; styles "ambientLightStyle", "dLightDiffuseAmbientStyle",
//   "pLightDiffuseAmbientStyle", "dLightDiffuseStyle", "pLightDiffuseStyle"; parameters
//   "objectToScreenMatrix", "objectToWorldMatrix", "terrainOffset", "bladeHeight", "baseTexture"
//   and the lighting parameters.
//
// Both fold the scene's fog into their lit styles (SampleShaderParts: "cameraOrigin", "fogColor",
// "depthFogParams", "heightFogParams", at the scene position the region's offset gives) and have
// no "fogStyle": the renderer's fog step has nothing to draw for them.
//
// Plain functions; one thread at a time.
#pragma once

#include "datakit/ShaderWriter.h"

namespace DataKit {

class SampleGameData;

class TerrainShaders
{
public:
    static constexpr const char* standardShaderName = "Shaders/Terrain/TerrainStandard.ssh";
    static constexpr const char* lowQualityShaderName = "Shaders/Terrain/TerrainLowQuality.ssh";
    static constexpr const char* grassShaderName = "Shaders/Grass.ssh";

    static ShaderWriter SampleLayerShader();
    static ShaderWriter SampleGrassShader();
    // The three files into the sample data.
    static void AddSampleShaders(SampleGameData& data);
};

} // namespace DataKit
