#include "ImpulseLoaderAsync.h"

#include "Buffer.h"
#include "Convolver.h"
#include "Resources.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gsl/narrow>

#include <memory>
#include <stdexcept>

void decodeFlacToBuffer (const void* data, int numBytes, Buffer* destination, int sampleRate)
{
    if (data == nullptr || numBytes <= 0 || destination == nullptr)
        throw std::invalid_argument ("no FLAC stream to decode");

    juce::FlacAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (
        new juce::MemoryInputStream (data, static_cast<size_t> (numBytes), false), true));
    if (reader == nullptr)
        throw std::runtime_error ("not a FLAC stream");

    const int numChannels = gsl::narrow<int> (reader->numChannels);
    const int numFrames = gsl::narrow<int> (reader->lengthInSamples);
    // Checked before the destination changes, so a bad stream leaves it as it was.
    if (numChannels <= 0 || numFrames <= 0)
        throw std::runtime_error ("empty FLAC stream");

    juce::AudioBuffer<float> decoded (numChannels, numFrames);
    if (! reader->read (&decoded, 0, numFrames, 0, true, true))
        throw std::runtime_error ("FLAC stream could not be read");

    destination->reset (numChannels, numFrames, sampleRate);
    copyChannels (decoded.getArrayOfReadPointers(), destination->audio.getArrayOfWritePointers(), numChannels,
                  numFrames);
}

ImpulseLoaderAsync::ImpulseLoaderAsync (Convolver* convolverToUse, Buffer* impulseBufferToFill)
    : convolver (convolverToUse), impulseBuffer (impulseBufferToFill)
{
    startTimer (intervalMs);
}

ImpulseLoaderAsync::~ImpulseLoaderAsync()
{
    closing.store (true);
    stopTimer();
    // A tick already running on the message thread finishes its load before the convolver and the
    // impulse buffer go away.
    const std::lock_guard<std::mutex> waitForLoad (rebuildMutex);
}

void ImpulseLoaderAsync::setImpulseType (int type) noexcept
{
    // Only this thread changes the type; the timer only clears the flag, so a plain store after
    // the comparison cannot lose anything.
    const auto current = state.load (std::memory_order_relaxed);
    if (typeOf (current) != type)
        state.store (pack (type, true), std::memory_order_release);
}

void ImpulseLoaderAsync::loadImpulse (int type) noexcept
{
    const std::lock_guard<std::mutex> lock (rebuildMutex);
    if (! closing.load())
        loadLocked (type);
}

void ImpulseLoaderAsync::loadLocked (int type) noexcept
{
    if (type >= 1 && type <= 6)
    {
        const auto& entry = streams[kto::resources::impulseType1 + type - 1];
        try
        {
            decodeFlacToBuffer (entry.data, entry.size, impulseBuffer, decodingRate);
        }
        catch (...)
        {
            // The current response stays and is installed again below.
        }
    }

    try
    {
        convolver->setImpulse (*impulseBuffer);
    }
    catch (...)
    {
        // The convolver keeps the response it had.
    }
}

void ImpulseLoaderAsync::timerCallback()
{
    // Held for the whole tick, so a destructor on another thread waits until the tick is over.
    const std::lock_guard<std::mutex> lock (rebuildMutex);
    if (closing.load())
        return;

    const auto seen = state.load (std::memory_order_acquire);
    if ((seen & pendingBit) == 0)
        return;

    const int type = typeOf (seen);
    loadLocked (type);

    // Clears the flag only if no other type arrived during the load; otherwise the next tick loads it.
    auto expected = pack (type, true);
    state.compare_exchange_strong (expected, pack (type, false), std::memory_order_release,
                                   std::memory_order_relaxed);
}
