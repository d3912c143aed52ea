// One model loaded from a mesh file: vertices and triangles in device buffers, the face sets that
// split the triangles by material and section, the materials with their shaders and parameters,
// the skeleton with its bind pose, hit boxes, contours, portals, attach points and the rest of the
// model text (MIFData), and an optional collision mesh. A Resource: the graphics engine's mesh
// manager makes it by file name, the resource loader calls Initialize with the file's bytes
// (creating the device buffers there), the per-frame sweep calls Destroy; mesh instances use it on
// the main thread. Owns its device buffers, collision mesh and model data, and one reference to
// every shader and texture its materials loaded.
//
// File layout (little-endian; a string is a u32 length and its bytes; a fixed name 32 bytes holding
// a zero-terminated text): "MSH" and a version byte 8 to 11. Versions 10 and 11 are a list of
// chunks {u32 id, u32 size, size bytes}:
//   0 text (string)                    7 materials: u32 M; M x {string shader, u32 P, P x param}
//   2 collision mesh (PhysicsMesh)     8 hit boxes: u32 H; H x {name, 3 f32 half-extents, Coords,
//   3 model text (MeshModelData)                          u32 bone}
//   4 vertices: u32 attribute count A, 9 contours: u32 C; C x {u32 N; N x {position, normal}}
//     u32 stride S, u32 vertex count V, 10 bounding box: min xyz, max xyz
//     A x u32 attribute id, V x S bytes 11 blended faces: u32 F; F x 3 u16
//   5 faces: u32 F, u32 face sets N,  12 portals: u32 P; P x {u32 N; N x 9 f32}
//     F x 3 u16; N x {u32 material,    13 section names: u32 count; count x string
//     u32 first face, u32 face count, [version 11: u32 section, f32 box centre xyz, half-extents
//     xyz], u32 K, K x u32 bone}
//   6 bones: u32 B; B x {name, u32 first child, u32 child count, Coords relative to the parent}
// Other ids are skipped. Version 9 starts with chunks 0, 1 (the legacy body) and 2 and ends with the
// model text; version 8 is the legacy body followed by the model text. A parameter is {string
// name, u32 type, value}: 0 four bytes, 1 u32 bool, 2 string (dropped), 3 twelve f32, 4 sixteen
// f32, 7 string texture, 8 two f32, 9 three f32, 10 one f32, 11 four f32; other types carry no
// value and are dropped.
//
// The file is not trusted: each chunk is read within its size and reading resumes at its announced
// end; every count is checked against the bytes before anything is made; a vertex or blended index
// at or past the vertex count, a face set beyond the faces, a palette over 256 entries or naming a
// bone past the bone count, a weighted vertex bone byte past its face set's palette, an attribute
// id above 14 or attributes wider than the stride, child ranges past the bone count, a bone claimed
// by two parents and cycles all refuse the file (result 4) before any device buffer is made (a
// bone byte without weight past the palette is pointed at entry 0 instead). Section, shader and
// parameter names follow the data layer's string rule: one too long or past its chunk is left
// empty and reading goes on after its length word. A repeated chunk replaces what the earlier one
// gave. The skeleton is walked without recursion.
//
// Threads: Initialize and Destroy run under the resource's lock (on the loader thread or wherever
// the framework loads and unloads); everything else on the main thread, where every query first
// makes sure the mesh is loaded (EnsureAvailable, which waits for a running load).
//
// A material's texture parameter is kept only when one of its shaders declares it; the reader
// loads the shaders on the spot to ask them.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/Name.h"
#include "core/OBBox.h"
#include "data/Resource.h"
#include "scene/MeshModelData.h"
#include "scene/NameTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class BaseResourceManager;
class BinaryReader;
class GraphicsEngine;
class GraphicsShader2;
class GraphicsTexture;
class PhysicsMesh;
class RenderDevice;
class RenderIndexBuffer;
class RenderVertexBuffer;
class RenderVertexDeclaration;
class SkeletalPose;

class GraphicsMesh : public Resource
{
public:
    using MIFData = MeshModelData;

    enum ChunkId : uint32_t
    {
        CHUNK_TEXT = 0,
        CHUNK_LEGACY_BODY = 1,
        CHUNK_PHYSICS_MESH = 2,
        CHUNK_MODEL_TEXT = 3,
        CHUNK_VERTICES = 4,
        CHUNK_FACES = 5,
        CHUNK_BONES = 6,
        CHUNK_MATERIALS = 7,
        CHUNK_HIT_BOXES = 8,
        CHUNK_CONTOURS = 9,
        CHUNK_BOUNDING_BOX = 10,
        CHUNK_BLENDED_FACES = 11,
        CHUNK_PORTALS = 12,
        CHUNK_SECTIONS = 13,
    };

