// Robustness of the plug-in: refused preparations, undecodable streams, threads, shared look and
// no allocation on the audio thread.

#include "AllocationCounter.h"
#include "EmbeddedResponses.h"
#include "PluginHarness.h"

#include "../support/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

using namespace ktotest;

namespace
{
constexpr int block = 256;
} // namespace

TEST (PluginMends, ARefusedPreparationKeepsTheStateAndTheTail)
{
    const std::pair<double, int> bad[] = {
        { std::numeric_limits<double>::quiet_NaN(), block },
        { std::numeric_limits<double>::infinity(), block },
        { 0.0, block },
        { -44100.0, block },
        { 0.5, block },
        { 1.0e300, block },
        { 2.5e8, block },
    };
    for (auto [rate, frames] : bad)
    {
        SCOPED_TRACE (juce::String (rate) + " " + juce::String (frames));
        Host a, b;
        a.startLoaded();
        b.startLoaded();
        const auto in = noiseChannels (2, 2 * block, 101);
        a.render (in, block);
        b.render (in, block);

        EXPECT_NO_THROW (b.processor().prepareToPlay (rate, frames));
        EXPECT_FALSE (b.processor().impulseLoader.isPending());
        EXPECT_EQ (a.render (in, block), b.render (in, block));
    }
}

TEST (PluginMends, ABlockLengthThatGivesNoRoomStillAppliesTheRate)
{
    // The length only sizes the dry room: the reverb is the one at the rate given, as with a
    // usable length.
    for (const int frames : { 0, -1, std::numeric_limits<int>::max() })
    {
        SCOPED_TRACE (frames);
        Host usable, none;
        usable.startLoaded();
        none.startLoaded();
        usable.processor().prepareToPlay (48000.0, block);
        none.processor().prepareToPlay (48000.0, frames);
        const auto in = noiseChannels (2, 4 * block, 102);
        const auto out = none.render (in, block);
        EXPECT_EQ (out, usable.render (in, block));
        EXPECT_NE (out, in);
    }
}

TEST (PluginMends, AnUndecodableStreamKeepsTheCurrentResponse)
{
    // Not FLAC at all, and a FLAC stream cut short after its header.
    static const unsigned char garbage[64] = { 1, 2, 3 };
    const auto& real = kto::resources::table[1];
    kto::resources::Entry broken[kto::resources::numEntries] = {};
    for (int i = 0; i < kto::resources::numEntries; ++i)
        broken[i] = { garbage, int (sizeof (garbage)) };
    broken[2] = { real.data, 2000 };

    for (int type : { 2, 3 })
    {
        SCOPED_TRACE (type);
        Host host;
        host.startLoaded();
        ImpulseLoaderTestAccess::setStreams (host.processor().impulseLoader, broken);
        host.setParameter (2, 1.0f);
        host.setParameter (1, float (type - 1) / 5.0f);

        const auto in = noiseChannels (2, 2 * block, 102);
        host.render (in, block);
        EXPECT_TRUE (host.processor().impulseLoader.isPending());
        EXPECT_NO_THROW (host.tick());
        EXPECT_FALSE (host.processor().impulseLoader.isPending());
        EXPECT_EQ (host.processor().impulseBuffer.audio.getNumSamples(), framesOfType (1));
        // The current response was handed over again: a fresh engine on type 1.
        EXPECT_EQ (host.render (in, block), ReferenceConvolver (1).wet (in, block));
    }

    Buffer destination (2, 5, 44100);
    destination.audio.setSample (1, 4, 0.5f);
    EXPECT_ANY_THROW (decodeFlacToBuffer (garbage, int (sizeof (garbage)), &destination, 44100));
    EXPECT_ANY_THROW (decodeFlacToBuffer (real.data, 2000, &destination, 44100));
    EXPECT_ANY_THROW (decodeFlacToBuffer (nullptr, 0, &destination, 44100));
    EXPECT_EQ (destination.audio.getNumSamples(), 5);
    EXPECT_EQ (destination.audio.getSample (1, 4), 0.5f);
}

