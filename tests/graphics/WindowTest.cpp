#include "common/LogCapture.h"

#include "graphics/Window.h"
#include "graphics/WindowEventHandler.h"
#include "platform/HeadlessWindowBackend.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

using Platform::HeadlessWindowBackend;

class RecordingHandler : public WindowEventHandler
{
public:
    void OnAltEnter() override { calls.push_back("alt-enter"); }
    void OnMinimize() override { calls.push_back("minimize"); }
    void OnWindowChange() override { calls.push_back("change"); }
    std::vector<std::string> calls;
};

struct HeadlessWindow
{
    HeadlessWindow() : backend(new HeadlessWindowBackend), window(backend)
    {
        backend->SetScreenSize(1920, 1080);
    }
    HeadlessWindowBackend* backend; // owned by the window
    Window window;
};

TEST(WindowTest, MakesAWindowOfTheClientSizeCentredShownAndInFront)
{
    GAME::Test::LogCapture log;
    HeadlessWindow w;
    ASSERT_TRUE(w.window.Initialize("Marrow", 800, 600, nullptr, Window::STYLE_FIXED));
    EXPECT_EQ(w.backend->GetCaption(), "Marrow");
    EXPECT_EQ(w.window.GetClientWidth(), 800);
    EXPECT_EQ(w.window.GetClientHeight(), 600);
    EXPECT_EQ(w.backend->GetX(), 560);
    EXPECT_EQ(w.backend->GetY(), 240);
    EXPECT_TRUE(w.window.IsActive());
    EXPECT_EQ(w.window.GetSystemWindow(), nullptr); // no display behind it

    w.window.SetSize(1024, 768, Window::STYLE_RESIZABLE);
    EXPECT_EQ(w.window.GetClientWidth(), 1024);
    EXPECT_EQ(w.backend->GetStyle(), Platform::WindowStyle::Resizable);
    w.window.SetSize(800, 600, static_cast<Window::Style>(7)); // unknown: fixed
    EXPECT_EQ(w.window.GetStyle(), Window::STYLE_FIXED);
    EXPECT_EQ(w.backend->GetStyle(), Platform::WindowStyle::Fixed);
    w.window.SetSize(640, 480, Window::STYLE_FULL_SCREEN);
    EXPECT_EQ(w.backend->GetStyle(), Platform::WindowStyle::FullScreen);
    w.window.Center();
    EXPECT_EQ(w.backend->GetX(), 640);

    w.window.Show(false);
    EXPECT_FALSE(w.window.IsActive());
    w.window.Show(true);
    w.window.SetCaption("Other");
    EXPECT_EQ(w.backend->GetCaption(), "Other");
    w.window.Maximize();
    EXPECT_TRUE(w.backend->IsMaximized());

    // A second Initialize replaces the window; failures are logged.
    EXPECT_FALSE(w.window.Initialize("Marrow", 0, 600, nullptr, Window::STYLE_FIXED));
    w.backend->FailNextCreate();
    EXPECT_FALSE(w.window.Initialize("Marrow", 800, 600, nullptr, Window::STYLE_FIXED));
    EXPECT_TRUE(log.Contains("couldn't create the window 'Marrow'", 1));
    EXPECT_EQ(w.window.GetClientWidth(), 0);
    EXPECT_FALSE(w.window.IsActive());

    const uint32_t pixels[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu};
    const Platform::WindowIcon icon{2, 2, pixels};
    ASSERT_TRUE(w.window.Initialize("Marrow", 320, 200, &icon, Window::STYLE_FIXED));
    EXPECT_TRUE(w.backend->HadIcon());
    w.window.Destroy();
    EXPECT_FALSE(w.backend->IsCreated());
    EXPECT_EQ(w.window.GetClientWidth(), 0);
    EXPECT_TRUE(w.window.ProcessMessages()); // nothing to pump, not closed
}

