#include "common/LogCapture.h"

#include "graphics/HeadlessInputDevice.h"
#include "graphics/SystemInputDevice.h"
#include "platform/HeadlessInputSource.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

using Platform::HeadlessInputSource;
using Platform::InputResult;

// Scan codes used below.
constexpr uint8_t scanEscape = 1;
constexpr uint8_t scanE = 18;
constexpr uint8_t scanLeftControl = 29;
constexpr uint8_t scanA = 30;
constexpr uint8_t scanApostrophe = 40; // a dead acute in the scripted layout
constexpr uint8_t scanLeftShift = 42;
constexpr uint8_t scanX = 45;
constexpr uint8_t scanRightAlt = 184;

InputDevice::ButtonEvent Key(uint32_t code, uint32_t state = InputDevice::BUTTON_PRESSED)
{
    InputDevice::ButtonEvent event;
    event.keyCode = code;
    event.state = state;
    return event;
}

// A system input device over a scripted source.
struct ScriptedDevice
{
    explicit ScriptedDevice(int keyboardBuffer = 256, int mouseBuffer = 256)
        : source(new HeadlessInputSource), device(source)
    {
        EXPECT_TRUE(device.Initialize(nullptr, keyboardBuffer, mouseBuffer));
    }

    std::vector<InputDevice::ButtonEvent> Keys()
    {
        std::vector<InputDevice::ButtonEvent> events;
        for (int i = 0; i < device.GetNumButtonEvents(); ++i)
            events.push_back(device.GetButtonEvent(i));
        return events;
    }
    std::vector<InputDevice::MouseEvent> Mouse()
    {
        std::vector<InputDevice::MouseEvent> events;
        for (int i = 0; i < device.GetNumMouseEvents(); ++i)
            events.push_back(device.GetMouseEvent(i));
        return events;
    }
    std::vector<uint32_t> MouseTypes()
    {
        std::vector<uint32_t> types;
        for (const InputDevice::MouseEvent& event : Mouse())
            types.push_back(event.type);
        return types;
    }

    HeadlessInputSource* source; // owned by the device
    SystemInputDevice device;
};

TEST(InputDeviceTest, KeyCodesNumberTheScanCodesThatHaveKeysAndNameThem)
{
    EXPECT_EQ(InputDevice::KeyCodeFromScanCode(83), 83u);
    EXPECT_EQ(InputDevice::KeyCodeFromScanCode(86), 84u);
    EXPECT_EQ(InputDevice::KeyCodeFromScanCode(237), 144u);
    EXPECT_EQ(InputDevice::KeyCodeFromScanCode(184), 118u); // right Alt
    EXPECT_EQ(InputDevice::KeyCodeFromScanCode(157), 107u); // right Control
    for (uint32_t gap : {0u, 84u, 85u, 89u, 238u, 255u, 256u, 1000u})
        EXPECT_EQ(InputDevice::KeyCodeFromScanCode(gap), 0u) << gap;
    uint32_t previous = 0;
    for (uint32_t key = 1; key <= InputDevice::KEY_LAST_KEYBOARD; ++key) {
        const uint32_t scan = InputDevice::ScanCodeFromKeyCode(key);
        EXPECT_GT(scan, previous) << key; // in increasing order of scan code
        EXPECT_EQ(InputDevice::KeyCodeFromScanCode(scan), key);
        previous = scan;
    }
    for (uint32_t outside : {0u, 145u, 146u, 147u, 500u})
        EXPECT_EQ(InputDevice::ScanCodeFromKeyCode(outside), 0u) << outside;

    HeadlessInputDevice device;
    std::u16string name;
    device.GetButtonName(InputDevice::KEY_WHEEL_UP, name);
    EXPECT_EQ(name, u"Wheel Up");
    device.GetButtonName(InputDevice::KEY_WHEEL_DOWN, name);
    EXPECT_EQ(name, u"Wheel Down");
    device.GetButtonName(InputDevice::KEY_MIDDLE_MOUSE, name);
    EXPECT_EQ(name, u"Middle Mouse");
    device.GetButtonName(1, name);
    EXPECT_EQ(name, u"Escape");
    device.GetButtonName(InputDevice::KeyCodeFromScanCode(156), name);
    EXPECT_EQ(name, u"Keypad Enter");
    device.GetButtonName(InputDevice::KeyCodeFromScanCode(scanLeftShift), name);
    EXPECT_EQ(name, u"Left Shift");
    device.GetButtonName(0, name);
    EXPECT_EQ(name, u"");
}