TEST (PluginMends, DestroyingTheProcessorWaitsForARunningLoad)
{
    // The load must be caught while it runs; a fast machine may finish it first, so try again.
    int caught = 0;
    for (int attempt = 0; attempt < 20 && caught < 3; ++attempt)
    {
        auto host = std::make_unique<Host>();
        host->start (2, 2);
        host->render (noiseChannels (2, block, 103), block);
        auto& loader = host->processor().impulseLoader;

        std::atomic<bool> done { false };
        std::thread messageThread ([&] {
            ImpulseLoaderTestAccess::tick (loader);
            done = true;
        });
        bool locked = false;
        while (! done && ! locked)
        {
            if (loader.getRebuildMutex().try_lock())
                loader.getRebuildMutex().unlock();
            else
                locked = true;
        }
        host.reset(); // must wait for the tick that holds the lock (the sanitizers see it if not)
        caught += locked ? 1 : 0;
        messageThread.join();
    }
    EXPECT_GT (caught, 0);
}

TEST (PluginMends, ATypeRequestedDuringALoadIsLoadedByTheNextTick)
{
    // Whichever way the race goes, the flag is never clear while another type than the one
    // installed is requested.
    Host host;
    host.startLoaded();
    auto& loader = host.processor().impulseLoader;
    for (int attempt = 0; attempt < 5; ++attempt)
    {
        loader.setImpulseType (2);
        std::atomic<bool> done { false };
        std::thread messageThread ([&] {
            ImpulseLoaderTestAccess::tick (loader);
            done = true;
        });
        while (! done && loader.getRebuildMutex().try_lock())
            loader.getRebuildMutex().unlock();
        loader.setImpulseType (5);
        messageThread.join();

        const int frames = host.processor().impulseBuffer.audio.getNumSamples();
        if (loader.isPending())
        {
            EXPECT_EQ (frames, framesOfType (2)); // and 5 still to come
            host.tick();
        }
        EXPECT_FALSE (loader.isPending());
        EXPECT_EQ (host.processor().impulseBuffer.audio.getNumSamples(), framesOfType (5));
    }
}

TEST (PluginMends, PreparationBlocksAndLoadsNeverOverlap)
{
    Host host;
    host.startLoaded();
    auto& proc = host.processor();
    std::atomic<bool> stop { false };

    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, block);
        juce::MidiBuffer midi;
        Lcg random { 104 };
        while (! stop)
        {
            fillNoise (buffer, random, 0.5);
            const juce::ScopedLock lock (proc.getCallbackLock());
            proc.processBlock (buffer, midi);
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < block; ++i)
                    ASSERT_TRUE (std::isfinite (buffer.getSample (ch, i)));
        }
    });
    std::thread loader ([&] {
        for (int i = 0; i < 6; ++i)
        {
            proc.revTypeParam->value.store (float (6 - i));
            EXPECT_TRUE (ktotest::waitFor ("the audio thread to hand the type over",
                                           [&] { return proc.impulseLoader.getRequestedType() == 6 - i; }));
            ImpulseLoaderTestAccess::tick (proc.impulseLoader);
        }
    });
    for (int i = 0; i < 6; ++i)
        proc.prepareToPlay (i % 2 == 0 ? 48000.0 : 44100.0, block);
    loader.join();
    stop = true;
    audio.join();

    // A starved audio thread may hand over the last type only after the last tick: one more
    // block and tick must settle it.
    juce::AudioBuffer<float> buffer (2, block);
    juce::MidiBuffer midi;
    buffer.clear();
    proc.processBlock (buffer, midi);
    ImpulseLoaderTestAccess::tick (proc.impulseLoader);
    EXPECT_FALSE (proc.impulseLoader.isPending());
}

TEST (PluginMends, OneSharedLookStaysTheDefaultWhileAnyInstanceLives)
{
    juce::ScopedJuceInitialiser_GUI gui;
    auto first = std::make_unique<Processor>();
    auto second = std::make_unique<Processor>();
    auto* look = &first->customLook.getObject();
    EXPECT_EQ (&second->customLook.getObject(), look);
    EXPECT_EQ (&juce::LookAndFeel::getDefaultLookAndFeel(), look);

    std::unique_ptr<juce::AudioProcessorEditor> editor (first->createEditor());
    second.reset();
    EXPECT_EQ (&juce::LookAndFeel::getDefaultLookAndFeel(), look);
    EXPECT_EQ (&editor->getLookAndFeel(), look);
    editor.reset();

    first.reset();
    EXPECT_EQ (dynamic_cast<zmk::CustomLook*> (&juce::LookAndFeel::getDefaultLookAndFeel()), nullptr);
}

