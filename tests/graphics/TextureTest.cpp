#include "GraphicsFixtures.h"

#include "core/Time.h"
#include "data/FileSystem.h"
#include "datakit/TextureWriter.h"
#include "graphics/RenderTexture.h"

#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <set>

namespace GAME {
namespace {

using DataKit::TextureWriter;
using Software::Failure;
using Software::ResourceKind;

class TextureTest : public GAME::Test::GraphicsFixture
{
protected:
    void SetUp() override { Start(); }

    // The bytes a load of the file would read, through the file system.
    unsigned int DataLength(GraphicsTexture& texture, const std::vector<uint8_t>& bytes)
    {
        PutFile(texture.GetFileName(), bytes);
        File* file = services.files.OpenFile(texture.GetFileName(), FILE_MODE_READ);
        EXPECT_NE(file, nullptr);
        const unsigned int length = texture.GetDataLength(file);
        services.files.CloseFile(file);
        return length;
    }
};

TEST(TextureFrameTest, FramesFollowGameTimeAtTheFrameRate)
{
    // "TEX" at 10 frames a second, three frames: frame 1 from 100 to 199 ms, frame 0 again at 300.
    EXPECT_EQ(GraphicsTexture::SelectFrame(0, 10.0f, 3), 0);
    EXPECT_EQ(GraphicsTexture::SelectFrame(99, 10.0f, 3), 0);
    EXPECT_EQ(GraphicsTexture::SelectFrame(100, 10.0f, 3), 1);
    EXPECT_EQ(GraphicsTexture::SelectFrame(199, 10.0f, 3), 1);
    EXPECT_EQ(GraphicsTexture::SelectFrame(200, 10.0f, 3), 2);
    EXPECT_EQ(GraphicsTexture::SelectFrame(300, 10.0f, 3), 0);
    EXPECT_EQ(GraphicsTexture::SelectFrame(250, 15.0f, 4), 3);

    // No rate, a negative or broken rate, and one frame all show frame 0; huge or negative
    // times stay within the frames.
    EXPECT_EQ(GraphicsTexture::SelectFrame(5000, 0.0f, 3), 0);
    EXPECT_EQ(GraphicsTexture::SelectFrame(5000, -10.0f, 3), 0);
    EXPECT_EQ(GraphicsTexture::SelectFrame(5000, std::nanf(""), 3), 0);
    EXPECT_EQ(GraphicsTexture::SelectFrame(5000, INFINITY, 3), 0);
    EXPECT_EQ(GraphicsTexture::SelectFrame(5000, 10.0f, 1), 0);
    for (int64_t time : {int64_t(INT_MAX), int64_t(INT_MIN), INT64_MAX, INT64_MIN, int64_t(-150)})
        for (float rate : {1.0f, 10.0f, 2147483647.0f, 3.0e38f}) {
            const int frame = GraphicsTexture::SelectFrame(time, rate, 7);
            EXPECT_GE(frame, 0) << time << " " << rate;
            EXPECT_LT(frame, 7) << time << " " << rate;
        }
    EXPECT_EQ(GraphicsTexture::SelectFrame(-150, 10.0f, 3), 2); // -1 modulo 3
}

TEST_F(TextureTest, PlainAndAnimatedFilesLoadTheirFrames)
{
    GraphicsTexture* plain = LoadTexture("Textures/plain.tex", TextureWriter::SolidDds(32, 16, 0xFF112233u));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_TRUE(plain->GetIsReadyToUse());
    EXPECT_EQ(plain->GetNumFrames(), 1);
    EXPECT_EQ(plain->GetWidth(), 32);
    EXPECT_EQ(plain->GetHeight(), 16);
    EXPECT_EQ(plain->GetRect().width, 32.0f);
    EXPECT_EQ(plain->GetFrameRate(), GraphicsTexture::defaultFrameRate);
    EXPECT_EQ(plain->GetVideoMemoryUsage(), 32u * 16u * 4u);
    EXPECT_EQ(plain->GetDebugInfo(), "2 kb");

    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t color : {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u})
        frames.push_back(TextureWriter::SolidDds(4, 4, color, true));
    GraphicsTexture* animated = LoadTexture("Textures/animated.tex", TextureWriter::Tex(10, frames));
    ASSERT_EQ(animated->GetInitResult(), Resource::INIT_SUCCESS);
    ASSERT_EQ(animated->GetNumFrames(), 3);
    EXPECT_EQ(animated->GetFrameRate(), 10.0f);
    EXPECT_EQ(animated->GetTexture(3), nullptr);
    EXPECT_EQ(animated->GetTexture(-1), nullptr);
    EXPECT_NE(animated->GetTexture(0), animated->GetTexture(1));

