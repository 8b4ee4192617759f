#pragma once

#include "Resources.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <cstdint>
#include <mutex>

class Buffer;
class Convolver;

// Decodes one FLAC stream held in memory into destination, tagged with sampleRate (the stream's
// own rate is not consulted). Throws when the stream cannot be decoded; destination is then left
// as it was.
void decodeFlacToBuffer (const void* data, int numBytes, Buffer* destination, int sampleRate);

// Swaps the processor's impulse response off the audio thread. The audio road hands over the
// selected reverb type at every block; a 500 ms timer on the message thread decodes the matching
// embedded stream and rebuilds the convolver, and only then clears the pending flag.
class ImpulseLoaderAsync
{
public:
    ImpulseLoaderAsync (Convolver* convolverToUse, Buffer* impulseBufferToFill);

    // Safe on any thread, with or without a running message loop: waits for a load that runs on
    // another thread; no tick reaches the loader afterwards, not even one the timer thread has
    // already picked.
    ~ImpulseLoaderAsync();

    // Audio thread: records a changed type and marks it pending. Never blocks or allocates.
    void setImpulseType (int type) noexcept;

    // Audio thread: while true the convolver is being (or about to be) rebuilt and must be left alone.
    bool isPending() const noexcept { return (state.load (std::memory_order_acquire) & pendingBit) != 0; }

    int getRequestedType() const noexcept { return typeOf (state.load (std::memory_order_acquire)); }

    // Decodes reverb type 1-6 into the impulse buffer and hands the buffer to the convolver, on the
    // caller's thread. Any other type re-installs the current response. A stream that fails to
    // decode keeps the current response, which is handed over again. Never throws.
    void loadImpulse (int type) noexcept;

    // Held by every rebuild of the convolver; whoever else reshapes the convolver (preparation)
    // takes it too. The audio thread never does.
    std::mutex& getRebuildMutex() noexcept { return rebuildMutex; }

    static constexpr int intervalMs = 500;
    static constexpr int decodingRate = 44100;

private:
    friend struct ImpulseLoaderTestAccess;
    class Ticker;

    void timerCallback();
    void loadLocked (int type) noexcept;

    // The requested type in the low 32 bits, the pending flag above it: one word, so the audio
    // thread changes both at once and the timer clears the flag only if the type is unchanged.
    static constexpr std::uint64_t pendingBit = std::uint64_t { 1 } << 32;
    static constexpr std::uint64_t pack (int type, bool isPendingFlag) noexcept
    {
        return std::uint64_t (std::uint32_t (type)) | (isPendingFlag ? pendingBit : 0);
    }
    static constexpr int typeOf (std::uint64_t word) noexcept
    {
        return static_cast<int> (static_cast<std::int32_t> (static_cast<std::uint32_t> (word & 0xffffffffu)));
    }

    std::atomic<std::uint64_t> state { pack (-1, false) };
    Convolver* convolver;
    Buffer* impulseBuffer;
    // Where the six streams come from: the embedded table (replaceable only by tests).
    const kto::resources::Entry* streams = kto::resources::table;
    std::mutex rebuildMutex;
    std::atomic<bool> closing { false };
    // The timer; it outlives the loader until the message thread can no longer be about to call it.
    Ticker* ticker;
};
