// MemQueue and KvRawBuffer.
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"

namespace {

TEST(MemQueue, BothKindsAgainstADeque) {
    for (unsigned short compact : {0, 1}) {
        SCOPED_TRACE(compact);
        MemQueue queue(compact);
        std::deque<unsigned char> model;
        std::mt19937 random(compact + 1);
        unsigned char counter = 0;
        for (int step = 0; step < 3000; ++step) {
            std::vector<unsigned char> bytes(random() % 40);
            if (random() % 2 == 0) {
                for (auto& b : bytes)
                    b = counter++;
                ASSERT_EQ(queue.Put(bytes.data(), static_cast<unsigned>(bytes.size())), 0);
                model.insert(model.end(), bytes.begin(), bytes.end());
            } else {
                int rc = queue.Get(bytes.data(), static_cast<unsigned>(bytes.size()));
                if (model.empty()) {
                    ASSERT_EQ(rc, KV_MEMQUEUE_EMPTY);
                } else if (model.size() < bytes.size()) {
                    ASSERT_EQ(rc, KV_MEMQUEUE_TOO_FEW_BYTES);
                } else {
                    ASSERT_EQ(rc, 0);
                    ASSERT_TRUE(std::equal(bytes.begin(), bytes.end(), model.begin()));
                    model.erase(model.begin(), model.begin() + static_cast<long>(bytes.size()));
                }
            }
            if (compact != 0) {
                ASSERT_EQ(queue.GetHead(), 0u);
                ASSERT_EQ(queue.GetLogicalSize(), static_cast<int>(model.size()));
            } else if (step % 100 == 0) {
                queue.Delete(0);  // drop what was consumed
                ASSERT_EQ(queue.GetLogicalSize(), static_cast<int>(model.size()));
            }
        }
    }
}

TEST(MemQueue, ConsumedBytesStayUntilDelete) {
    MemQueue queue;
    char out[4];
    ASSERT_EQ(queue.Put(const_cast<char*>("ABCD"), 4), 0);
    ASSERT_EQ(queue.Get(out, 2), 0);
    EXPECT_EQ(queue.GetLogicalSize(), 4);
    EXPECT_EQ(queue.GetHead(), 2u);
    EXPECT_EQ(queue.Get(out, 0), 0);
    EXPECT_EQ(queue.GetHead(), 2u);
    queue.Delete(0);
    EXPECT_EQ(queue.GetHead(), 0u);
    EXPECT_EQ(queue.GetLogicalSize(), 2);
    EXPECT_EQ(std::memcmp(queue.GetBuffer(), "CD", 2), 0);

    tq::platform::HeapFailAfter(1);
    KvMemoryHandler previous = mmKvSetHandler([](unsigned long long) { return 0; });
    EXPECT_EQ(queue.Put(const_cast<char*>("0123456789abcdef"), 16), KV_MEMQUEUE_GROW_FAILED);
    mmKvSetHandler(previous);
    tq::platform::HeapFailAfter(0);
    EXPECT_EQ(queue.GetLogicalSize(), 2);

    MemQueue copy(queue);
    EXPECT_EQ(copy.Get(out, 2), 0);
    EXPECT_EQ(std::memcmp(out, "CD", 2), 0);
}

TEST(RawBuffer, CopyBorrowAdoptAndCapacity) {
    char text[10] = "123456789";
    {
        KvRawBuffer copied(text, 10, KvRawBufferCopy);
        EXPECT_NE(copied.GetBuf(), text);
        EXPECT_EQ(std::memcmp(copied.GetBuf(), text, 10), 0);
        KvRawBuffer again(copied);  // each owner frees its own block
        EXPECT_NE(again.GetBuf(), copied.GetBuf());
        KvRawBuffer assigned(nullptr, 0, KvRawBufferBorrow);
        assigned = again;
        EXPECT_NE(assigned.GetBuf(), again.GetBuf());
        EXPECT_EQ(copied.EnsureCapacity(8), 0);
        EXPECT_EQ(copied.GetBufLen(), 10u);
    }
    KvRawBuffer borrowed(text, 10, KvRawBufferBorrow);
    EXPECT_EQ(borrowed.GetBuf(), text);
    EXPECT_EQ(borrowed.EnsureCapacity(20), 0);
    EXPECT_NE(borrowed.GetBuf(), text);  // now an owned block; text is left alone
    EXPECT_EQ(borrowed.GetBufLen(), 20u);

    void* block = std::malloc(10);
    KvRawBuffer adopted(block, 10, KvRawBufferAdopt);  // freed by the buffer
    EXPECT_EQ(adopted.GetBuf(), block);
    KvRawBuffer odd(text, 10, static_cast<KvRawBufferBehavior>(7));  // borrows
    EXPECT_EQ(odd.GetBuf(), text);

    // A refused block is reported by the result alone: the default memory
    // handler, which would end in a fatal exception, is not reached.
    KvRawBuffer empty(text, 0, KvRawBufferCopy);
    tq::platform::HeapFailAfter(1);
    EXPECT_EQ(empty.EnsureCapacity(64), -2030);
    tq::platform::HeapFailAfter(1);
    KvRawBuffer refused(text, 10, KvRawBufferCopy);
    EXPECT_EQ(refused.GetBuf(), nullptr);
    EXPECT_EQ(refused.GetBufLen(), 0u);
    tq::platform::HeapFailAfter(0);
}

}  // namespace
