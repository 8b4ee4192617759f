#include "ConvolutionEngine.h"

#include "Fft.h"
#include "Kernels.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace
{
bool isPowerOfTwo (std::int32_t value)
{
    return value > 0 && (value & (value - 1)) == 0;
}
} // namespace

ConvolutionEngine::~ConvolutionEngine()
{
    clearStages();
    stages.release();
    output[0].release();
    output[1].release();
}

void ConvolutionEngine::clearStages()
{
    for (std::int32_t i = stageCount() - 1; i >= 0; --i)
    {
        delete stage (i);
        heapPopPointer (stages);
    }
    stages.resize (0, false);
}

std::int32_t ConvolutionEngine::setImpulse (const ImpulseBuffer* impulse, std::int32_t maxPartition, std::int32_t knownBlockSize,
                                            std::int32_t maxLength, std::int32_t offset, std::int32_t latency)
{
    needsReset = true;
    clearStages();

    const std::int64_t twicePartition = 2 * std::abs (static_cast<std::int64_t> (maxPartition));
    const std::int64_t maxFft = (maxPartition == 0 || twicePartition > fftLargestSize) ? fftLargestSize : twicePartition;

    std::int64_t block = (isPowerOfTwo (knownBlockSize) && knownBlockSize >= 129) ? knownBlockSize / 2 : 64;
    if (2 * static_cast<std::int64_t> (latency) > block)
    {
        std::int64_t widened = 1;
        while (widened <= latency && widened < fftLargestSize)
            widened *= 2;
        block = widened;
    }

    const std::int64_t impulseLength = impulse != nullptr ? impulse->length() : 0;
    std::int64_t remaining = impulseLength - offset;
    if (maxLength > 0 && maxLength < remaining)
        remaining = maxLength;

    // Each stage takes the segment from pos on and an FFT of twice the segment start, so its
    // partition equals its place in the impulse and its output is due no sooner than it is
    // ready: with every argument 0, a 64-tap direct head, then FFT stages of 128, 512, 2048 and
    // 8192 points with three partitions each (segments growing fourfold), then one 32768-point
    // stage for the rest.
    std::int64_t pos = 0;
    std::int64_t fftLen = block;
    for (;;)
    {
        const std::int64_t k = (latency != 0 || pos > 0) ? 3 : 2;
        const std::int64_t len = (fftLen < maxFft && k * block < remaining) ? block : remaining;
        auto* created = new (std::nothrow) ConvolutionStage();
        if (created != nullptr)
        {
            // A stage that cannot get its memory marks itself failed and stays silent.
            created->setImpulse (impulse, static_cast<int> (std::min (fftLen, maxFft)), static_cast<int> (offset + pos),
                                 static_cast<int> (std::clamp<std::int64_t> (len, -1, 0x7fffffff)), latency == 0 && pos == 0);
            created->offsetInImpulse = static_cast<int> (pos);
            created->stagger = 0;
            // Without room in the list the segment goes unheard rather than misplaced.
            if (! heapPushPointer (stages, created))
                delete created;
        }
        pos += len;
        fftLen = 2 * pos;
        block = 3 * pos;
        remaining -= len;
        if (remaining <= 0)
            break;
    }
    return stageCount() > 0 ? stage (0)->fftSize / 2 : 0;
}

bool ConvolutionEngine::reserve (std::int32_t maxBlock, std::int32_t channels)
{
    for (std::int32_t i = 0; i < stageCount(); ++i)
        stage (i)->reserve (maxBlock, channels);
    // Each output holds at most one block once the caller has advanced past the last one, and a
    // FIFO uses at most twice its unread samples; as much again is a margin.
    const std::int32_t samples = 4 * std::clamp (maxBlock, 1, ConvolutionStage::maxReservedBlock);
    bool ok = true;
    for (std::int32_t c = 0; c < std::clamp (channels, 1, 2); ++c)
        ok = output[c].reserve (samples) && ok;
    return ok;
}

void ConvolutionEngine::reset()
{
    for (std::int32_t i = 0; i < stageCount(); ++i)
        stage (i)->reset();
    output[0].clear();
    output[1].clear();
    needsReset = true;
}

void ConvolutionEngine::add (const float* const* input, std::int32_t count, std::int32_t channels)
{
    numChannels = std::clamp (channels, 0, 2);
    const bool priming = needsReset;
    needsReset = false;
    const std::int32_t numStages = stageCount();
    for (std::int32_t i = 0; i < numStages; ++i)
    {
        ConvolutionStage& s = *stage (i);
        if (! priming)
        {
            s.add (input, count, numChannels);
            continue;
        }
        const bool middle = i > 0 && i < numStages - 1;
        s.stagger = middle ? s.fftSize / 8 : 0;
        if (s.stagger >= 1)
            s.add (nullptr, s.stagger, numChannels);
        s.add (input, count, numChannels);
        if (s.failed)
            continue;
        const std::int32_t primed = std::min (numChannels, static_cast<std::int32_t> (s.procChannels));
        for (std::int32_t c = 0; c < primed; ++c)
            if (! s.output[c].append (nullptr, s.offsetInImpulse))
            {
                s.failed = true;
                s.output[0].clear();
                s.output[1].clear();
                break;
            }
    }
}

std::int32_t ConvolutionEngine::avail (std::int32_t wanted)
{
    std::int32_t n = wanted;
    const std::int32_t numStages = stageCount();
    for (std::int32_t i = 0; i < numStages; ++i)
    {
        ConvolutionStage& s = *stage (i);
        if (s.failed)
            continue;
        const std::int32_t ready = s.avail (wanted + s.stagger) - s.stagger;
        if (! s.failed)
            n = std::min (n, ready);
    }

    if (n > 0)
    {
        // All channels grow together or not at all.
        bool grown = true;
        std::int32_t appended = 0;
        float* fresh[2] = { nullptr, nullptr };
        for (; appended < numChannels && grown; ++appended)
        {
            grown = output[appended].append (nullptr, n);
            if (grown)
                fresh[appended] = output[appended].readPointer() + (output[appended].unread() - n);
        }
        if (! grown)
        {
            for (std::int32_t c = 0; c + 1 < appended; ++c)
                output[c].data.resize (output[c].data.size - 4 * n, false);
        }
        else
        {
            for (std::int32_t i = 0; i < numStages; ++i)
            {
                ConvolutionStage& s = *stage (i);
                if (s.failed)
                    continue;
                const std::int32_t stageChannels = std::max (s.procChannels, 0);
                if (s.stagger > 0)
                {
                    for (std::int32_t c = 0; c < stageChannels; ++c)
                        s.output[c].consume (s.stagger);
                    s.stagger = 0;
                }
                for (std::int32_t c = 0; c < stageChannels; ++c)
                    s.outputPointers[c] = s.output[c].readPointer();
                for (std::int32_t c = 0; c < numChannels; ++c)
                    if (c < stageChannels && s.outputPointers[c] != nullptr)
                        vectorKernels().addSamples (fresh[c], s.outputPointers[c], n);
                for (std::int32_t c = 0; c < stageChannels; ++c)
                    s.output[c].consume (n);
            }
        }
    }
    return std::min (wanted, output[0].unread());
}

float** ConvolutionEngine::getOutput()
{
    for (std::int32_t c = 0; c < 2; ++c)
        outputPointers[c] = c < numChannels ? output[c].readPointer() : nullptr;
    return outputPointers;
}

void ConvolutionEngine::advance (std::int32_t count)
{
    if (count <= 0)
        return;
    for (std::int32_t c = 0; c < numChannels; ++c)
        output[c].consume (count);
}
