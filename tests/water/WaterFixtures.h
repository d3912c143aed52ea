// What the water tests share: a software render device of their own (no engine), a ground whose
// height a function gives, water made over it, registered water types, and small helpers to write
// and read water blocks. Every test starts with an empty type manager and a seeded water
// generator.
#pragma once

#include "common/LogCapture.h"
#include "core/Vec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/TerrainWriter.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/SoftwareDeviceAccess.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainRT.h"
#include "terrain/Water.h"
#include "terrain/WaterElement.h"
#include "terrain/WaterRandom.h"
#include "terrain/WaterType.h"
#include "terrain/WaterTypeManager.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace GAME::WaterTest {

using HeightFunction = std::function<float(float x, float z)>;

// Reads into the run-time terrain a ground of at least size x size cells (a power of two a side,
// as run-time terrains are) whose samples, one unit apart, take the function's heights; between
// samples the terrain interpolates. False when the terrain refuses the body.
inline bool ShapeGround(TerrainRT& ground, unsigned minSize, const HeightFunction& height)
{
    unsigned size = 1;
    while (size < minSize)
        size *= 2;
    DataKit::TerrainWriter writer(size + 1, size + 1);
    for (unsigned y = 0; y <= size; ++y)
        for (unsigned x = 0; x <= size; ++x)
            writer.Height(x, y) = height(static_cast<float>(x), static_cast<float>(y));
    const std::vector<uint8_t> body = writer.Build();
    BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    return ground.Load(reader, 13);
}

inline std::unique_ptr<TerrainRT> MakeGround(unsigned size, const HeightFunction& height)
{
    auto ground = std::make_unique<TerrainRT>(nullptr);
    if (!ShapeGround(*ground, size, height))
        return nullptr;
    return ground;
}

inline std::vector<uint8_t> Bytes(const BinaryWriter& writer)
{
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

class WaterTestBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WaterTypeManager::Destroy();
        WaterRandom::Seed(1);
        device = RenderDevice::Create("Software");
        ASSERT_NE(device, nullptr);
        control = software.Device(device);
        ASSERT_NE(control, nullptr);
    }

    void TearDown() override
    {
        waters.clear();
        grounds.clear();
        WaterTypeManager::Destroy();
        RenderDevice::Destroy(device);
        RenderDevice::UnloadLibraries();
    }

    // A registered type (one reference held by the manager for the test).
    WaterType* Type(const std::string& name)
    {
        WaterType* type = WaterTypeManager::Get()->GetWaterType(name);
        if (type) {
            WaterTypeManager::Get()->ReleaseWaterType(type);
            return type;
        }
        return WaterTypeManager::Get()->CreateWaterType(name);
    }

    // Water over a ground of size x size units (null height: no ground, height 0 everywhere).
    Water& MakeWater(unsigned size, HeightFunction height = nullptr)
    {
        const TerrainBase* ground = nullptr;
        if (height) {
            grounds.push_back(MakeGround(size, height));
            ground = grounds.back().get();
            EXPECT_NE(ground, nullptr);
        }
        waters.push_back(std::make_unique<Water>(nullptr));
        waters.back()->Initialize(size, size, ground, nullptr, device);
        return *waters.back();
    }

    static std::vector<uint8_t> Save(Water& water)
    {
        BinaryWriter writer(256);
        water.Save(writer);
        return Bytes(writer);
    }

    static bool Load(Water& water, const std::vector<uint8_t>& bytes)
    {
        BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
        return water.Load(reader);
    }

    // The vertices of an element's buffer, read back from the software device.
    static std::vector<WaterVertex> Vertices(const WaterElement& element)
    {
        RenderVertexBuffer* buffer = element.GetVertexBuffer();
        if (!buffer)
            return {};
        const auto* data = static_cast<const WaterVertex*>(buffer->Lock());
        std::vector<WaterVertex> out(data, data + buffer->GetSize() / sizeof(WaterVertex));
        buffer->Unlock();
        return out;
    }

    static unsigned TreeCount(const Water& water)
    {
        return water.GetTree() ? water.GetTree()->GetObjectCount() : 0;
    }

    GAME::Test::SoftwareModuleAccess software;
    RenderDevice* device = nullptr;
    Software::DeviceControl* control = nullptr;
    std::vector<std::unique_ptr<TerrainRT>> grounds;
    std::vector<std::unique_ptr<Water>> waters;
};

} // namespace GAME::WaterTest
