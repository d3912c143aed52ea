// The resource of a shader file (".ssh"): a named set of render styles. A style is a list of
// device state settings (textures, vertex and pixel programs, blend, test and write modes,
// texture stage states) whose values are either constants of the file or named parameters that
// the caller sets before drawing. The file has one section per hardware generation; a shader
// loads the section named for the graphics engine's current generation.
//
// Drawing: Begin(style) selects a style, the setters fill parameters by name, Render pushes the
// state that changed to the device (constant registers of the programs included), the caller
// draws, and End closes the Begin. Begins nest: a parameter set at one level cannot be set from
// another until the level that set it ends; when the outermost level ends, every state of the
// style is restored to its default.
//
// File format (little-endian; counts and lengths u32):
//   "SSH" version(u8 = 4)
//   sections to the end: name length (<= 1 MiB), name, section size, then chunks to the section's
//   end: chunk type, chunk size, body.
//     type 0 parameters: count (<= 1000), then { name, value type, element count, 8 bytes,
//       has-default, default value index }
//     type 1 values: count (<= 1000), then { value type, data by type } (see ReadValue)
//     type 2 styles: count (<= 1000), then { name, sort order (i32), 1, entry count, entries of
//       { state kind, argument, from-values flag, index } }
//     other types are skipped by their size.
// Every index in the file (state entries, program constant bindings, parameter defaults) and
// every texture stage is checked when the file loads; a file that fails any check loads nothing.
//
// Threads: the loader thread runs Initialize under the resource's lock; drawing (Begin, setters,
// Render, End) and unloading happen on the main thread.
#pragma once

#include "core/Name.h"
#include "data/Resource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace GAME {

class BinaryReader;
class Color;
class Coords;
class GraphicsEngine;
class GraphicsTexture;
class Mat4;
class RenderDevice;
class RenderPixelShader;
class RenderTexture;
class RenderVertexShader;
class Vec2;
class Vec3;

class GraphicsShader2 : public Resource
{
public:
    // Value types of parameters and values (codes of the file).
    enum ValueType : uint32_t
    {
        TYPE_INT = 0,
        TYPE_BOOL = 1,
        TYPE_STRING = 2, // read and dropped
        TYPE_FLOAT4X3 = 3,
        TYPE_FLOAT4X4 = 4,
        TYPE_VERTEX_SHADER = 5,
        TYPE_PIXEL_SHADER = 6,
        TYPE_DEVICE_TEXTURE = 7, // a RenderTexture set by the caller
        TYPE_FLOAT2 = 8,
        TYPE_FLOAT3 = 9,
        TYPE_FLOAT = 10,
        TYPE_FLOAT4 = 11,
        TYPE_FLOAT3_ALIAS = 12, // read as TYPE_FLOAT3
        TYPE_FLOAT4_ALIAS = 13, // read as TYPE_FLOAT4
        TYPE_TEXTURE = 15,      // a texture file loaded with the shader
    };

    // State kinds of style entries; the argument is the texture stage where one is named.
    enum StateKind : uint32_t
    {
        STATE_TEXTURE = 0,
        STATE_VERTEX_SHADER = 1,
        STATE_PIXEL_SHADER = 2,
        STATE_SOURCE_BLEND = 3,
        STATE_DESTINATION_BLEND = 4,
        STATE_DEPTH_TEST = 5,
        STATE_ALPHA_TEST = 6,
        STATE_ALPHA_REFERENCE = 7, // a float, or an int reference byte (0 to 255)
        STATE_COLOR_WRITE = 8,
        STATE_DEPTH_WRITE = 9,
        STATE_STAGE_STATE_0 = 10,
        STATE_STAGE_STATE_1 = 11,
        STATE_STAGE_STATE_3 = 15,
        STATE_STAGE_STATE_4 = 16,
        STATE_STAGE_STATE_5 = 17,
        STATE_18 = 18,
        STATE_ALPHA_WRITE = 19,
        STATE_20 = 20,
        STATE_21 = 21,
        STATE_22 = 22, // four components
        STATE_23 = 23,
    };

    static constexpr uint8_t fileVersion = 4;
    static constexpr uint32_t maxNameLength = 1048576;
    static constexpr uint32_t maxRecords = 1000;
    // Elements of one parameter: enough for every constant register of a program.
    static constexpr uint32_t maxElements = 256;
    static constexpr uint32_t maxConstantRegisters = 256;
    static constexpr uint32_t maxTextureStages = 16;
    static constexpr int noStyle = -1;

    // graphics gives the device and loads the shader's textures; null makes a shader that never
    // loads (tools).
    GraphicsShader2(BaseResourceManager* manager, const std::string& fileName, GraphicsEngine* graphics);
    ~GraphicsShader2() override;

    // Queues every texture the values hold.
    void PreLoadDependentResources() override;
    // 0 on success; 4, with nothing kept, for any fault of the file or a program the device
    // refuses.
    InitResult Initialize(const void* data, int size) override;
    // Releases programs, textures and every list.
    void Destroy() override;

    // True when loaded; marks the shader used.
    bool GetIsReadyToUse();

