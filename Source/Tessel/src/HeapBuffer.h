#pragma once

#include <cstdint>

// The dynamic memory of the convolution side: a growable byte buffer, a float FIFO on top of
// it and a chunked byte queue. Plain structures on the C allocator; nothing here throws, and
// no destructor runs by itself: owners call release() / destroy().

// Growable byte buffer. Growth is rounded to 4096-byte pages (96 bytes short of a whole number
// of pages); the memory shrinks only when the caller allows it.
struct HeapBuffer
{
    void* data = nullptr;
    std::int32_t allocated = 0;
    std::int32_t size = 0;
    std::int32_t granularity = 4096;

    // Makes size equal to max(newSize, 0). Returns data, or null when the size is then 0. On
    // an allocation failure the buffer is left exactly as it was: callers compare size with
    // what they asked for before they use the result.
    void* resize (std::int32_t newSize, bool allowShrink);

    // Resize, then check the size: makes size exactly bytes and says whether it did. A count that
    // is negative or beyond the 32-bit size changes nothing and fails.
    bool resizeTo (std::int64_t bytes, bool allowShrink);

    // The first 64-byte (cache-line) boundary at or after data; null when size is 0. The block
    // is at least float-aligned, so the boundary lies at most 60 bytes in: arrays that the vector
    // code walks are sized 60 bytes above their contents.
    float* alignedView() const;

    // Frees the block; the buffer is empty afterwards.
    void release();
};

// Appends a pointer to an array of pointers held in a buffer. False (nothing changed) when the
// buffer cannot grow.
bool heapPushPointer (HeapBuffer& list, void* pointer);
// Number of pointers held.
inline std::int32_t heapPointerCount (const HeapBuffer& list) { return list.size / 8; }
inline void** heapPointers (const HeapBuffer& list) { return static_cast<void**> (list.data); }
// Removes the last pointer (none: nothing happens).
void heapPopPointer (HeapBuffer& list);
// Removes the first pointer, moving the others down.
void heapRemoveFirstPointer (HeapBuffer& list);

// First-in first-out store of 32-bit float samples; positions are byte offsets into data.
struct SampleFifo
{
    HeapBuffer data;
    std::int32_t readPos = 0;

    // Appends count samples copied from source, or zeros when source is null. Nothing is
    // appended when the store cannot grow; returns whether the samples were appended.
    bool append (const float* source, std::int32_t count);
    // Marks count samples as read; compacts once more than half of the bytes are read.
    void consume (std::int32_t count);
    // First unread sample; null when nothing is unread.
    float* readPointer() const;
    std::int32_t unread() const { return (data.size - readPos) / 4; }
    // Drops everything; the allocation stays.
    void clear();
    void release();
    // Grows the allocation, contents kept, so that the store holds up to count samples in use
    // (read or unread) without reallocating. False (allocation as it was) when it cannot grow.
    bool reserve (std::int32_t count);
};

// Smallest chunk of a BlockQueue: 64 KiB less the allocator's and the chunk's headers.
constexpr std::int32_t blockQueueMinChunkBytes = 65472;

// Byte queue of separately allocated chunks, recycled through a free list.
struct BlockQueue
{
    HeapBuffer chunks;
    HeapBuffer freeChunks;
    std::int32_t readOffset = 0;
    std::int32_t availableBytes = 0;
    std::int32_t minChunkBytes = blockQueueMinChunkBytes;
    std::int32_t maxFreeChunks = -1;

    // Appends length bytes (copied, or zeros for a null source) and returns where they went;
    // null when length <= 0 or no chunk could be had (then nothing is queued).
    void* add (const void* source, std::int32_t length);
    // Copies up to length unread bytes without consuming them.
    void peek (void* destination, std::int32_t length) const;
    // The next length unread bytes in place, when they lie in one chunk; null otherwise.
    const void* front (std::int32_t length) const;
    // Consumes length bytes from the front.
    void advance (std::int32_t length);
    // Drops all unread bytes, keeping chunks for reuse up to limit (negative: maxFreeChunks).
    void clear (std::int32_t limit);
    // Frees every chunk and both lists.
    void destroy();
    // Makes the queue own at least totalChunks chunks of minChunkBytes (the new ones wait in
    // freeChunks) and gives both lists room for totalChunks pointers, so that adds of at most
    // minChunkBytes each never allocate while no more than totalChunks chunks are in use. False
    // when memory runs out; what was reserved until then stays.
    bool reserve (std::int32_t totalChunks);
};

// Chunk header, followed by capacity bytes of data.
struct BlockQueueChunk
{
    std::int32_t capacity;
    std::int32_t used;
    unsigned char* bytes() { return reinterpret_cast<unsigned char*> (this) + 8; }
};

// Test seam into the allocator the containers use. Inert unless a test arms it: after
// heapFailAllocationsAfter (n, f) with n >= 0, the next n malloc/realloc calls succeed, then f
// calls fail (every later one when f < 0), until heapFailAllocationsAfter (-1). The switch is
// process-wide and meant for single-threaded tests. heapAllocationCount counts every
// malloc/realloc the containers have asked for.
void heapFailAllocationsAfter (long successes, long failures = -1);
long heapAllocationCount();
