#include "SoftwareDeviceAccess.h"
#include "common/LogCapture.h"

#include "graphics/RenderDevice.h"
#include "graphics/Viewport.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

// Every test leaves the process-wide module table empty, with no device alive.
class DeviceModuleTable : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (RenderDevice*& device : devices)
            RenderDevice::Destroy(device);
        RenderDevice::UnloadLibraries();
    }

    RenderDevice* Create(const char* name)
    {
        RenderDevice* device = RenderDevice::Create(name);
        if (device)
            devices.push_back(device);
        return device;
    }

    GAME::Test::SoftwareModuleAccess software;
    std::vector<RenderDevice*> devices;
};

TEST_F(DeviceModuleTable, TwoDevicesFromOneModuleHaveTheirOwnEntries)
{
    ASSERT_NE(software.Get(), nullptr);
    RenderDevice* first = Create("Software");
    RenderDevice* second = Create("Software");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    const int firstEntry = RenderDevice::FindDeviceLibrary(first);
    const int secondEntry = RenderDevice::FindDeviceLibrary(second);
    EXPECT_GE(firstEntry, 0);
    EXPECT_GE(secondEntry, 0);
    EXPECT_NE(firstEntry, secondEntry);
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 2u);

    RenderDevice* held = first;
    RenderDevice::Destroy(devices[0]);
    EXPECT_EQ(devices[0], nullptr);
    EXPECT_EQ(RenderDevice::FindDeviceLibrary(held), -1);
    EXPECT_EQ(RenderDevice::FindDeviceLibrary(second), secondEntry);
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 1u);
    EXPECT_EQ(RenderDevice::FindDeviceLibrary(nullptr), -1);
}

TEST_F(DeviceModuleTable, ModulesThatCannotMakeADeviceFailWithALogLine)
{
    GAME::Test::LogCapture log;
    EXPECT_EQ(Create("NoSuchDeviceModule"), nullptr);
    EXPECT_TRUE(log.Contains("NoSuchDeviceModule.so"));
    log.Clear();
    EXPECT_EQ(Create("TestNoCreateDevice"), nullptr);
    EXPECT_TRUE(log.Contains("has no CreateRenderDevice"));
    // Names are module names, never paths.
    EXPECT_EQ(Create("../Software"), nullptr);
    EXPECT_EQ(Create(""), nullptr);
    EXPECT_EQ(Create(nullptr), nullptr);

    software.Get()->InjectCreateFailure(1);
    log.Clear();
    EXPECT_EQ(Create("Software"), nullptr);
    EXPECT_TRUE(log.Contains("did not create a device"));
    EXPECT_NE(Create("Software"), nullptr);
    EXPECT_EQ(RenderDevice::FindDeviceLibrary(devices.back()), 0); // failures leave no entry
}

TEST_F(DeviceModuleTable, DeviceOfAModuleWithoutDestroyIsNotReleased)
{
    GAME::Test::LogCapture log;
    RenderDevice* device = RenderDevice::Create("TestNoDestroyDevice");
    ASSERT_NE(device, nullptr);
    RenderDevice* held = device;
    RenderDevice::Destroy(device);
    EXPECT_EQ(device, nullptr);
    EXPECT_TRUE(log.Contains("no DestroyRenderDevice"));
    // The device still lives, so its entry still holds it; the module frees it when it unloads.
    EXPECT_GE(RenderDevice::FindDeviceLibrary(held), 0);
    EXPECT_EQ(held->GetMaxTextureSize(), 16384);
}

TEST_F(DeviceModuleTable, DestroyingTwiceReleasesOnce)
{
    GAME::Test::LogCapture log;
    RenderDevice* device = Create("Software");
    ASSERT_NE(device, nullptr);
    RenderDevice* stale = device;
    RenderDevice::Destroy(devices[0]);
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 0u);
    RenderDevice::Destroy(stale);
    EXPECT_EQ(stale, nullptr);
    EXPECT_TRUE(log.Contains("not made by a loaded device module"));
}

TEST_F(DeviceModuleTable, FullTableFailsCleanlyAndReusesDestroyedEntries)
{
    for (int i = 0; i < RenderDevice::maxDeviceLibraries; ++i)
        ASSERT_NE(Create("Software"), nullptr) << i;

    GAME::Test::LogCapture log;
    EXPECT_EQ(RenderDevice::Create("Software"), nullptr);
    EXPECT_TRUE(log.Contains("table is full"));
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 32u);

    // A destroyed device's entry is taken by the next device once the table is full.
    const int freed = RenderDevice::FindDeviceLibrary(devices[7]);
    RenderDevice::Destroy(devices[7]);
    RenderDevice* again = Create("Software");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(RenderDevice::FindDeviceLibrary(again), freed);
    EXPECT_EQ(RenderDevice::Create("Software"), nullptr);

    // Entries taken by devices that could not be released are never reused.
    for (RenderDevice*& device : devices)
        RenderDevice::Destroy(device);
    RenderDevice::UnloadLibraries();
    for (int i = 0; i < RenderDevice::maxDeviceLibraries; ++i)
        ASSERT_NE(Create("TestNoDestroyDevice"), nullptr);
    RenderDevice::Destroy(devices.back());
    log.Clear();
    EXPECT_EQ(RenderDevice::Create("Software"), nullptr);
    EXPECT_TRUE(log.Contains("table is full"));
}

