#include "HeapBuffer.h"

#include "Failures.h"
#include "Owned.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using ktotest::FailureSwitch;
using ktotest::whileFailing;
using ktotest::Owned;

namespace
{
BlockQueueChunk* chunkOf (const HeapBuffer& list, int index)
{
    return static_cast<BlockQueueChunk*> (heapPointers (list)[index]);
}
} // namespace

TEST (HeapBuffer, AllocationSizesFollowPageRoundedGrowth)
{
    struct Step
    {
        int newSize;
        bool shrink;
        int size, allocated;
    };
    // Each row runs on the buffer left by the row before.
    const std::vector<Step> steps {
        { 100, false, 100, 4000 },        // first allocation
        { 3999, false, 3999, 4000 },      // fits strictly below the allocation
        { 4000, false, 4000, 8096 },      // a full allocation would leave no spare byte
        { -5, false, 0, 8096 },           // negative acts as 0, allocation kept
        { 0, true, 0, 8096 },             // same size: nothing changes even with shrinking
        { 100000, false, 100000, 147360 },
        { 1000000, false, 1000000, 1499040 },
        { 750000, true, 750000, 1499040 }, // not below half the allocation
        { 700000, true, 700000, 1044384 }, // below half: reallocates
        { 700000, true, 700000, 1044384 },
        { 0, true, 0, 0 },                 // frees the block
    };
    Owned<HeapBuffer> buffer;
    for (const auto& step : steps)
    {
        void* result = buffer.resize (step.newSize, step.shrink);
        EXPECT_EQ (buffer.size, step.size) << step.newSize;
        EXPECT_EQ (buffer.allocated, step.allocated) << step.newSize;
        EXPECT_EQ (result, step.size > 0 ? buffer.data : nullptr) << step.newSize;
        EXPECT_EQ (buffer.allocated % 4096, step.allocated == 0 ? 0 : 4000);
    }
    EXPECT_EQ (buffer.data, nullptr);

    // A shrinking resize of a small allocation frees only when asked for 0 bytes.
    buffer.resize (5000, false);
    buffer.resize (10, true);
    EXPECT_EQ (buffer.allocated, 8096);
}

TEST (HeapBuffer, FailedResizeLeavesBufferAsItWas)
{
    Owned<HeapBuffer> buffer;
    buffer.resize (100, false);
    std::memset (buffer.data, 7, 100);
    void* before = buffer.data;
    EXPECT_EQ (whileFailing (0, [&] { return buffer.resize (5000, false); }), before);
    EXPECT_EQ (buffer.size, 100);
    EXPECT_EQ (buffer.allocated, 4000);
    EXPECT_EQ (static_cast<unsigned char*> (buffer.data)[99], 7);

    Owned<HeapBuffer> empty;
    EXPECT_EQ (whileFailing (0, [&] { return empty.resize (10, false); }), nullptr);
    EXPECT_EQ (empty.size, 0);
    EXPECT_EQ (empty.allocated, 0);

    // When only realloc fails, a fresh block takes a copy of the contents.
    whileFailing (0, [&] { buffer.resize (5000, false); }, 1);
    EXPECT_EQ (buffer.size, 5000);
    EXPECT_EQ (buffer.allocated, 8096);
    EXPECT_EQ (static_cast<unsigned char*> (buffer.data)[0], 7);
    EXPECT_EQ (static_cast<unsigned char*> (buffer.data)[99], 7);
}

TEST (HeapBuffer, AlignedViewIsFirstCacheLineBoundary)
{
    Owned<HeapBuffer> buffer;
    EXPECT_EQ (buffer.alignedView(), nullptr);
    buffer.resize (4 * 10 + 60, false);
    const auto address = reinterpret_cast<std::uintptr_t> (buffer.alignedView());
    EXPECT_EQ (address % 64, 0u);
    EXPECT_LE (address - reinterpret_cast<std::uintptr_t> (buffer.data), 60u);
}

