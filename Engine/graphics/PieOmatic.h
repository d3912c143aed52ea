// An animated round indicator drawn over the frame: a background picture and, over it, a disc cut
// into wedges (segments) that light up and go dark one after another around the circle, with the
// whole indicator fading in and out. Normal mode is a smooth rotating wipe (30 segments, soft
// edges between them); wedge mode a coarse display (10 segments, hard edges). The host makes it
// with two texture names and drives Update and Render itself.
//
// Segment i points at angle i / N * 2 pi - pi / 2 from the centre: the first points up and the
// angles grow clockwise on screen. Every 2000 / N ms (whole milliseconds) the segment at the cursor
// flips between lit and dark and the cursor moves on, so one turn takes about two seconds; a
// segment fades to its new state over 500 ms (at once in wedge mode).
//
// Owns one use of its two textures and of the shader "Shaders/BasicTexture.ssh" (given back to
// the graphics engine when it goes), so it cannot be copied. Main thread only.
#pragma once

#include "core/Vec2.h"

#include <vector>

namespace GAME {

class GraphicsCanvas;
class GraphicsEngine;
class GraphicsShader2;
class GraphicsTexture;

class PieOmatic
{
public:
    static constexpr const char* shaderName = "Shaders/BasicTexture.ssh";
    static constexpr int normalSegments = 30;
    static constexpr int wedgeSegments = 10;
    // Longest step an update takes, milliseconds.
    static constexpr int maxStep = 100;
    static constexpr float defaultScale = 0.5f;

    struct Segment
    {
        float x = 0.0f; // offset from the centre, texture pixels
        float y = 0.0f;
        float u = 0.0f;
        float v = 0.0f;
        float current = 1.0f; // 0 dark ... 1 lit
        float target = 1.0f;
    };

    // With the engine's graphics engine.
    PieOmatic(const char* backgroundTexture, const char* discTexture);
    // With the graphics engine given (null: nothing loaded, nothing drawn).
    PieOmatic(const char* backgroundTexture, const char* discTexture, GraphicsEngine* graphics);
    virtual ~PieOmatic();
    PieOmatic(const PieOmatic&) = delete;
    PieOmatic& operator=(const PieOmatic&) = delete;

    void FadeIn() { m_fadeTarget = 1.0f; }
    void FadeOut() { m_fadeTarget = 0.0f; }
    // Stores the mode, puts the cursor back to 0 and rebuilds the segments, all lit (none without
    // a disc texture).
    void SetWedgeMode(bool wedgeMode);
    bool GetWedgeMode() const { return m_wedgeMode; }

    // Advances fade, segments and rotation by at most maxStep milliseconds (negative: none).
    void Update(int elapsedMs);
    // The background at scale, centred on centre, with the fade as its alpha; then the disc's
    // segments through the pie shader. Nothing without both textures.
    void Render(GraphicsCanvas& canvas, const Vec2& center) const;

    // N: wedgeSegments or normalSegments.
    int GetNumSegmentsForMode() const { return m_wedgeMode ? wedgeSegments : normalSegments; }
    // Milliseconds between flips: the whole part of 2000 / N.
    int GetFlipPeriod() const { return 2000 / GetNumSegmentsForMode(); }
    const std::vector<Segment>& GetSegments() const { return m_segments; }
    float GetFade() const { return m_fadeCurrent; }
    float GetFadeTarget() const { return m_fadeTarget; }
    int GetCursor() const { return m_cursor; }
    int GetTimer() const { return m_timer; }
    float GetScale() const { return m_scale; }

private:
    // Lit when at most half lit, else dark; nothing for an index without a segment.
    void FlipSegment(int index);

    GraphicsEngine* m_graphics;
    GraphicsTexture* m_backgroundTexture = nullptr;
    GraphicsTexture* m_discTexture = nullptr;
    GraphicsShader2* m_shader = nullptr;
    std::vector<Segment> m_segments;
    float m_fadeCurrent = 0.0f;
    float m_fadeTarget = 0.0f;
    int m_cursor = 0;
    int m_timer = 0;
    bool m_wedgeMode = false;
    float m_scale = defaultScale;
};

} // namespace GAME
