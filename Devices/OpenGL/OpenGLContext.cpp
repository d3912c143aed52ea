#include "OpenGLContext.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace GAME::OpenGL {

namespace {

// The engine pins its main thread to one processor before it makes the device. Mesa's llvmpipe
// counts the processors it may use when the display is first initialised and starts that many
// rasteriser threads with every context, each inheriting the creating thread's processors: made
// on the pinned thread, every pixel would be drawn on one core. So the display and every context
// are made with the calling thread widened to the process's processors, and the thread gets its
// own back afterwards.
class WidenedAffinity
{
public:
    WidenedAffinity()
    {
        CPU_ZERO(&m_saved);
        if (pthread_getaffinity_np(pthread_self(), sizeof(m_saved), &m_saved) != 0)
            return;
        m_restore = Widen();
    }
    ~WidenedAffinity()
    {
        if (m_restore)
            pthread_setaffinity_np(pthread_self(), sizeof(m_saved), &m_saved);
    }
    WidenedAffinity(const WidenedAffinity&) = delete;
    WidenedAffinity& operator=(const WidenedAffinity&) = delete;

private:
    // The engine's record of the process's processors (taken before the main thread pinned
    // itself); without the engine, every processor online (the kernel keeps any cpuset's limits).
    static bool Widen()
    {
        using Function = bool (*)();
        // GAME::Platform::SetCurrentThreadProcessAffinity() of libEngine.
        const auto engineWiden = reinterpret_cast<Function>(
            dlsym(RTLD_DEFAULT, "_ZN4GAME8Platform31SetCurrentThreadProcessAffinityEv"));
        if (engineWiden)
            return engineWiden();
        cpu_set_t all;
        CPU_ZERO(&all);
        const long count = sysconf(_SC_NPROCESSORS_ONLN);
        for (long cpu = 0; cpu < count && cpu < CPU_SETSIZE; ++cpu)
            CPU_SET(static_cast<int>(cpu), &all);
        return CPU_COUNT(&all) > 0 && pthread_setaffinity_np(pthread_self(), sizeof(all), &all) == 0;
    }

    cpu_set_t m_saved;
    bool m_restore = false;
};

// The engine raises its main thread's priority (nice -10) before it makes the device, and a thread
// starts with the nice value of the thread that starts it: llvmpipe's rasteriser threads made
// there would run at the main thread's priority and, on its processor, take turns with it on equal
// terms in the middle of its frame. They start at normal priority, as the engine's own threads do;
// the calling thread gets its priority back afterwards. A thread already at normal or lower keeps
// what it has.
class NormalPriority
{
public:
    NormalPriority()
    {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        if (errno != 0 || nice >= 0)
            return;
        m_saved = nice;
        m_restore = setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 0) == 0;
    }
    ~NormalPriority()
    {
        if (m_restore)
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), m_saved);
    }
    NormalPriority(const NormalPriority&) = delete;
    NormalPriority& operator=(const NormalPriority&) = delete;

private:
    int m_saved = 0;
    bool m_restore = false;
};

// A display is initialised once and stays so for the process: eglTerminate would end the contexts
// of every other device on the same display (eglGetPlatformDisplayEXT hands all of them the same
// one), and Mesa's drivers are not made to be unloaded and loaded again.
std::mutex g_displayLock;
std::map<EGLDisplay, bool> g_initialized;

bool InitializeDisplay(EGLDisplay display, std::string& error)
{
    std::lock_guard<std::mutex> lock(g_displayLock);
    if (g_initialized[display])
        return true;
    const WidenedAffinity widened; // the driver counts its processors here
    const NormalPriority normal;    // and starts its own threads
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        g_initialized.erase(display);
        error = "eglInitialize failed (error " + std::to_string(eglGetError()) + ")";
        return false;
    }
    g_initialized[display] = true;
    return true;
}

// The X connection EGL draws windows through: the device's own, one for each display name, opened
// at first use and kept for the process. SDL's own connection cannot serve: EGL keeps a display for
// every native display it was given, found again by its address, and a connection SDL closes (its
// video shut down and started again) may come back at the same address, where EGL would still use
// the closed one (a crash in the X library as the next window surface was made). The window is the
// X server's, so any connection may draw into it.
::Display* WindowConnection(::Display* sdlDisplay)
{
    static std::mutex lock;
    static std::map<std::string, ::Display*> connections;
    const std::string name = DisplayString(sdlDisplay);
    std::lock_guard<std::mutex> guard(lock);
    ::Display*& connection = connections[name];
    if (!connection)
        connection = XOpenDisplay(name.c_str());
    return connection;
}

bool HasExtension(const char* list, const char* name)
{
    if (!list)
        return false;
    const size_t length = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length)
        if ((p == list || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0'))
            return true;
    return false;
}

PFNEGLGETPLATFORMDISPLAYEXTPROC GetPlatformDisplayFunction()
{
    return reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
}

std::string Hex(EGLint value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04x", unsigned(value));
    return text;
}

} // namespace

ContextSet::~ContextSet()
{
    Close();
}

