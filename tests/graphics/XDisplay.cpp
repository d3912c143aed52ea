#include "XDisplay.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace GAME::Test {

namespace {

// Xlib's own handler ends the process on any protocol error: while one of these lives, errors are
// counted instead.
class ErrorTrap
{
public:
    explicit ErrorTrap(Display* display) : m_display(display)
    {
        s_errors = 0;
        m_previous = XSetErrorHandler(&ErrorTrap::Count);
    }
    ~ErrorTrap() { XSetErrorHandler(m_previous); }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server's answers so far; false when any was an error.
    bool Sync()
    {
        XSync(m_display, False);
        return s_errors == 0;
    }

private:
    static int Count(Display*, XErrorEvent*)
    {
        ++s_errors;
        return 0;
    }

    static inline int s_errors = 0;
    Display* m_display;
    XErrorHandler m_previous = nullptr;
};

// A loaded X server turns connections away now and then (its queue of new clients is full while
// the other tests of the run connect): it is asked again until it takes the connection, for as
// long as only a server that never will would take.
Display* OpenDisplay()
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    do {
        if (Display* display = XOpenDisplay(nullptr))
            return display;
        if (!std::getenv("DISPLAY"))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < end);
    return nullptr;
}

std::string ModeName(int width, int height)
{
    return "marrow-test-" + std::to_string(width) + "x" + std::to_string(height);
}

int Shift(unsigned long mask)
{
    return mask ? __builtin_ctzl(mask) : 0;
}

} // namespace

bool GetXScreenSize(int& width, int& height)
{
    Display* display = OpenDisplay();
    if (!display)
        return false;
    width = DisplayWidth(display, DefaultScreen(display));
    height = DisplayHeight(display, DefaultScreen(display));
    XCloseDisplay(display);
    return true;
}

bool GetXOutputModeSize(int& width, int& height)
{
    Display* display = OpenDisplay();
    if (!display)
        return false;
    bool found = false;
    {
        ErrorTrap trap(display);
        XRRScreenResources* resources = XRRGetScreenResources(display, DefaultRootWindow(display));
        XRROutputInfo* output = resources && resources->noutput > 0
                                    ? XRRGetOutputInfo(display, resources, resources->outputs[0])
                                    : nullptr;
        XRRCrtcInfo* crtc =
            output && output->crtc ? XRRGetCrtcInfo(display, resources, output->crtc) : nullptr;
        if (crtc) {
            width = int(crtc->width);
            height = int(crtc->height);
            found = true;
            XRRFreeCrtcInfo(crtc);
        }
        if (output)
            XRRFreeOutputInfo(output);
        if (resources)
            XRRFreeScreenResources(resources);
        found = trap.Sync() && found;
    }
    XCloseDisplay(display);
    return found;
}

struct ExtraDisplayModes::State
{
    Display* display = nullptr;
    RROutput output = 0;
    RRCrtc crtc = 0;
    // The output's CRTC as it was: put back when it ends at one of the added modes.
    RRMode originalMode = 0;
    int x = 0;
    int y = 0;
    Rotation rotation = RR_Rotate_0;
    // Added to the output here (and made here, when made is set).
    std::vector<std::pair<RRMode, bool>> added;
};

