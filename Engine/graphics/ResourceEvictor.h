// Frees graphics resources that have not been used for a while when video memory runs short. The
// graphics engine makes one over its device, registers its texture, font, shader and mesh
// managers with it in that order, and runs Update at the start of every frame.
//
// Below 24 MiB of free video memory, resources unused for int(free x 2.3047130e-06 + 2) frames
// go (from 2 frames with nothing free to 60 at 24 MiB); below 64 MiB, those unused for 600
// frames; otherwise nothing. The managers are not owned. Main thread only.
#pragma once

#include <vector>

namespace GAME {

class BaseResourceManager;
class RenderDevice;

class ResourceEvictor
{
public:
    static constexpr unsigned int lowMemory = 25165824u;   // 24 MiB
    static constexpr unsigned int tightMemory = 67108864u; // 64 MiB
    static constexpr int tightMemoryFrames = 600;

    explicit ResourceEvictor(RenderDevice* device) : m_device(device) {}
    ResourceEvictor(const ResourceEvictor&) = delete;
    ResourceEvictor& operator=(const ResourceEvictor&) = delete;

    // Appends the manager (once).
    void Add(BaseResourceManager* manager);
    void Remove(BaseResourceManager* manager);
    // Every registered manager unloads what it has not used for more than that many frames.
    void Evict(int frames);
    // Once a frame: evicts by the device's free video memory.
    void Update();

    // The frames of disuse after which resources go at that much free video memory; -1: none go.
    static int GetEvictionFrames(unsigned int freeVideoMemory);
    int GetNumManagers() const { return static_cast<int>(m_managers.size()); }

private:
    RenderDevice* m_device;
    std::vector<BaseResourceManager*> m_managers;
};

} // namespace GAME