TEST(InputDeviceTest, MouseEventsConvertToButtonEventsForMiddleButtonAndWheelOnly)
{
    InputDevice::MouseEvent mouse;
    mouse.shift = true;
    mouse.control = true;
    const struct
    {
        uint32_t type;
        uint32_t key;
        uint32_t state;
    } cases[] = {
        {InputDevice::MOUSE_MIDDLE_DOWN, InputDevice::KEY_MIDDLE_MOUSE, InputDevice::BUTTON_PRESSED},
        {InputDevice::MOUSE_MIDDLE_UP, InputDevice::KEY_MIDDLE_MOUSE, InputDevice::BUTTON_RELEASED},
        {InputDevice::MOUSE_WHEEL_UP, InputDevice::KEY_WHEEL_UP, InputDevice::BUTTON_PRESSED},
        {InputDevice::MOUSE_WHEEL_DOWN, InputDevice::KEY_WHEEL_DOWN, InputDevice::BUTTON_PRESSED},
        // Everything else keeps the key and state it had.
        {InputDevice::MOUSE_MOVE, 7, InputDevice::BUTTON_RELEASED},
        {InputDevice::MOUSE_LEFT_DOWN, 7, InputDevice::BUTTON_RELEASED},
        {InputDevice::MOUSE_RIGHT_UP, 7, InputDevice::BUTTON_RELEASED},
    };
    for (const auto& c : cases) {
        mouse.type = c.type;
        InputDevice::ButtonEvent button = Key(7, InputDevice::BUTTON_RELEASED);
        button.alt = true;
        mouse.ConvertToButtonEvent(button);
        EXPECT_EQ(button.keyCode, c.key) << c.type;
        EXPECT_EQ(button.state, c.state) << c.type;
        EXPECT_TRUE(button.shift && button.control && !button.alt && !button.capsLock) << c.type;
    }
}

TEST(InputDeviceTest, KeyItemsBecomeButtonEventsWithTheirTextAndTheFramesModifiers)
{
    ScriptedDevice d(3, 256);
    d.source->SetKeyText(scanA, u"a");
    d.source->SetKeyText(scanEscape, u"\x1b");
    d.source->PressKey(scanLeftShift);
    d.source->PressKey(scanA);
    d.source->ReleaseKey(scanA);
    d.source->PressKey(scanRightAlt);
    d.device.Update();

    // Three items a frame: the fourth waits for the next.
    std::vector<InputDevice::ButtonEvent> keys = d.Keys();
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].keyCode, uint32_t(scanLeftShift));
    EXPECT_EQ(std::u16string(keys[0].GetText()), u"");
    EXPECT_EQ(keys[1].keyCode, uint32_t(scanA));
    EXPECT_EQ(keys[1].state, uint32_t(InputDevice::BUTTON_PRESSED));
    EXPECT_EQ(std::u16string(keys[1].GetText()), u"a");
    EXPECT_EQ(keys[2].state, uint32_t(InputDevice::BUTTON_RELEASED));
    EXPECT_EQ(std::u16string(keys[2].GetText()), u""); // releases type nothing
    for (const InputDevice::ButtonEvent& key : keys) {
        // The state after the frame's items: shift held, right Alt down already.
        EXPECT_TRUE(key.shift);
        EXPECT_TRUE(key.alt);
        EXPECT_FALSE(key.control);
        EXPECT_FALSE(key.capsLock);
    }
    EXPECT_TRUE(d.device.IsKeyDown(scanLeftShift));
    EXPECT_FALSE(d.device.IsKeyDown(scanA));
    EXPECT_TRUE(d.device.IsKeyDown(InputDevice::KeyCodeFromScanCode(scanRightAlt)));

    // Caps lock reads as its toggle; control comes from either key.
    d.source->SetToggles(true, false, false);
    d.source->PressKey(scanLeftControl);
    d.device.Update();
    keys = d.Keys();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].keyCode, InputDevice::KeyCodeFromScanCode(scanRightAlt));
    EXPECT_TRUE(keys[1].capsLock && keys[1].control && keys[1].shift && keys[1].alt);
    EXPECT_TRUE(d.device.IsKeyDown(58));
    EXPECT_FALSE(d.device.IsKeyDown(0));
    EXPECT_FALSE(d.device.IsKeyDown(InputDevice::KEY_MIDDLE_MOUSE));

    d.device.Update(); // the lists restart every frame
    EXPECT_EQ(d.device.GetNumButtonEvents(), 0);
    EXPECT_EQ(d.device.GetButtonEvent(5).keyCode, 0u);
}

