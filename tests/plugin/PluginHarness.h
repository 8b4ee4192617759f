#pragma once

// Drives the plug-in through the Audio Unit stand-in, as a host would.

#include "AUStandIn.h"
#include "ImpulseLoaderAccess.h"
#include "Processor.h"
#include "Signals.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <vector>

namespace ktotest
{
struct Host
{
    juce::ScopedJuceInitialiser_GUI gui;
    kto::host::AudioUnitStandIn unit;

    Processor& processor() { return dynamic_cast<Processor&> (unit.getProcessor()); }

    void start (int inputs, int outputs, double rate = 44100.0, int maxFrames = 256)
    {
        ASSERT_EQ (unit.setChannels (inputs, outputs), kto::host::noErr);
        ASSERT_EQ (unit.setSampleRate (rate), kto::host::noErr);
        ASSERT_EQ (unit.setMaxFramesPerSlice (maxFrames), kto::host::noErr);
        ASSERT_EQ (unit.initialize(), kto::host::noErr);
    }

    // Started, one block played and the loader's tick run: type 1 is in, its engine still fresh.
    void startLoaded (int inputs = 2, int outputs = 2)
    {
        start (inputs, outputs);
        render (noiseChannels (inputs, 256, 100), 256);
        tick();
    }

    void tick() { ImpulseLoaderTestAccess::tick (processor().impulseLoader); }

    // Renders input in blocks of blockSize; outputs start as garbage, as a host's buffers may.
    Channels render (const Channels& input, int blockSize)
    {
        const int numOutputs = unit.getProcessor().getTotalNumOutputChannels();
        const int numFrames = int (input[0].size());
        Channels out (static_cast<size_t> (numOutputs), std::vector<float> (static_cast<size_t> (numFrames), 123.0f));
        for (int start = 0; start < numFrames; start += blockSize)
        {
            const int n = juce::jmin (blockSize, numFrames - start);
            std::vector<const float*> in;
            for (auto& ch : input)
                in.push_back (ch.data() + start);
            std::vector<float*> o;
            for (auto& ch : out)
                o.push_back (ch.data() + start);
            EXPECT_EQ (unit.render (in.data(), o.data(), n), kto::host::noErr);
        }
        return out;
    }

    void setParameter (int index, float normalised)
    {
        unit.getProcessor().getParameters()[index]->setValue (normalised);
    }
};

// A convolver of its own on the decoded impulse response: what the plug-in's convolver should give.
struct ReferenceConvolver
{
    explicit ReferenceConvolver (int type, double rate = 44100.0)
    {
        const auto& entry = kto::resources::table[type - 1];
        decodeFlacToBuffer (entry.data, entry.size, &impulse, 44100);
        convolver = std::make_unique<Convolver> (&impulse);
        convolver->prepare (rate);
    }

    Channels wet (const Channels& input, int blockSize) { return processInBlocks (*convolver, input, blockSize); }

    Buffer impulse { 1, 1, 44100 };
    std::unique_ptr<Convolver> convolver;
};
} // namespace ktotest
