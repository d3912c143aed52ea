// The sample game's particle shaders and textures: what the emitters of the sample effects (and
// any emitter left at its defaults) name. Each shader has one style, "emissiveStyle" (the scene
// renderer's unlit pass after the lit geometry), in a "GeForce6" and a "GeForce3" section. Its
// vertex program turns each particle's four vertices (the emitter's 68-byte vertex: position,
// corner, axis and stretch, rotation, size and speed, colour) into a quad facing the viewer, its
// centre the position: 2 x size wide, and 2 x size x (1 + stretch x speed) long along the axis as
// the view sees it (velocity for aligned particles, else up), turned by the rotation. The pixel
// program draws the vertex colour times "baseTexture", depth tested but not written, with the
// scene's fog (SampleShaderParts) mixed in or, added, faded by it. The view's right and up come
// from the rows of "objectToScreenMatrix", the only parameter the emitter sets besides the
// texture. GLSL per graphics/ShaderInterface.h. Pure functions; one thread at a time.
#pragma once

#include "datakit/ShaderWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace DataKit {

class ParticleShaders
{
public:
    static constexpr const char* styleName = "emissiveStyle";
    // Added to what is there (source alpha, one): the emitters' default.
    static constexpr const char* additiveShaderName = "Shaders/Particle/ParticleAdditive.ssh";
    // Alpha-blended (source alpha, one minus source alpha).
    static constexpr const char* combineShaderName = "Shaders/Particle/ParticleCombine.ssh";
    // Added but saturating softly (one minus destination colour, one), the colour weighted by its
    // alpha.
    static constexpr const char* additiveSmoothShaderName = "Shaders/Particle/ParticleAdditiveSmooth.ssh";

    // A soft white disc: opaque in the middle, fading to transparent at half the width. The
    // emitters' default texture.
    static constexpr const char* softTextureName = "Effects/Default/particletest.tex";
    // A lumpy white puff, fading out before the edges.
    static constexpr const char* smokeTextureName = "Effects/Sample/smoke.tex";
    // A thin bright streak along v, fading towards both ends.
    static constexpr const char* sparkTextureName = "Effects/Sample/spark.tex";
    // Four frames of a soft glow whose core flickers, played at 12 frames a second.
    static constexpr const char* beamTextureName = "Effects/Sample/beam.tex";

    static ShaderWriter Additive();
    static ShaderWriter Combine();
    static ShaderWriter AdditiveSmooth();

    // The textures' bytes: DDS images with their mip chains, the beam's a "TEX" of frames.
    static std::vector<uint8_t> SoftTexture();
    static std::vector<uint8_t> SmokeTexture();
    static std::vector<uint8_t> SparkTexture();
    static std::vector<uint8_t> BeamTexture();

    // The three shaders and four textures under folder; false when one could not be written.
    static bool Write(const std::string& folder);
};

} // namespace DataKit
