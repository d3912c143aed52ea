// The overlay activity the library provides: a five-second animation of a ship crossing a map.
// The map flips between two pictures every second, centred on a 1024 x 768 layout; the ship moves
// in a straight line from shipStart toward shipEnd. Owns one use of each of its three textures
// (given back to the graphics engine when it goes), so it cannot be copied. Main thread only.
#pragma once

#include "core/Vec2.h"
#include "graphics/OverlayActivity.h"

namespace GAME {

class GraphicsEngine;
class GraphicsTexture;

class BoatOverlayActivity : public OverlayActivity
{
public:
    static constexpr const char* mapTextureName = "Sandbox/Varnel/BoatMap.tex";
    static constexpr const char* secondMapTextureName = "Sandbox/Varnel/BoatMap2.tex";
    static constexpr const char* shipTextureName = "Sandbox/Varnel/PirateShip.tex";
    // Finished once more than this has elapsed.
    static constexpr int duration = 5000;
    // The ship's path in screen pixels; it covers the path's length every 5,000 ms.
    static constexpr Vec2 shipStart{350.0f, 460.0f};
    static constexpr Vec2 shipEnd{700.0f, 314.0f};
    static constexpr float shipSpeed = 0.0002f; // of the path per millisecond

    // With the engine's graphics engine.
    BoatOverlayActivity();
    // With the graphics engine given (null: no textures, nothing drawn).
    explicit BoatOverlayActivity(GraphicsEngine* graphics);
    ~BoatOverlayActivity() override;
    BoatOverlayActivity(const BoatOverlayActivity&) = delete;
    BoatOverlayActivity& operator=(const BoatOverlayActivity&) = delete;

    // Negative steps count as none.
    void Update(int elapsedMs) override;
    // The map (the second picture during even seconds, the first during odd ones) centred on
    // (512, 384) at the first picture's size, then the ship at its own size.
    void Render(GraphicsCanvas& canvas) const override;

    int GetElapsed() const { return m_elapsed; }
    // Top left corner of the ship at the elapsed time.
    Vec2 GetShipPosition() const;
    // The map picture of the elapsed time.
    GraphicsTexture* GetCurrentMapTexture() const;

private:
    GraphicsEngine* m_graphics;
    int m_elapsed = 0;
    GraphicsTexture* m_mapTexture = nullptr;
    GraphicsTexture* m_secondMapTexture = nullptr;
    GraphicsTexture* m_shipTexture = nullptr;
};

} // namespace GAME