ExtraDisplayModes::ExtraDisplayModes(const std::vector<std::pair<int, int>>& sizes)
    : m_state(std::make_unique<State>())
{
    State& s = *m_state;
    s.display = OpenDisplay();
    if (!s.display) {
        m_error = "no X display";
        return;
    }
    int eventBase = 0, errorBase = 0;
    if (!XRRQueryExtension(s.display, &eventBase, &errorBase)) {
        m_error = "the X display has no RandR";
        return;
    }
    ErrorTrap trap(s.display);
    const ::Window root = DefaultRootWindow(s.display);
    XRRScreenResources* resources = XRRGetScreenResources(s.display, root);
    if (!resources || resources->noutput < 1) {
        if (resources)
            XRRFreeScreenResources(resources);
        m_error = "the X display has no RandR output";
        return;
    }
    s.output = resources->outputs[0];
    XRROutputInfo* output = XRRGetOutputInfo(s.display, resources, s.output);
    if (!output) {
        XRRFreeScreenResources(resources);
        m_error = "the X display's output cannot be read";
        return;
    }
    s.crtc = output->crtc;
    if (XRRCrtcInfo* crtc = s.crtc ? XRRGetCrtcInfo(s.display, resources, s.crtc) : nullptr) {
        s.originalMode = crtc->mode;
        s.x = crtc->x;
        s.y = crtc->y;
        s.rotation = crtc->rotation;
        XRRFreeCrtcInfo(crtc);
    }
    auto find = [&](auto test) -> const XRRModeInfo* {
        for (int i = 0; i < resources->nmode; ++i)
            if (test(resources->modes[i]))
                return &resources->modes[i];
        return nullptr;
    };
    for (const auto& [width, height] : sizes) {
        const bool onOutput = std::any_of(output->modes, output->modes + output->nmode, [&](RRMode id) {
            const XRRModeInfo* mode = find([&](const XRRModeInfo& m) { return m.id == id; });
            return mode && int(mode->width) == width && int(mode->height) == height;
        });
        if (onOutput)
            continue;
        // A mode of ours left behind by a run that ended early is taken as it is.
        const std::string name = ModeName(width, height);
        const XRRModeInfo* existing =
            find([&](const XRRModeInfo& m) { return m.name && std::string(m.name, m.nameLength) == name; });
        RRMode mode = existing ? existing->id : 0;
        if (!mode) {
            XRRModeInfo info;
            std::memset(&info, 0, sizeof(info));
            info.width = unsigned(width);
            info.height = unsigned(height);
            info.hTotal = unsigned(width);
            info.vTotal = unsigned(height);
            info.dotClock = static_cast<unsigned long>(width) * static_cast<unsigned long>(height) * 60u;
            std::vector<char> text(name.begin(), name.end());
            text.push_back('\0');
            info.name = text.data();
            info.nameLength = unsigned(name.size());
            mode = XRRCreateMode(s.display, root, &info);
        }
        if (mode)
            XRRAddOutputMode(s.display, s.output, mode);
        if (!mode || !trap.Sync()) {
            m_error = "RandR refused the mode " + name;
            break;
        }
        s.added.emplace_back(mode, existing == nullptr);
    }
    XRRFreeOutputInfo(output);
    XRRFreeScreenResources(resources);
}

ExtraDisplayModes::~ExtraDisplayModes()
{
    State& s = *m_state;
    if (!s.display)
        return;
    {
        ErrorTrap trap(s.display);
        const ::Window root = DefaultRootWindow(s.display);
        // The output must not be left showing a mode that goes away.
        if (XRRScreenResources* resources = XRRGetScreenResources(s.display, root)) {
            if (XRRCrtcInfo* crtc = s.crtc ? XRRGetCrtcInfo(s.display, resources, s.crtc) : nullptr) {
                const bool ours = std::any_of(s.added.begin(), s.added.end(),
                                              [&](const auto& added) { return added.first == crtc->mode; });
                if (ours && s.originalMode)
                    XRRSetCrtcConfig(s.display, resources, s.crtc, CurrentTime, s.x, s.y, s.originalMode,
                                     s.rotation, &s.output, 1);
                XRRFreeCrtcInfo(crtc);
            }
            XRRFreeScreenResources(resources);
        }
        for (const auto& [mode, made] : s.added) {
            XRRDeleteOutputMode(s.display, s.output, mode);
            if (made)
                XRRDestroyMode(s.display, mode);
        }
        trap.Sync();
    }
    XCloseDisplay(s.display);
}

