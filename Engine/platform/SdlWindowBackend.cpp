// The system's window backend and video presenter, over SDL2 (see WindowSystem.h).

#include "platform/SdlSystem.h"
#include "platform/WindowSystem.h"

#include <SDL.h>

#include <algorithm>

namespace GAME::Platform {

namespace {

class SdlWindowBackend final : public WindowBackend
{
public:
    ~SdlWindowBackend() override { Destroy(); }

    bool Create(const std::string& caption, int width, int height, const WindowIcon* icon) override
    {
        Destroy();
        if (!Sdl::AcquireVideo())
            return false;
        // A render device makes its OpenGL context on this window: the frame buffer it gets is
        // chosen with the window.
        SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        m_window =
            SDL_CreateWindow(caption.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                             std::max(width, 1), std::max(height, 1), SDL_WINDOW_HIDDEN | SDL_WINDOW_OPENGL);
        if (!m_window) {
            Sdl::SetError(std::string("SDL_CreateWindow failed (") + SDL_GetError() + ")");
            Sdl::ReleaseVideo();
            return false;
        }
        if (icon && icon->pixels && icon->width > 0 && icon->height > 0) {
            SDL_Surface* surface =
                SDL_CreateRGBSurfaceFrom(const_cast<uint32_t*>(icon->pixels), icon->width, icon->height, 32,
                                         icon->width * 4, 0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u);
            if (surface) {
                SDL_SetWindowIcon(m_window, surface);
                SDL_FreeSurface(surface);
            }
        }
        m_windowId = SDL_GetWindowID(m_window);
        Sdl::RegisterWindow(m_windowId, m_window);
        NotePlacement();
        SDL_GetWindowSize(m_window, &m_acceptedWidth, &m_acceptedHeight);
        return true;
    }

    void Destroy() override
    {
        if (!m_window)
            return;
        SDL_MinimizeWindow(m_window);
        Sdl::UnregisterWindow(m_windowId);
        SDL_DestroyWindow(m_window);
        m_window = nullptr;
        m_windowId = 0;
        Sdl::ReleaseVideo();
    }

    bool IsCreated() const override { return m_window != nullptr; }

    void SetStyle(WindowStyle style, int width, int height) override
    {
        if (!m_window)
            return;
        SDL_SetWindowBordered(m_window, style == WindowStyle::FullScreen ? SDL_FALSE : SDL_TRUE);
        SDL_SetWindowResizable(m_window, style == WindowStyle::Resizable ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowSize(m_window, std::max(width, 1), std::max(height, 1));
        SDL_GetWindowSize(m_window, &m_acceptedWidth, &m_acceptedHeight);
        NotePlacement();
    }

    void GetClientSize(int& width, int& height) const override
    {
        width = height = 0;
        if (m_window)
            SDL_GetWindowSize(m_window, &width, &height);
    }

    void Center() override
    {
        if (!m_window)
            return;
        SDL_SetWindowPosition(m_window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
        NotePlacement();
    }

    void Maximize() override
    {
        if (m_window)
            SDL_MaximizeWindow(m_window);
    }

    void Minimize() override
    {
        if (m_window)
            SDL_MinimizeWindow(m_window);
    }

    void Show(bool show) override
    {
        if (!m_window)
            return;
        if (show)
            SDL_ShowWindow(m_window);
        else
            SDL_HideWindow(m_window);
    }

    void Activate() override
    {
        if (m_window)
            SDL_RaiseWindow(m_window);
    }

    void SetCaption(const std::string& caption) override
    {
        if (m_window)
            SDL_SetWindowTitle(m_window, caption.c_str());
    }

    bool IsForeground() const override
    {
        return m_window && (SDL_GetWindowFlags(m_window) & SDL_WINDOW_INPUT_FOCUS) != 0;
    }

    bool IsVisible() const override
    {
        return m_window && (SDL_GetWindowFlags(m_window) & SDL_WINDOW_SHOWN) != 0;
    }

    bool IsMinimized() const override
    {
        return m_window && (SDL_GetWindowFlags(m_window) & SDL_WINDOW_MINIMIZED) != 0;
    }

    void* GetSystemWindow() const override { return m_window; }

    void PumpMessages() override
    {
        if (m_window)
            Sdl::Pump();
    }

    bool TakeMessage(WindowMessage& message) override
    {
        Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId);
        if (!queues || queues->messages.empty())
            return false;
        message = queues->messages.front();
        queues->messages.pop_front();
        return true;
    }

    void FinishCommand(const WindowMessage& message, bool carryOut) override
    {
        if (!m_window || message.type != WindowMessage::SYSTEM_COMMAND)
            return;
        if (carryOut) {
            if ((message.command & 0xFFF0u) == SYSTEM_COMMAND_MOVE) { // a caption drag too
                m_acceptedX = message.x;
                m_acceptedY = message.y;
            } else if (message.command == SYSTEM_COMMAND_SIZE) {
                m_acceptedWidth = message.x;
                m_acceptedHeight = message.y;
            }
            return;
        }
        // The system moved, sized or maximised the window already: put it back.
        switch (message.command) {
        case SYSTEM_COMMAND_MOVE:
            SDL_SetWindowPosition(m_window, m_acceptedX, m_acceptedY);
            NotePlacement();
            break;
        case SYSTEM_COMMAND_SIZE:
            SDL_SetWindowSize(m_window, m_acceptedWidth, m_acceptedHeight);
            break;
        case SYSTEM_COMMAND_MAXIMIZE:
            SDL_RestoreWindow(m_window);
            break;
        default:
            break;
        }
    }

private:
    // The window put itself where it is now: that place is accepted, and the move there that the
    // system reports later is the window's own.
    void NotePlacement()
    {
        SDL_GetWindowPosition(m_window, &m_acceptedX, &m_acceptedY);
        if (Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId)) {
            queues->placed = true;
            queues->placedX = m_acceptedX;
            queues->placedY = m_acceptedY;
        }
    }

