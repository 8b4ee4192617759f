#pragma once

#include "HeapBuffer.h"
#include "ImpulseBuffer.h"

#include <cstdint>

// Convolves one or two channels with one segment of an impulse response. FFT form: uniformly
// partitioned overlap-add with fftSize-point spectra and hops of fftSize / 2 samples. Direct
// form (fftSize 0): a FIR filter whose output is ready as soon as its input arrives.
//
// Memory: a stage that cannot get the memory it needs marks itself failed. A failed stage
// takes no input, produces nothing and counts as silence; the engine skips it.
struct ConvolutionStage
{
    // The largest block reserve() plans for: one block's samples fit one input queue chunk.
    static constexpr int maxReservedBlock = blockQueueMinChunkBytes / 4 - 1; // 16367

    // Work done ahead of a hop, in the calls before it is due, so that the hop itself does less.
    // Per channel: the sum of the next hop's products with every slot but the newest, partitions
    // 1 .. part - 1 added so far, valid while its hop number is the channel's hop count; and,
    // once the hop's input is complete, its spectrum, transformed into the slot it will take.
    struct WorkAhead
    {
        HeapBuffer sum[2];
        std::int64_t hopCount[2] = { 0, 0 }; // hops the channel has taken
        std::int64_t sumHop[2] = { -1, -1 };
        int part[2] = { 1, 1 };
        bool any[2] = { false, false }; // whether the sum holds a product yet
        bool spectrumReady[2] = { false, false };
        bool spectrumPaired[2] = { false, false }; // packed with the partner channel's hop
        bool spectrumLoud[2] = { false, false };   // not silent, so transformed

        // Partitions to add in one call without a hop: enough to finish within half a hop's
        // worth of calls that want this many samples, in the multiply-accumulate's groups of four.
        int budget (int parts, int wanted, int partLen);
        int budgetKey[3] = { 0, 0, 0 }; // the arguments of the last budget, and its result
        int lastBudget = 1;
    };

    HeapBuffer impulseSpectra[2];
    HeapBuffer impulseFlags[2];
    int impulseChannels = 1;
    int fftSize = 0;
    int impulseLen = 0;
    int procChannels = 0;
    SampleFifo output[2];
    SampleFifo history[2];
    BlockQueue input[2];
    int ringPos[2] = { 0, 0 };
    HeapBuffer inputSpectra[2];
    HeapBuffer inputFlags[2];
    HeapBuffer overlap[2];
    HeapBuffer scratch;
    float* outputPointers[2] = { nullptr, nullptr };
    // Direct form: per impulse channel, the taps up to the segment's last leading zero (the taps
    // lie reversed, so the zeros are the last taps). FFT form: whether any partition sounds.
    int soundingTaps[2] = { 0, 0 };
    bool sounds = false;
    int offsetInImpulse = 0;
    int stagger = 0;
    bool failed = false;
    WorkAhead ahead;

    ConvolutionStage();
    ~ConvolutionStage();
    ConvolutionStage (const ConvolutionStage&) = delete;
    ConvolutionStage& operator= (const ConvolutionStage&) = delete;

    // Takes the segment of impulse that starts offset samples in and is at most maxLength long
    // (0: no limit). forceDirect selects the direct form; otherwise fftSize is the FFT size
    // (held within 4..32768; 0 or below lets the stage choose). Returns fftSize / 2, or 0 in
    // the direct form.
    int setImpulse (const ImpulseBuffer* impulse, int fftSizeWanted, int offset, int maxLength, bool forceDirect);
    // Clears all signal state; keeps the impulse and the rings.
    void reset();
    // Outside the audio thread, after setImpulse and the engine's placement (offsetInImpulse):
    // builds the rings for numChannels channels and reserves every store at the largest size it
    // can reach when the engine is fed blocks of at most maxBlock samples (at most
    // maxReservedBlock), so that processing never allocates. A stage that cannot get the memory
    // marks itself failed and stays silent; returns whether the stage is usable.
    bool reserve (int maxBlock, int numChannels);
    // Takes one block: one pointer per channel (null array or pointer: zeros), numChannels <= 2.
    void add (const float* const* block, int numSamples, int numChannels);
    // Processes queued hops until every channel holds wanted unread samples or runs out of
    // whole hops; returns the smallest unread count over the channels.
    int avail (int wanted);

    int partLen() const { return fftSize / 2; }
    int nParts() const { return partCount; }

private:
    int partCount = 0; // nParts, counted when the segment or the FFT size changes

    // What taking a hop left for the sum and the output.
    struct Hop
    {
        bool paired, shared;
        bool aheadValid; // the work-ahead sum belongs to this hop
    };

    void markFailed();
    void countParts();
    int nextRingPos (int position) const { return position + 1 < partCount ? position + 1 : 0; }
    bool rebuildRings (int numChannels);
    void addDirect (const float* const* block, int numSamples, int numChannels);
    bool hopExists (int channel) const;
    bool shareWindowClear (int d) const;
    bool isShareCandidate (int d, int v, float* spare, float* partnerSpare) const;
    const float* nextHop (int c, float* spare) const;
    void processHop (int d, int v, bool paired, bool& shareEnabled);
    Hop takeHop (int d, int v, bool paired, bool& shareEnabled);
    float* sumProducts (int d, int v, const Hop& hop, bool& anyProduct);
    void emit (int d, float* sum, bool anyProduct, bool withPartner);
    bool accumulate (float* sum, int d, int v, int fromPart, int toPart, int newestSlot, unsigned char smallestFlag, bool store) const;
    void sumAhead (int d, int v, int budget);
    void warmNextHop (int d, int v, int wanted);
    void prepareSpectrum (int d, bool paired);
    float* nextSlot (int d) const;
};
