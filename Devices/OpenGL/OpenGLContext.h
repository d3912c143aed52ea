// The EGL side of the OpenGL device: one display, the main context the device draws with, and a
// pool of worker contexts that share its objects.
//
// Headless (no window): Mesa's surfaceless platform (llvmpipe on machines without a GPU); the main
// context has no surface and the device draws into framebuffer objects of its own. With a window
// (an SDL_Window* from the game-window layer; X11 only): the X11 display of that window, a window
// surface for presenting, and the same surfaceless contexts for the workers. OpenGL 4.5 core,
// robust buffer access with lose-on-reset notification where the driver offers it, and a debug
// context in builds without NDEBUG.
//
// Threads: the main context is current on the device's main thread only. Any other thread that
// must touch GL objects takes a worker context for the span of one operation (AcquireWorker /
// ReleaseWorker; the pool grows to the number of threads working at once). The pool has its own
// lock; everything else is main thread only. EGL handles are kept as void* so that no EGL header
// leaves OpenGLContext.cpp.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace GAME::OpenGL {

class ContextSet
{
public:
    ContextSet() = default;
    ~ContextSet();
    ContextSet(const ContextSet&) = delete;
    ContextSet& operator=(const ContextSet&) = delete;

    // Whether EGL offers what Open needs (the platform display extension). Any thread.
    static bool IsAvailable(std::string& reason);

    // Opens the display and the main context (window null: headless) and makes the main context
    // current on the calling thread. False with the reason when any step fails; nothing is kept
    // open then.
    bool Open(void* window, std::string& error);
    // Destroys every context and the window surface (the display stays initialised for the
    // process). No worker may be held. Main thread.
    void Close();
    bool IsOpen() const { return m_mainContext != nullptr; }
    bool IsWindowed() const { return m_surface != nullptr; }
    void* GetWindow() const { return m_window; }

    // Makes the main context current on the calling thread when it is not already.
    bool MakeMainCurrent();
    bool IsMainCurrent() const;

    // A worker context made current on the calling thread (null when none can be made); hand it
    // back on the same thread. ReleaseWorker does not wait for the worker's commands: the device
    // fences what a worker made or filled, and the next context to use it waits for the fence.
    // Both under the device's GL lock (making a context current or not flushes it).
    void* AcquireWorker();
    void ReleaseWorker(void* context);

    // Window only: presents the window surface's back buffer; false when the swap failed.
    bool SwapBuffers();
    void SetSwapInterval(int interval);
    // Window only: the window surface's size in pixels.
    bool GetSurfaceSize(int& width, int& height) const;

    // Display description for the status line ("EGL 1.5 surfaceless" and the like).
    const std::string& GetDescription() const { return m_description; }

private:
    void* CreateContext(void* share);

    void* m_display = nullptr;
    void* m_config = nullptr; // null: no configuration (surfaceless)
    void* m_mainContext = nullptr;
    void* m_surface = nullptr;
    void* m_window = nullptr;
    bool m_robust = false;
    std::string m_description;

    std::mutex m_poolLock;
    std::vector<void*> m_idleWorkers;
    std::vector<void*> m_allWorkers;
};

} // namespace GAME::OpenGL
