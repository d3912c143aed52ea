#include "SoftwareBuffers.h"

#include "SoftwareDevice.h"

namespace GAME::Software {

SoftwareVertexBuffer::SoftwareVertexBuffer(SoftwareDevice& device, unsigned int usage, unsigned int size)
    : m_device(device), m_usage(usage), m_data(size, 0)
{
}

void* SoftwareVertexBuffer::Lock()
{
    CriticalSectionLock lock(m_device.GetLock());
    if (!m_device.AllowLock(this, m_locked))
        return nullptr;
    m_locked = true;
    return m_data.data();
}

void SoftwareVertexBuffer::Unlock()
{
    CriticalSectionLock lock(m_device.GetLock());
    m_device.NoteUnlock(this, m_locked);
    m_locked = false;
}

SoftwareIndexBuffer::SoftwareIndexBuffer(SoftwareDevice& device, unsigned int numIndices,
                                         unsigned int bytesPerIndex)
    : m_device(device), m_numIndices(numIndices), m_bytesPerIndex(bytesPerIndex),
      m_data(size_t(numIndices) * bytesPerIndex, 0)
{
}

void* SoftwareIndexBuffer::Lock()
{
    CriticalSectionLock lock(m_device.GetLock());
    if (!m_device.AllowLock(this, m_locked))
        return nullptr;
    m_locked = true;
    return m_data.data();
}

void SoftwareIndexBuffer::Unlock()
{
    CriticalSectionLock lock(m_device.GetLock());
    m_device.NoteUnlock(this, m_locked);
    m_locked = false;
}

SoftwareDynamicVertexBuffer::SoftwareDynamicVertexBuffer(SoftwareDevice& device, unsigned int size)
    : m_device(device), m_data(size, 0)
{
}

void SoftwareDynamicVertexBuffer::Discard()
{
    CriticalSectionLock lock(m_device.GetLock());
    m_cursor = 0;
}

void* SoftwareDynamicVertexBuffer::Lock(unsigned int byteCount)
{
    CriticalSectionLock lock(m_device.GetLock());
    if (byteCount == 0 || byteCount > m_data.size()) {
        m_device.NoteBadLockSize(this, byteCount);
        return nullptr;
    }
    if (!m_device.AllowLock(this, m_locked))
        return nullptr;
    // Space that no longer fits behind the last lock starts over at the front.
    if (byteCount > m_data.size() - m_cursor)
        m_cursor = 0;
    m_lockedOffset = m_cursor;
    m_cursor += byteCount;
    m_locked = true;
    return m_data.data() + m_lockedOffset;
}

void SoftwareDynamicVertexBuffer::Unlock()
{
    CriticalSectionLock lock(m_device.GetLock());
    m_device.NoteUnlock(this, m_locked);
    m_locked = false;
}

void SoftwareDynamicVertexBuffer::SetAsStream(unsigned int offset, unsigned int stride)
{
    CriticalSectionLock lock(m_device.GetLock());
    m_device.BindStream(this, uint64_t(m_lockedOffset) + offset, stride);
}

unsigned int SoftwareDynamicVertexBuffer::GetLockedOffset() const
{
    CriticalSectionLock lock(m_device.GetLock());
    return m_lockedOffset;
}

SoftwareDynamicIndexBuffer::SoftwareDynamicIndexBuffer(SoftwareDevice& device, unsigned int size)
    : m_device(device), m_indices(size / sizeof(uint32_t), 0)
{
}

uint32_t* SoftwareDynamicIndexBuffer::Lock(unsigned int indexCount)
{
    CriticalSectionLock lock(m_device.GetLock());
    if (indexCount == 0 || indexCount > m_indices.size()) {
        m_device.NoteBadLockSize(this, indexCount);
        return nullptr;
    }
    if (!m_device.AllowLock(this, m_locked))
        return nullptr;
    if (indexCount > m_indices.size() - m_cursor)
        m_cursor = 0;
    m_lockedOffset = m_cursor;
    m_cursor += indexCount;
    m_locked = true;
    return m_indices.data() + m_lockedOffset;
}

void SoftwareDynamicIndexBuffer::Unlock()
{
    CriticalSectionLock lock(m_device.GetLock());
    m_device.NoteUnlock(this, m_locked);
    m_locked = false;
}

void SoftwareDynamicIndexBuffer::SetAsIndices()
{
    CriticalSectionLock lock(m_device.GetLock());
    m_device.BindIndices(this);
}

RenderDrawRange SoftwareDynamicIndexBuffer::GetDrawRange(unsigned int, unsigned int primitiveCount,
                                                         int baseVertex, unsigned int minVertex) const
{
    // The primitive count says how many of the written indices the draw reads; the device checks
    // that they lie inside the buffer when it draws.
    CriticalSectionLock lock(m_device.GetLock());
    RenderDrawRange range;
    range.baseVertex = baseVertex;
    range.minVertex = minVertex;
    range.startIndex = m_lockedOffset;
    range.primitiveCount = primitiveCount;
    return range;
}

void SoftwareDynamicIndexBuffer::Discard()
{
    CriticalSectionLock lock(m_device.GetLock());
    m_cursor = 0;
}

unsigned int SoftwareDynamicIndexBuffer::GetLockedOffset() const
{
    CriticalSectionLock lock(m_device.GetLock());
    return m_lockedOffset;
}

} // namespace GAME::Software
