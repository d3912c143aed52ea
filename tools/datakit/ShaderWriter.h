// Writes shader files (".ssh") the way GraphicsShader2 reads them: "SSH" and version 4, then one
// section per hardware generation ("GeForce6", "GeForce3", ...), each a parameters chunk, a
// values chunk and a styles chunk (plus any raw chunks a test adds). Values and parameters are
// addressed by the index their Add call returns; a style's state entries name a value or a
// parameter by that index.
//
// It also makes the sample game's shaders: the basic and overlay shaders the graphics engine loads
// at start-up and the scene shaders (lit, unlit and see-through surfaces, the portal mask), all
// carrying GLSL programs for the OpenGL device (see Engine/graphics/ShaderInterface.h for their
// registers, attributes and samplers).
//
// One thread at a time uses a writer.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace DataKit {

class ShaderWriter
{
public:
    struct Binding
    {
        uint32_t firstRegister = 0;
        uint32_t registerCount = 0;
        bool fromValues = false;
        uint32_t index = 0;
    };

    class Section
    {
    public:
        explicit Section(std::string generation) : m_generation(std::move(generation)) {}

        // Parameters; defaultValue is a value index, or -1 for none. The types are
        // GraphicsShader2's value type codes.
        uint32_t Parameter(const std::string& name, uint32_t type, uint32_t count = 1,
                           int64_t defaultValue = -1);
        // The index of the parameter of that name, -1 when the section has none.
        int64_t FindParameter(const std::string& name) const;
        // The parameter of that name; when the section has none it is added, its default value the
        // index makeDefault() answers (which may add the value; -1 for none).
        template <class MakeDefault>
        uint32_t FindOrAddParameter(const std::string& name, uint32_t type, uint32_t count,
                                    MakeDefault makeDefault)
        {
            const int64_t found = FindParameter(name);
            return found >= 0 ? static_cast<uint32_t>(found) : Parameter(name, type, count, makeDefault());
        }
        // Values, each of element count 1.
        uint32_t Int(int32_t value);
        uint32_t Bool(bool value);
        uint32_t Float(float value);
        uint32_t Float2(float x, float y);
        uint32_t Float3(float x, float y, float z);
        uint32_t Float4(float x, float y, float z, float w);
        uint32_t String(const std::string& text);
        // A texture file the shader loads with itself.
        uint32_t Texture(const std::string& fileName);
        // A float4x3 (3) or float4x4 (4) value: no data, zero.
        uint32_t Matrix(uint32_t type);
        uint32_t VertexProgram(const std::string& code, const std::vector<Binding>& bindings = {});
        uint32_t PixelProgram(const std::string& code, const std::vector<Binding>& bindings = {});
        // Any value type with the bytes that follow its type word.
        uint32_t RawValue(uint32_t type, const std::vector<uint8_t>& data);

        // Starts a style; the State calls that follow add to it.
        Section& Style(const std::string& name, int32_t sortOrder);
        Section& State(uint32_t kind, uint32_t argument, bool fromValues, uint32_t index);
        Section& StateFromValue(uint32_t kind, uint32_t value, uint32_t argument = 0)
        {
            return State(kind, argument, true, value);
        }
        Section& StateFromParameter(uint32_t kind, uint32_t parameter, uint32_t argument = 0)
        {
            return State(kind, argument, false, parameter);
        }
        // A chunk written after the three known ones, as given.
        Section& RawChunk(uint32_t type, const std::vector<uint8_t>& body);

        const std::string& GetGeneration() const { return m_generation; }
        // The section's bytes (its chunks), without the name and size in front.
        std::vector<uint8_t> Write() const;

    private:
        struct ParameterRecord
        {
            std::string name;
            uint32_t type;
            uint32_t count;
            int64_t defaultValue;
        };
        struct ValueRecord
        {
            uint32_t type;
            std::vector<uint8_t> data;
        };
        struct Entry
        {
            uint32_t kind, argument;
            bool fromValues;
            uint32_t index;
        };
        struct StyleRecord
        {
            std::string name;
            int32_t sortOrder;
            std::vector<Entry> entries;
        };
        uint32_t AddValue(uint32_t type, std::vector<uint8_t> data);
        uint32_t Program(uint32_t type, const std::string& code, const std::vector<Binding>& bindings);

