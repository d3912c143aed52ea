#include "common/LogCapture.h"

#include "core/Vec3.h"
#include "core/WorldVec3.h"
#include "navigation/PathFinder.h"

#include <gtest/gtest.h>

namespace GAME {

class Portal;

namespace {

TEST(PathFinderTest, KeepsEachPortalOnceAndFindsNoPaths)
{
    // Portals are only compared by address here.
    alignas(8) char storage[2][8];
    Portal* first = reinterpret_cast<Portal*>(storage[0]);
    Portal* second = reinterpret_cast<Portal*>(storage[1]);

    PathFinder* finder = PathFinder::Get();
    finder->AddPortal(first);
    finder->AddPortal(second);
    finder->AddPortal(first); // placed again
    finder->AddPortal(nullptr);
    EXPECT_EQ(finder->GetNumPortals(), 2);
    finder->RemovePortal(first);
    finder->RemovePortal(first); // gone already
    EXPECT_FALSE(finder->HasPortal(first));
    EXPECT_TRUE(finder->HasPortal(second));

    GAME::Test::LogCapture log;
    const WorldVec3 nowhere;
    EXPECT_EQ(finder->FindPath(0, nowhere, nowhere, Vec3(), 1.0f, 0.5f, 2.0f, 0.0f, 0), nullptr);
    EXPECT_EQ(finder->FindPath(0, nowhere, nowhere, Vec3(), 1.0f, 0.5f, 2.0f, 0.0f, 0), nullptr);
    EXPECT_EQ(log.Count(), 1u); // why, said once

    PathFinder::Destroy();
    EXPECT_EQ(PathFinder::Get()->GetNumPortals(), 0); // a new finder after shut-down
    PathFinder::Destroy();
}

} // namespace
} // namespace GAME
