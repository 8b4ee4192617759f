#include "ImpulseLoaderAsync.h"

#include "Buffer.h"
#include "Convolver.h"
#include "Resources.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_cryptography/juce_cryptography.h>

#include <gsl/narrow>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace
{
// The MD5 of the samples that the encoder stored in the stream's STREAMINFO block; all zero when
// it wrote none or the stream does not start with STREAMINFO.
std::array<juce::uint8, 16> storedChecksum (const void* data, int numBytes)
{
    std::array<juce::uint8, 16> md5 {};
    const auto* bytes = static_cast<const juce::uint8*> (data);
    if (numBytes >= 42 && std::memcmp (bytes, "fLaC", 4) == 0 && (bytes[4] & 0x7f) == 0)
        std::memcpy (md5.data(), bytes + 26, md5.size());
    return md5;
}

// The reader turns a stream that is cut short or damaged into zeros without a word, so the
// decoded samples are checked against the stream's own checksum. The float samples hold the
// integers exactly (scaled by 2^-(bits - 1)) up to 24 bits per sample.
bool matchesChecksum (const juce::AudioBuffer<float>& decoded, unsigned int bitsPerSample,
                      const std::array<juce::uint8, 16>& expected)
{
    if (expected == std::array<juce::uint8, 16> {} || bitsPerSample == 0 || bitsPerSample > 24)
        return true;

    const int bytesPerSample = int (bitsPerSample + 7) / 8;
    const float scale = float (1 << (bitsPerSample - 1));
    const int numChannels = decoded.getNumChannels();
    const int numFrames = decoded.getNumSamples();
    std::vector<juce::uint8> raw (size_t (numFrames) * size_t (numChannels) * size_t (bytesPerSample));
    size_t pos = 0;
    for (int i = 0; i < numFrames; ++i)
        for (int ch = 0; ch < numChannels; ++ch)
        {
            const auto sample = static_cast<juce::int32> (std::lround (decoded.getSample (ch, i) * scale));
            for (int b = 0; b < bytesPerSample; ++b)
                raw[pos++] = static_cast<juce::uint8> ((static_cast<juce::uint32> (sample) >> (8 * b)) & 0xff);
        }

    const juce::MD5 actual (raw.data(), raw.size());
    return std::memcmp (actual.getChecksumDataArray(), expected.data(), expected.size()) == 0;
}
} // namespace

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
    if (! matchesChecksum (decoded, reader->bitsPerSample, storedChecksum (data, numBytes)))
        throw std::runtime_error ("FLAC stream is damaged");

    destination->reset (numChannels, numFrames, sampleRate);
    copyChannels (decoded.getArrayOfReadPointers(), destination->audio.getArrayOfWritePointers(), numChannels,
                  numFrames);
}

// JUCE's timer thread picks a due timer under its lock, lets the lock go and only then calls it on
// the message thread, so stopping a timer from another thread does not stop a call already on its
// way. The loader's timer is therefore an object of its own: the loader's destructor cuts it off
// (waiting for a tick in progress) and stops it, and the object itself is freed on the message
// thread, by a message queued behind any call on its way. Nothing waits for the message thread,
// so this cannot deadlock, whether the destructor runs on the message thread, on a host thread
// while the message thread is busy, or with no message loop running at all.
class ImpulseLoaderAsync::Ticker : public juce::Timer
{
public:
    explicit Ticker (ImpulseLoaderAsync* loaderToCall) : loader (loaderToCall) {}

    void detach()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        loader = nullptr;
    }

    void timerCallback() override
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (loader != nullptr)
            loader->timerCallback();
    }

    // Frees a stopped, detached ticker once no call of it can be on its way.
    static void release (Ticker* ticker)
    {
        auto* mm = juce::MessageManager::getInstanceWithoutCreating();
        if (mm == nullptr || mm->isThisTheMessageThread())
        {
            delete ticker; // no timer call is between being picked and being made
            return;
        }

        struct Release : juce::MessageManager::MessageBase
        {
            std::unique_ptr<Ticker> ticker;
            void messageCallback() override {}
        };
        auto* message = new Release();
        message->ticker.reset (ticker);
        // The queue owns the message and frees it, with the ticker, after the message thread has
        // dispatched it or when the message manager goes. A queue that takes no more messages is
        // shutting down and may still be inside a timer call: the message frees itself here then,
        // so keep the few bytes instead.
        const juce::MessageManager::MessageBase::Ptr hold (message);
        if (! message->post())
            message->ticker.release();
    }

private:
    std::mutex mutex;
    ImpulseLoaderAsync* loader;
};

ImpulseLoaderAsync::ImpulseLoaderAsync (Convolver* convolverToUse, Buffer* impulseBufferToFill)
    : convolver (convolverToUse), impulseBuffer (impulseBufferToFill), ticker (new Ticker (this))
{
    ticker->startTimer (intervalMs);
}

ImpulseLoaderAsync::~ImpulseLoaderAsync()
{
    closing.store (true);
    ticker->detach();
    ticker->stopTimer();
    Ticker::release (ticker);
    // A load running on another thread finishes before the convolver and the impulse buffer go.
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