    SDL_Window* m_window = nullptr;
    uint32_t m_windowId = 0;
    // Where the window was last allowed to be.
    int m_acceptedX = 0;
    int m_acceptedY = 0;
    int m_acceptedWidth = 0;
    int m_acceptedHeight = 0;
};

// Draws through SDL's software renderer into the window's own frame buffer, so that it never
// touches a render device's context on the same window.
class SdlVideoPresenter final : public VideoPresenter
{
public:
    ~SdlVideoPresenter() override
    {
        if (m_texture)
            SDL_DestroyTexture(m_texture);
        if (m_renderer)
            SDL_DestroyRenderer(m_renderer);
    }

    bool Open(SDL_Window* window, bool fullScreen, int width, int height)
    {
        m_window = window;
        m_windowId = Sdl::GetWindowId(window);
        Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId);
        if (!queues) {
            Sdl::SetError("the window is not a window of the window layer");
            return false;
        }
        if (fullScreen) {
            SDL_DisplayMode mode = {};
            mode.format = SDL_PIXELFORMAT_ARGB8888;
            mode.w = width;
            mode.h = height;
            mode.refresh_rate = 75;
            SDL_DisplayMode closest = {};
            const int display = std::max(SDL_GetWindowDisplayIndex(window), 0);
            if (SDL_GetClosestDisplayMode(display, &mode, &closest))
                SDL_SetWindowDisplayMode(window, &closest);
            if (SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0)
                Sdl::SetError(std::string("full screen refused (") + SDL_GetError() + ")");
        }
        // The window surface of the software renderer must not be emulated through a GL context of
        // SDL's own: the game's device already draws on this window through EGL, and X refuses a
        // second API's context on it.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        m_renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
        if (!m_renderer) {
            Sdl::SetError(std::string("no renderer on the window (") + SDL_GetError() + ")");
            return false;
        }
        // What happened before playback does not stop it.
        Sdl::Pump();
        if ((queues = Sdl::FindQueues(m_windowId)) != nullptr) {
            m_keyPresses = queues->keyPresses;
            m_closeRequests = queues->closeRequests;
        }
        return true;
    }

    void GetClientSize(int& width, int& height) const override
    {
        width = height = 0;
        if (SDL_GetRendererOutputSize(m_renderer, &width, &height) != 0)
            SDL_GetWindowSize(m_window, &width, &height);
    }

    bool Present(const void* pixels, int width, int height, int pitch, int destX, int destY, int destWidth,
                 int destHeight) override
    {
        if (!pixels || width <= 0 || height <= 0)
            return false;
        if (!m_texture || width != m_textureWidth || height != m_textureHeight) {
            if (m_texture)
                SDL_DestroyTexture(m_texture);
            // ARGB8888 is bytes blue, green, red, alpha in memory on this little-endian machine.
            m_texture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                          width, height);
            if (!m_texture)
                return false;
            m_textureWidth = width;
            m_textureHeight = height;
        }
        if (SDL_UpdateTexture(m_texture, nullptr, pixels, pitch) != 0)
            return false;
        SDL_SetRenderDrawColor(m_renderer, 0, 0, 0, 255);
        SDL_RenderClear(m_renderer);
        const SDL_Rect dest = {destX, destY, destWidth, destHeight};
        SDL_RenderCopy(m_renderer, m_texture, nullptr, &dest);
        SDL_RenderPresent(m_renderer);
        return true;
    }

    bool ShouldStop() override
    {
        Sdl::Pump();
        const Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId);
        if (!queues)
            return true; // the window is gone
        return queues->keyPresses != m_keyPresses || queues->closeRequests != m_closeRequests;
    }

private:
    SDL_Window* m_window = nullptr;
    uint32_t m_windowId = 0;
    SDL_Renderer* m_renderer = nullptr;
    SDL_Texture* m_texture = nullptr;
    int m_textureWidth = 0;
    int m_textureHeight = 0;
    uint64_t m_keyPresses = 0;
    uint64_t m_closeRequests = 0;
};

} // namespace

WindowBackend* CreateSystemWindowBackend()
{
    if (!HasDisplay())
        return nullptr;
    return new SdlWindowBackend;
}

VideoPresenter* VideoPresenter::Create(void* systemWindow, bool fullScreen, int width, int height)
{
    if (!systemWindow) {
        Sdl::SetError("no window to play in");
        return nullptr;
    }
    auto* presenter = new SdlVideoPresenter;
    if (!presenter->Open(static_cast<SDL_Window*>(systemWindow), fullScreen, width, height)) {
        delete presenter;
        return nullptr;
    }
    return presenter;
}

} // namespace GAME::Platform
