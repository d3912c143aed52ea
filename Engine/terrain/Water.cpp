#include "terrain/Water.h"

#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

void Water::Initialize(unsigned width, unsigned height, TerrainBase*, GridRegion*)
{
    m_width = width;
    m_height = height;
}

bool Water::Load(BinaryReader& reader)
{
    const unsigned start = reader.GetPosition();
    const uint32_t readMagic = reader.ReadUInt32();
    if (reader.Failed() || readMagic != magic) {
        LogPrintf(1, "Water: the water block has a bad magic");
        return false;
    }
    reader.Seek(start);
    const unsigned size = reader.GetRemaining();
    m_body.assign(reader.GetCursor(), reader.GetCursor() + size);
    return reader.Skip(size);
}

void Water::Save(BinaryWriter& writer) const
{
    if (!m_body.empty()) {
        writer.WriteBytes(m_body.data(), static_cast<unsigned>(m_body.size()));
        return;
    }
    // No types, layers, paths or wave sets.
    writer.WriteUInt32(magic);
    writer.WriteUInt32(2);
    for (int i = 0; i < 4; ++i)
        writer.WriteUInt32(0);
}

void Water::Update(int) {}

void Water::AddToScene(GraphicsSceneRenderer&, const Frustum&) {}

void Water::AddReflectionPlanes(GraphicsReflectionManager&, Region*, const Frustum&) {}

bool Water::GetIntersection(const Ray&, Intersection&, PhysicsSurface) const
{
    return false;
}

int Water::FindCollisions(const Entity*, CollisionContact*, int, Region*, PhysicsSurface) const
{
    return 0;
}

int Water::FindCollisions(const OBBox&, CollisionContact*, int, PhysicsSurface) const
{
    return 0;
}

void Water::FindCollisions(std::vector<CollisionBox>&, const ABBox&, PhysicsSurface) const {}

} // namespace GAME
