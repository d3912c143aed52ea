// The world's answers to the floors below: one answerer for each floor's interface, installed while
// the library is loaded.
#include "world/WorldHooks.h"

#include <array>
#include <gtest/gtest.h>

namespace GAME {
namespace {

// The answers installed for core, graphics, navigation, scene and network when it is made.
struct Answers
{
    RegionServices* region = RegionServices::Get();
    GraphicsWorldServices* graphics = GraphicsWorldServices::Get();
    NavigationServices* navigation = NavigationServices::Get();
    SceneWorldServices* scene = SceneWorldServices::Get();
    NetworkWorldServices* network = NetworkWorldServices::Get();

    std::array<const void*, 5> All() const { return {region, graphics, navigation, scene, network}; }
};

TEST(WorldHooksTest, EachFloorHasAnAnswerOfItsOwnAndRemovingOnesLeavesWhatOthersPutThere)
{
    const Answers library;
    for (const void* answers : library.All())
        ASSERT_NE(answers, nullptr);
    {
        WorldHooks mine;
        mine.Install();
        const std::array<const void*, 5> installed = Answers().All();
        for (size_t i = 0; i < installed.size(); ++i)
            EXPECT_TRUE(installed[i] && installed[i] != library.All()[i]) << i;
        // The scene's answers were put back since: they stay, the other four go.
        SceneWorldServices::Install(library.scene);
        mine.Remove();
        EXPECT_EQ(Answers().All(),
                  (std::array<const void*, 5>{nullptr, nullptr, nullptr, library.scene, nullptr}));
    }
    RegionServices::Install(library.region);
    GraphicsWorldServices::Install(library.graphics);
    NavigationServices::Install(library.navigation);
    NetworkWorldServices::Install(library.network);
    EXPECT_EQ(Answers().All(), library.All());
}

} // namespace
} // namespace GAME
