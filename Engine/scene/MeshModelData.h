// What a mesh file says about its model beyond the geometry (GraphicsMesh::MIFData): attach points,
// the entities to create with the model, the rag doll's rigid bodies and joints, the bones that
// skeleton emitters spawn from, and the text of chunk 0, which the library keeps for the host.
// ParseText reads the model text block (chunk 3, or the rest of an old file):
//
//   CreateEntity { entity = "<record>" attach = "<point>" ... }        appends to the creation lists
//   SkeletonEmitterBones { <bone> <bone> ... }                          replaces the emitter bones
//   AttachPoint { name = "<n>" parent = "<bone>" origin = (x, y, z) xAxis = (...) yAxis = (...)
//                 zAxis = (...) }                                       stores the point by name
//   RigidBodyDescription { parentName = ... childName = ... parentOrigin/XAxis/YAxis/ZAxis = (...)
//                 childOrigin/XAxis/YAxis/ZAxis = (...) extents = (...) collides = true
//                 density = 100 playFallSound = false FusedBone { name = ... origin = (...) ... } }
//   JointDescription { rigidBody0 = 0 rigidBody1 = 1 jointType = ball jointConnection = 0
//                 jointAxis0 = x loStop0 = -1 hiStop0 = 1 jointAxis1 = y loStop1 = 0 hiStop1 = 0
//                 breakable = false breakChance = 0 }
//
// Tokens are those of the engine's text parser (quoted strings with the quotes removed, single
// punctuation characters, words); // and /* */ comments and the conditional directives are
// honoured. Any token outside a block is skipped. In "CreateEntity" the "=" after "entity" and
// "attach" is checked and an unknown key is skipped alone; in the other blocks every key is
// followed by one separator token that is not checked, so an unknown key shifts the reading by a
// token. Axes are taken as written.
//
// Owned by its mesh; filled on the thread that loads the mesh, read on the main thread after.
#pragma once

#include "navigation/JointDescription.h"
#include "navigation/RigidBodyDescription.h"
#include "scene/AttachPoint.h"
#include "scene/NameTable.h"

#include <cstddef>
#include <string>
#include <vector>

namespace GAME {

struct MeshModelData
{
    NameTable<AttachPoint> attachPoints;
    std::vector<std::string> creationAttachNames;
    std::vector<std::string> creationEntityNames;
    std::vector<RigidBodyDescription> rigidBodies;
    std::vector<JointDescription> joints;
    std::vector<std::string> skeletonEmitterBones;
    std::string text;

    // Empties everything (the attach point table keeps its slots).
    void Clear();

    // Reads a model text block into this record: the rigid body and joint lists start again, the
    // other lists keep what earlier blocks of the same mesh added. True when the whole text was
    // read (an empty text at once); false when a block name is not followed by "{", when the "="
    // after "entity" or "attach" is missing, or when the text ends inside a block. Logs nothing.
    bool ParseText(const char* text, size_t length);
};

} // namespace GAME
