// A short, timed 2-D show drawn over the frame (the host's, or the library's BoatOverlayActivity:
// a map with a moving ship). The overlay activity manager updates and draws it every frame until
// it calls itself finished; the engine updates its manager with the frame's elapsed time.
// Main thread only.
#pragma once

namespace GAME {

class GraphicsCanvas;

class OverlayActivity
{
public:
    OverlayActivity() = default;
    OverlayActivity(const OverlayActivity&) = default;
    OverlayActivity& operator=(const OverlayActivity&) = default;

    virtual void Update(int elapsedMs) = 0;
    virtual void Render(GraphicsCanvas& canvas) const = 0;
    virtual ~OverlayActivity() = default;

    bool Finished() const { return m_finished; }

protected:
    void SetFinished() { m_finished = true; }

private:
    bool m_finished = false;
};

} // namespace GAME