TEST(WindowTest, TheHandlerHearsAltEnterOncePerPressAndCommandsByTheirExactValues)
{
    HeadlessWindow w;
    RecordingHandler handler;
    ASSERT_TRUE(w.window.Initialize("Marrow", 800, 600, nullptr, Window::STYLE_FIXED));
    w.window.SetEventHandler(&handler);

    w.backend->PostSystemKey(Platform::virtualKeyReturn, true);
    w.backend->PostSystemKey(Platform::virtualKeyReturn, true, true); // the held key repeats
    w.backend->PostSystemKey(Platform::virtualKeyReturn, false);      // Enter alone
    w.backend->PostSystemKey(65, true);                               // Alt+A
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_MINIMIZE);
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_RESTORE);
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_MOVE, 10, 20);
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_SIZE, 640, 480);
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_MOVE | 2, 30, 40); // the caption dragged
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_KEY_MENU);
    EXPECT_TRUE(w.window.ProcessMessages());
    EXPECT_EQ(handler.calls,
              (std::vector<std::string>{"alt-enter", "minimize", "change", "change", "change"}));
    // Carried out: the last move wins, the size took; the key menu is swallowed.
    EXPECT_EQ(w.backend->GetX(), 30);
    EXPECT_EQ(w.backend->GetY(), 40);
    EXPECT_EQ(w.window.GetClientWidth(), 640);
    EXPECT_EQ(w.backend->GetRefusedCommands(), (std::vector<uint32_t>{Platform::SYSTEM_COMMAND_KEY_MENU}));

    // Without a handler the messages are handled all the same.
    w.window.SetEventHandler(nullptr);
    w.backend->PostSystemKey(Platform::virtualKeyReturn, true);
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_MOVE, 1, 2);
    EXPECT_TRUE(w.window.ProcessMessages());
    EXPECT_EQ(w.backend->GetX(), 1);
    EXPECT_EQ(handler.calls.size(), 5u);
}

TEST(WindowTest, InFullScreenStyleMovesAndSizesAreRefusedButTheHandlerHearsOfThem)
{
    HeadlessWindow w;
    RecordingHandler handler;
    ASSERT_TRUE(w.window.Initialize("Marrow", 800, 600, nullptr, Window::STYLE_FULL_SCREEN));
    w.window.SetEventHandler(&handler);
    const int x = w.backend->GetX();
    for (uint32_t command :
         {Platform::SYSTEM_COMMAND_MOVE, Platform::SYSTEM_COMMAND_SIZE, Platform::SYSTEM_COMMAND_MAXIMIZE,
          Platform::SYSTEM_COMMAND_SCREEN_SAVE, Platform::SYSTEM_COMMAND_MONITOR_POWER})
        w.backend->PostCommand(command, 5, 5);
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_MINIMIZE);
    EXPECT_TRUE(w.window.ProcessMessages());
    EXPECT_EQ(handler.calls,
              (std::vector<std::string>{"change", "change", "change", "change", "change", "minimize"}));
    EXPECT_EQ(w.backend->GetRefusedCommands(),
              (std::vector<uint32_t>{Platform::SYSTEM_COMMAND_MOVE, Platform::SYSTEM_COMMAND_SIZE,
                                     Platform::SYSTEM_COMMAND_MAXIMIZE, Platform::SYSTEM_COMMAND_SCREEN_SAVE,
                                     Platform::SYSTEM_COMMAND_MONITOR_POWER}));
    EXPECT_EQ(w.backend->GetX(), x);
    EXPECT_EQ(w.window.GetClientWidth(), 800);
    EXPECT_FALSE(w.backend->IsMaximized());
    EXPECT_TRUE(w.backend->IsMinimized()); // minimising is never refused

    // A variant with low bits set is not matched: carried out, unheard.
    handler.calls.clear();
    w.backend->PostCommand(Platform::SYSTEM_COMMAND_MOVE | 1, 7, 8);
    EXPECT_TRUE(w.window.ProcessMessages());
    EXPECT_TRUE(handler.calls.empty());
    EXPECT_EQ(w.backend->GetX(), 7);
}

TEST(WindowTest, ACloseEndsThePumpUntilTheWindowIsMadeAgain)
{
    HeadlessWindow w;
    RecordingHandler handler;
    ASSERT_TRUE(w.window.Initialize("Marrow", 800, 600, nullptr, Window::STYLE_FIXED));
    w.window.SetEventHandler(&handler);
    EXPECT_TRUE(w.window.ProcessMessages());
    w.backend->PostClose();
    w.backend->PostSystemKey(Platform::virtualKeyReturn, true); // after the close: not handled
    EXPECT_FALSE(w.window.ProcessMessages());
    EXPECT_FALSE(w.window.ProcessMessages());
    EXPECT_TRUE(handler.calls.empty());
    EXPECT_TRUE(w.window.IsClosed());

    ASSERT_TRUE(w.window.Initialize("Marrow", 800, 600, nullptr, Window::STYLE_FIXED));
    EXPECT_TRUE(w.window.ProcessMessages());
    w.window.Close();
    EXPECT_FALSE(w.window.ProcessMessages());
}

} // namespace
} // namespace GAME
