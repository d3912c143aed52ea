// The sample host's view of the world. Each frame the host hands it the flight camera (Draw); the
// view then draws what that camera sees through the scene's portal renderer inside the frame the
// engine renders next (from a display widget at the bottom of the display's list, so the other
// widgets draw over it), with a transparency manager that follows the camera's target (and, in an
// underground region, the grid's wall fading between the camera and the target). After the
// frame, MaybeScreenshot writes the picture as a PNG into the run folder whenever the camera has
// been for a few frames in a region it had not been in before (what the region holds is drawn from
// the frame the view enters it on, and its particle effects start emitting once drawn), or of its
// last frame there when the view leaves it sooner. The frame is read back once for the picture,
// when the next frame's Draw starts, before that frame draws over it, and without holding that
// frame: the device reads the picture behind the drawing queued before it (RequestFrameRead), and
// a later Draw collects it once it is in (a frame or two later; FinishScreenshot waits for it).
// The PNGs are encoded and written in order on a thread of their own, outside the frames, each
// whole or not at all: a picture that could not be written leaves no file.
//
// Until the world's props have meshes, the host gives them a body: the generated world's prop
// records are made of the host's class HostProp, a box of the sample lit shader sized and coloured
// by its record (AddPropRecords); the view makes the boxes' geometry and loads the shader while it
// lives.
//
// Lines for the user go to the output given. Main thread only; the view lives between the engine's
// Initialize and Shutdown.
#pragma once

#include "graphics/RenderTypes.h"
#include "scene/GraphicsTransparencyManager.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace DataKit {
class ArzWriter;
class SampleGameData;
} // namespace DataKit

namespace GAME {
class Camera;
class Engine;
class GraphicsCanvas;
class Region;
class WorldCamera;
} // namespace GAME

namespace SampleHost {

class HostView
{
public:
    using Output = std::function<void(const std::string&)>;
    // A picture that could not be written: its path and the system's reason.
    using NotWritten = std::function<void(const std::string& path, const std::string& reason)>;

    // The records of the generated world's props, of the host's prop class.
    static void AddPropRecords(DataKit::ArzWriter& database);
    // What the host adds to the sample game data for its world: the props' records, the
    // generator's placed actors and lights, and reflections on (the lakes mirror the ground round
    // them only at high detail; below it the water shows its type's sky texture instead).
    static void AddWorldData(DataKit::SampleGameData& data);

    // Screenshots go into the folder.
    HostView(GAME::Engine& engine, Output output, std::string folder);
    ~HostView();
    HostView(const HostView&) = delete;
    HostView& operator=(const HostView&) = delete;

    // The view of the next frame the engine renders: the camera in its target's region. First
    // collects a frame read earlier when the device has it, and starts reading the frame before
    // when MaybeScreenshot asked for it.
    void Draw(GAME::WorldCamera& camera);
    // After the frame: a screenshot of a region the view had not been in, of the frame once the
    // view has been there for screenshotDelay frames in a row, or of its last frame there when the
    // view leaves it sooner; whether one was handed to the writer in this call (the others go when
    // a later Draw has collected their frame).
    bool MaybeScreenshot(GAME::Region* region);
    // Reads the last frame when asked for, waits for the reads under way, writes the screenshot of
    // the region the view is in when it is still waiting (the flight's end) and waits for every
    // picture to be written; whether one was taken.
    bool FinishScreenshot();
    static constexpr int screenshotDelay = 5;
    // The screenshots written, in order.
    const std::vector<std::string>& GetScreenshots() const { return m_screenshots; }
    // Told of each picture that could not be written, besides the line for the user.
    void SetNotWritten(NotWritten notWritten) { m_notWritten = std::move(notWritten); }
    // What the view's portal renderer fades by (the benchmark's floor weighs regions as it does).
    const GAME::GraphicsTransparencyManager& GetTransparency() const { return m_transparency; }

    // What the props draw with (their geometry and shader) while a view lives.
    struct Props;

private:
    class Widget;

    void Render(GAME::GraphicsCanvas& canvas);
    // The pending frame goes to the writer thread; whether a picture was taken. A frame the device
    // is still reading goes once it is collected.
    bool TakePendingScreenshot();
    // The read MaybeScreenshot asked for, of the frame on the screen, the next frame's region
    // given (null: there is none); whether a read started.
    bool ReadRequested(const GAME::Region* next);
    // Starts reading the frame on the screen into the pending one, the region's picture (taken once
    // collected, when take says so); false (the region given up) when it cannot be read. A read
    // still under way is collected first: the device reads one at a time.
    bool ReadPending(const GAME::Region* region, bool take);
    // The pending frame's pixels, once the device has them (wait: waiting for them); a frame to be
    // taken goes to the writer then. Whether a picture was taken.
    bool CollectPending(bool wait);
    // The writer thread: encodes and writes the queued pictures in order.
    void WriterMain();
    // Says what the writer could not write, and takes those pictures off the list.
    void ReportWriterErrors();
    // Waits for every queued picture to be written and reports what failed.
    void WaitForWriter();

    GAME::Engine& m_engine;
    Output m_output;
    NotWritten m_notWritten;
    std::string m_folder;
    std::unique_ptr<Widget> m_widget;
    std::unique_ptr<Props> m_props;
    GAME::GraphicsTransparencyManager m_transparency;
    std::unique_ptr<GAME::Camera> m_camera;
    GAME::Region* m_region = nullptr;
    std::optional<std::chrono::steady_clock::time_point> m_lastDraw;
    std::set<const GAME::Region*> m_visited;
    const GAME::Region* m_entered = nullptr;
    int m_framesInRegion = 0;
    // The last frame seen in a region not shot yet.
    struct Frame
    {
        std::vector<GAME::Pixel> pixels;
        int width = 0, height = 0;
        const GAME::Region* region = nullptr; // whose picture it is
        bool reading = false;                 // the device has not handed it over yet
        bool take = false;                    // it goes to the writer once collected
    } m_pending;
    enum ReadRequest
    {
        READ_NONE,
        READ_IF_LEAVING, // into the pending frame, when the next frame is in another region
        READ_AND_TAKE,   // and the picture is taken
    } m_readRequest = READ_NONE;
    std::vector<std::string> m_screenshots;
    size_t m_failedScreenshots = 0;
    // The pictures waiting for the writer thread, and what it could not write.
    struct Picture
    {
        std::string name, path;
        uint32_t width = 0, height = 0;
        std::vector<GAME::Pixel> pixels;
    };
    static constexpr size_t maxQueuedPictures = 4;
    std::thread m_writer;
    std::mutex m_writerMutex;
    std::condition_variable m_writerWake;
    std::deque<Picture> m_queue;
    bool m_writing = false;
    bool m_writerStop = false;
    struct WriterError
    {
        std::string path, line, reason; // reason: empty when the picture could not be made
    };
    std::vector<WriterError> m_writerErrors;
};

} // namespace SampleHost
