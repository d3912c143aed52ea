// Reads any bytes as a mesh file into a mesh over the software device: no crash, no hang, no leak;
// a refused file leaves the mesh empty, and an accepted one holds together (palettes within their
// bones, bones walkable, frames computable for any pose).
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/Options.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/MeshWriter.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsEngineSettings.h"
#include "scene/GraphicsMesh.h"
#include "scene/SkeletalPose.h"

#include <cstdlib>
#include <vector>

namespace {

using namespace GAME;

GraphicsEngine* Graphics()
{
    static Options options;
    static GraphicsEngine* graphics = [] {
        auto* engine = new GraphicsEngine(&options);
        GraphicsEngineSettings settings;
        settings.deviceName = "Software";
        engine->CreateDevice(nullptr, settings);
        return engine;
    }();
    return graphics;
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GraphicsMesh mesh(nullptr, "fuzz.msh", Graphics());
    // Twice: a second load must start from a clean mesh.
    for (int pass = 0; pass < 2; ++pass) {
        const Resource::InitResult result = mesh.Initialize(data, static_cast<int>(size));
        if (result == Resource::INIT_INVALID_DATA) {
            Check(mesh.GetNumVertices() == 0 && mesh.GetNumFaceSets() == 0 && mesh.GetNumBones() == 0 &&
                  mesh.GetVertexBuffer() == nullptr && mesh.GetNumCreationData() == 0);
            continue;
        }
        if (pass == 0)
            FuzzAccepted();
        const uint32_t bones = mesh.GetNumBones();
        for (uint32_t s = 0; s < mesh.GetNumFaceSets(); ++s) {
            const GraphicsMesh::FaceSet& set = mesh.GetFaceSet(s);
            Check(set.material < mesh.GetNumMaterials());
            Check(uint64_t(set.firstFace) + set.numFaces <= mesh.GetNumFaces());
            for (uint32_t bone : set.bones)
                Check(bone < bones);
        }
        for (uint32_t b = 0; b < bones; ++b)
            Check(mesh.GetBone(b).parent == -1 ||
                  (mesh.GetBone(b).parent >= 0 && uint32_t(mesh.GetBone(b).parent) < bones));
        SkeletalPose pose;
        for (uint32_t b = 0; b < bones && b < 8; ++b) {
            SkeletalPose::AffineParts parts;
            parts.t = Vec3(float(b), 1, 0);
            parts.k = Vec3(1, 2, 1);
            pose.SetBone(mesh.GetBone(b).name, parts);
        }
        std::vector<Coords> frames(bones);
        mesh.GetAbsCoords(pose, frames.data());
        mesh.GetAbsCoords(pose, frames.data(), &mesh, pose);
        for (uint32_t h = 0; h < mesh.GetNumHitBoxes(); ++h)
            mesh.GetHitBox(h, pose);
        std::vector<Name> points;
        mesh.GetAllAttachedPoints(points);
        for (const Name& point : points) {
            Coords frame;
            mesh.GetAttachedCoords(pose, point, frame);
        }
    }
    mesh.Destroy();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using DataKit::CharacterGenerator;
    using DataKit::MeshWriter;
    const MeshWriter prop = CharacterGenerator::MakeProp();
    const MeshWriter character = CharacterGenerator::MakeCharacter();
    for (int version : {8, 9, 10, 11}) {
        sink.Add("prop" + std::to_string(version), prop.Write(version));
        sink.Add("character" + std::to_string(version), character.Write(version));
    }
    // A palette longer than any device allows, to be folded.
    MeshWriter wide;
    wide.SetAttributes({MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_BONE_WEIGHTS,
                        MeshWriter::ATTRIBUTE_BONE_INDICES});
    wide.bones.push_back({"B0", 1, 10, Coords()});
    wide.bones.push_back({"B1", 11, 19, Coords()});
    MeshWriter::FaceSet set;
    for (uint32_t i = 0; i < 30; ++i) {
        if (i >= 2)
            wide.bones.push_back({"B" + std::to_string(i), 0, 0, Coords()});
        set.bones.push_back(i);
        MeshWriter::Vertex v;
        v.bones[0] = uint8_t(i);
        wide.AddVertex(v);
    }
    for (uint32_t k = 0; k + 2 < 30; ++k)
        wide.AddFace(k, k + 1, k + 2);
    set.numFaces = 28;
    wide.faceSets = {set};
    wide.materials = {{"Shaders/Skinned.ssh", {}}};
    wide.blendedIndices = {0, 1, 2};
    wide.portals = {{{Vec3(1, 2, 3), Vec3(), Vec3()}}};
    wide.extraChunks = {{42, {1, 2, 3, 4}}};
    sink.Add("wide11", wide.Write(11));
    sink.Add("header", std::vector<uint8_t>{'M', 'S', 'H', 10});
}
