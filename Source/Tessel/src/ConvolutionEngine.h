#pragma once

#include "ConvolutionStage.h"
#include "HeapBuffer.h"
#include "ImpulseBuffer.h"

#include <cstdint>

// Zero-latency convolution of one or two channels with an impulse response of any length: a
// direct-form head followed by FFT stages whose sizes grow fourfold, each primed so that its
// output lines up with its segment's place in the impulse. The outputs are summed here.
struct ConvolutionEngine
{
    HeapBuffer stages;
    SampleFifo output[2];
    float* outputPointers[2] = { nullptr, nullptr };
    std::int32_t numChannels = 2;
    bool needsReset = true;

    ConvolutionEngine() = default;
    ~ConvolutionEngine();
    ConvolutionEngine (const ConvolutionEngine&) = delete;
    ConvolutionEngine& operator= (const ConvolutionEngine&) = delete;

    // Replaces all stages by a new plan; returns the chain's latency in samples.
    std::int32_t setImpulse (const ImpulseBuffer* impulse, std::int32_t maxPartition, std::int32_t knownBlockSize,
                             std::int32_t maxLength, std::int32_t offset, std::int32_t latency);
    // Drops all history and pending output; keeps the plan.
    void reset();
    // Outside the audio thread, after setImpulse: reserves in every stage and in the outputs
    // what processing can grow into on up to channels channels when each block of at most
    // maxBlock samples (at most ConvolutionStage::maxReservedBlock) is added, taken out with avail and advanced in full.
    // Such processing then never allocates. A stage that cannot get its memory stays failed
    // (silent); returns false when the outputs could not get theirs.
    bool reserve (std::int32_t maxBlock, std::int32_t channels);
    // Feeds count samples of each channel to every stage (null input: zeros).
    void add (const float* const* input, std::int32_t count, std::int32_t channels);
    // Sums up to wanted new samples per channel; returns min(wanted, unread samples of channel 0).
    std::int32_t avail (std::int32_t wanted);
    // First unread sample of each channel (null when that output is empty).
    float** getOutput();
    void advance (std::int32_t count);
    void clearStages();

    std::int32_t stageCount() const { return heapPointerCount (stages); }
    ConvolutionStage* stage (std::int32_t index) const { return static_cast<ConvolutionStage*> (heapPointers (stages)[index]); }
};