    // Material parameter types as mesh files write them.
    enum ParameterType : uint32_t
    {
        PARAMETER_INT = 0,
        PARAMETER_BOOL = 1,
        PARAMETER_STRING = 2,
        PARAMETER_FLOAT4X3 = 3,
        PARAMETER_FLOAT4X4 = 4,
        PARAMETER_TEXTURE = 7,
        PARAMETER_FLOAT2 = 8,
        PARAMETER_FLOAT3 = 9,
        PARAMETER_FLOAT = 10,
        PARAMETER_FLOAT4 = 11,
    };

    // Limits of the legacy body's header.
    static constexpr uint32_t legacyMaxVertices = 65536;
    static constexpr uint32_t legacyMaxFaces = 65536;
    static constexpr uint32_t legacyMaxFaceSets = 1000;
    static constexpr uint32_t legacyMaxCheckedCount = 196608;
    static constexpr uint32_t legacyMaxBones = 256;
    static constexpr uint32_t legacyMaxHitBoxes = 256;
    static constexpr uint32_t legacyMaxMaterials = 1000;
    static constexpr uint32_t legacyMaxAttributes = 30;
    // Entries of a face set's bone palette a file may give.
    static constexpr uint32_t maxPaletteSize = 256;
    // Palettes are folded to the graphics engine's bones a draw (GraphicsEngine::GetMaxNumBones,
    // which follows the detail level); a mesh made without an engine folds to this many.
    static constexpr int maxBonesWithoutEngine = 27;

    // One draw of the mesh.
    struct FaceSet
    {
        uint32_t material = 0;
        uint32_t firstFace = 0;
        uint32_t numFaces = 0;
        // Entry k is the skeleton bone that vertex bone index k of this face set means.
        std::vector<uint32_t> bones;
        ABBox box;
        uint32_t section = 0;
    };

    struct Bone
    {
        Name name;
        std::string nameText;
        Coords relativeCoords; // bind frame relative to the parent
        Coords bindCoords;     // absolute bind frame
        int32_t parent = -1;
        int32_t numChildren = 0;
        uint32_t firstChild = 0; // the children follow one another in the bone array
        uint32_t height = 0;     // 0 for a leaf, else 1 + the largest height of its children
    };

    struct HitBox
    {
        OBBox box; // in the frame of its bone (object space without one); unit axes
        Name name;
        std::string nameText;
        int32_t bone = -1; // negative: none
    };

    // A material parameter: its value's use follows the type (four bytes, a bool, 1 to 16 floats
    // or a texture); a string parameter keeps no value.
    struct MaterialParam
    {
        Name name;
        std::string nameText;
        uint32_t type = 0;
        union {
            uint32_t words[16];
            float floats[16];
        } value{};
        GraphicsTexture* texture = nullptr;
    };

    struct Material
    {
        std::string shaderName;
        GraphicsShader2* shader = nullptr;
        // The "T" variant of the shader file when it exists, else the shader loaded a second time.
        GraphicsShader2* transparentShader = nullptr;
        std::vector<MaterialParam> parameters;
    };

    struct ContourPoint
    {
        Vec3 position;
        Vec3 normal;
        Vec3 side; // unit(unit(next - previous) x normal), zero where that has no direction
    };
    struct Contour
    {
        std::vector<ContourPoint> points;
    };

    struct PortalPoint
    {
        Vec3 values[3];
    };
    struct Portal
    {
        std::vector<PortalPoint> points;
    };

    // What a draw of the mesh needs.
    struct MeshRenderInfo
    {
        uint32_t numFaces = 0;
        uint32_t numVertices = 0;
        uint32_t numBones = 0;
        RenderVertexBuffer* vertexBuffer = nullptr;
        RenderVertexDeclaration* vertexDeclaration = nullptr;
        RenderIndexBuffer* indexBuffer = nullptr;
        const FaceSet* faceSets = nullptr;
    };

    // Takes the engine's graphics engine (GraphicsServices), when there is one.
    GraphicsMesh(BaseResourceManager* manager, const std::string& fileName);
    // With the graphics engine given (null: no device buffers, shaders or textures are made).
    GraphicsMesh(BaseResourceManager* manager, const std::string& fileName, GraphicsEngine* graphics);
    ~GraphicsMesh() override;

