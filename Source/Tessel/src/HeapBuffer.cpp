#include "HeapBuffer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace
{
std::atomic<long> allocationCount { 0 };
std::atomic<long> successesLeft { -1 };
std::atomic<long> failuresLeft { -1 };

bool allocationAllowed()
{
    allocationCount.fetch_add (1, std::memory_order_relaxed);
    if (successesLeft.load (std::memory_order_relaxed) < 0)
        return true;
    if (successesLeft.load (std::memory_order_relaxed) > 0)
    {
        successesLeft.fetch_sub (1, std::memory_order_relaxed);
        return true;
    }
    const long failures = failuresLeft.load (std::memory_order_relaxed);
    if (failures == 0)
        return true;
    if (failures > 0)
        failuresLeft.store (failures - 1, std::memory_order_relaxed);
    return false;
}

void* heapMalloc (std::size_t bytes)
{
    return allocationAllowed() ? std::malloc (bytes) : nullptr;
}

void* heapRealloc (void* block, std::size_t bytes)
{
    return allocationAllowed() ? std::realloc (block, bytes) : nullptr;
}

constexpr std::int64_t pageBytes = 4096;
} // namespace

void heapFailAllocationsAfter (long successes, long failures)
{
    failuresLeft.store (failures < 0 ? -1 : failures, std::memory_order_relaxed);
    successesLeft.store (successes < 0 ? -1 : successes, std::memory_order_relaxed);
}

long heapAllocationCount()
{
    return allocationCount.load (std::memory_order_relaxed);
}

void* HeapBuffer::resize (std::int32_t newSize, bool allowShrink)
{
    const std::int32_t n = std::max (newSize, 0);
    if (n == size)
        return size > 0 ? data : nullptr;

    std::int32_t threshold = 0;
    if (n < size && allowShrink)
    {
        threshold = std::min (allocated / 2, allocated - 4 * granularity);
        if (threshold <= 0)
            threshold = 1;
    }

    // Strictly below the allocation: every allocation keeps at least one byte beyond the size.
    if (n < allocated && n >= threshold)
    {
        size = n;
        return n > 0 ? data : nullptr;
    }

    std::int64_t newAllocation = 0;
    if (n > 0)
    {
        std::int64_t step = std::max<std::int64_t> (n / 2, granularity);
        step = (step / pageBytes) * pageBytes;
        step = std::clamp<std::int64_t> (step, pageBytes, 4194304);
        newAllocation = ((n + step + 96) / pageBytes) * pageBytes - 96;
        if (newAllocation > std::numeric_limits<std::int32_t>::max())
            return size > 0 ? data : nullptr;
    }

    if (newAllocation == allocated)
    {
        size = n;
        return n > 0 ? data : nullptr;
    }

    if (newAllocation == 0)
    {
        std::free (data);
        data = nullptr;
        allocated = 0;
        size = 0;
        return nullptr;
    }

    void* block = heapRealloc (data, static_cast<std::size_t> (newAllocation));
    if (block == nullptr)
    {
        block = heapMalloc (static_cast<std::size_t> (newAllocation));
        if (block == nullptr)
            return size > 0 ? data : nullptr;
        if (data != nullptr)
        {
            std::memcpy (block, data, static_cast<std::size_t> (std::min (size, n)));
            std::free (data);
        }
    }
    data = block;
    allocated = static_cast<std::int32_t> (newAllocation);
    size = n;
    return data;
}

bool HeapBuffer::resizeTo (std::int64_t bytes, bool allowShrink)
{
    if (bytes < 0 || bytes > std::numeric_limits<std::int32_t>::max())
        return false;
    resize (static_cast<std::int32_t> (bytes), allowShrink);
    return size == bytes;
}

float* HeapBuffer::alignedView() const
{
    if (size == 0 || data == nullptr)
        return nullptr;
    const auto address = (reinterpret_cast<std::uintptr_t> (data) + 63) & ~static_cast<std::uintptr_t> (63);
    return reinterpret_cast<float*> (address);
}

void HeapBuffer::release()
{
    std::free (data);
    data = nullptr;
    allocated = 0;
    size = 0;
}

bool heapPushPointer (HeapBuffer& list, void* pointer)
{
    const std::int32_t count = heapPointerCount (list);
    if (! list.resizeTo ((count + 1) * 8, false))
        return false;
    heapPointers (list)[count] = pointer;
    return true;
}

