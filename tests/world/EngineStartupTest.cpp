#include "EngineFixture.h"
#include "common/LogCapture.h"

#include "core/ObjectManager.h"
#include "core/Thread.h"
#include "core/UniqueIdMap.h"
#include "data/EngineDataServices.h"
#include "data/IOStream.h"
#include "data/ResourceLoader.h"
#include "data/TableDepot.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/HeadlessInputDevice.h"
#include "graphics/RenderDebugger.h"
#include "graphics/StyleManager.h"
#include "platform/Directory.h"
#include "platform/PlatformFile.h"
#include "platform/SystemInfo.h"
#include "platform/Threading.h"
#include "world/ProfilerWidget.h"
#include "world/StatisticsWidget.h"
#include "world/World.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace GAME {
namespace {

using Test::EngineLogLine;
using Test::EngineTest;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(EngineTest, StartsUpInTheDocumentedOrderWithItsLogLinesAndLogHeader)
{
    GAME::Test::TestEngine& e = Make();
    // What each step's line finds made shows that the steps before it ran and the ones after not.
    std::vector<std::string> order;
    e.onLine = [&](const EngineLogLine& line) {
        if (line.text == "Loaded database archive: database.arz") {
            order.push_back("database");
            EXPECT_EQ(gLogEngine, 1u);
            EXPECT_EQ(gLogGraphics, 2u);
            EXPECT_EQ(e.GetResourceLoader(), nullptr);
        } else if (line.text == "Graphics engine initialized successfully") {
            order.push_back("graphics");
            EXPECT_EQ(line.category, gLogGraphics);
            ASSERT_NE(e.GetResourceLoader(), nullptr);
            EXPECT_NE(e.GetEffectResourceManager(), nullptr);
            EXPECT_EQ(e.GetPhysicsEngine(), nullptr);
        } else if (line.text == "Physics engine initialized successfully") {
            order.push_back("physics");
            EXPECT_EQ(line.priority, 0);
            EXPECT_EQ(e.GetInputDevice(), nullptr);
        } else if (line.text == "Input Device initialized successfully.") {
            order.push_back("input");
            EXPECT_EQ(line.priority, 0);
            EXPECT_EQ(e.GetSoundManager(), nullptr);
        } else if (line.text == "Couldn't initialize MILES Sound Device.") {
            order.push_back("sound");
            EXPECT_EQ(line.priority, 1);
            EXPECT_NE(e.GetAmbianceManager(), nullptr);
            EXPECT_EQ(e.GetDisplay().GetNumWidgets(), 0);
            EXPECT_EQ(e.GetNetworkConnectionManager(), nullptr);
        }
    };
    e.Initialize(nullptr, settings, false, false, &files);
    e.onLine = nullptr;

    EXPECT_EQ(order, (std::vector<std::string>{"database", "graphics", "physics", "input", "sound"}));
    EXPECT_TRUE(s_fatalErrors.empty());
    EXPECT_EQ(GetThreadName(), "Main Thread");
    // A library line without an engine pointer of its own reaches the host through gEngine.
    EXPECT_TRUE(e.Has("Physics engine initialized successfully", 0));
    EXPECT_FALSE(e.Has("Couldn't initialize physics engine."));

    // The widgets: render debugger, profiler, statistics, and behind them the overlay activities.
    ASSERT_EQ(e.GetDisplay().GetNumWidgets(), 4);
    EXPECT_EQ(e.GetDisplay().GetWidget(0), e.GetRenderDebugger());
    EXPECT_EQ(e.GetDisplay().GetWidget(1), e.GetProfilerWidget());
    EXPECT_EQ(e.GetDisplay().GetWidget(2), e.GetStatisticsWidget());
    EXPECT_EQ(e.GetDisplay().GetWidget(3), e.GetOverlayActivityWidget());
    EXPECT_TRUE(e.GetNetworkConnectionManager() && !e.IsNetworkClient() && !e.IsNetworkServer());
    EXPECT_FALSE(e.IsNetworkEnabled());
    EXPECT_EQ(World::GetCurrent(), e.GetWorld());
    EXPECT_FALSE(IsGameTimePaused());
    EXPECT_FALSE(e.IsEditorMode());
    if (GetNumberOfProcessorCores() > 1) {
        EXPECT_FALSE(e.GetResourceLoader()->GetSingleProcessorMode());
    }

    // The lower layers reach this engine: records, files and the tagged streams' file system.
    EXPECT_EQ(TableDepot::GetServices()->GetDatabaseArchive(), e.GetDatabaseArchive());
    EXPECT_EQ(EngineDataServices::Files(), &files);
    EXPECT_EQ(IOStream::GetFileSystem(), &files);
    EXPECT_TRUE(ObjectManager::Get()->LoadTableFile(DataKit::SampleGameData::utilityFontStyleRecord) !=
                nullptr);

    e.Shutdown();
    const std::string header = ReadFile(dir.File("log.html"));
    EXPECT_TRUE(std::regex_match(header, std::regex("<html>\n"
                                                    "<font size=1 face=\"Arial, Helvetica\">\n"
                                                    "<b>Marrow Deep Log</b><br>\n"
                                                    "Date: [0-9]{2}/[0-9]{2}/[0-9]{2}<br>\n"
                                                    "Time: [0-9]{2}:[0-9]{2}:[0-9]{2}<br>\n"
                                                    "Version: 1\\.11<br>\n"
                                                    "<hr><p>\n")))
        << header;
}

// The engine pins its main thread to the first processor the process may use, and a process
// started without processor 0 (taskset, a container) is no exception: the test runs itself again
// on every processor but its first and expects the pin on the next one there.
TEST_F(EngineTest, PinsTheMainThreadToTheFirstProcessorTheProcessMayUse)
{
    const uint64_t process = Platform::GetProcessAffinity();
    ASSERT_NE(process, 0u);
    Start();
    EXPECT_EQ(Platform::GetCurrentThreadAffinity(), process & (~process + 1));
    EXPECT_FALSE(engine->Has("pinned"));
    if (std::getenv("ENGINE_TEST_PIN_CHILD") || (process & (process - 1)) == 0)
        return; // the run on the other processors, or only one processor to run on
    std::string others;
    for (int cpu = __builtin_ctzll(process) + 1; cpu < 64; ++cpu)
        if (process & (uint64_t{1} << cpu))
            others += (others.empty() ? "" : ",") + std::to_string(cpu);
    const std::string output = dir.File("child.txt");
    const std::string command =
        "ENGINE_TEST_PIN_CHILD=1 taskset -c " + others + " '" +
        std::filesystem::read_symlink("/proc/self/exe").string() +
        "' --gtest_filter=EngineTest.PinsTheMainThreadToTheFirstProcessorTheProcessMayUse >'" + output +
        "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command << "\n" << ReadFile(output);
    EXPECT_NE(ReadFile(output).find("[  PASSED  ] 1 test."), std::string::npos) << ReadFile(output);
}

TEST_F(EngineTest, AHostThatForgetsGEngineIsToldOnStandardError)
{
    GAME::Test::TestEngine& e = Make();
    gEngine = nullptr;
    GAME::Test::LogCapture standardError; // the process-wide sink, standard error by default
    e.Initialize(nullptr, settings, false, false, &files);
    EXPECT_TRUE(standardError.Contains("Engine::Initialize: gEngine is not set", 2));
    // Indeed the library's lines went there and not to the engine.
    EXPECT_TRUE(standardError.Contains("Physics engine initialized successfully"));
    EXPECT_FALSE(e.Has("Physics engine initialized successfully"));
    EXPECT_FALSE(e.Has("gEngine"));
    gEngine = &e;
}

TEST_F(EngineTest, TheSizeTakenAndWhereItCameFromAreLoggedAtStartUp)
{
    // Outside editor mode the "resolution" option (1024 x 768 in the sample data) wins over the host.
    settings.width = 640;
    settings.height = 480;
    GAME::Test::TestEngine& e = Start();
    EXPECT_EQ(e.GetGraphicsEngine()->GetRenderDevice()->GetWidth(), 1024);
    EXPECT_TRUE(e.Has("GraphicsEngine: 1024 x 768 from the \"resolution\" option; the host's 640 x 480 is "
                      "taken in editor mode only",
                      0))
        << "no line of the size";
    e.Shutdown();
    engine.reset();

    GAME::Test::TestEngine& editor = Start(true);
    EXPECT_EQ(editor.GetGraphicsEngine()->GetRenderDevice()->GetWidth(), 640);
    EXPECT_TRUE(editor.Has("GraphicsEngine: 640 x 480 from the host's settings", 0));
}

TEST_F(EngineTest, EditorModeHasNoInputDeviceNorRenderDebuggerAndForcedSingleProcessorMode)
{
    data.SetDefault("forceSingleProcessorMode", "true");
    GAME::Test::TestEngine& e = Start(true);
    EXPECT_TRUE(e.IsEditorMode());
    EXPECT_EQ(e.GetInputDevice(), nullptr);
    EXPECT_EQ(e.GetRenderDebugger(), nullptr);
    EXPECT_FALSE(e.Has("Input Device"));
    ASSERT_EQ(e.GetDisplay().GetNumWidgets(), 3);
    EXPECT_EQ(e.GetDisplay().GetWidget(0), e.GetProfilerWidget());
    EXPECT_TRUE(e.GetIsSingleProcessorModeEnabled());
    EXPECT_TRUE(e.GetResourceLoader()->GetSingleProcessorMode());
    Frame();
    EXPECT_EQ(e.GetFrameCount(), 1u);
}

TEST_F(EngineTest, AMissingGraphicsDeviceIsFatalWithTheLocalizedText)
{
    settings.deviceName = "NoSuchDevice";
    GAME::Test::TestEngine& e = Start();
    ASSERT_EQ(s_fatalErrors.size(), 1u);
    EXPECT_EQ(s_fatalErrors[0], std::string("Fatal Error|") + DataKit::SampleGameData::deviceErrorText);
    EXPECT_TRUE(e.Has(DataKit::SampleGameData::deviceErrorText, 2));
    // Start-up stopped at the device: nothing after it was made.
    EXPECT_EQ(e.GetResourceLoader(), nullptr);
    EXPECT_EQ(e.GetWorld(), nullptr);
    e.Shutdown();
    e.Shutdown();
}

class FailingInput : public HeadlessInputDevice
{
public:
    bool Initialize(void*, int, int) override { return false; }
};

TEST_F(EngineTest, EachOptionalSubsystemFailsOnItsOwnAndAnUnopenableLogIsNoError)
{
    GAME::Test::TestEngine& e = Make();
    e.SetLogPath(dir.File("no/such/folder/log.html"));
    e.SetInputDeviceFactory([]() -> InputDevice* { return new FailingInput; });
    e.Initialize(nullptr, settings, false, false, &files);
    EXPECT_TRUE(s_fatalErrors.empty());
    EXPECT_FALSE(e.IsLogFileOpen());
    // Said once, so that a host that never asks IsLogFileOpen still hears why there is no log.
    EXPECT_TRUE(e.Has("Engine: cannot write the log file " + dir.File("no/such/folder/log.html"), 1));
    EXPECT_TRUE(e.Has("Couldn't initialize Input Device.", 1));
    EXPECT_TRUE(e.Has("Couldn't initialize MILES Sound Device.", 1));
    // Each failed part stays and the engine runs on with it.
    EXPECT_NE(e.GetInputDevice(), nullptr);
    EXPECT_NE(e.GetPhysicsEngine(), nullptr);
    EXPECT_NE(e.GetSoundManager(), nullptr);
    EXPECT_NE(e.GetWorld(), nullptr);
    Frame();
    Frame();
    EXPECT_EQ(e.GetFrameCount(), 2u);
}

// A log left read-only is made writable and started afresh; the lines a host hands the engine
// become its rows, those from before start-up first (up to the limit), and nothing after shut-down.
TEST_F(EngineTest, TheLogFileIsStartedAfreshAndHoldsTheLinesTheHostHandsIt)
{
    GAME::Test::TestEngine& e = Make();
    const std::string path = dir.File("logs/last run.html");
    ASSERT_TRUE(Platform::CreateDirectories(dir.File("logs")));
    {
        std::ofstream old(path);
        old << "lines of an earlier run\n";
    }
    ASSERT_TRUE(Platform::SetFileReadOnly(path, true));
    e.SetLogPath(path);
    std::string expected;
    for (size_t i = 0; i < Engine::maxKeptLogFileLines + 5; ++i) {
        e.WriteLogFileLine(LOG_PRIORITY_INFO, "before start-up " + std::to_string(i));
        if (i < Engine::maxKeptLogFileLines)
            expected += "before start-up " + std::to_string(i) + "\n";
    }
    e.Initialize(nullptr, settings, false, false, &files);
    EXPECT_TRUE(e.IsLogFileOpen());
    EXPECT_FALSE(Platform::IsFileReadOnly(path));
    e.WriteLogFileLine(LOG_PRIORITY_WARNING, "a <warning> & \"its\"\tcause\x01\n");
    e.WriteLogFileLine(LOG_PRIORITY_IMPORTANT, "a notice");
    e.Shutdown();
    e.WriteLogFileLine(LOG_PRIORITY_INFO, "after shut-down");
    expected += "<font color=\"#c05000\">a &lt;warning&gt; &amp; &quot;its&quot;\tcause?\?</font>\n"
                "<b>a notice</b>\n"
                "</pre>\n</font>\n</html>\n";

    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("<html>\n", 0), 0u) << text;
    EXPECT_EQ(text.find("earlier run"), std::string::npos);
    const size_t block = text.find("<hr><p>\n<pre>\n");
    ASSERT_NE(block, std::string::npos) << text;
    EXPECT_EQ(text.substr(block + std::string("<hr><p>\n<pre>\n").size()), expected);
}