    // ---- Resource --------------------------------------------------------------------------
    void PreLoadDependentResources() override;
    // 0 loaded; 1 read through but a device buffer could not be made (tried again later); 3 the
    // device is lost (nothing read); 4 bad data (the mesh left empty).
    InitResult Initialize(const void* data, int size) override;
    // No vertices, faces, face sets or bones; box centre 0, half-extents 1.
    void InitializeDefault() override;
    // Releases the shaders, textures and device objects and empties everything.
    void Destroy() override;
    void LogInfo() const override;
    // The bounding box's half-extents with an identity frame.
    virtual OBBox GetOBBox() const;

    // True when loaded and every shader and texture of the materials is ready; marks it used.
    // A dependent that is neither loaded nor queued (the mesh was loaded by a query, not through
    // the loader) is queued.
    bool GetIsReadyToUse();

    // Sets material m's parameters on a begun shader: textures, one to four floats (other kinds
    // are not set).
    void SetShaderParameters(GraphicsShader2* shader, int material) const;
    // Draws the blended faces with the shader (which the caller has begun); nothing without them.
    void RenderBlendedFaces(RenderDevice* device, GraphicsShader2* shader) const;

    // ---- Contents (each loads the mesh first when it is not loaded) ------------------------------
    uint32_t GetNumVertices() const;
    uint32_t GetNumFaces() const;
    uint32_t GetNumBlendedFaces() const;
    // Bytes of one vertex in the file's layout, and where an attribute lies in it (-1: absent).
    uint32_t GetVertexStride() const;
    int32_t GetAttributeOffset(uint32_t attributeId) const;
    RenderVertexBuffer* GetVertexBuffer() const;
    RenderVertexDeclaration* GetVertexDeclaration() const;
    RenderIndexBuffer* GetIndexBuffer() const;
    RenderIndexBuffer* GetBlendedIndexBuffer() const;
    void GetMeshRenderInfo(MeshRenderInfo& info) const;

    uint32_t GetNumFaceSets() const;
    const FaceSet& GetFaceSet(uint32_t index) const;
    uint32_t GetNumSections() const;
    const std::string& GetSection(uint32_t index) const;
    uint32_t GetNumMaterials() const;
    const Material& GetMaterial(uint32_t index) const;
    // Every texture the materials loaded.
    const std::vector<GraphicsTexture*>& GetTextures() const;

    uint32_t GetNumBones() const;
    const Bone& GetBone(uint32_t index) const;
    // -1 when the mesh has no bone of that name.
    int32_t GetBoneIndex(const Name& name) const;
    // The first bone without a parent; the empty Name without bones.
    const Name& GetRootMotionBone() const;

    uint32_t GetNumHitBoxes() const;
    const HitBox& GetHitBox(uint32_t index) const;
    // The hit box posed: its bone's posed frame times its own, the half-extents scaled by the
    // lengths the axes got.
    HitBox GetHitBox(uint32_t index, const SkeletalPose& pose) const;

    const ABBox& GetBoundingBox() const;
    // Null when the file had no collision mesh. (Not const, like Entity::GetPhysicsMesh, which
    // hands it on; its queries are const.)
    PhysicsMesh* GetPhysicsMesh() const;
    uint32_t GetNumContours() const;
    const Contour& GetContour(uint32_t index) const;
    uint32_t GetNumPortals() const;
    const Portal& GetPortal(uint32_t index) const;

    const MIFData& GetMIFData() const;
    // Null when absent.
    const AttachPoint* GetAttachPoint(const Name& name) const;
    // The posed frame of an attach point (its bone's posed frame times its own); the identity for
    // an unknown point.
    void GetAttachedCoords(const SkeletalPose& pose, const Name& name, Coords& coords) const;
    // Appends the names of all attach points, in table order.
    void GetAllAttachedPoints(std::vector<Name>& names) const;
    uint32_t GetNumRigidBodyDescriptions() const;
    const RigidBodyDescription& GetRigidBodyDescription(uint32_t index) const;
    uint32_t GetNumJointDescriptions() const;
    const JointDescription& GetJointDescription(uint32_t index) const;
    bool HasRigidBodyData() const;
    // These four do not load the mesh.
    uint32_t GetNumCreationData() const;
    // False when the index is beyond either creation list.
    bool GetCreationData(uint32_t index, std::string& entity, std::string& attach) const;
    uint32_t GetNumSkeletonEmitterBones() const;
    const std::string& GetSkeletonEmitterBone(uint32_t index) const;