    // The style's index, or noStyle.
    int FindStyleByName(const Name& name) const;
    // The style's sort order; 0 for an index out of range.
    int GetSortOrder(int style) const;
    // The word a style sets for a kind of state when the file gives it as a constant (not through
    // a parameter); false when the style sets no such constant.
    bool GetStyleConstantState(int style, uint32_t kind, uint32_t& word) const;
    int GetNumStyles() const { return static_cast<int>(m_styles.size()); }
    int GetNumParameters() const { return static_cast<int>(m_parameters.size()); }
    bool HasParameter(const Name& name) const;

    // Raises the begin level.
    void Begin();
    // Selects the style, marks its state to be pushed and raises the begin level; false (level
    // unchanged) for an index out of range.
    bool Begin(int style);
    // Pushes the current style's state that changed since the last Render (the text is a label
    // for the caller's own use).
    void Render(const char* label = nullptr);
    // Parameters set at this level become unset; at level 0 the style's state is restored.
    void End();
    int GetBeginLevel() const { return m_beginLevel; }
    int GetCurrentStyle() const { return m_currentStyle; }

    // Setters: (name, element index, value). A name the shader does not have answers true and
    // changes nothing; a parameter of another type, an element past its count, or one set at
    // another begin level answers false.
    bool SetInt(const Name& name, uint32_t element, int value);
    bool SetFloat(const Name& name, uint32_t element, float value);
    bool SetFloat2(const Name& name, uint32_t element, const float* value);
    bool SetFloat2(const Name& name, uint32_t element, const Vec2& value);
    bool SetFloat3(const Name& name, uint32_t element, const float* value);
    bool SetFloat3(const Name& name, uint32_t element, const Vec3& value);
    bool SetFloat3(const Name& name, uint32_t element, const Color& value);
    bool SetFloat4(const Name& name, uint32_t element, const float* value);
    // Twelve floats: three rows of four.
    bool SetFloat4x3(const Name& name, uint32_t element, const float* value);
    // The placement's four rows of three (axes, origin) become three rows of four.
    bool SetFloat4x3(const Name& name, uint32_t element, const Coords& value);
    bool SetFloat4x4(const Name& name, uint32_t element, const float* value);
    bool SetFloat4x4(const Name& name, uint32_t element, const Mat4& value);
    bool SetTexture(const Name& name, uint32_t element, const RenderTexture* value);

    // Bytes one element of the type takes in memory (program and texture values are pointers).
    static uint32_t GetElementSize(uint32_t type);

private:
    struct Value
    {
        uint32_t type = TYPE_INT;
        uint32_t count = 0;
        uint32_t numSet = 0;
        std::vector<uint8_t> storage; // count * GetElementSize(type) bytes
    };

    struct Binding
    {
        uint32_t firstRegister = 0;
        uint32_t registerCount = 0;
        bool fromValues = false;
        uint32_t index = 0;
    };

    // A vertex or pixel program value: the device program and its constant bindings.
    struct Program
    {
        RenderVertexShader* vertexShader = nullptr;
        RenderPixelShader* pixelShader = nullptr;
        std::vector<Binding> bindings;
    };

    struct Parameter
    {
        Name name;
        std::string text;
        Value value;
        int level = 0; // begin level at which it was set; 0 not set
        uint32_t stamp = 0;
        int defaultIndex = -1;
    };

    struct StateEntry
    {
        uint32_t kind = 0;
        uint32_t argument = 0;
        bool fromValues = false;
        uint32_t index = 0;
    };

    struct Style
    {
        Name name;
        int32_t sortOrder = 0;
        std::vector<StateEntry> entries;
    };

    struct NameHash
    {
        size_t operator()(const Name& name) const { return name.Hash(); }
    };

    // Where an entry or binding finds its value, and whether that value changed since the last
    // Render (by the rule of dirty styles and update stamps).
    struct Lookup
    {
        const Value* value = nullptr;
        bool changed = false;
        bool restoreAlways = false; // a parameter with neither value nor default
    };

    bool ReadSection(BinaryReader& section);
    bool ReadParameters(BinaryReader& chunk);
    bool ReadValues(BinaryReader& chunk);
    bool ReadValue(BinaryReader& chunk, Value& value);
    bool ReadStyles(BinaryReader& chunk);
    bool CheckIndices() const;
    bool IsValidIndex(bool fromValues, uint32_t index) const;

    Lookup Find(bool fromValues, uint32_t index) const;
    void Apply(RenderDevice& device, const StateEntry& entry, const Value* value);
    void Restore(RenderDevice& device, const StateEntry& entry);
    void PushConstants(RenderDevice& device, const Program& program, bool vertex, bool all);
    // The parameter the setter may write, or null with the setter's answer in result.
    Parameter* Prepare(const Name& name, uint32_t type, uint32_t element, bool& result);
    bool Store(const Name& name, uint32_t type, uint32_t element, const void* data, uint32_t bytes);

    GraphicsEngine* m_graphics;
    std::vector<Parameter> m_parameters;
    std::unordered_map<Name, uint32_t, NameHash> m_parameterMap;
    std::vector<Value> m_values;
    std::vector<std::unique_ptr<Program>> m_programs;
    std::vector<GraphicsTexture*> m_textures; // texture values, released with the shader
    std::vector<Style> m_styles;

    int m_beginLevel = 0;
    int m_currentStyle = 0;
    bool m_styleDirty = true;
    bool m_vertexShaderDirty = true;
    bool m_pixelShaderDirty = true;
    uint32_t m_updateStamp = 0;
};

} // namespace GAME