    // The frame of the game time: every 100 ms the next one.
    GAME::Test::FrameClock clock;
    UnpauseGameTime();
    clock.Advance(1);
    std::set<RenderTexture*> seen;
    for (int step = 0; step < 3; ++step) {
        EXPECT_EQ(animated->GetTexture(),
                  animated->GetTexture(GraphicsTexture::SelectFrame(GetGameTime(), 10.0f, 3)));
        seen.insert(animated->GetTexture());
        clock.Advance(100);
    }
    EXPECT_EQ(seen.size(), 3u);
    PauseGameTime();

    // Unloading gives every frame back to the device.
    const uint32_t textures = Control()->GetResourceCount(ResourceKind::Texture);
    engine->UnloadTexture(animated);
    engine->UnloadTexture(plain);
    engine->GetTextureManager()->SetUnreferencedDelay(-1);
    engine->UnloadUnreferencedResources();
    EXPECT_EQ(Control()->GetResourceCount(ResourceKind::Texture), textures - 4);
}

TEST_F(TextureTest, FailedLoadsShowTheDefaultOrTheEmptyTexture)
{
    RenderTexture* defaultTexture = engine->GetDefaultTexture();
    RenderTexture* emptyTexture = engine->GetEmptyTexture();
    const uint32_t engineTextures = Control()->GetResourceCount(ResourceKind::Texture);

    // Not a texture at all.
    GraphicsTexture* tiny = LoadTexture("Textures/tiny.tex", {'D', 'D', 'S'});
    EXPECT_EQ(tiny->GetInitResult(), Resource::INIT_INVALID_DATA);
    EXPECT_EQ(tiny->GetTexture(), defaultTexture);
    // A DDS file the device rejects.
    std::vector<uint8_t> broken = TextureWriter::SolidDds(4, 4, 0xFFFFFFFFu);
    broken[16] = 0; // width 0
    GraphicsTexture* rejected = LoadTexture("Textures/rejected.tex", broken);
    EXPECT_EQ(rejected->GetInitResult(), Resource::INIT_INVALID_DATA);
    EXPECT_EQ(rejected->GetTexture(), defaultTexture);
    // A file that does not exist.
    GraphicsTexture* missing = engine->LoadTexture("Textures/missing.tex");
    EXPECT_EQ(missing->GetTexture(), defaultTexture);

    // Video memory runs short: worth a retry, the empty texture meanwhile.
    Control()->SetTotalVideoMemory(static_cast<uint32_t>(Control()->GetResourceBytes()) + 100u);
    GraphicsTexture* large = LoadTexture("Textures/large.tex", TextureWriter::SolidDds(64, 64, 0xFFFFFFFFu));
    EXPECT_EQ(large->GetInitResult(), Resource::INIT_OUT_OF_MEMORY);
    EXPECT_EQ(large->GetTexture(), emptyTexture);
    // The device is lost: no frame, and the load is tried again.
    Control()->SetTotalVideoMemory(256u * 1024u * 1024u);
    Control()->SetDeviceLost(true);
    GraphicsTexture* lost = LoadTexture("Textures/lost.tex", TextureWriter::SolidDds(4, 4, 0xFFFFFFFFu));
    EXPECT_EQ(lost->GetInitResult(), Resource::INIT_FAILED);
    EXPECT_EQ(lost->GetNumFrames(), 0);
    EXPECT_EQ(lost->GetTexture(), nullptr);
    Control()->SetDeviceLost(false);
    services.frame = 100; // retries come at most every 60 frames
    EXPECT_NE(lost->GetTexture(), nullptr);
    EXPECT_EQ(lost->GetInitResult(), Resource::INIT_SUCCESS);

    // A frame failing in the middle of a "TEX" gives its frames back before the fallback.
    std::vector<std::vector<uint8_t>> frames = {TextureWriter::SolidDds(4, 4, 0xFF00FF00u), broken};
    GraphicsTexture* half = LoadTexture("Textures/half.tex", TextureWriter::Tex(5, frames));
    EXPECT_EQ(half->GetInitResult(), Resource::INIT_INVALID_DATA);
    EXPECT_EQ(half->GetNumFrames(), 1);
    EXPECT_EQ(half->GetTexture(), defaultTexture);

    // Unloading the fallbacks leaves the engine's own textures alone.
    for (GraphicsTexture* texture : {tiny, rejected, missing, large, half}) {
        texture->Unload();
        engine->UnloadTexture(texture);
    }
    lost->Unload();
    engine->UnloadTexture(lost);
    EXPECT_EQ(Control()->GetResourceCount(ResourceKind::Texture), engineTextures);
    EXPECT_EQ(engine->GetDefaultTexture()->GetWidth(), GraphicsEngine::defaultTextureSize);
}

TEST_F(TextureTest, AFrameTableWithoutFramesLoadsAndShowsNothing)
{
    // The header alone, and with bytes too few for a frame size after it.
    for (size_t size : {8u, 10u, 11u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> bytes = TextureWriter::Tex(12, {});
        bytes.resize(size, 0);
        const std::string name = "Textures/none" + std::to_string(size) + ".tex";
        GraphicsTexture* texture = LoadTexture(name, bytes);
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(texture->GetInitResult(), Resource::INIT_SUCCESS);
        EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED);
        EXPECT_TRUE(texture->GetIsReadyToUse());
        EXPECT_EQ(texture->GetNumFrames(), 0);
        EXPECT_EQ(texture->GetFrameRate(), 12.0f);
        // No fallback stands in: there is simply nothing to draw.
        EXPECT_EQ(texture->GetTexture(), nullptr);
        EXPECT_EQ(texture->GetTexture(0), nullptr);
        EXPECT_EQ(texture->GetWidth(), 0);
        EXPECT_EQ(texture->GetVideoMemoryUsage(), 0u);
        engine->UnloadTexture(texture);
    }
}

TEST_F(TextureTest, MalformedContainersNeverReadPastTheirData)
{
    GraphicsTexture texture(engine->GetTextureManager(), "Textures/direct.tex", engine.get());
    auto init = [&texture](const std::vector<uint8_t>& bytes) {
        const Resource::InitResult result = texture.Initialize(bytes.data(), static_cast<int>(bytes.size()));
        return result;
    };
    const std::vector<uint8_t> dds = TextureWriter::SolidDds(4, 4, 0xFF336699u);

    // Shorter than the "TEX" header: not a texture.
    std::vector<uint8_t> header = TextureWriter::Tex(10, {});
    header.resize(3);
    EXPECT_EQ(init(header), Resource::INIT_INVALID_DATA);
    EXPECT_EQ(texture.GetNumFrames(), 0);
    // A frame size far past the end (12 + size overflows 32 bits): the frame gets the bytes
    // there are and the frames end.
    std::vector<uint8_t> overflowing = TextureWriter::Tex(10, {dds});
    overflowing[8] = overflowing[9] = overflowing[10] = overflowing[11] = 0xFF;
    EXPECT_EQ(init(overflowing), Resource::INIT_SUCCESS);
    EXPECT_EQ(texture.GetNumFrames(), 1);
    // A frame size of 0 would never move on.
    std::vector<uint8_t> empty = TextureWriter::Tex(10, {dds, {}});
    EXPECT_EQ(init(empty), Resource::INIT_INVALID_DATA);
    // A zero or negative rate shows frame 0 whatever the time.
    EXPECT_EQ(init(TextureWriter::Tex(-5, {dds, dds})), Resource::INIT_SUCCESS);
    EXPECT_EQ(texture.GetFrameRate(), -5.0f);
    EXPECT_EQ(GraphicsTexture::SelectFrame(123456, texture.GetFrameRate(), texture.GetNumFrames()), 0);
    // Bytes after the last frame too few for a size word are ignored.
    std::vector<uint8_t> trailing = TextureWriter::Tex(10, {dds});
    trailing.push_back(1);
    trailing.push_back(2);
    EXPECT_EQ(init(trailing), Resource::INIT_SUCCESS);
    EXPECT_EQ(init({}), Resource::INIT_INVALID_DATA);
    texture.Destroy();
}

TEST_F(TextureTest, DataLengthFollowsTheReductionTable)
{
    // One frame padded after its image: at a reduction the device needs only the image.
    const std::vector<uint8_t> dds = TextureWriter::SolidDds(16, 16, 0xFFFFFFFFu);
    const std::vector<uint8_t> single = TextureWriter::Tex(15, {dds}, 1, 500);
    const std::vector<uint8_t> several = TextureWriter::Tex(15, {dds, dds}, 1, 500);
    std::vector<uint8_t> plainPadded = dds;
    plainPadded.resize(dds.size() + 500, 0);
    ASSERT_GT(dds.size(), GraphicsTexture::headerProbeSize);

    engine->SetDirectoryTextureReduction("Textures/Reduced/", 1);
    GraphicsTexture reduced(engine->GetTextureManager(), "textures\\reduced\\a.tex", engine.get());
    EXPECT_EQ(DataLength(reduced, single), dds.size() + 12);
    EXPECT_EQ(reduced.GetReduction(), 1);
    EXPECT_EQ(DataLength(reduced, several), several.size());         // several frames: whole
    EXPECT_EQ(DataLength(reduced, plainPadded), plainPadded.size()); // plain DDS: whole
    const std::vector<uint8_t> small(200, 'x');
    EXPECT_EQ(DataLength(reduced, small), small.size()); // 256 bytes or less: whole
    EXPECT_EQ(reduced.GetDataLength(nullptr), 0u);

    // Without a reduction the whole file is read, one frame or not.
    GraphicsTexture full(engine->GetTextureManager(), "Textures/Other/a.tex", engine.get());
    EXPECT_EQ(DataLength(full, single), single.size());
    EXPECT_EQ(full.GetReduction(), 0);

    // The shortened read still loads: the device reads the image it needs.
    GraphicsTexture* loaded = LoadTexture("Textures/Reduced/b.tex", single);
    EXPECT_EQ(loaded->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(loaded->GetWidth(), 16); // one level: nothing to drop
    engine->UnloadTexture(loaded);
}

} // namespace
} // namespace GAME