    // ---- Skinning ---------------------------------------------------------------------------
    // The posed absolute frame of a bone: A(i) = A(parent) * relative(i) * pose(i), the identity
    // for a negative index or one past the bones.
    Coords GetAbsCoords(const SkeletalPose& pose, int32_t bone) const;
    // The same by name; the identity for an unknown name.
    Coords GetAbsCoords(const SkeletalPose& pose, const Name& bone) const;
    // out[i] = A(i) * inverse(bind frame of i) for every bone: the skinning frames.
    void GetAbsCoords(const SkeletalPose& pose, Coords* out) const;
    // The same for a mesh whose root bones follow the like-named bones of another mesh's pose (a
    // root without a namesake starts from the identity).
    void GetAbsCoords(const SkeletalPose& pose, Coords* out, const GraphicsMesh* other,
                      const SkeletalPose& otherPose) const;

private:
    struct LoadState;

    // The resource framework's load check, usable from the const queries.
    void Touch() const;
    RenderDevice* GetDevice() const;

    InitResult ReadChunked(BinaryReader& reader, LoadState& state);
    InitResult ReadVersion9(BinaryReader& reader, LoadState& state);
    bool ReadChunk(uint32_t id, BinaryReader& content, LoadState& state);
    bool ReadLegacyBody(BinaryReader& reader, LoadState& state);
    bool ReadModelText(const uint8_t* text, unsigned length);
    bool ReadPhysicsMesh(const uint8_t* data, unsigned size);
    bool ReadVertices(BinaryReader& reader, uint32_t attributeCount, uint32_t stride, uint32_t vertexCount,
                      LoadState& state);
    bool ReadFaces(BinaryReader& reader, uint32_t faceCount, uint32_t faceSetCount, bool withBoxes,
                   LoadState& state);
    bool ReadBones(BinaryReader& reader, uint32_t boneCount);
    bool ReadMaterials(BinaryReader& reader, uint32_t materialCount);
    // A name of a section or material by the data layer's string rule: one too long or past the
    // chunk is left empty (with one log line) and false is answered; reading goes on.
    bool ReadName(BinaryReader& reader, std::string& out, const char* what) const;
    bool ReadHitBoxes(BinaryReader& reader, uint32_t hitBoxCount);
    bool ReadContours(BinaryReader& reader);
    bool ReadPortals(BinaryReader& reader);
    bool ReadSections(BinaryReader& reader);
    // Checks the pieces against each other, folds long palettes and makes the device buffers.
    InitResult Finish(LoadState& state);
    // Refuses what cannot be drawn; an influence without weight that names no palette entry is
    // pointed at entry 0.
    bool Validate(LoadState& state);
    // The vertex bytes as a copy the load may rewrite (made on first use).
    uint8_t* WritableVertices(LoadState& state) const;
    void FoldBonePalettes(LoadState& state, int maxBones);
    void ReleaseMaterials();

    GraphicsEngine* m_graphics = nullptr;

    uint32_t m_numVertices = 0;
    uint32_t m_stride = 0;
    int32_t m_attributeOffsets[15];
    RenderVertexBuffer* m_vertexBuffer = nullptr;
    RenderVertexDeclaration* m_vertexDeclaration = nullptr;
    uint32_t m_numFaces = 0;
    RenderIndexBuffer* m_indexBuffer = nullptr;
    std::vector<FaceSet> m_faceSets;
    std::vector<std::string> m_sections;
    std::vector<HitBox> m_hitBoxes;
    std::vector<Bone> m_bones;
    // Bone indices parents first (the order the frame walks take).
    std::vector<uint32_t> m_boneOrder;
    NameTable<uint32_t> m_boneIndex;
    Name m_rootMotionBone;
    ABBox m_boundingBox{Vec3(), Vec3(1.0f, 1.0f, 1.0f)};
    std::vector<Material> m_materials;
    std::vector<GraphicsTexture*> m_textures;
    PhysicsMesh* m_physicsMesh = nullptr;
    std::vector<Contour> m_contours;
    std::vector<Portal> m_portals;
    MIFData m_modelData;
    uint32_t m_numBlendedFaces = 0;
    RenderIndexBuffer* m_blendedIndexBuffer = nullptr;
};

} // namespace GAME
