// Vertex and index buffers of the software device, static and streaming, kept in main memory.
// Created and destroyed by SoftwareDevice only; every operation takes the device's lock, so the
// loader threads may fill static buffers while the main thread draws.
#pragma once

#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"

#include <cstdint>
#include <vector>

namespace GAME::Software {

class SoftwareDevice;

class SoftwareVertexBuffer final : public RenderVertexBuffer
{
public:
    SoftwareVertexBuffer(SoftwareDevice& device, unsigned int usage, unsigned int size);
    SoftwareVertexBuffer(const SoftwareVertexBuffer&) = delete;
    SoftwareVertexBuffer& operator=(const SoftwareVertexBuffer&) = delete;

    void* Lock() override;
    void Unlock() override;
    unsigned int GetSize() const override { return static_cast<unsigned int>(m_data.size()); }

    bool IsLocked() const { return m_locked; }
    const uint8_t* GetData() const { return m_data.data(); }

private:
    SoftwareDevice& m_device;
    unsigned int m_usage;
    std::vector<uint8_t> m_data;
    bool m_locked = false;
};

class SoftwareIndexBuffer final : public RenderIndexBuffer
{
public:
    SoftwareIndexBuffer(SoftwareDevice& device, unsigned int numIndices, unsigned int bytesPerIndex);
    SoftwareIndexBuffer(const SoftwareIndexBuffer&) = delete;
    SoftwareIndexBuffer& operator=(const SoftwareIndexBuffer&) = delete;

    void* Lock() override;
    void Unlock() override;
    unsigned int GetNumIndices() const override { return m_numIndices; }

    bool IsLocked() const { return m_locked; }
    unsigned int GetBytesPerIndex() const { return m_bytesPerIndex; }

private:
    SoftwareDevice& m_device;
    unsigned int m_numIndices;
    unsigned int m_bytesPerIndex;
    std::vector<uint8_t> m_data;
    bool m_locked = false;
};

class SoftwareDynamicVertexBuffer final : public RenderDynamicVertexBuffer
{
public:
    SoftwareDynamicVertexBuffer(SoftwareDevice& device, unsigned int size);
    SoftwareDynamicVertexBuffer(const SoftwareDynamicVertexBuffer&) = delete;
    SoftwareDynamicVertexBuffer& operator=(const SoftwareDynamicVertexBuffer&) = delete;

    unsigned int GetSize() const override { return static_cast<unsigned int>(m_data.size()); }
    void Discard() override;
    void* Lock(unsigned int byteCount) override;
    void Unlock() override;
    void SetAsStream(unsigned int offset, unsigned int stride) override;
    unsigned int GetLockedOffset() const override;

    bool IsLocked() const { return m_locked; }

private:
    SoftwareDevice& m_device;
    std::vector<uint8_t> m_data;
    unsigned int m_cursor = 0;
    unsigned int m_lockedOffset = 0;
    bool m_locked = false;
};

class SoftwareDynamicIndexBuffer final : public RenderDynamicIndexBuffer
{
public:
    // size in bytes; the buffer holds size / 4 indices.
    SoftwareDynamicIndexBuffer(SoftwareDevice& device, unsigned int size);
    SoftwareDynamicIndexBuffer(const SoftwareDynamicIndexBuffer&) = delete;
    SoftwareDynamicIndexBuffer& operator=(const SoftwareDynamicIndexBuffer&) = delete;

    unsigned int GetSize() const override { return static_cast<unsigned int>(m_indices.size()); }
    uint32_t* Lock(unsigned int indexCount) override;
    void Unlock() override;
    void SetAsIndices() override;
    RenderDrawRange GetDrawRange(unsigned int indexCount, unsigned int primitiveCount, int baseVertex,
                                 unsigned int minVertex) const override;
    void Discard() override;
    unsigned int GetLockedOffset() const override;

    bool IsLocked() const { return m_locked; }

private:
    SoftwareDevice& m_device;
    std::vector<uint32_t> m_indices;
    unsigned int m_cursor = 0;
    unsigned int m_lockedOffset = 0;
    bool m_locked = false;
};

} // namespace GAME::Software
