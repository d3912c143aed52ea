// Writes mesh files ("MSH", versions 8 to 11) as GraphicsMesh reads them, and the collision mesh
// block (PhysicsMesh's stored form) they carry. The engine only reads these formats; tests, fuzz
// seeds and the sample data make their meshes here. The content is public: fill it, then Write the
// version wanted. Versions 10 and 11 write every chunk that has content (4 vertices, 5 faces, 6
// bones and 7 materials always), then the extra chunks as given, so a test can repeat a chunk or
// add one the reader does not know; version 9 writes chunks 0, 1 (the legacy body) and 2 and then
// the model text; version 8 the legacy body and the model text. One thread at a time.
#pragma once

#include "core/Coords.h"
#include "core/Vec3.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace DataKit {

class MeshWriter
{
public:
    // Vertex attribute ids.
    enum Attribute : uint32_t
    {
        ATTRIBUTE_POSITION = 0,
        ATTRIBUTE_NORMAL = 1,
        ATTRIBUTE_TEXCOORD0 = 4,
        ATTRIBUTE_BONE_WEIGHTS = 5,
        ATTRIBUTE_BONE_INDICES = 6,
        ATTRIBUTE_COLOR = 14,
    };

    struct Vertex
    {
        GAME::Vec3 position;
        GAME::Vec3 normal;
        float texCoord[2] = {0.0f, 0.0f};
        float weights[4] = {1.0f, 0.0f, 0.0f, 0.0f};
        uint8_t bones[4] = {0, 0, 0, 0};
        uint32_t color = 0xFFFFFFFFu;
    };

    struct FaceSet
    {
        uint32_t material = 0;
        uint32_t firstFace = 0;
        uint32_t numFaces = 0;
        uint32_t section = 0;        // version 11 only
        GAME::Vec3 boxCenter;        // version 11 only
        GAME::Vec3 boxExtents;       // version 11 only
        std::vector<uint32_t> bones; // the palette
    };

    struct Bone
    {
        std::string name; // at most 31 characters
        uint32_t firstChild = 0;
        uint32_t numChildren = 0;
        GAME::Coords relative;
    };

    struct Parameter
    {
        std::string name;
        uint32_t type = 10;
        uint32_t word = 0;         // types 0 and 1
        std::string text;          // types 2 and 7
        std::vector<float> floats; // types 3, 4, 8 to 11: exactly as many as the type takes
    };

    struct Material
    {
        std::string shader;
        std::vector<Parameter> parameters;
    };

    struct HitBox
    {
        std::string name;
        GAME::Vec3 extents;
        GAME::Coords coords;
        uint32_t bone = 0xFFFFFFFFu; // none
    };

    struct ContourPoint
    {
        GAME::Vec3 position;
        GAME::Vec3 normal;
    };

    using PortalPoint = std::array<GAME::Vec3, 3>;

    struct Triangle
    {
        uint32_t vertices[3] = {0, 0, 0};
        uint32_t flags = 0;
    };

    // Bytes of an attribute in a vertex (0 for an id without a format).
    static uint32_t AttributeSize(uint32_t id);
    // The stored form of a collision mesh (chunk 2).
    static std::vector<uint8_t> PhysicsMeshBytes(const std::vector<GAME::Vec3>& vertices,
                                                 const std::vector<Triangle>& triangles);

    // Sets the layout; the stride is the sum of the attributes' sizes plus padding bytes.
    void SetAttributes(const std::vector<uint32_t>& ids, uint32_t padding = 0);
    // Appends a vertex packed in the layout; answers its index.
    uint32_t AddVertex(const Vertex& vertex);
    void AddFace(uint32_t a, uint32_t b, uint32_t c);
    // Where an attribute lies in a vertex, -1 when the layout lacks it.
    int32_t AttributeOffset(uint32_t id) const;

    // The file of a version (8 to 11).
    std::vector<uint8_t> Write(int version) const;
    // The content of one chunk of versions 10 and 11 (for the body of id 1: the legacy body).
    std::vector<uint8_t> ChunkContent(uint32_t id, int version) const;

    std::vector<uint32_t> attributes;
    uint32_t stride = 0;
    uint32_t numVertices = 0;
    std::vector<uint8_t> vertexBytes;
    std::vector<uint16_t> indices;
    std::vector<FaceSet> faceSets;
    std::vector<Bone> bones;
    std::vector<Material> materials;
    std::vector<HitBox> hitBoxes;
    std::vector<std::vector<ContourPoint>> contours;
    bool hasBoundingBox = false;
    GAME::Vec3 boundsMin;
    GAME::Vec3 boundsMax;
    std::vector<uint16_t> blendedIndices;
    std::vector<std::vector<PortalPoint>> portals;
    std::vector<std::string> sections;
    std::string text;      // chunk 0
    std::string modelText; // chunk 3, or the tail of versions 8 and 9
    std::vector<uint8_t> physicsMesh;
    // Written after the regular chunks (versions 10 and 11), in order.
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> extraChunks;
};

} // namespace DataKit
