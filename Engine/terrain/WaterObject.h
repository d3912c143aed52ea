// The common base of the pieces of a level's water (layers, paths, wave sets): the slot index in
// the owning Water, the water's spatial tree the piece files its elements in, the render device,
// the owner, the shared water type (one reference held, released on destruction) and the piece's
// reflection plane, which its elements point at.
//
// Owned by its Water. Main thread (a level loading thread builds the pieces of the water it
// loads).
#pragma once

#include "core/Space.h"
#include "scene/GraphicsReflectionPlane.h"

namespace GAME {

class BinaryReader;
class BinaryWriter;
class GridRegion;
class Region;
class RenderDevice;
class TerrainBase;
class Water;
class WaterElement;
class WaterType;

class WaterObject
{
public:
    WaterObject(unsigned index, Space<WaterElement>& tree, RenderDevice& device, Water* water);
    // Releases the type reference.
    virtual ~WaterObject();
    WaterObject(const WaterObject&) = delete;
    WaterObject& operator=(const WaterObject&) = delete;

    // Rebuilds what depends on the ground or the type.
    virtual void Update() = 0;
    // The piece's record of the water block; false when the piece cannot be used (it has read its
    // whole record all the same, so the reader stays in step).
    virtual bool Load(BinaryReader& reader, unsigned version) = 0;
    virtual void Save(BinaryWriter& writer) const = 0;
    virtual void MirrorX(float centre) = 0;
    virtual void MirrorZ(float centre) = 0;
    virtual void MirrorXZ() = 0;

    unsigned GetIndex() const { return m_index; }
    Water* GetWater() const { return m_water; }
    // The owner's region; null without owner.
    Region* GetRegion() const;
    WaterType* GetWaterType() const { return m_waterType; }
    // Null without type.
    const char* GetWaterTypeName() const;
    // Moves the type's animation on (once per frame whoever asks).
    void UpdateWaterType();
    void ResetReflectionSurface() { m_reflectionPlane.reflectionSurface = nullptr; }
    GraphicsReflectionPlane& GetReflectionPlane() { return m_reflectionPlane; }
    const GraphicsReflectionPlane& GetReflectionPlane() const { return m_reflectionPlane; }

protected:
    // Drops the held type reference.
    void ReleaseWaterType();
    // Holds the named type instead of the current one (one reference); false, with no type, when
    // the manager knows no type of that name.
    bool TakeWaterType(const char* typeName);
    // The owner's ground (null without owner).
    const TerrainBase* GetTerrain() const;
    const GridRegion* GetGridRegion() const;

    unsigned m_index;
    Space<WaterElement>& m_tree;
    RenderDevice& m_device;
    Water* m_water;
    WaterType* m_waterType = nullptr;
    GraphicsReflectionPlane m_reflectionPlane;
};

} // namespace GAME
