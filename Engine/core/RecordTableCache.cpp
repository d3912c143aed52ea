#include "core/RecordTableCache.h"

#include <atomic>

namespace GAME {

namespace {

std::atomic<RecordTableCacheFactory> s_factory{nullptr};

} // namespace

void SetRecordTableCacheFactory(RecordTableCacheFactory factory)
{
    s_factory.store(factory, std::memory_order_release);
}

RecordTableCacheFactory GetRecordTableCacheFactory()
{
    return s_factory.load(std::memory_order_acquire);
}

} // namespace GAME
