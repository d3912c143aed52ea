#include "SoftwarePrograms.h"

namespace GAME::Software {

SoftwareVertexDeclaration::SoftwareVertexDeclaration(const VertexElement* elements, int count)
    : m_elements(elements, elements + count)
{
    for (const VertexElement& element : m_elements) {
        if (element.stream == 0)
            m_stride += GetVertexElementSize(element.type);
        m_streamMask |= 1u << element.stream;
    }
}

bool SoftwareVertexDeclaration::IsValid(const VertexElement* elements, int count)
{
    if (!elements || count <= 0 || count > maxElements)
        return false;
    for (int i = 0; i < count; ++i)
        if (GetVertexElementSize(elements[i].type) == 0 || elements[i].stream > 15)
            return false;
    return true;
}

} // namespace GAME::Software
