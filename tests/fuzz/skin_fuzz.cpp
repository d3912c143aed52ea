// Interface skin files of any text, read through the engine's file system (a source in memory):
// loading must end, without a crash, whatever the text holds.
#include "../common/MemoryFiles.h"
#include "common/FuzzSeeds.h"

#include "graphics/InterfaceSkin.h"

#include <string>

namespace {

constexpr const char* kSkinName = "ui/fuzz.uis";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The skin file in memory, replaced by each input; the services live for the process.
    static auto* services = new GAME::Test::MemoryDataServices;
    services->source->Put(kSkinName, std::string(reinterpret_cast<const char*>(data), size));
    // Without a graphics engine no textures are loaded: the text alone is under test.
    GAME::InterfaceSkin skin(kSkinName, nullptr);
    for (const char* name : {"Ok", "", "Frame"})
        if (const GAME::InterfaceSkin::Area* area = skin.GetArea(name))
            (void)area->region[3];
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("skin", std::string("// menu skin\n"
                                 "Area {\n    name = \"Ok\"\n    bitmap = \"ui/buttons.tex\"\n"
                                 "    region = ( 0, 16.5, 64, 32 )\n}\n"
                                 "Area { flags = name = \"Frame\" region = (1,2,3,4) }\n"));
    sink.Add("nameless", std::string("Area { bitmap = \"a.tex\" region = (1, 2, 3, 4) } loose tokens { }"));
    sink.Add("no_brace", std::string("Area { name = \"Ok\" }\nArea name = \"Frame\" }"));
    sink.Add("unterminated", std::string("Area { name = \"Ok\" region = ( 1, 2"));
    sink.Add("directives", std::string("#ifdef X\nArea {\n#else\nArea { name = \"Ok\" }\n#endif\n/* Area {"));
}