        std::string m_generation;
        std::vector<ParameterRecord> m_parameters;
        std::vector<ValueRecord> m_values;
        std::vector<StyleRecord> m_styles;
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> m_rawChunks;
    };

    // Sections are written in the order they were added.
    Section& AddSection(const std::string& generation);
    std::vector<uint8_t> Write() const;
    // Writes the file (folders made); false when it could not be written.
    bool Save(const std::string& path) const;

    // The sample game's shaders, each with a "GeForce6" section (the OpenGL and software devices
    // at high detail) and a "GeForce3" section (those devices at lower detail levels).
    // Styles "normal"; parameters "objectToScreenMatrix", "objectToWorldMatrix", "color",
    // "cameraOrigin", "time", "baseTexture" (white "Textures/White.tex" by default) and
    // "baseTexture2". The overlay draws over everything (no depth test or write). The basic shader
    // also has the static mesh styles of MeshShaders.
    static ShaderWriter SampleBasic();
    static ShaderWriter SampleOverlay();
    // Scene shaders for meshes and the lit boxes of tests, in the styles the scene renderers draw
    // (the register plan and the shadow map encoding are described in the .cpp). Parameters:
    // "color" (its alpha the opacity of see-through surfaces), "baseTexture", the frame's
    // "lightColor", "lightDirection" (toward the light), "lightPosition", "lightMaxDistance",
    // "skyAmbientColor", "groundAmbientColor", "worldToShadowMatrix", "shadowTexture",
    // "shadowBluriness", "lightShadowIntensity", "fogColor", "depthFogParams", "heightFogParams",
    // "cameraOrigin", "alphaMaskTexture" and "alphaMaskFactor".
    // Lit (sort order 1000): "ambientLightStyle", "dLightDiffuseAmbientStyle",
    // "pLightDiffuseAmbientStyle", "dLightDiffuseStyle" and "pLightDiffuseStyle" (further lights,
    // added), "depthStyle", "depthOnlyStyle" and "fogStyle"; in "GeForce6" also "reflectionStyle"
    // (ambient and the sun), "shadow" (a directional map's caster) and "pLightShadowStyle" (a point
    // light's caster), and the light styles receive shadows. "GeForce3" lights per vertex and keeps
    // no shadows. Unlit draws its colour in the ambient styles and adds nothing for further lights.
    // LitTransparent draws every style at sort order 10000 (the transparent band), blended by its
    // alpha, which the transparency mask weights ("alphaMaskFactor" 1 keeps the mask's red, 0 its
    // complement); it casts no shadow.
    static ShaderWriter SampleLitTransparent();
    // The scene renderers' portal mask ("Shaders/PortalMask.ssh"): "normal" writes the colour's
    // alpha alone (depth-tested, no depth write); in "GeForce6" "shadow" draws the portal into a
    // directional shadow map.
    static ShaderWriter SamplePortalMask();
    static ShaderWriter SampleUnlit();
    static ShaderWriter SampleLit();
    // The canvas's blur ("Shaders/Filter.ssh"): style "normal" draws a full-surface quad given in
    // clip space, four taps of "texture" at (i + 0.5) "sampleOffset" (i = 0 to 3) weighted by
    // "sampleWeight" (four elements); source factor ONE, destination factor the int parameter
    // "blendDstFactor" (ZERO by default: replace; ONE adds). No depth test or write, clamped
    // addressing.
    static ShaderWriter SampleFilter();
    // The noise generator's shader ("Shaders/NoiseTextureGen.ssh"): "compositeBaseStyle" (and in
    // "GeForce3" "compositeAddStyle", added with ONE/ONE) writes the sum of the layers' cross-faded
    // tiles ("texture0" to "texture7", "blendFactor", "level", "textureScale"); "convertStyle" turns
    // the heights of "texture0" into a normal map, its taps "textureOffset" apart. "GeForce6" holds
    // all four layers in one pass, "GeForce3" two in each of two passes, as the generator sets them.
    static ShaderWriter SampleNoiseTextureGen();
    // The white texture the sample shaders fall back to.
    static constexpr const char* whiteTextureName = "Textures/White.tex";

private:
    std::deque<Section> m_sections;
};

} // namespace DataKit
