// Vertex declarations and vertex and pixel programs of the software device. They keep what they
// were made from; no program runs on this device. Immutable after creation; safe from any thread.
#pragma once

#include "graphics/RenderPixelShader.h"
#include "graphics/RenderTypes.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"

#include <cstdint>
#include <vector>

namespace GAME::Software {

class SoftwareVertexDeclaration final : public RenderVertexDeclaration
{
public:
    SoftwareVertexDeclaration(const VertexElement* elements, int count);
    unsigned int GetStride() const override { return m_stride; }
    const std::vector<VertexElement>& GetElements() const { return m_elements; }
    // Bit i set: some element reads stream i.
    uint32_t GetStreamMask() const { return m_streamMask; }

    // Whether the elements make a layout: 1 to maxElements of them, known types, streams 0 to 15.
    static bool IsValid(const VertexElement* elements, int count);
    static constexpr int maxElements = 64;

private:
    std::vector<VertexElement> m_elements;
    unsigned int m_stride = 0;
    uint32_t m_streamMask = 0;
};

// A vertex or pixel program: the code it was made from.
template <class Interface> class SoftwareProgram final : public Interface
{
public:
    SoftwareProgram(const void* code, unsigned int size)
        : m_code(static_cast<const uint8_t*>(code), static_cast<const uint8_t*>(code) + size)
    {
    }
    const std::vector<uint8_t>& GetCode() const { return m_code; }

private:
    std::vector<uint8_t> m_code;
};

using SoftwareVertexShader = SoftwareProgram<RenderVertexShader>;
using SoftwarePixelShader = SoftwareProgram<RenderPixelShader>;

} // namespace GAME::Software
