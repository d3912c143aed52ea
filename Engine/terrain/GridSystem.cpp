#include "terrain/GridSystem.h"

#include "core/Log.h"
#include "data/BaseResourceManager.h"
#include "data/LoadTable.h"
#include "data/ResourceLoader.h"
#include "scene/GraphicsMesh.h"

#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(GridSystem, Object)

const Vec3 GridSystem::defaultCellSpacing(8.0f, 8.0f, 8.0f);

const uint8_t GridSystem::wallPiecePatterns[numWallPieces] = {145, 179, 245, 247, 160, 128, 192, 224,
                                                              0,   177, 241, 209, 243, 255, 240};

namespace {

// Record keys of entries A to O.
const char* const baseKeys[GridSystem::numWallPieces] = {
    "wallPieceBaseA", "wallPieceBaseB", "wallPieceBaseC", "wallPieceBaseD", "wallPieceBaseE",
    "wallPieceBaseF", "wallPieceBaseG", "wallPieceBaseH", "wallPieceBaseI", "wallPieceBaseJ",
    "wallPieceBaseK", "wallPieceBaseL", "wallPieceBaseM", "wallPieceBaseN", "wallPieceBaseO"};
const char* const midKeys[GridSystem::numWallPieces] = {
    "wallPieceMidA", "wallPieceMidB", "wallPieceMidC", "wallPieceMidDD", "wallPieceMidE",
    "wallPieceMidF", "wallPieceMidG", "wallPieceMidH", "wallPieceMidI",  "wallPieceMidJ",
    "wallPieceMidK", "wallPieceMidL", "wallPieceMidM", "wallPieceMidN",  "wallPieceMidO"};

// Another reference to the mesh, asked of its own manager by file name.
GraphicsMesh* Reference(GraphicsMesh* mesh)
{
    if (!mesh || !mesh->GetResourceManager())
        return nullptr;
    return static_cast<GraphicsMesh*>(mesh->GetResourceManager()->LoadResource(mesh->GetFileNameString()));
}

void ReleaseMesh(GraphicsMesh*& mesh)
{
    if (mesh && mesh->GetResourceManager())
        mesh->GetResourceManager()->UnloadResource(mesh);
    mesh = nullptr;
}

void Enqueue(GraphicsMesh* mesh)
{
    if (mesh)
        if (ResourceLoader* loader = mesh->GetResourceLoader())
            loader->EnqueueResource(mesh, RESOURCE_PRIORITY_HIGH, true);
}

} // namespace

GridSystem::GridSystem() : m_cellSpacing(defaultCellSpacing)
{
    for (int i = 0; i < numWallPieces; ++i)
        m_wallPieces[i].pattern = wallPiecePatterns[i];
}

GridSystem::GridSystem(const GridSystem& other) : Object(other)
{
    CopyFrom(other);
}

GridSystem& GridSystem::operator=(const GridSystem& other)
{
    if (this != &other) {
        Object::operator=(other);
        Release();
        CopyFrom(other);
    }
    return *this;
}

GridSystem::~GridSystem()
{
    Release();
}

void GridSystem::CopyFrom(const GridSystem& other)
{
    m_cellSpacing = other.m_cellSpacing;
    for (int i = 0; i < numWallPieces; ++i) {
        m_wallPieces[i].pattern = other.m_wallPieces[i].pattern;
        m_wallPieces[i].baseMesh = Reference(other.m_wallPieces[i].baseMesh);
        m_wallPieces[i].midMesh = Reference(other.m_wallPieces[i].midMesh);
    }
    m_features.clear();
    for (GraphicsMesh* mesh : other.m_features)
        if (GraphicsMesh* copy = Reference(mesh))
            m_features.push_back(copy);
    m_minWallOpacity = other.m_minWallOpacity;
}

void GridSystem::Release()
{
    for (WallPiece& piece : m_wallPieces) {
        ReleaseMesh(piece.baseMesh);
        ReleaseMesh(piece.midMesh);
    }
    for (GraphicsMesh*& mesh : m_features)
        ReleaseMesh(mesh);
    m_features.clear();
}

void GridSystem::Load(const LoadTable& constTable)
{
    Object::Load(constTable);
    LoadTable& table = const_cast<LoadTable&>(constTable);
    Release();

    const char* const spacingKeys[3] = {"cellSpacingX", "cellSpacingY", "cellSpacingZ"};
    float spacing[3] = {defaultCellSpacing.x, defaultCellSpacing.y, defaultCellSpacing.z};
    for (int axis = 0; axis < 3; ++axis) {
        const float value = table.GetFloat(spacingKeys[axis], spacing[axis]);
        // Cells are found by dividing by the spacing: a spacing of 0 (or worse) would put every
        // position in no cell or in one at infinity.
        if (std::isfinite(value) && value > 0.0f)
            spacing[axis] = value;
        else
            LogPrintf(1, "Grid system '%s': %s = %g is refused; %g is used", GetObjectName().c_str(),
                      spacingKeys[axis], static_cast<double>(value), static_cast<double>(spacing[axis]));
    }
    m_cellSpacing = Vec3(spacing[0], spacing[1], spacing[2]);

    for (int i = 0; i < numWallPieces; ++i) {
        m_wallPieces[i].baseMesh = table.LoadMesh(baseKeys[i], 0);
        m_wallPieces[i].midMesh = table.LoadMesh(midKeys[i], 0);
        m_wallPieces[i].pattern = wallPiecePatterns[i];
    }
    const int features = table.GetNumElementsForField("feature");
    for (int i = 0; i < features; ++i)
        if (GraphicsMesh* mesh = table.LoadMesh("feature", static_cast<unsigned int>(i)))
            m_features.push_back(mesh);
    m_minWallOpacity = table.GetFloat("minWallOpacity", 0.0f);
    if (!std::isfinite(m_minWallOpacity))
        m_minWallOpacity = 0.0f;
}

void GridSystem::PreLoad()
{
    for (const WallPiece& piece : m_wallPieces) {
        Enqueue(piece.baseMesh);
        Enqueue(piece.midMesh);
    }
    for (GraphicsMesh* mesh : m_features)
        Enqueue(mesh);
}

GraphicsMesh* GridSystem::GetFeatureMesh(int index) const
{
    if (index < 0 || index >= GetNumFeatures())
        return nullptr;
    return m_features[static_cast<size_t>(index)];
}

std::string GridSystem::GetFeatureName(int index) const
{
    const GraphicsMesh* mesh = GetFeatureMesh(index);
    return mesh ? mesh->GetFileNameString() : std::string();
}

GraphicsMesh* GridSystem::GetMeshForCell(const char corners[4], const char walls[4], bool base,
                                         int& rotation) const
{
    rotation = 0;
    for (int r = 0; r < 4; ++r) {
        unsigned pattern = 0;
        for (int k = 0; k < 4; ++k) {
            if (corners[(r + k) % 4] == '1')
                pattern |= 128u >> k;
            if (walls[(r + k) % 4] == '1')
                pattern |= 8u >> k;
        }
        for (const WallPiece& piece : m_wallPieces) {
            if (piece.pattern != pattern)
                continue;
            rotation = (4 - r) % 4;
            return base ? piece.baseMesh : piece.midMesh;
        }
    }
    return nullptr;
}

} // namespace GAME