bool ContextSet::IsAvailable(std::string& reason)
{
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!clientExtensions || !HasExtension(clientExtensions, "EGL_EXT_platform_base") ||
        !GetPlatformDisplayFunction()) {
        reason = "EGL has no platform displays (EGL_EXT_platform_base)";
        return false;
    }
    return true;
}

void* ContextSet::CreateContext(void* share)
{
    const WidenedAffinity widened; // the context's rasteriser threads start here
    const NormalPriority normal;
    EGLDisplay display = m_display;
    auto attempt = [&](bool robust, bool debug) -> EGLContext {
        EGLint attributes[16];
        int n = 0;
        attributes[n++] = EGL_CONTEXT_MAJOR_VERSION;
        attributes[n++] = 4;
        attributes[n++] = EGL_CONTEXT_MINOR_VERSION;
        attributes[n++] = 5;
        attributes[n++] = EGL_CONTEXT_OPENGL_PROFILE_MASK;
        attributes[n++] = EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT;
        if (robust) {
            attributes[n++] = EGL_CONTEXT_OPENGL_ROBUST_ACCESS;
            attributes[n++] = EGL_TRUE;
            attributes[n++] = EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY;
            attributes[n++] = EGL_LOSE_CONTEXT_ON_RESET;
        }
        if (debug) {
            attributes[n++] = EGL_CONTEXT_OPENGL_DEBUG;
            attributes[n++] = EGL_TRUE;
        }
        attributes[n++] = EGL_NONE;
        return eglCreateContext(display, m_config ? EGLConfig(m_config) : EGL_NO_CONFIG_KHR,
                                share ? EGLContext(share) : EGL_NO_CONTEXT, attributes);
    };
#ifdef NDEBUG
    constexpr bool debug = false;
#else
    constexpr bool debug = true;
#endif
    if (!share) {
        // The main context decides whether the share group is robust; workers must match it.
        EGLContext context = attempt(true, debug);
        m_robust = context != EGL_NO_CONTEXT;
        if (!context)
            context = attempt(false, debug);
        return context;
    }
    return attempt(m_robust, debug);
}

bool ContextSet::Open(void* window, std::string& error)
{
    Close();
    if (!IsAvailable(error))
        return false;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error = "EGL cannot bind the OpenGL API";
        return false;
    }
    PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay = GetPlatformDisplayFunction();
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);

    EGLDisplay display = EGL_NO_DISPLAY;
    void* nativeWindow = nullptr;
    unsigned long x11Window = 0;
    unsigned long x11Visual = 0;
    if (!window) {
        if (!HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
            error = "EGL has no surfaceless platform (EGL_MESA_platform_surfaceless)";
            return false;
        }
        display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        m_description = "EGL surfaceless";
    } else {
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (!SDL_GetWindowWMInfo(static_cast<SDL_Window*>(window), &info)) {
            error = std::string("the window handle is not an SDL window: ") + SDL_GetError();
            return false;
        }
        if (info.subsystem != SDL_SYSWM_X11) {
            error = "the window is not an X11 window (only X11 windows are supported)";
            return false;
        }
        if (!HasExtension(clientExtensions, "EGL_KHR_platform_x11") &&
            !HasExtension(clientExtensions, "EGL_EXT_platform_x11")) {
            error = "EGL has no X11 platform";
            return false;
        }
        ::Display* connection = WindowConnection(info.info.x11.display);
        if (!connection) {
            error = "no connection to the window's X display";
            return false;
        }
        display = getPlatformDisplay(EGL_PLATFORM_X11_KHR, connection, nullptr);
        x11Window = info.info.x11.window;
        XWindowAttributes attributes;
        if (XGetWindowAttributes(info.info.x11.display, info.info.x11.window, &attributes))
            x11Visual = XVisualIDFromVisual(attributes.visual);
        nativeWindow = &x11Window;
        m_description = "EGL X11";
    }
    if (display == EGL_NO_DISPLAY) {
        error = "no EGL display (error " + Hex(eglGetError()) + ")";
        return false;
    }
    if (!InitializeDisplay(display, error))
        return false;
    m_display = display;

    EGLint major = 0, minor = 0;
    eglInitialize(display, &major, &minor);
    char version[32];
    std::snprintf(version, sizeof(version), " %d.%d", int(major), int(minor));
    m_description += version;
    const char* displayExtensions = eglQueryString(display, EGL_EXTENSIONS);
    if (!HasExtension(displayExtensions, "EGL_KHR_surfaceless_context")) {
        error = "the EGL display cannot make contexts current without a surface";
        Close();
        return false;
    }

    if (nativeWindow) {
        const EGLint wanted[] = {EGL_SURFACE_TYPE,
                                 EGL_WINDOW_BIT,
                                 EGL_RENDERABLE_TYPE,
                                 EGL_OPENGL_BIT,
                                 EGL_RED_SIZE,
                                 8,
                                 EGL_GREEN_SIZE,
                                 8,
                                 EGL_BLUE_SIZE,
                                 8,
                                 EGL_NONE};
        EGLConfig configs[64];
        EGLint count = 0;
        if (!eglChooseConfig(display, wanted, configs, 64, &count) || count == 0) {
            error = "no EGL configuration renders OpenGL into a window";
            Close();
            return false;
        }
        // The window was made with the display's visual; the configuration must draw with it.
        EGLConfig chosen = configs[0];
        for (EGLint i = 0; i < count; ++i) {
            EGLint visual = 0;
            if (eglGetConfigAttrib(display, configs[i], EGL_NATIVE_VISUAL_ID, &visual) &&
                static_cast<unsigned long>(visual) == x11Visual) {
                chosen = configs[i];
                break;
            }
        }
        m_config = chosen;
    } else if (!HasExtension(displayExtensions, "EGL_KHR_no_config_context") &&
               !HasExtension(displayExtensions, "EGL_MESA_configless_context")) {
        error = "the EGL display cannot make contexts without a configuration";
        Close();
        return false;
    }

    m_mainContext = CreateContext(nullptr);
    if (!m_mainContext) {
        error = "no OpenGL 4.5 core context (error " + Hex(eglGetError()) + ")";
        Close();
        return false;
    }
    if (nativeWindow) {
        auto createSurface = reinterpret_cast<PFNEGLCREATEPLATFORMWINDOWSURFACEEXTPROC>(
            eglGetProcAddress("eglCreatePlatformWindowSurfaceEXT"));
        EGLSurface surface = createSurface
                                 ? createSurface(display, EGLConfig(m_config), nativeWindow, nullptr)
                                 : EGL_NO_SURFACE;
        if (surface == EGL_NO_SURFACE) {
            error = "no EGL surface for the window (error " + Hex(eglGetError()) + ")";
            Close();
            return false;
        }
        m_surface = surface;
        m_window = window;
    }
    if (!MakeMainCurrent()) {
        error = "the OpenGL context cannot be made current (error " + Hex(eglGetError()) + ")";
        Close();
        return false;
    }
    if (m_robust)
        m_description += ", robust";
    return true;
}

