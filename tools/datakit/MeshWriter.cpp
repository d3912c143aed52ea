#include "datakit/MeshWriter.h"

#include <algorithm>
#include <cstring>

namespace DataKit {

namespace {

class Bytes
{
public:
    explicit Bytes(std::vector<uint8_t>& out) : m_out(out) {}
    void U8(uint8_t v) { m_out.push_back(v); }
    void U16(uint16_t v)
    {
        m_out.push_back(static_cast<uint8_t>(v));
        m_out.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void F32(float f)
    {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        U32(v);
    }
    void Vec(const GAME::Vec3& v)
    {
        F32(v.x);
        F32(v.y);
        F32(v.z);
    }
    void Frame(const GAME::Coords& c)
    {
        Vec(c.xAxis);
        Vec(c.yAxis);
        Vec(c.zAxis);
        Vec(c.origin);
    }
    void String(const std::string& s)
    {
        U32(static_cast<uint32_t>(s.size()));
        Raw(s.data(), s.size());
    }
    void FixedName(const std::string& s)
    {
        char name[32] = {};
        std::memcpy(name, s.data(), std::min<size_t>(s.size(), 31));
        Raw(name, 32);
    }
    // Byte by byte rather than inserted: GCC 12 warns falsely about copying a range into a vector
    // it believes empty (-Wstringop-overflow).
    void Raw(const void* data, size_t n)
    {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < n; ++i)
            m_out.push_back(p[i]);
    }

private:
    std::vector<uint8_t>& m_out;
};

void WriteParameter(Bytes& out, const MeshWriter::Parameter& p)
{
    out.String(p.name);
    out.U32(p.type);
    switch (p.type) {
    case 0:
    case 1:
        out.U32(p.word);
        break;
    case 2:
    case 7:
        out.String(p.text);
        break;
    default:
        for (float f : p.floats)
            out.F32(f);
        break;
    }
}

void WriteMaterials(Bytes& out, const std::vector<MeshWriter::Material>& materials)
{
    for (const MeshWriter::Material& m : materials) {
        out.String(m.shader);
        out.U32(static_cast<uint32_t>(m.parameters.size()));
        for (const MeshWriter::Parameter& p : m.parameters)
            WriteParameter(out, p);
    }
}

void WriteBones(Bytes& out, const std::vector<MeshWriter::Bone>& bones)
{
    for (const MeshWriter::Bone& b : bones) {
        out.FixedName(b.name);
        out.U32(b.firstChild);
        out.U32(b.numChildren);
        out.Frame(b.relative);
    }
}

void WriteHitBoxes(Bytes& out, const std::vector<MeshWriter::HitBox>& boxes)
{
    for (const MeshWriter::HitBox& h : boxes) {
        out.FixedName(h.name);
        out.Vec(h.extents);
        out.Frame(h.coords);
        out.U32(h.bone);
    }
}

void WriteFaceSets(Bytes& out, const std::vector<MeshWriter::FaceSet>& sets, bool withBoxes)
{
    for (const MeshWriter::FaceSet& s : sets) {
        out.U32(s.material);
        out.U32(s.firstFace);
        out.U32(s.numFaces);
        if (withBoxes) {
            out.U32(s.section);
            out.Vec(s.boxCenter);
            out.Vec(s.boxExtents);
        }
        out.U32(static_cast<uint32_t>(s.bones.size()));
        for (uint32_t bone : s.bones)
            out.U32(bone);
    }
}

void WriteChunk(Bytes& out, uint32_t id, const std::vector<uint8_t>& content)
{
    out.U32(id);
    out.U32(static_cast<uint32_t>(content.size()));
    out.Raw(content.data(), content.size());
}

} // namespace

uint32_t MeshWriter::AttributeSize(uint32_t id)
{
    switch (id) {
    case 0:
    case 1:
    case 2:
    case 3:
        return 12;
    case 5:
        return 16;
    case 6:
    case 14:
        return 4;
    default:
        return id <= 14 ? 8 : 0;
    }
}

std::vector<uint8_t> MeshWriter::PhysicsMeshBytes(const std::vector<GAME::Vec3>& vertices,
                                                  const std::vector<Triangle>& triangles)
{
    std::vector<uint8_t> bytes;
    Bytes out(bytes);
    out.Raw("PMSH", 4);
    out.U32(1);
    out.U32(static_cast<uint32_t>(vertices.size()));
    out.U32(static_cast<uint32_t>(triangles.size()));
    for (const GAME::Vec3& v : vertices)
        out.Vec(v);
    for (const Triangle& t : triangles) {
        for (uint32_t v : t.vertices)
            out.U32(v);
        out.U32(t.flags);
    }
    return bytes;
}

void MeshWriter::SetAttributes(const std::vector<uint32_t>& ids, uint32_t padding)
{
    attributes = ids;
    stride = padding;
    for (uint32_t id : ids)
        stride += AttributeSize(id);
}

int32_t MeshWriter::AttributeOffset(uint32_t id) const
{
    uint32_t offset = 0;
    for (uint32_t a : attributes) {
        if (a == id)
            return static_cast<int32_t>(offset);
        offset += AttributeSize(a);
    }
    return -1;
}

uint32_t MeshWriter::AddVertex(const Vertex& v)
{
    std::vector<uint8_t> bytes;
    Bytes out(bytes);
    for (uint32_t id : attributes) {
        switch (id) {
        case ATTRIBUTE_POSITION:
            out.Vec(v.position);
            break;
        case ATTRIBUTE_NORMAL:
            out.Vec(v.normal);
            break;
        case ATTRIBUTE_BONE_WEIGHTS:
            for (float w : v.weights)
                out.F32(w);
            break;
        case ATTRIBUTE_BONE_INDICES:
            out.Raw(v.bones, 4);
            break;
        case ATTRIBUTE_COLOR:
            out.U32(v.color);
            break;
        default:
            if (AttributeSize(id) == 8) {
                out.F32(v.texCoord[0]);
                out.F32(v.texCoord[1]);
            } else {
                out.Vec(GAME::Vec3());
            }
            break;
        }
    }
    bytes.resize(stride, 0);
    vertexBytes.insert(vertexBytes.end(), bytes.begin(), bytes.end());
    return numVertices++;
}

void MeshWriter::AddFace(uint32_t a, uint32_t b, uint32_t c)
{
    indices.push_back(static_cast<uint16_t>(a));
    indices.push_back(static_cast<uint16_t>(b));
    indices.push_back(static_cast<uint16_t>(c));
}

std::vector<uint8_t> MeshWriter::ChunkContent(uint32_t id, int version) const
{
    std::vector<uint8_t> bytes;
    Bytes out(bytes);
    switch (id) {
    case 0:
        out.String(text);
        break;
    case 1: {
        // The legacy body: header, attributes, box, vertices, indices, face sets, bones, hit boxes,
        // materials.
        out.U32(numVertices);
        out.U32(static_cast<uint32_t>(indices.size() / 3));
        out.U32(static_cast<uint32_t>(faceSets.size()));
        out.U32(static_cast<uint32_t>(indices.size()));
        out.U32(static_cast<uint32_t>(bones.size()));
        out.U32(static_cast<uint32_t>(hitBoxes.size()));
        out.U32(static_cast<uint32_t>(materials.size()));
        out.U32(static_cast<uint32_t>(attributes.size()));
        out.U32(stride);
        for (uint32_t a : attributes)
            out.U32(a);
        out.Vec(boundsMin);
        out.Vec(boundsMax);
        out.Raw(vertexBytes.data(), vertexBytes.size());
        for (uint16_t i : indices)
            out.U16(i);
        WriteFaceSets(out, faceSets, false);
        WriteBones(out, bones);
        WriteHitBoxes(out, hitBoxes);
        WriteMaterials(out, materials);
        break;
    }
    case 2:
        out.Raw(physicsMesh.data(), physicsMesh.size());
        break;
    case 3:
        out.Raw(modelText.data(), modelText.size());
        break;
    case 4:
        out.U32(static_cast<uint32_t>(attributes.size()));
        out.U32(stride);
        out.U32(numVertices);
        for (uint32_t a : attributes)
            out.U32(a);
        out.Raw(vertexBytes.data(), vertexBytes.size());
        break;
    case 5:
        out.U32(static_cast<uint32_t>(indices.size() / 3));
        out.U32(static_cast<uint32_t>(faceSets.size()));
        for (uint16_t i : indices)
            out.U16(i);
        WriteFaceSets(out, faceSets, version >= 11);
        break;
    case 6:
        out.U32(static_cast<uint32_t>(bones.size()));
        WriteBones(out, bones);
        break;
    case 7:
        out.U32(static_cast<uint32_t>(materials.size()));
        WriteMaterials(out, materials);
        break;
    case 8:
        out.U32(static_cast<uint32_t>(hitBoxes.size()));
        WriteHitBoxes(out, hitBoxes);
        break;
    case 9:
        out.U32(static_cast<uint32_t>(contours.size()));
        for (const auto& contour : contours) {
            out.U32(static_cast<uint32_t>(contour.size()));
            for (const ContourPoint& p : contour) {
                out.Vec(p.position);
                out.Vec(p.normal);
            }
        }
        break;
    case 10:
        out.Vec(boundsMin);
        out.Vec(boundsMax);
        break;
    case 11:
        out.U32(static_cast<uint32_t>(blendedIndices.size() / 3));
        for (uint16_t i : blendedIndices)
            out.U16(i);
        break;
    case 12:
        out.U32(static_cast<uint32_t>(portals.size()));
        for (const auto& portal : portals) {
            out.U32(static_cast<uint32_t>(portal.size()));
            for (const PortalPoint& p : portal)
                for (const GAME::Vec3& v : p)
                    out.Vec(v);
        }
        break;
    case 13:
        out.U32(static_cast<uint32_t>(sections.size()));
        for (const std::string& s : sections)
            out.String(s);
        break;
    default:
        break;
    }
    return bytes;
}

std::vector<uint8_t> MeshWriter::Write(int version) const
{
    std::vector<uint8_t> bytes;
    Bytes out(bytes);
    out.Raw("MSH", 3);
    out.U8(static_cast<uint8_t>(version));
    if (version == 8) {
        const std::vector<uint8_t> body = ChunkContent(1, version);
        out.Raw(body.data(), body.size());
        out.Raw(modelText.data(), modelText.size());
        return bytes;
    }
    if (version == 9) {
        if (!text.empty())
            WriteChunk(out, 0, ChunkContent(0, version));
        WriteChunk(out, 1, ChunkContent(1, version));
        if (!physicsMesh.empty())
            WriteChunk(out, 2, physicsMesh);
        out.Raw(modelText.data(), modelText.size());
        return bytes;
    }
    if (!text.empty())
        WriteChunk(out, 0, ChunkContent(0, version));
    if (!physicsMesh.empty())
        WriteChunk(out, 2, physicsMesh);
    if (!modelText.empty())
        WriteChunk(out, 3, ChunkContent(3, version));
    for (uint32_t id : {4u, 5u, 6u, 7u})
        WriteChunk(out, id, ChunkContent(id, version));
    if (!hitBoxes.empty())
        WriteChunk(out, 8, ChunkContent(8, version));
    if (!contours.empty())
        WriteChunk(out, 9, ChunkContent(9, version));
    if (hasBoundingBox)
        WriteChunk(out, 10, ChunkContent(10, version));
    if (!blendedIndices.empty())
        WriteChunk(out, 11, ChunkContent(11, version));
    if (!portals.empty())
        WriteChunk(out, 12, ChunkContent(12, version));
    if (!sections.empty())
        WriteChunk(out, 13, ChunkContent(13, version));
    for (const auto& [id, content] : extraChunks)
        WriteChunk(out, id, content);
    return bytes;
}

} // namespace DataKit
