#include "world/GroundQueries.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<GroundQueries*> g_queries{nullptr};
} // namespace

void GroundQueries::Install(GroundQueries* queries)
{
    g_queries.store(queries, std::memory_order_release);
}

GroundQueries* GroundQueries::Get()
{
    return g_queries.load(std::memory_order_acquire);
}

} // namespace GAME
