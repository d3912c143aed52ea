// The sample game's shaders of the 2-D overlays: "Shaders/BasicTexture.ssh", with which the pie
// overlay draws its disc (texture stage 0 times the vertex colour, alpha-blended over everything,
// no depth test or write). A "GeForce6" and a "GeForce3" section, both carrying GLSL programs for
// the OpenGL device (Engine/graphics/ShaderInterface.h) under the register plan of the sample
// shaders: vc[0..3] object to screen, vc[4..7] object to world, vc[8] colour, vc[9] camera origin,
// vc[10] time. SampleGameData writes it with the other shaders.
#pragma once

#include "datakit/ShaderWriter.h"

#include <string>

namespace DataKit {

class OverlayShaders
{
public:
    static constexpr const char* basicTextureShaderName = "Shaders/BasicTexture.ssh";

    static ShaderWriter SampleBasicTexture();
    // Writes every overlay shader under the folder; false when a file could not be written.
    static bool Save(const std::string& folder);
};

} // namespace DataKit