void heapPopPointer (HeapBuffer& list)
{
    const std::int32_t count = heapPointerCount (list);
    if (count > 0)
        list.resize ((count - 1) * 8, false);
}

void heapRemoveFirstPointer (HeapBuffer& list)
{
    const std::int32_t count = heapPointerCount (list);
    if (count <= 0)
        return;
    void** p = heapPointers (list);
    std::memmove (p, p + 1, static_cast<std::size_t> (count - 1) * sizeof (void*));
    list.resize ((count - 1) * 8, false);
}

// ---------------------------------------------------------------------------------------------

bool SampleFifo::append (const float* source, std::int32_t count)
{
    if (count <= 0)
        return true;
    if (readPos >= data.size)
    {
        // Everything has been read: start again at the front. Emptying first keeps a failed
        // append from reviving samples that were already read.
        data.resize (0, false);
        readPos = 0;
    }
    const std::int32_t oldSize = data.size;
    if (! data.resizeTo (static_cast<std::int64_t> (oldSize) + 4 * static_cast<std::int64_t> (count), false))
        return false;
    auto* destination = static_cast<unsigned char*> (data.data) + oldSize;
    if (source != nullptr)
        std::memcpy (destination, source, static_cast<std::size_t> (count) * 4);
    else
        std::memset (destination, 0, static_cast<std::size_t> (count) * 4);
    return true;
}

void SampleFifo::consume (std::int32_t count)
{
    const std::int64_t position = static_cast<std::int64_t> (readPos) + 4 * static_cast<std::int64_t> (count);
    readPos = static_cast<std::int32_t> (std::clamp<std::int64_t> (position, 0, data.size));
    if (readPos > data.size / 2)
    {
        const std::int32_t left = data.size - readPos;
        if (left > 0)
            std::memmove (data.data, static_cast<unsigned char*> (data.data) + readPos, static_cast<std::size_t> (left));
        data.resize (left, false);
        readPos = 0;
    }
}

float* SampleFifo::readPointer() const
{
    if (readPos < 0 || readPos >= data.size)
        return nullptr;
    return reinterpret_cast<float*> (static_cast<unsigned char*> (data.data) + readPos);
}

void SampleFifo::clear()
{
    readPos = 0;
    data.resize (0, false);
}

void SampleFifo::release()
{
    data.release();
    readPos = 0;
}

namespace
{
// Every allocation is larger than the size that asked for it, so a buffer whose allocation
// exceeds bytes reaches any size up to bytes without reallocating.
bool reserveBytes (HeapBuffer& buffer, std::int64_t bytes)
{
    if (bytes < 0 || bytes >= std::numeric_limits<std::int32_t>::max())
        return false;
    if (buffer.allocated > bytes)
        return true;
    const std::int32_t oldSize = buffer.size;
    const bool grown = buffer.resizeTo (bytes, false);
    buffer.resize (oldSize, false);
    return grown;
}
} // namespace

bool SampleFifo::reserve (std::int32_t count)
{
    return reserveBytes (data, 4 * static_cast<std::int64_t> (std::max (count, 0)));
}

// ---------------------------------------------------------------------------------------------

namespace
{
BlockQueueChunk* chunkAt (const HeapBuffer& list, std::int32_t index)
{
    return static_cast<BlockQueueChunk*> (heapPointers (list)[index]);
}

// Keeps a chunk for reuse when the limit and the free list allow it; frees it otherwise.
void recycleChunk (BlockQueue& queue, BlockQueueChunk* chunk, std::int32_t limit)
{
    if (limit < 0 || heapPointerCount (queue.freeChunks) < limit)
        if (heapPushPointer (queue.freeChunks, chunk))
            return;
    std::free (chunk);
}
} // namespace