TEST(InputDeviceTest, DeadKeysComposeWithTheNextKeyAndUncomposedPairsArriveAsText)
{
    ScriptedDevice d;
    d.source->SetDeadKey(scanApostrophe, u'\u00b4');
    d.source->SetKeyText(scanE, u"e");
    d.source->SetKeyText(scanX, u"x");
    d.source->SetComposition(u'\u00b4', u'e', u'\u00e9');

    // The dead key's press is held back; the vowel comes with the composed character.
    d.source->PressKey(scanApostrophe);
    d.source->ReleaseKey(scanApostrophe);
    d.source->PressKey(scanE);
    d.device.Update();
    std::vector<InputDevice::ButtonEvent> keys = d.Keys();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].keyCode, uint32_t(scanApostrophe));
    EXPECT_EQ(keys[0].state, uint32_t(InputDevice::BUTTON_RELEASED));
    EXPECT_EQ(keys[1].keyCode, uint32_t(scanE));
    EXPECT_EQ(std::u16string(keys[1].GetText()), u"\u00e9");

    // A dead key that does not compose with the next key: both characters, as that key's text.
    d.source->PressKey(scanApostrophe);
    d.source->PressKey(scanX);
    d.device.Update();
    keys = d.Keys();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(std::u16string(keys[0].GetText()), u"\u00b4x");

    // The layout forgot the dead key between frames (another reader took it): the held-back
    // key is typed again before the vowel.
    d.source->PressKey(scanApostrophe);
    d.device.Update();
    EXPECT_EQ(d.device.GetNumButtonEvents(), 0);
    d.source->ClearDeadKeyState();
    d.source->PressKey(scanLeftShift);
    d.source->PressKey(scanE);
    d.device.Update();
    keys = d.Keys();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(std::u16string(keys[0].GetText()), u""); // a key without a character in between
    EXPECT_EQ(std::u16string(keys[1].GetText()), u"\u00e9");

    // Nothing is held back any more: a plain vowel is a plain vowel.
    d.source->PressKey(scanE);
    d.device.Update();
    keys = d.Keys();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(std::u16string(keys[0].GetText()), u"e");
}

TEST(InputDeviceTest, MouseEventsStartWithAMoveReportEachPressOnceAndFollowTheSwapSetting)
{
    ScriptedDevice d;
    d.source->SetCursor(12.0f, 34.0f);
    d.device.Update();
    std::vector<InputDevice::MouseEvent> mouse = d.Mouse();
    ASSERT_EQ(mouse.size(), 1u); // a move, always first, even without items
    EXPECT_EQ(mouse[0].type, uint32_t(InputDevice::MOUSE_MOVE));
    EXPECT_EQ(mouse[0].x, 12.0f);
    EXPECT_EQ(mouse[0].y, 34.0f);

    // Two presses without a release: one down; then up; the middle button and the wheel.
    d.source->PressButton(0);
    d.source->PressButton(0);
    d.source->ReleaseButton(0);
    d.source->PressButton(2);
    d.source->TurnWheel(120);
    d.source->TurnWheel(-240);
    d.source->ReleaseButton(2);
    d.source->Move(); // movement alone adds nothing after the first move
    d.device.Update();
    EXPECT_EQ(d.MouseTypes(),
              (std::vector<uint32_t>{InputDevice::MOUSE_MOVE, InputDevice::MOUSE_LEFT_DOWN,
                                     InputDevice::MOUSE_LEFT_UP, InputDevice::MOUSE_MIDDLE_DOWN,
                                     InputDevice::MOUSE_WHEEL_UP, InputDevice::MOUSE_WHEEL_DOWN,
                                     InputDevice::MOUSE_MIDDLE_UP}));
    mouse = d.Mouse();
    EXPECT_TRUE(mouse[1].leftDown);
    EXPECT_FALSE(mouse[2].leftDown);
    EXPECT_TRUE(mouse[3].middleDown && mouse[4].middleDown && mouse[5].middleDown);
    EXPECT_FALSE(mouse[6].middleDown);
    for (const InputDevice::MouseEvent& event : mouse)
        EXPECT_EQ(event.wheel, -120); // the total after the frame's state

    // A press held across frames is not reported again.
    d.source->PressButton(1);
    d.device.Update();
    d.source->PressButton(1);
    d.device.Update();
    EXPECT_EQ(d.MouseTypes(), (std::vector<uint32_t>{InputDevice::MOUSE_MOVE}));
    d.source->ReleaseButton(1);
    d.device.Update();
    EXPECT_EQ(d.MouseTypes(), (std::vector<uint32_t>{InputDevice::MOUSE_MOVE, InputDevice::MOUSE_RIGHT_UP}));

    // Swapped buttons: the primary button reports as the right one, both ways.
    d.source->SetButtonsSwapped(true);
    d.source->PressButton(0);
    d.source->ReleaseButton(0);
    d.source->PressButton(1);
    d.device.Update();
    EXPECT_EQ(d.MouseTypes(),
              (std::vector<uint32_t>{InputDevice::MOUSE_MOVE, InputDevice::MOUSE_RIGHT_DOWN,
                                     InputDevice::MOUSE_RIGHT_UP, InputDevice::MOUSE_LEFT_DOWN}));
    mouse = d.Mouse();
    EXPECT_TRUE(mouse[1].rightDown);
    EXPECT_FALSE(mouse[2].rightDown);
    EXPECT_TRUE(mouse[3].leftDown);
}