void ContextSet::Close()
{
    if (!m_display)
        return;
    EGLDisplay display = m_display;
    if (eglGetCurrentContext() == EGLContext(m_mainContext))
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    {
        std::lock_guard<std::mutex> lock(m_poolLock);
        for (void* worker : m_allWorkers)
            eglDestroyContext(display, EGLContext(worker));
        m_allWorkers.clear();
        m_idleWorkers.clear();
    }
    if (m_surface)
        eglDestroySurface(display, EGLSurface(m_surface));
    if (m_mainContext)
        eglDestroyContext(display, EGLContext(m_mainContext));
    m_surface = nullptr;
    m_mainContext = nullptr;
    m_config = nullptr;
    m_window = nullptr;
    m_display = nullptr;
    eglReleaseThread();
}

bool ContextSet::MakeMainCurrent()
{
    if (!m_mainContext)
        return false;
    if (eglGetCurrentContext() == EGLContext(m_mainContext))
        return true;
    EGLSurface surface = m_surface ? EGLSurface(m_surface) : EGL_NO_SURFACE;
    return eglMakeCurrent(m_display, surface, surface, EGLContext(m_mainContext)) == EGL_TRUE;
}

bool ContextSet::IsMainCurrent() const
{
    return m_mainContext && eglGetCurrentContext() == EGLContext(m_mainContext);
}

void* ContextSet::AcquireWorker()
{
    if (!m_mainContext)
        return nullptr;
    // The bound API is the calling thread's; it starts as OpenGL ES.
    eglBindAPI(EGL_OPENGL_API);
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_poolLock);
        if (!m_idleWorkers.empty()) {
            context = m_idleWorkers.back();
            m_idleWorkers.pop_back();
        }
    }
    if (!context) {
        context = CreateContext(m_mainContext);
        if (!context)
            return nullptr;
        std::lock_guard<std::mutex> lock(m_poolLock);
        m_allWorkers.push_back(context);
    }
    if (!eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGLContext(context))) {
        std::lock_guard<std::mutex> lock(m_poolLock);
        m_idleWorkers.push_back(context);
        return nullptr;
    }
    return context;
}

void ContextSet::ReleaseWorker(void* context)
{
    if (!context)
        return;
    // Nothing is waited for here: what the worker made or filled carries a fence of its own
    // (OpenGLDevice::FenceWorkerWrites), which the next context to use it waits for.
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    std::lock_guard<std::mutex> lock(m_poolLock);
    m_idleWorkers.push_back(context);
}

bool ContextSet::SwapBuffers()
{
    if (!m_surface)
        return false;
    return eglSwapBuffers(m_display, EGLSurface(m_surface)) == EGL_TRUE;
}

void ContextSet::SetSwapInterval(int interval)
{
    if (m_surface)
        eglSwapInterval(m_display, interval);
}

bool ContextSet::GetSurfaceSize(int& width, int& height) const
{
    if (!m_surface)
        return false;
    EGLint w = 0, h = 0;
    if (!eglQuerySurface(m_display, EGLSurface(m_surface), EGL_WIDTH, &w) ||
        !eglQuerySurface(m_display, EGLSurface(m_surface), EGL_HEIGHT, &h))
        return false;
    width = w;
    height = h;
    return true;
}

} // namespace GAME::OpenGL
