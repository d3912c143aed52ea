// The hand-over ring between a receive thread and the main thread: records come out whole and in
// order while the producer runs into a full ring and the records wrap around its end.
#include "network/NetworkQueue.h"
#include "core/Thread.h"
#include "platform/Threading.h"

#include <atomic>
#include <gtest/gtest.h>
#include <vector>

namespace GAME {
namespace {

std::vector<uint8_t> RecordBytes(uint32_t n)
{
    std::vector<uint8_t> bytes((n * 37u) % 301u); // 0 to 300 bytes
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(n + i);
    return bytes;
}

class Producer : public Thread
{
public:
    Producer(NetworkQueue& queue, uint32_t count) : m_queue(queue), m_count(count) {}
    void Run() override
    {
        for (uint32_t n = 1; n <= m_count; ++n) {
            const std::vector<uint8_t> bytes = RecordBytes(n);
            // A full ring refuses the record whole; the producer holds it and tries again.
            while (!m_queue.Put(static_cast<uint8_t>(n % 3 + 1), n, bytes.data(), bytes.size())) {
                refusals.fetch_add(1);
                Platform::SleepMilliseconds(0);
            }
        }
    }
    std::atomic<uint32_t> refusals{0};

private:
    NetworkQueue& m_queue;
    uint32_t m_count;
};

TEST(NetworkQueueThreadsTest, RecordsCrossThreadsWholeAndInOrderThroughAFullRing)
{
    NetworkQueue queue(1024); // a few records at a time: the ring fills and wraps constantly
    constexpr uint32_t count = 20000;
    Producer producer(queue, count);
    ASSERT_TRUE(producer.Start());
    uint32_t expected = 1;
    uint8_t kind = 0;
    uint32_t connection = 0;
    std::vector<uint8_t> data;
    while (expected <= count) {
        if (!queue.Take(kind, connection, data)) {
            Platform::SleepMilliseconds(0);
            continue;
        }
        ASSERT_EQ(connection, expected);
        ASSERT_EQ(kind, expected % 3 + 1);
        ASSERT_EQ(data, RecordBytes(expected));
        ++expected;
    }
    producer.Wait();
    EXPECT_FALSE(queue.Take(kind, connection, data));
    EXPECT_EQ(queue.GetUsed(), 0u);
    EXPECT_GT(producer.refusals.load(), 0u); // the ring was full at times

    // A record that could never fit is refused at once; nothing is written.
    std::vector<uint8_t> huge(2000);
    EXPECT_TRUE(queue.IsTooLarge(huge.size()));
    EXPECT_FALSE(queue.Put(1, 1, huge.data(), huge.size()));
    EXPECT_EQ(queue.GetNumRecords(), 0u);
}

} // namespace
} // namespace GAME