TEST(InputDeviceTest, TheCursorFollowsOnlyAShownWindowInFrontOrWhileThePrimaryButtonIsHeld)
{
    ScriptedDevice d;
    d.source->SetCursor(1.0f, 1.0f);
    d.device.Update();
    EXPECT_TRUE(d.device.IsWindowActive());

    d.source->SetWindowState(false, true, false); // behind another window
    d.source->SetCursor(50.0f, 60.0f);
    d.device.Update();
    EXPECT_FALSE(d.device.IsWindowActive());
    EXPECT_EQ(d.device.GetMouseEvent(0).x, 1.0f);
    d.source->PressButton(0); // dragging from inside the window
    d.device.Update();
    EXPECT_EQ(d.device.GetMouseEvent(0).x, 50.0f);
    d.source->ReleaseButton(0);
    d.device.Update();

    d.source->SetWindowState(true, true, true); // minimised
    d.source->SetCursor(70.0f, 80.0f);
    d.device.Update();
    EXPECT_EQ(d.device.GetMouseEvent(0).x, 50.0f);
    d.source->SetWindowState(true, true, false);
    d.device.Update();
    EXPECT_EQ(d.device.GetMouseEvent(0).y, 80.0f);
}

TEST(InputDeviceTest, ALostDeviceIsAcquiredAFewTimesAFrameAndReadsAsReleasedMeanwhile)
{
    ScriptedDevice d;
    d.source->SetKeyState(scanA, true);
    d.device.Update();
    EXPECT_TRUE(d.device.IsKeyDown(scanA));

    // The keyboard is taken away and stays away: each frame tries a bounded number of times.
    d.source->FailKeyboardStateReads(-1, InputResult::INPUT_LOST);
    d.source->AnswerKeyboardAcquire(-1, InputResult::INPUT_LOST);
    const int before = d.source->GetKeyboardAcquireCount();
    d.device.Update();
    EXPECT_FALSE(d.device.IsKeyDown(scanA));
    EXPECT_EQ(d.source->GetKeyboardAcquireCount() - before, SystemInputDevice::maxAcquireAttempts);
    d.device.Update();
    EXPECT_EQ(d.source->GetKeyboardAcquireCount() - before, 2 * SystemInputDevice::maxAcquireAttempts);

    // Back: the held key reads down again; items that could not be read arrive later.
    d.source->FailKeyboardStateReads(0, InputResult::OK);
    d.source->AnswerKeyboardAcquire(0, InputResult::OK);
    d.source->FailKeyboardItemReads(1, InputResult::FAILED);
    d.source->PressKey(scanX);
    d.device.Update();
    EXPECT_TRUE(d.device.IsKeyDown(scanA));
    EXPECT_EQ(d.device.GetNumButtonEvents(), 0);
    d.device.Update();
    ASSERT_EQ(d.device.GetNumButtonEvents(), 1);
    EXPECT_EQ(d.device.GetButtonEvent(0).keyCode, uint32_t(scanX));

    // A mouse whose state cannot be read keeps its buttons and wheel total.
    d.source->PressButton(0);
    d.source->TurnWheel(240);
    d.device.Update();
    d.source->FailMouseStateReads(1, InputResult::INPUT_LOST);
    d.source->ReleaseButton(0);
    d.device.Update();
    const std::vector<InputDevice::MouseEvent> mouse = d.Mouse();
    ASSERT_EQ(mouse.size(), 2u);
    EXPECT_TRUE(mouse[0].leftDown);
    EXPECT_EQ(mouse[0].wheel, 240);
    EXPECT_FALSE(mouse[1].leftDown);
}

