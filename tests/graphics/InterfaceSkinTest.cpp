// Interface skin files read from the engine's file system: areas with their textures and regions,
// the tokens the reader skips, and files that stop short or break the format.
#include "GraphicsFixtures.h"

#include "datakit/TextureWriter.h"
#include "graphics/InterfaceSkin.h"

#include <gtest/gtest.h>
#include <memory>

namespace GAME {
namespace {

using Test::GraphicsFixture;

class InterfaceSkinTest : public GraphicsFixture
{
protected:
    void SetUp() override
    {
        Start();
        PutFile("ui/buttons.tex", DataKit::TextureWriter::SolidDds(4, 4, 0xFFFFFFFFu));
        PutFile("ui/frames.tex", DataKit::TextureWriter::SolidDds(4, 4, 0xFF000000u));
    }
    std::unique_ptr<InterfaceSkin> Load(const std::string& text)
    {
        services.source->Put("ui/test.uis", text);
        return std::make_unique<InterfaceSkin>("ui/test.uis", engine.get());
    }
    int References(const char* fileName) { return engine->GetTextureManager()->GetReferenceCount(fileName); }
    static bool RegionIs(const InterfaceSkin::Area* area, float a, float b, float c, float d)
    {
        return area && area->region[0] == a && area->region[1] == b && area->region[2] == c &&
               area->region[3] == d;
    }
};

TEST_F(InterfaceSkinTest, AreasNameTextureRegions)
{
    auto skin = Load("// buttons of the main menu\n"
                     "Version 2 \"loose text\" { }\n"
                     "Area {\n"
                     "    name = \"Ok Button\"\n"
                     "    bitmap = \"ui/buttons.tex\"\n"
                     "    region = ( 0, 16.5, 64 , 32 )\n"
                     "}\n"
                     "Area { bitmap = \"ui/frames.tex\" region = (1, 2, 3, 4) }\n" // no name: dropped
                     "Area { flags = name = \"Plain\" region=(-1,2e1,+3,4) }\n");
    EXPECT_TRUE(skin->IsLoaded());
    EXPECT_EQ(skin->GetNumAreas(), 2u);

    const InterfaceSkin::Area* ok = skin->GetArea("Ok Button");
    ASSERT_NE(ok, nullptr);
    ASSERT_NE(ok->texture, nullptr);
    EXPECT_EQ(ok->texture->GetFileName(), std::string("ui/buttons.tex"));
    EXPECT_TRUE(RegionIs(ok, 0.0f, 16.5f, 64.0f, 32.0f));

    // The unknown key took "=" as its separator; "name" was the next key.
    const InterfaceSkin::Area* plain = skin->GetArea("Plain");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->texture, nullptr) << "no bitmap";
    EXPECT_TRUE(RegionIs(plain, -1.0f, 20.0f, 3.0f, 4.0f));

    EXPECT_EQ(skin->GetArea("ok button"), nullptr) << "names are exact";
    EXPECT_EQ(skin->GetArea(nullptr), nullptr);
    EXPECT_EQ(References("ui/frames.tex"), -1) << "a nameless area loads no texture";
    EXPECT_EQ(References("ui/buttons.tex"), 1);
    skin.reset();
    EXPECT_EQ(References("ui/buttons.tex"), 0);
}

TEST_F(InterfaceSkinTest, ALaterAreaOfTheSameNameReplacesTheEarlierOne)
{
    auto skin = Load("Area { name = \"Frame\" bitmap = \"ui/buttons.tex\" region = (1, 1, 1, 1) }\n"
                     "Area { name = \"Frame\" bitmap = \"ui/frames.tex\" region = (2, 2, 2, 2) }\n");
    EXPECT_EQ(skin->GetNumAreas(), 1u);
    const InterfaceSkin::Area* frame = skin->GetArea("Frame");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->texture->GetFileName(), std::string("ui/frames.tex"));
    EXPECT_TRUE(RegionIs(frame, 2.0f, 2.0f, 2.0f, 2.0f));
    EXPECT_EQ(References("ui/buttons.tex"), 0);
    EXPECT_EQ(References("ui/frames.tex"), 1);
}

TEST_F(InterfaceSkinTest, RegionsThatAreNotFourNumbersAreZero)
{
    auto skin = Load("Area { name = \"a\" region = ( 1, 2, x, 4 ) }\n"
                     "Area { name = \"b\" region = ( 1, 2, 3 ) }\n"
                     "Area { name = \"c\" region = ( 1, 2, 3, nan ) }\n"
                     "Area { name = \"d\" region = 5 }\n"
                     "Area { name = \"e\" region = ( 1 2, 3, 4, 5 ) }\n"
                     "Area { name = \"f\" region = (9,8,7,6) region = (,,,) }\n"
                     "Area { name = \"g\" region = ( 1e40, 2, 3, 4 ) }\n"
                     // What follows the fourth number is not looked at.
                     "Area { name = \"h\" region = ( 1, 2, 3, 4, 5 ) }\n");
    EXPECT_TRUE(skin->IsLoaded());
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g"})
        EXPECT_TRUE(RegionIs(skin->GetArea(name), 0.0f, 0.0f, 0.0f, 0.0f)) << name;
    EXPECT_TRUE(RegionIs(skin->GetArea("h"), 1.0f, 2.0f, 3.0f, 4.0f));
    EXPECT_TRUE(log.Contains("is not four numbers"));
}

TEST_F(InterfaceSkinTest, BrokenFilesKeepTheAreasReadBeforeTheFault)
{
    // "Area" without "{".
    auto skin = Load("Area { name = \"First\" }\nArea name = \"Second\" }\nArea { name = \"Third\" }");
    EXPECT_FALSE(skin->IsLoaded());
    EXPECT_NE(skin->GetArea("First"), nullptr);
    EXPECT_EQ(skin->GetArea("Second"), nullptr);
    EXPECT_EQ(skin->GetArea("Third"), nullptr);
    EXPECT_TRUE(log.Contains("without"));

    // The text ends inside a block, after a key, a separator, or in the middle of a value.
    for (const char* tail : {"Area { name = \"Cut\"", "Area { name = \"Cut\" bitmap",
                             "Area { name = \"Cut\" bitmap =", "Area { name = \"Cut",
                             "Area { name = \"Cut\" region = ( 1, 2", "Area {", "Area"}) {
        skin = Load(std::string("Area { name = \"First\" bitmap = \"ui/frames.tex\" }\n") + tail);
        EXPECT_FALSE(skin->IsLoaded()) << tail;
        EXPECT_EQ(skin->GetNumAreas(), 1u) << tail;
        EXPECT_NE(skin->GetArea("First"), nullptr) << tail;
    }
    skin.reset();
    EXPECT_EQ(References("ui/frames.tex"), 0);

    // No file, and an empty one.
    skin = std::make_unique<InterfaceSkin>("ui/missing.uis", engine.get());
    EXPECT_FALSE(skin->IsLoaded());
    EXPECT_EQ(skin->GetNumAreas(), 0u);
    skin = Load("");
    EXPECT_TRUE(skin->IsLoaded());
    EXPECT_EQ(skin->GetNumAreas(), 0u);
}

} // namespace
} // namespace GAME
