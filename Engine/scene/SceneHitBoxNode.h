// A hit box of a model (a model-building node, see SceneModelNode): half-extents along the axes of
// a frame. Stream: the node's three strings, the half-extents (3 floats), the frame (12 floats).
// A plain value.
#pragma once

#include "core/Coords.h"
#include "core/Vec3.h"
#include "scene/SceneModelNode.h"

namespace GAME {

class SceneHitBoxNode : public SceneModelNode
{
public:
    SceneHitBoxNode() = default;
    SceneHitBoxNode(const SceneHitBoxNode&) = default;
    SceneHitBoxNode& operator=(const SceneHitBoxNode&) = default;

    Type GetType() const override { return TYPE_HIT_BOX; }
    bool Read(BinaryReader& reader) override;
    void Write(BinaryWriter& writer) const override;

    void SetExtents(const Vec3& extents) { m_extents = extents; }
    const Vec3& GetExtents() const { return m_extents; }
    void SetCoords(const Coords& coords) { m_coords = coords; }
    const Coords& GetCoords() const { return m_coords; }

private:
    Vec3 m_extents;
    Coords m_coords;
};

} // namespace GAME