TEST_F(DeviceModuleTable, UnloadingTwiceFreesEachModuleOnce)
{
    // The test's own reference keeps Software.so loaded; a table that freed its reference twice
    // would take this one as well and unload the module under the test.
    RenderDevice* device = Create("Software");
    ASSERT_NE(device, nullptr);
    RenderDevice::Destroy(devices[0]);
    RenderDevice::UnloadLibraries();
    RenderDevice::UnloadLibraries();
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 0u);
    EXPECT_EQ(RenderDevice::FindDeviceLibrary(device), -1);

    // A device still alive when the table unloads is never called into afterwards.
    GAME::Test::LogCapture log;
    RenderDevice* survivor = RenderDevice::Create("Software");
    ASSERT_NE(survivor, nullptr);
    RenderDevice::UnloadLibraries();
    EXPECT_TRUE(log.Contains("not destroyed"));
    RenderDevice::Destroy(survivor);
    EXPECT_EQ(survivor, nullptr);
    // Still alive in its module, which frees it when it unloads.
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 1u);
}

TEST(PlatformModule, LoadsByPlainNameBesideTheEngineLibrary)
{
    std::string error;
    Platform::ModuleHandle module = Platform::LoadModule("TestNoCreateDevice", &error);
    ASSERT_NE(module, nullptr) << error;
    auto version =
        reinterpret_cast<int (*)()>(Platform::FindModuleSymbol(module, "TestNoCreateDeviceVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 1);
    EXPECT_EQ(Platform::FindModuleSymbol(module, "CreateRenderDevice"), nullptr);
    EXPECT_EQ(Platform::FindModuleSymbol(module, nullptr), nullptr);
    EXPECT_TRUE(Platform::UnloadModule(module));

    EXPECT_EQ(Platform::LoadModule("NoSuchModuleAnywhere", &error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Platform::LoadModule("/tmp/Software", &error), nullptr);
    EXPECT_EQ(Platform::FindModuleSymbol(nullptr, "CreateRenderDevice"), nullptr);
    EXPECT_FALSE(Platform::UnloadModule(nullptr));
}

TEST(RenderGeneration, NamesAreExactAndPartOfTheShaderFormat)
{
    EXPECT_EQ(RenderDevice::GetGenerationForName("GeForce5"), RENDER_GENERATION_GEFORCE5);
    EXPECT_EQ(RenderDevice::GetGenerationForName("geforce5"), RENDER_GENERATION_UNKNOWN);
    EXPECT_EQ(RenderDevice::GetGenerationForName("R200"), 6);
    EXPECT_EQ(RenderDevice::GetGenerationForName(nullptr), RENDER_GENERATION_UNKNOWN);
    EXPECT_STREQ(RenderDevice::GetNameForGeneration(RENDER_GENERATION_UNKNOWN), "Unknown");
    EXPECT_STREQ(RenderDevice::GetNameForGeneration(RENDER_GENERATION_RADEON9000), "Radeon9000");
    for (int id = 0; id < RENDER_GENERATION_COUNT; ++id)
        EXPECT_EQ(RenderDevice::GetGenerationForName(
                      RenderDevice::GetNameForGeneration(static_cast<RenderGenerationId>(id))),
                  id);
    EXPECT_STREQ(RenderDevice::GetNameForGeneration(static_cast<RenderGenerationId>(7)), "Unknown");
    EXPECT_STREQ(RenderDevice::GetNameForGeneration(static_cast<RenderGenerationId>(-1)), "Unknown");
}

TEST(Viewport, MapsPixelsToTheUnitRangeWithoutFlipping)
{
    const Viewport viewport(100, 50, 200, 100);
    EXPECT_FLOAT_EQ(viewport.GetAspectRatio(), 2.0f);
    EXPECT_EQ(viewport.GetRect(), Rect(100.0f, 50.0f, 200.0f, 100.0f));
    const Vec2 topLeft = viewport.ConvertFromDeviceCoords(Vec2(100.0f, 50.0f));
    const Vec2 bottomRight = viewport.ConvertFromDeviceCoords(Vec2(300.0f, 150.0f));
    EXPECT_FLOAT_EQ(topLeft.x, -1.0f);
    EXPECT_FLOAT_EQ(topLeft.y, -1.0f);
    EXPECT_FLOAT_EQ(bottomRight.x, 1.0f);
    EXPECT_FLOAT_EQ(bottomRight.y, 1.0f);

    // A viewport without size gives zeros, never infinities.
    const Viewport empty(0, 0, 0, 0);
    EXPECT_EQ(empty.GetAspectRatio(), 0.0f);
    EXPECT_EQ(empty.ConvertFromDeviceCoords(Vec2(5.0f, 5.0f)), Vec2(0.0f, 0.0f));
}

} // namespace
} // namespace GAME