TEST(InputDeviceTest, InitializationSharesTheSystemKeyHookAndRestoresTheAccessibilityKeys)
{
    GAME::Test::LogCapture log;
    const int users = SystemInputDevice::GetHookUserCount();
    {
        auto* source = new HeadlessInputSource;
        SystemInputDevice device(source);
        EXPECT_EQ(source->GetAccessibilitySaves(), 1);
        EXPECT_FALSE(device.Initialize(nullptr, 0, 256));
        EXPECT_TRUE(log.Contains("buffer sizes", 1));
        source->AnswerMouseAcquire(1, InputResult::FAILED);
        EXPECT_FALSE(device.Initialize(nullptr, 256, 256));
        EXPECT_TRUE(device.Initialize(nullptr, 256, 256));
        EXPECT_EQ(SystemInputDevice::GetHookUserCount(), users + 1);
        EXPECT_TRUE(SystemInputDevice::AreSystemKeysSwallowed());

        device.SetAccessibilityKeys(false);
        EXPECT_FALSE(SystemInputDevice::AreSystemKeysSwallowed());
        EXPECT_EQ(source->GetAccessibilityDisables(), 1);
        device.SetAccessibilityKeys(true);
        EXPECT_EQ(source->GetAccessibilityRestores(), 1);
        device.SetMouseSpeed(2.0f, 0.5f);
        EXPECT_EQ(device.GetMouseSpeedX(), 2.0f);
        EXPECT_TRUE(device.Initialize(nullptr, 256, 256)); // again: the speeds start over
        EXPECT_EQ(device.GetMouseSpeedY(), 1.0f);
        EXPECT_EQ(SystemInputDevice::GetHookUserCount(), users + 1);
    }
    EXPECT_EQ(SystemInputDevice::GetHookUserCount(), users);

    // The system's device needs a window of the window layer.
    InputDevice* created = InputDevice::Create();
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(created->Initialize(nullptr, 256, 256));
    EXPECT_TRUE(log.Contains("no keyboard and mouse", 1));
    created->Update(); // not initialised: nothing happens
    EXPECT_EQ(created->GetNumMouseEvents(), 0);
    InputDevice::Destroy(created);
    EXPECT_EQ(created, nullptr);
}

TEST(InputDeviceTest, HeadlessDeviceDeliversQueuedEventsFrameByFrame)
{
    HeadlessInputDevice device;
    device.QueueButtonEvent(Key(30));
    device.Update(); // not initialised: nothing is read
    EXPECT_EQ(device.GetNumButtonEvents(), 0);

    ASSERT_TRUE(device.Initialize(nullptr, 2, 256));
    device.QueueButtonEvent(Key(31));
    device.QueueButtonEvent(Key(30, InputDevice::BUTTON_RELEASED));
    InputDevice::MouseEvent wheel;
    wheel.type = InputDevice::MOUSE_WHEEL_DOWN;
    device.QueueMouseEvent(wheel);

    device.Update(); // at most two key events a frame
    ASSERT_EQ(device.GetNumButtonEvents(), 2);
    EXPECT_EQ(device.GetButtonEvent(0).keyCode, 30u);
    EXPECT_EQ(device.GetButtonEvent(1).keyCode, 31u);
    EXPECT_EQ(device.GetButtonEvent(2).keyCode, 0u); // out of range
    EXPECT_TRUE(device.IsKeyDown(30));
    ASSERT_EQ(device.GetNumMouseEvents(), 1);

    device.Update(); // the rest, and the lists restart
    ASSERT_EQ(device.GetNumButtonEvents(), 1);
    EXPECT_EQ(device.GetButtonEvent(0).state, uint32_t(InputDevice::BUTTON_RELEASED));
    EXPECT_FALSE(device.IsKeyDown(30));
    EXPECT_TRUE(device.IsKeyDown(31));
    EXPECT_EQ(device.GetNumMouseEvents(), 0);

    InputDevice::ButtonEvent typed;
    typed.SetText(u"0123456789abc");
    EXPECT_EQ(std::u16string(typed.GetText()), u"012345678");
}

} // namespace
} // namespace GAME