namespace {

bool GetX11Window(void* sdlWindow, Display*& display, ::Window& window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!sdlWindow || !SDL_GetWindowWMInfo(static_cast<SDL_Window*>(sdlWindow), &info) ||
        info.subsystem != SDL_SYSWM_X11)
        return false;
    // SDL's own connection: what the window was given went to the server on it, so the server
    // has it before it answers what is asked here.
    display = info.info.x11.display;
    window = info.info.x11.window;
    return true;
}

} // namespace

bool PlaceWindow(void* sdlWindow, int x, int y, int width, int height)
{
    Display* display = nullptr;
    ::Window window = 0;
    if (!GetX11Window(sdlWindow, display, window) || width <= 0 || height <= 0)
        return false;
    ErrorTrap trap(display);
    XMoveResizeWindow(display, window, x, y, unsigned(width), unsigned(height));
    return trap.Sync();
}

bool ReadWindowPixels(void* sdlWindow, int& width, int& height, std::vector<uint32_t>& pixels)
{
    Display* display = nullptr;
    ::Window window = 0;
    if (!GetX11Window(sdlWindow, display, window))
        return false;
    ErrorTrap trap(display);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    XImage* image = XGetImage(display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    const bool read = trap.Sync() && image;
    if (read) {
        width = image->width;
        height = image->height;
        pixels.resize(size_t(width) * size_t(height));
        const unsigned long masks[3] = {image->red_mask, image->green_mask, image->blue_mask};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned long value = XGetPixel(image, x, y);
                uint32_t rgb = 0;
                for (const unsigned long mask : masks) {
                    // Each channel widened to eight bits.
                    const unsigned long bits = mask >> Shift(mask);
                    const unsigned long channel = bits ? ((value & mask) >> Shift(mask)) * 255u / bits : 0;
                    rgb = rgb << 8 | uint32_t(channel);
                }
                pixels[size_t(y) * size_t(width) + size_t(x)] = rgb;
            }
    }
    if (image)
        XDestroyImage(image);
    return read;
}

bool SyncWithServer(void* sdlWindow)
{
    Display* display = nullptr;
    ::Window window = 0;
    if (!GetX11Window(sdlWindow, display, window))
        return false;
    XSync(display, False);
    return true;
}

unsigned long GetXWindow(void* sdlWindow)
{
    Display* display = nullptr;
    ::Window window = 0;
    return GetX11Window(sdlWindow, display, window) ? window : 0;
}

bool WaitForWindowColors(unsigned long xWindow, const std::vector<WindowPixel>& pixels, int tolerance,
                         int seconds)
{
    Display* display = OpenDisplay();
    if (!display || !xWindow) {
        if (display)
            XCloseDisplay(display);
        return false;
    }
    // Whether the window shows the colour at the pixel now.
    auto shows = [&](const WindowPixel& pixel) {
        XWindowAttributes attributes;
        // Asked only of a window on the screen (an image of anything else is a protocol error).
        if (!XGetWindowAttributes(display, xWindow, &attributes) || attributes.map_state != IsViewable ||
            pixel.x >= attributes.width || pixel.y >= attributes.height)
            return false;
        XImage* image = XGetImage(display, xWindow, pixel.x, pixel.y, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return false;
        const unsigned long value = XGetPixel(image, 0, 0);
        const unsigned long masks[3] = {image->red_mask, image->green_mask, image->blue_mask};
        bool near = true;
        for (int channel = 0; channel < 3; ++channel) {
            const unsigned long mask = masks[channel];
            const unsigned long bits = mask >> Shift(mask);
            const int got = bits ? int(((value & mask) >> Shift(mask)) * 255u / bits) : 0;
            const int wanted = int(pixel.rgb >> (16 - 8 * channel) & 255u);
            near = near && std::abs(got - wanted) <= tolerance;
        }
        XDestroyImage(image);
        return near;
    };
    bool shown = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!shown && std::chrono::steady_clock::now() < end) {
        shown = std::all_of(pixels.begin(), pixels.end(), shows);
        if (!shown)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    XCloseDisplay(display);
    return shown;
}

} // namespace GAME::Test
