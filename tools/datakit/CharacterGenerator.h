// Procedural sample models for the sample data, tests and fuzz seeds: a static prop (a crate with a
// collision mesh, a hit box and a base contour) and a skinned character of 32 bones with two face
// sets, hit boxes on its limbs, attach points, a rag doll and skeleton emitter bones in its model
// text, and two animations: a looping walk cycle that moves the root bone forward (31 key frames at
// 30 frames a second, footstep callbacks, version 2) and an idle (61 key frames, version 1). Every
// bone's bind frame is a translation from its parent; the animations rotate the limbs. Pure
// functions of nothing; any thread.
#pragma once

#include "core/Vec3.h"
#include "datakit/AnimWriter.h"
#include "datakit/MeshWriter.h"

#include <string>
#include <vector>

namespace DataKit {

class CharacterGenerator
{
public:
    // Names inside the sample data folder.
    static constexpr const char* propMesh = "Meshes/SampleProp.msh";
    // The crate's planks, which its material names.
    static constexpr const char* propTexture = "Textures/SampleCrate.tex";
    static constexpr const char* characterMesh = "Meshes/SampleCharacter.msh";
    static constexpr const char* walkAnimation = "Animations/SampleCharacterWalk.anm";
    static constexpr const char* idleAnimation = "Animations/SampleCharacterIdle.anm";
    // The sample shaders the materials name.
    static constexpr const char* staticShader = "Shaders/Basic.ssh";
    static constexpr const char* skinnedShader = "Shaders/BasicSkinned.ssh";

    static constexpr int frameRate = 30;
    static constexpr int walkFrames = 31;
    static constexpr int idleFrames = 61;
    // How far the root moves in one walk cycle (along +Z).
    static constexpr float walkStride = 1.5f;

    struct SkeletonBone
    {
        std::string name;
        int parent = -1;    // index in Skeleton()
        GAME::Vec3 offset;  // bind translation from the parent
        GAME::Vec3 center;  // body box centre, in the bone's frame
        GAME::Vec3 extents; // body box half-extents (zero: no geometry)
    };

    // The character's bones in file order: every bone's children follow one another.
    static const std::vector<SkeletonBone>& Skeleton();

    static MeshWriter MakeProp();
    // The crate's texture: 32 x 32 texels of brown planks with darker seams, with its mip chain.
    static std::vector<uint8_t> MakePropTexture();
    static MeshWriter MakeCharacter();
    static AnimWriter MakeWalk();
    static AnimWriter MakeIdle();

    // Writes the five files (the meshes as version 11) under the folder; false when one could not
    // be written.
    static bool WriteSampleContent(const std::string& folder);
};

} // namespace DataKit