TEST (SampleFifo, CompactsOnlyAfterMoreThanHalfIsRead)
{
    Owned<SampleFifo> fifo;
    EXPECT_EQ (fifo.readPointer(), nullptr);
    std::vector<float> samples (1000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float> (i);
    ASSERT_TRUE (fifo.append (samples.data(), 1000));
    fifo.consume (500);
    EXPECT_EQ (fifo.readPos, 2000);
    EXPECT_EQ (fifo.readPointer()[0], 500.0f);
    fifo.consume (1);
    EXPECT_EQ (fifo.readPos, 0);
    EXPECT_EQ (fifo.unread(), 499);
    EXPECT_EQ (fifo.readPointer()[0], 501.0f);
    EXPECT_EQ (fifo.readPointer()[498], 999.0f);

    // Appending after everything is read writes at the front; zeros for a null source.
    fifo.consume (499);
    EXPECT_EQ (fifo.readPointer(), nullptr);
    const int allocated = fifo.data.allocated;
    ASSERT_TRUE (fifo.append (nullptr, 3));
    EXPECT_EQ (fifo.readPos, 0);
    EXPECT_EQ (fifo.data.size, 12);
    EXPECT_EQ (fifo.readPointer()[2], 0.0f);
    EXPECT_EQ (fifo.data.allocated, allocated);

    // Consuming more than is there empties it; clear keeps the allocation.
    fifo.consume (10);
    EXPECT_EQ (fifo.unread(), 0);
    fifo.append (samples.data(), 10);
    fifo.clear();
    EXPECT_EQ (fifo.unread(), 0);
    EXPECT_EQ (fifo.data.allocated, allocated);
}

TEST (SampleFifo, FailedAppendKeepsUnreadSamplesAndRevivesNothing)
{
    Owned<SampleFifo> fifo;
    std::vector<float> samples (900, 1.0f);
    fifo.append (samples.data(), 900); // 3600 of 4000 bytes
    fifo.consume (100);
    EXPECT_FALSE (whileFailing (0, [&] { return fifo.append (samples.data(), 200); }));
    EXPECT_EQ (fifo.unread(), 800);

    fifo.consume (800);
    EXPECT_FALSE (whileFailing (0, [&] { return fifo.append (samples.data(), 2000); }));
    EXPECT_EQ (fifo.unread(), 0);
    EXPECT_EQ (fifo.readPointer(), nullptr);
}

TEST (BlockQueue, ChunksAreSizedReusedAndRecycled)
{
    Owned<BlockQueue> queue;
    EXPECT_EQ (queue.add (nullptr, 0), nullptr);
    EXPECT_EQ (queue.availableBytes, 0);

    std::vector<unsigned char> bytes (70000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char> (i * 7);

    ASSERT_NE (queue.add (bytes.data(), 100), nullptr);
    ASSERT_EQ (heapPointerCount (queue.chunks), 1);
    EXPECT_EQ (chunkOf (queue.chunks, 0)->capacity, 65472);
    ASSERT_NE (queue.add (bytes.data(), 70000), nullptr);
    ASSERT_EQ (heapPointerCount (queue.chunks), 2);
    EXPECT_EQ (chunkOf (queue.chunks, 1)->capacity, 70000);
    EXPECT_EQ (queue.availableBytes, 70100);

    // Reading across the chunk border.
    std::vector<unsigned char> read (300);
    queue.advance (50);
    queue.peek (read.data(), 300);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ (read[i], bytes[50 + i]);
    for (int i = 50; i < 300; ++i)
        EXPECT_EQ (read[i], bytes[i - 50]);

    // A chunk is recycled as soon as its bytes are read.
    queue.advance (50);
    EXPECT_EQ (heapPointerCount (queue.chunks), 1);
    EXPECT_EQ (heapPointerCount (queue.freeChunks), 1);
    EXPECT_EQ (queue.readOffset, 0);

    // Clear keeps every chunk; the next add reuses the last one when it is large enough...
    queue.clear (-1);
    EXPECT_EQ (queue.availableBytes, 0);
    ASSERT_EQ (heapPointerCount (queue.freeChunks), 2);
    BlockQueueChunk* last = chunkOf (queue.freeChunks, 1);
    const long allocationsBefore = heapAllocationCount();
    queue.add (bytes.data(), 65000);
    EXPECT_EQ (chunkOf (queue.chunks, 0), last);
    EXPECT_EQ (heapAllocationCount(), allocationsBefore);

    // ...a chunk with 472 bytes of room sends an add of 500 to a new one...

    Owned<BlockQueue> second;
    second.add (bytes.data(), 65000);
    second.add (bytes.data(), 500);
    EXPECT_EQ (heapPointerCount (second.chunks), 2);
    EXPECT_EQ (chunkOf (second.chunks, 0)->used, 65000);

    // ...and a free chunk too small is freed and replaced.
    second.clear (-1);
    ASSERT_EQ (heapPointerCount (second.freeChunks), 2);
    second.add (bytes.data(), 66000);
    EXPECT_EQ (heapPointerCount (second.freeChunks), 1);
    EXPECT_EQ (chunkOf (second.chunks, 0)->capacity, 66000);

    // Advancing past the end empties the queue.
    second.advance (1000000);
    EXPECT_EQ (second.availableBytes, 0);
    EXPECT_EQ (second.readOffset, 0);
    EXPECT_EQ (heapPointerCount (second.chunks), 0);
}

TEST (BlockQueue, ChunkTakenWhenListCannotGrowIsNotLost)
{
    // Fill the chunk list's allocation (4000 bytes hold 499 pointers strictly below it) so
    // that the next chunk needs the list to grow, then let that growth fail.
    Owned<BlockQueue> queue;
    queue.minChunkBytes = 8;
    for (int i = 0; i < 499; ++i)
        ASSERT_NE (queue.add (nullptr, 8), nullptr);
    ASSERT_EQ (queue.chunks.allocated, 4000);

    // Give the free list room for one pointer, so that only the chunk list fails to grow.
    queue.freeChunks.resize (8, false);
    queue.freeChunks.resize (0, false);

    // A fresh chunk: malloc succeeds, the list cannot grow. The chunk is kept for reuse.
    EXPECT_EQ (whileFailing (1, [&] { return queue.add (nullptr, 8); }), nullptr);
    EXPECT_EQ (queue.availableBytes, 499 * 8);
    EXPECT_EQ (heapPointerCount (queue.chunks), 499);
    EXPECT_EQ (heapPointerCount (queue.freeChunks), 1);

    // A recycled chunk: taken from the free list, list growth fails, it goes back.
    EXPECT_EQ (whileFailing (0, [&] { return queue.add (nullptr, 8); }), nullptr);
    EXPECT_EQ (heapPointerCount (queue.freeChunks), 1);

    // With no room for free chunks the taken chunk is freed (the leak checker would see it).
    queue.maxFreeChunks = 0;
    EXPECT_EQ (whileFailing (0, [&] { return queue.add (nullptr, 8); }), nullptr);
    EXPECT_EQ (heapPointerCount (queue.freeChunks), 0);
    EXPECT_EQ (queue.availableBytes, 499 * 8);
}

TEST (BlockQueue, ReservedStoresReachTheirSizesWithoutAllocating)
{
    // Up to the reserved sizes nothing allocates; a reservation that cannot be had says so and
    // leaves the stores usable.
    Owned<BlockQueue> queue;
    Owned<SampleFifo> fifo;
    ASSERT_TRUE (queue.reserve (4));
    ASSERT_TRUE (fifo.reserve (10000));
    EXPECT_EQ (heapPointerCount (queue.freeChunks), 4);
    const long before = heapAllocationCount();
    std::vector<float> block (4096, 0.5f);
    for (int round = 0; round < 3; ++round)
    {
        for (int i = 0; i < 12; ++i) // three adds per chunk: four chunks
            ASSERT_NE (queue.add (block.data(), 16384), nullptr);
        queue.clear (-1);
        ASSERT_TRUE (fifo.append (block.data(), 4096) && fifo.append (nullptr, 5903));
        fifo.consume (9999);
    }
    EXPECT_EQ (heapAllocationCount(), before);
    EXPECT_EQ (heapPointerCount (queue.freeChunks), 4);

    Owned<BlockQueue> starved;
    Owned<SampleFifo> hungry;
    {
        FailureSwitch failing (2);
        EXPECT_FALSE (starved.reserve (3));
        EXPECT_FALSE (hungry.reserve (100));
    }
    EXPECT_EQ (heapPointerCount (starved.freeChunks), 0);
    EXPECT_EQ (hungry.data.allocated, 0);
    EXPECT_NE (starved.add (block.data(), 100), nullptr);
    EXPECT_TRUE (hungry.append (block.data(), 100));
}
