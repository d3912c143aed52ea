// Parses any bytes as a mesh's model text block: no crash, no hang; a second parse into the same
// record starts its rigid bodies and joints again.
#include "common/FuzzSeeds.h"
#include "datakit/CharacterGenerator.h"
#include "scene/MeshModelData.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GAME::MeshModelData model;
    const char* text = reinterpret_cast<const char*>(data);
    const bool first = model.ParseText(text, size);
    const size_t bodies = model.rigidBodies.size();
    if (model.ParseText(text, size) != first || (first && model.rigidBodies.size() != bodies))
        std::abort();
    if (first)
        FuzzAccepted();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("character", DataKit::CharacterGenerator::MakeCharacter().modelText);
    sink.Add("prop", DataKit::CharacterGenerator::MakeProp().modelText);
    sink.Add("blocks",
             std::string("/* a comment */ CreateEntity { entity = \"records/a.dbr\" attach = \"Hand\" }\n"
                         "#ifdef EDITOR\nAttachPoint { name = \"Debug\" }\n#else\n"
                         "RigidBodyDescription { FusedBone { name = \"Tail\" origin = (0, 0, -1) } }\n"
                         "#endif\nJointDescription { jointType = universal breakChance = 3 }\n"));
}
