// The resource of a texture file (".tex"): one device texture, or a series of frames played at a
// frame rate. The graphics engine's texture manager makes it by file name; the resource loader
// reads the file and calls Initialize, which hands the frames to the render device; drawing code
// asks GetTexture for the frame of the moment. After a failed load the engine's default texture
// (bad data) or empty texture (the device asked for a later retry) stands in, so drawing code
// always has something to bind.
//
// File forms (little-endian):
//   "DDS " ...                 a plain DDS image, handed whole to the device as the one frame;
//   "TEX" version(u8) rate(i32) then frames of { size(u32), DDS image of size bytes } to the end;
//   a "TEX" without frames loads and shows nothing (GetTexture answers null).
// When a texture is reduced (levels dropped for lower texture quality) and the file holds one
// frame, only the bytes the device needs at that reduction are read (GetDataLength).
//
// Threads: the loader thread runs GetDataLength, Initialize and InitializeDefault under the
// resource's lock; the main thread draws with GetTexture and unloads. The frame list changes
// only under that lock.
#pragma once

#include "core/Rect.h"
#include "data/Resource.h"

#include <string>
#include <vector>

namespace GAME {

class GraphicsEngine;
class RenderTexture;

class GraphicsTexture : public Resource
{
public:
    static constexpr float defaultFrameRate = 15.0f;
    // The part of a file GetDataLength looks at before deciding how much to read.
    static constexpr unsigned int headerProbeSize = 256;
    // "TEX", version, frame rate and the first frame's size.
    static constexpr unsigned int texHeaderSize = 12;

    // graphics may be null (a texture that can never load, for tools); the engine's manager
    // always passes itself.
    GraphicsTexture(BaseResourceManager* manager, const std::string& fileName, GraphicsEngine* graphics);
    ~GraphicsTexture() override;

    // The bytes of the file to read (0 without a file); fixes this texture's reduction.
    unsigned int GetDataLength(File* file);
    int GetLoadSize(File* file) override;
    InitResult Initialize(const void* data, int size) override;
    // After a failed Initialize: result 2 shows the empty texture, 3 nothing (the load is tried
    // again), anything else the default texture.
    void InitializeDefault() override;
    void Destroy() override;
    // The video memory in kilobytes, rounded, and " kb".
    std::string GetDebugInfo() const override;

    // Loads the texture first when needed; then the frame of the current game time, or null.
    RenderTexture* GetTexture();
    // The frame of that index, or null.
    RenderTexture* GetTexture(int frame) const;
    // Of the current frame; 0 without one.
    int GetWidth();
    int GetHeight();
    Rect GetRect();
    float GetFrameRate() const { return m_frameRate; }
    int GetNumFrames() const { return static_cast<int>(m_frames.size()); }
    // The sum of the frames' device memory.
    unsigned int GetVideoMemoryUsage() const;
    // True when loaded; marks the texture used.
    bool GetIsReadyToUse();
    // The reduction fixed by the last GetDataLength (0 before).
    int GetReduction() const { return m_reduction; }

    // The frame shown at a game time for a rate and a frame count: int(time * rate / 1000) modulo
    // the count, never negative, 0 for a rate that is not a positive finite number.
    static int SelectFrame(int64_t gameTimeMs, float frameRate, int frameCount);

private:
    bool IsEngineTexture(const RenderTexture* texture) const;

    GraphicsEngine* m_graphics;
    int m_reduction = 0;
    float m_frameRate = defaultFrameRate;
    std::vector<RenderTexture*> m_frames;
};

} // namespace GAME
