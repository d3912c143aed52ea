#include "scene/SceneMeshNode.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

namespace {

// A corner's words in stream order: the fourth and fifth are stored swapped.
constexpr int streamOrder[5] = {0, 1, 2, 4, 3};

} // namespace

bool SceneMeshNode::Read(BinaryReader& reader)
{
    if (!SceneModelNode::Read(reader))
        return false;
    uint32_t counts[6];
    for (uint32_t& count : counts)
        count = reader.ReadUInt32();
    if (reader.Failed())
        return false;
    // The fixed-size records must fit before anything is made for them; each influence list takes
    // at least its count word.
    const uint64_t needed = uint64_t(counts[0]) * 68 + uint64_t(counts[1]) * 12 + uint64_t(counts[2]) * 12 +
                            uint64_t(counts[3]) * 8 + uint64_t(counts[4]) * 4 + uint64_t(counts[5]) * 16;
    if (needed > reader.GetRemaining()) {
        reader.Fail();
        return false;
    }
    m_faces.assign(counts[0], Face());
    for (Face& face : m_faces) {
        for (auto& corner : face.corners)
            for (int word : streamOrder)
                corner[word] = reader.ReadUInt32();
        face.material = reader.ReadUInt32();
        face.value = reader.ReadUInt32();
    }
    m_vertices.resize(counts[1]);
    for (Vec3& v : m_vertices)
        v = reader.ReadVec3();
    m_normals.resize(counts[2]);
    for (Vec3& n : m_normals)
        n = reader.ReadVec3();
    m_textureCoords.resize(counts[3]);
    for (Vec2& t : m_textureCoords) {
        t.x = reader.ReadFloat();
        t.y = reader.ReadFloat();
    }
    m_influences.assign(counts[4], std::vector<Influence>());
    for (std::vector<Influence>& list : m_influences) {
        const uint32_t count = reader.ReadUInt32();
        if (!reader.CheckCount(count, 8, "influences"))
            return false;
        list.resize(count);
        for (Influence& influence : list) {
            influence.bone = reader.ReadUInt32();
            influence.weight = reader.ReadFloat();
        }
    }
    m_colors.resize(counts[5]);
    for (Color& c : m_colors) {
        c.r = reader.ReadFloat();
        c.g = reader.ReadFloat();
        c.b = reader.ReadFloat();
        c.a = reader.ReadFloat();
    }
    return !reader.Failed();
}

void SceneMeshNode::Write(BinaryWriter& writer) const
{
    SceneModelNode::Write(writer);
    writer.WriteUInt32(GetNumFaces());
    writer.WriteUInt32(GetNumVertices());
    writer.WriteUInt32(GetNumNormals());
    writer.WriteUInt32(GetNumTextureCoords());
    writer.WriteUInt32(GetNumInfluences());
    writer.WriteUInt32(GetNumColors());
    for (const Face& face : m_faces) {
        for (const auto& corner : face.corners)
            for (int word : streamOrder)
                writer.WriteUInt32(corner[word]);
        writer.WriteUInt32(face.material);
        writer.WriteUInt32(face.value);
    }
    for (const Vec3& v : m_vertices)
        writer.WriteVec3(v);
    for (const Vec3& n : m_normals)
        writer.WriteVec3(n);
    for (const Vec2& t : m_textureCoords) {
        writer.WriteFloat(t.x);
        writer.WriteFloat(t.y);
    }
    for (const std::vector<Influence>& list : m_influences) {
        writer.WriteUInt32(static_cast<uint32_t>(list.size()));
        for (const Influence& influence : list) {
            writer.WriteUInt32(influence.bone);
            writer.WriteFloat(influence.weight);
        }
    }
    for (const Color& c : m_colors) {
        writer.WriteFloat(c.r);
        writer.WriteFloat(c.g);
        writer.WriteFloat(c.b);
        writer.WriteFloat(c.a);
    }
}

bool SceneMeshNode::CheckConsistency(uint32_t materialCount) const
{
    for (const Face& face : m_faces)
        if (face.material != noMaterial && face.material >= materialCount)
            return false;
    return true;
}

} // namespace GAME
