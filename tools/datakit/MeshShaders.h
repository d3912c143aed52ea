// The sample game's mesh shaders, written with ShaderWriter: the styles a mesh instance is drawn in
// by the normal renderer ("ambientLightStyle", "dLightDiffuseAmbientStyle",
// "pLightDiffuseAmbientStyle", "dLightDiffuseStyle", "pLightDiffuseStyle" and "depthStyle", sort
// order 1000) with GLSL programs for the OpenGL device (Engine/graphics/ShaderInterface.h), static
// or skinned. They take what the mesh instance and the normal renderer set: "objectToScreenMatrix",
// "objectToWorldMatrix", "diffuseColor" (half the tint, highlight in alpha), "transparencyValue"
// (the section's opacity in z becomes the alpha), "baseTexture", "boneMatrix" (skinned: maxBones
// float4x3, vertex bone indices naming its elements), "lightColor", "lightDirection" (toward the
// light, as the scene shaders take it), "lightPosition", "lightMaxDistance", "skyAmbientColor" and
// "groundAmbientColor" (the ambient taken less on faces turned from the open above, so that a mesh
// keeps its shape where sky and ground are alike, as underground). The lit styles carry the scene's fog (SampleShaderParts: "cameraOrigin",
// "fogColor", "depthFogParams", "heightFogParams"); there is no "fogStyle".
//
// The static styles go into the basic shader's sections ("Shaders/Basic.ssh", which the sample
// prop names) beside its own style; the skinned shader ("Shaders/BasicSkinned.ssh", which the
// sample character names) is a file of its own. Pure functions; any thread.
#pragma once

#include "datakit/ShaderWriter.h"

#include <cstdint>

namespace DataKit {

class MeshShaders
{
public:
    static constexpr const char* skinnedShaderName = "Shaders/BasicSkinned.ssh";
    // Elements of "boneMatrix": the most bones any device skins in one draw.
    static constexpr uint32_t maxBones = 27;
    // Vertex constant registers: 0-3 object to screen, 4-7 object to world, 8 diffuse colour,
    // 9 transparency value, then three registers a bone.
    static constexpr uint32_t diffuseColorRegister = 8;
    static constexpr uint32_t transparencyRegister = 9;
    static constexpr uint32_t firstBoneRegister = 10;
    static constexpr int32_t sortOrder = 1000;

    // Adds the mesh styles to a section, with the parameters it does not have yet (one it has is
    // used as it is).
    static void AddMeshStyles(ShaderWriter::Section& section, bool skinned);
    // The skinned mesh shader, with "GeForce6" and "GeForce3" sections.
    static ShaderWriter SampleSkinned();
};

} // namespace DataKit
