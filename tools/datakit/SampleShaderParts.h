// Pieces that the sample game's shaders share (ShaderWriter's samples, MeshShaders,
// OverlayShaders, EffectShaders), all under graphics/ShaderInterface.h:
// - the sections of the sample generations;
// - the parameters of the basic register plan: vc[0..3] "objectToScreenMatrix", vc[4..7]
//   "objectToWorldMatrix", vc[8] "color" (opaque white by default), vc[9] "cameraOrigin", vc[10]
//   "time", and "baseTexture" (white "Textures/White.tex" by default);
// - the GLSL programs more than one of them draws with;
// - the per-pixel lighting of the mesh and scene shaders: "lightColor", "lightDirection" (toward
//   the light: the light placement's Z axis), "lightPosition", "lightMaxDistance",
//   "skyAmbientColor" and "groundAmbientColor" in pc[0] to pc[5], and GLSL functions over them;
// - the fog that the lit styles of the terrain, grass, mesh, water and particle shaders carry;
// - a style's opening (both programs and the base texture in stage 0) and its blend and depth
//   states.
// Pure functions; one thread at a time uses a section.
#pragma once

#include "datakit/ShaderWriter.h"
#include "graphics/RenderTypes.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace DataKit {

class SampleShaderParts
{
public:
    // A writer with the sample generations' sections, "GeForce6" (the OpenGL and software devices at
    // high detail) and "GeForce3" (those devices at lower detail levels), each filled by add (the
    // section tells its generation).
    static ShaderWriter ForSampleGenerations(const std::function<void(ShaderWriter::Section&)>& add);

    struct BasicParameters
    {
        uint32_t objectToScreen, objectToWorld, color, cameraOrigin, time, baseTexture;
    };
    // Adds the parameters of the basic register plan (and their default values).
    static BasicParameters AddBasicParameters(ShaderWriter::Section& section);
    // Their vertex registers.
    static std::vector<ShaderWriter::Binding> BasicVertexBindings(const BasicParameters& parameters);

    // The position through vc[0..3], the vertex colour times vc[8], texture coordinate 0.
    static const char* const tintedVertexProgram;
    // The colour times texture stage 0.
    static const char* const texturedPixelProgram;

    struct LightParameters
    {
        uint32_t color, direction, position, maxDistance, skyAmbient, groundAmbient;
    };
    // The lighting parameters, found in the section or added (black, range 0).
    static LightParameters AddLightParameters(ShaderWriter::Section& section);
    // Their pixel registers, pc[0] to pc[5].
    static std::vector<ShaderWriter::Binding> LightPixelBindings(const LightParameters& parameters);
    // SurfaceNormal() (the world normal in v_tex1), Ambient(n), DirectionalLight(n) (none while the
    // direction is zero) and PointLight(n) (the world position in v_tex2) over the lighting
    // registers.
    static const char* const lightingFunctions;
    // The same functions for programs that carry the world normal and position in other varyings.
    static std::string LightingFunctions(const char* normalVarying, const char* positionVarying);

    // FogAmount(p) over registers of the bank ("pc" or "vc"): the camera's origin and the depth
    // and height fog parameters at the indices given, as the scene shaders of ShaderWriter work
    // it out.
    static std::string FogFunction(const char* bank, int camera, int depth, int height);

    // The fog the terrain, grass, mesh, water and particle shaders fold into the styles that draw
    // them, so that they need no fog pass of their own: the vertex program works the fog amount
    // out at each vertex of the scene (FogAmount(p) over "cameraOrigin", "depthFogParams" and
    // "heightFogParams" in vc[fogVertexRegister] onwards) and hands the clear share on in v_fog,
    // as the device's interface has it (1 no fog, 0 all fog); the pixel program mixes in
    // "fogColor" (pc[fogColorRegister]). A renderer with its fog off hands densities of 0, so the
    // styles draw no fog. The registers lie above what the programs use for their own.
    static constexpr int fogVertexRegister = 100; // camera, depth fog, height fog
    static constexpr int fogColorRegister = 8;
    static std::string VertexFogFunction();
    // The vertex program's registers (found in the section or added, zero by default).
    static std::vector<ShaderWriter::Binding> AddVertexFogParameters(ShaderWriter::Section& section);
    // The pixel program's register: the fog's colour.
    static std::vector<ShaderWriter::Binding> AddFogColorParameter(ShaderWriter::Section& section);
    // WithFog(c): a colour that carries the ambient (the first light) with the fog mixed in;
    // FogFaded(c): a further light's colour, added to it, faded by the fog (so that the sum is the
    // lit colour mixed with the fog).
    static const char* const pixelFogFunctions;

    // Starts a style that draws with the two programs and the texture parameter in stage 0.
    static void BeginStyle(ShaderWriter::Section& section, const char* name, int32_t sortOrder,
                           uint32_t vertexProgram, uint32_t pixelProgram, uint32_t texture);
    // The blend factors, the depth test and write, and no alpha test.
    static void AddBlendStates(ShaderWriter::Section& section, GAME::RenderBlendFactor source,
                               GAME::RenderBlendFactor destination, GAME::RenderTestFunction depthTest,
                               bool depthWrite);
};

} // namespace DataKit