TEST (PluginMends, NoAllocationInTheAudioRoadOncePrepared)
{
    for (auto [inputs, outputs] : { std::pair { 1, 1 }, { 1, 2 }, { 2, 2 } })
    {
        Host host;
        host.startLoaded (inputs, outputs);
        auto& proc = host.processor();
        juce::AudioBuffer<float> buffer (outputs, block);
        juce::MidiBuffer midi;
        const auto in = noiseChannels (outputs, block, 105);

        // Every branch of the road: convolution with mix and gain, bypass, hand-over, short blocks.
        const struct { float bypass, type, mix, gain; int frames; } settings[] = {
            { 0, 0, 0.5f, 0.5f, block }, { 0, 0, 1, 0.25f, block }, { 0, 0, 0, 1, block / 2 },
            { 1, 0, 0.5f, 0.5f, block }, { 0, 0.2f, 0.5f, 0.5f, block }, { 0, 0.2f, 0.5f, 0.5f, 0 } };
        long count = 0;
        for (const auto& s : settings)
        {
            host.setParameter (0, s.bypass);
            host.setParameter (1, s.type);
            host.setParameter (2, s.mix);
            host.setParameter (3, s.gain);
            for (int repeat = 0; repeat < 8; ++repeat)
            {
                juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), outputs, s.frames);
                for (int ch = 0; ch < outputs; ++ch)
                    view.copyFrom (ch, 0, in[size_t (ch)].data(), s.frames);
                allocations::start();
                proc.processBlock (view, midi);
                count += allocations::stop();
            }
        }
        EXPECT_EQ (count, 0) << inputs << " in, " << outputs << " out";
    }
}

TEST (PluginMends, NoAllocationAndTheInputWithoutAPreparation)
{
    // A host that never prepares: the hand-over quarter, then the input.
    Host host;
    auto& proc = host.processor();
    proc.setPlayConfigDetails (2, 2, 44100.0, block);
    const auto in = noiseChannels (2, block, 108);
    juce::AudioBuffer<float> buffer (2, block);
    juce::MidiBuffer midi;
    long count = 0;
    for (const float gain : { 0.25f, 1.0f })
    {
        if (gain == 1.0f)
            host.tick();
        for (int ch = 0; ch < 2; ++ch)
            buffer.copyFrom (ch, 0, in[size_t (ch)].data(), block);
        allocations::start();
        proc.processBlock (buffer, midi);
        count += allocations::stop();
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < block; ++i)
                ASSERT_EQ (buffer.getSample (ch, i), gain * in[size_t (ch)][size_t (i)]) << ch << " " << i;
    }
    EXPECT_EQ (count, 0);
}

TEST (PluginMends, NoAllocationInALongRunFromTheFirstBlock)
{
    // The engine's stores depend on how the host's blocks fall against its hops; they must all be
    // in place before the first block, whatever the sizes, and again after a change of type.
    for (auto [inputs, outputs] : { std::pair { 1, 2 }, { 2, 2 } })
    {
        constexpr int maxFrames = 1024;
        Host host;
        host.start (inputs, outputs, 44100.0, maxFrames);
        host.tick();
        auto& proc = host.processor();
        host.setParameter (2, 0.5f);
        // Hosts may send more than they announced: such blocks go through in pieces.
        constexpr int largest = 5 * maxFrames + 3;
        juce::AudioBuffer<float> buffer (outputs, largest);
        juce::MidiBuffer midi;
        const auto in = noiseChannels (outputs, largest, 106);
        juce::Random random (107);
        long count = 0, frames = 0;
        auto play = [&] (int numFrames) {
            juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), outputs, numFrames);
            for (int ch = 0; ch < outputs; ++ch)
                view.copyFrom (ch, 0, in[size_t (ch)].data(), numFrames);
            allocations::start();
            proc.processBlock (view, midi);
            count += allocations::stop();
            frames += numFrames;
        };
        for (int type : { 1, 4 })
        {
            host.setParameter (1, float (type - 1) / 5.0f);
            play (1000);
            host.tick();
            for (long end = frames + 150000; frames < end;)
                play (1000);
            for (long end = frames + 150000; frames < end;)
                play (1 + random.nextInt (maxFrames));
            play (largest);
        }
        EXPECT_EQ (count, 0) << inputs << " in, " << outputs << " out";

        // Pieces keep the road exact: Mix 0 at 0 dB still gives the dry input of an oversized block.
        host.setParameter (2, 0.0f);
        play (largest);
        for (int ch = 0; ch < outputs; ++ch)
            for (int i = 0; i < largest; ++i)
                ASSERT_EQ (buffer.getSample (ch, i), in[size_t (inputs == 1 ? 0 : ch)][size_t (i)]) << ch << " " << i;
    }
}