// An object that notes, when it is deleted, whether the unique-id map it would leave still exists.
class MapUser : public Object
{
public:
    ~MapUser() override { mapAliveAtDeletion = UniqueIdMap::HasInstantiated(); }
    static inline bool mapAliveAtDeletion = false;
};

TEST_F(EngineTest, ShutsDownTwiceCleanlyAndDestroysPendingObjectsBeforeTheUniqueIdMap)
{
    GAME::Test::TestEngine& e = Start();
    Frame();
    UniqueIdMap::Get();
    ObjectManager::Get()->DestroyObjectEx(new MapUser, __FILE__, __LINE__);
    StyleManager::Get();

    e.Shutdown();
    EXPECT_TRUE(MapUser::mapAliveAtDeletion);
    EXPECT_FALSE(UniqueIdMap::HasInstantiated());
    EXPECT_FALSE(StyleManager::HasInstantiated());
    EXPECT_FALSE(ObjectManager::HasInstantiated());
    EXPECT_EQ(World::GetCurrent(), nullptr);
    EXPECT_EQ(e.GetGraphicsEngine(), nullptr);
    EXPECT_EQ(e.GetDisplay().GetNumWidgets(), 0);
    EXPECT_FALSE(e.IsLogFileOpen());
    e.Shutdown();
    EXPECT_FALSE(ObjectManager::HasInstantiated());

    // The engine's answers to the lower layers go with it.
    engine.reset();
    EXPECT_EQ(gEngine, nullptr);
    EXPECT_EQ(EngineDataServices::Get(), nullptr);
    EXPECT_EQ(TableDepot::GetServices(), nullptr);
    EXPECT_EQ(ObjectManager::GetLocalHostIdProvider(), nullptr);
}

TEST_F(EngineTest, DestructionWithoutShutdownIsClean)
{
    Start();
    Frame();
    engine->ShowProfiler(true);
    engine->ShowThreadMonitor(true);
    Frame();
    ObjectManager::Get()->DestroyObjectEx(new MapUser, __FILE__, __LINE__);
    engine.reset();
    EXPECT_EQ(World::GetCurrent(), nullptr);
    EXPECT_FALSE(ObjectManager::HasInstantiated());
}

} // namespace
} // namespace GAME