void* BlockQueue::add (const void* source, std::int32_t length)
{
    if (length <= 0)
        return nullptr;

    const std::int32_t count = heapPointerCount (chunks);
    BlockQueueChunk* chunk = count > 0 ? chunkAt (chunks, count - 1) : nullptr;
    if (chunk == nullptr || static_cast<std::int64_t> (chunk->used) + length > chunk->capacity)
    {
        chunk = nullptr;
        const std::int32_t freeCount = heapPointerCount (freeChunks);
        if (freeCount > 0)
        {
            BlockQueueChunk* candidate = chunkAt (freeChunks, freeCount - 1);
            heapPopPointer (freeChunks);
            if (candidate->capacity >= length)
                chunk = candidate;
            else
                std::free (candidate);
        }
        if (chunk == nullptr)
        {
            const std::int32_t capacity = std::max (minChunkBytes, length);
            chunk = static_cast<BlockQueueChunk*> (heapMalloc (static_cast<std::size_t> (capacity) + 8));
            if (chunk == nullptr)
                return nullptr;
            chunk->capacity = capacity;
        }
        chunk->used = 0;
        if (! heapPushPointer (chunks, chunk))
        {
            // The list cannot take the chunk: keep it for later, or let it go.
            recycleChunk (*this, chunk, maxFreeChunks);
            return nullptr;
        }
    }

    unsigned char* destination = chunk->bytes() + chunk->used;
    if (source != nullptr)
        std::memcpy (destination, source, static_cast<std::size_t> (length));
    else
        std::memset (destination, 0, static_cast<std::size_t> (length));
    chunk->used += length;
    availableBytes += length;
    return destination;
}

void BlockQueue::peek (void* destination, std::int32_t length) const
{
    auto* out = static_cast<unsigned char*> (destination);
    std::int32_t copied = 0;
    const std::int32_t count = heapPointerCount (chunks);
    std::int32_t index = 0;
    std::int64_t position = readOffset;
    while (copied < length && index < count)
    {
        BlockQueueChunk* chunk = chunkAt (chunks, index);
        if (position >= chunk->used)
        {
            position -= chunk->used;
            ++index;
            continue;
        }
        const auto take = static_cast<std::int32_t> (std::min<std::int64_t> (chunk->used - position, length - copied));
        std::memcpy (out + copied, chunk->bytes() + position, static_cast<std::size_t> (take));
        copied += take;
        position += take;
    }
}

const void* BlockQueue::front (std::int32_t length) const
{
    if (length <= 0 || length > availableBytes || heapPointerCount (chunks) == 0)
        return nullptr;
    BlockQueueChunk* chunk = chunkAt (chunks, 0);
    return static_cast<std::int64_t> (readOffset) + length <= chunk->used ? chunk->bytes() + readOffset : nullptr;
}

void BlockQueue::advance (std::int32_t length)
{
    if (length <= 0)
        return;
    readOffset += length;
    availableBytes = std::max (availableBytes - length, 0);
    while (heapPointerCount (chunks) > 0)
    {
        BlockQueueChunk* first = chunkAt (chunks, 0);
        if (readOffset < first->used)
            break;
        readOffset -= first->used;
        heapRemoveFirstPointer (chunks);
        recycleChunk (*this, first, maxFreeChunks);
    }
    if (heapPointerCount (chunks) == 0)
        readOffset = 0;
}

void BlockQueue::clear (std::int32_t limit)
{
    if (limit < 0)
        limit = maxFreeChunks;
    for (std::int32_t i = heapPointerCount (chunks) - 1; i >= 0; --i)
    {
        BlockQueueChunk* chunk = chunkAt (chunks, i);
        heapPopPointer (chunks);
        recycleChunk (*this, chunk, limit);
    }
    readOffset = 0;
    availableBytes = 0;
}

void BlockQueue::destroy()
{
    for (std::int32_t i = heapPointerCount (chunks) - 1; i >= 0; --i)
    {
        std::free (chunkAt (chunks, i));
        heapPopPointer (chunks);
    }
    for (std::int32_t i = heapPointerCount (freeChunks) - 1; i >= 0; --i)
    {
        std::free (chunkAt (freeChunks, i));
        heapPopPointer (freeChunks);
    }
    chunks.release();
    freeChunks.release();
    readOffset = 0;
    availableBytes = 0;
}

bool BlockQueue::reserve (std::int32_t totalChunks)
{
    if (totalChunks <= 0)
        return true;
    const std::int64_t listBytes = 8 * static_cast<std::int64_t> (totalChunks);
    if (! reserveBytes (chunks, listBytes) || ! reserveBytes (freeChunks, listBytes))
        return false;
    for (std::int32_t held = heapPointerCount (chunks) + heapPointerCount (freeChunks); held < totalChunks; ++held)
    {
        auto* chunk = static_cast<BlockQueueChunk*> (heapMalloc (static_cast<std::size_t> (minChunkBytes) + 8));
        if (chunk == nullptr)
            return false;
        chunk->capacity = minChunkBytes;
        chunk->used = 0;
        // The list has room: reserved above.
        heapPushPointer (freeChunks, chunk);
    }
    return true;
}
