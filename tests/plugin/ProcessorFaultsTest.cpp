// Faulty input through the processor: non-finite and subnormal samples, a block longer than the
// prepared size and a block of no samples.
#include "Processor.h"

#include "../support/EmbeddedResponses.h"
#include "../support/Parameters.h"
#include "../support/Signals.h"
#include "../support/Waiting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace
{
constexpr double rate = 44100.0;
constexpr int preparedBlock = 512;
// The longest embedded response, and the engine's largest partition (16384 frames in a
// 32768-point transform) may hold a sample that long again.
constexpr int reverbMemory = ktotest::longestResponseFrames + 32768;

bool allFinite (const juce::AudioBuffer<float>& buffer, int numSamples)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < numSamples; ++i)
            if (! std::isfinite (buffer.getSample (ch, i)))
                return false;
    return true;
}

class ProcessorFaults : public ::testing::Test
{
protected:
    // A stereo processor, prepared and past the loader's first tick, at the given mix.
    std::unique_ptr<Processor> makeReady (float mixNormalised)
    {
        auto p = std::make_unique<Processor>();
        juce::AudioProcessor::BusesLayout stereo;
        stereo.inputBuses.add (juce::AudioChannelSet::stereo());
        stereo.outputBuses.add (juce::AudioChannelSet::stereo());
        EXPECT_TRUE (p->setBusesLayout (stereo));
        p->setRateAndBufferSizeDetails (rate, preparedBlock);
        p->prepareToPlay (rate, preparedBlock);
        const std::pair<const char*, float> settings[] = { { "Bypass", 0.0f }, { "Reverb Type", 0.0f }, { "Mix", mixNormalised }, { "Gain", 0.5f } };
        for (auto [name, value] : settings)
        {
            auto* param = ktotest::parameterNamed (*p, name);
            EXPECT_NE (param, nullptr) << name;
            if (param != nullptr)
                param->setValue (value);
        }
        juce::AudioBuffer<float> silence (2, preparedBlock);
        silence.clear();
        p->processBlock (silence, midi);
        EXPECT_TRUE (ktotest::waitFor ("the loader's tick", [&] { return ! p->impulseLoader.isPending(); }));
        // Start from a clean history: the block above may have reached the reverb.
        p->prepareToPlay (rate, preparedBlock);
        return p;
    }

    juce::ScopedJuceInitialiser_GUI juceInit;
    juce::MidiBuffer midi;
};

TEST_F (ProcessorFaults, BadSamplesLeaveNoTraceOnceThroughTheReverb)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float tiny = std::numeric_limits<float>::denorm_min();
    const float smallSubnormal = std::numeric_limits<float>::min() / 3.0f;
    const struct Case
    {
        const char* what;
        float value;
        bool everywhere; // the whole block, or a single sample in otherwise normal audio
    } cases[] = {
        { "one NaN", nan, false },
        { "a block of NaN", nan, true },
        { "one +Inf", inf, false },
        { "a block of -Inf", -inf, true },
        { "subnormals", smallSubnormal, true },
        { "the smallest subnormal", -tiny, true },
    };

    auto p = makeReady (0.5f);
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        p->prepareToPlay (rate, preparedBlock);
        ktotest::Lcg random { 3 };
        juce::AudioBuffer<float> block (2, preparedBlock);

        ktotest::fillNoise (block, random, 0.25f);
        for (int ch = 0; ch < 2; ++ch)
        {
            if (c.everywhere)
                juce::FloatVectorOperations::fill (block.getWritePointer (ch), c.value, preparedBlock);
            else
                block.setSample (ch, 100, c.value);
        }
        p->processBlock (block, midi);
        const bool badInput = ! std::isfinite (c.value);
        if (! badInput)
        {
            EXPECT_TRUE (allFinite (block, preparedBlock));
        }

        // Feed clean audio for longer than any response and see when the output is clean for good.
        int lastBadSample = -1;
        int position = 0;
        const int total = reverbMemory + 8 * preparedBlock;
        while (position < total)
        {
            ktotest::fillNoise (block, random, 0.25f);
            p->processBlock (block, midi);
            if (! allFinite (block, preparedBlock))
                lastBadSample = position + preparedBlock - 1;
            position += preparedBlock;
        }
        EXPECT_LT (lastBadSample, reverbMemory) << "the output still held non-finite samples at " << lastBadSample;
        // The last blocks must be clean in any case.
        EXPECT_TRUE (allFinite (block, preparedBlock));
    }
}

TEST_F (ProcessorFaults, BlockLongerThanPreparedMatchesTheSameAudioInPreparedBlocks)
{
    auto whole = makeReady (0.75f);
    auto pieces = makeReady (0.75f);
    ktotest::Lcg random { 5 };
    constexpr int longBlock = 8 * preparedBlock + 77;
    juce::AudioBuffer<float> input (2, longBlock);

    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE (round);
        ktotest::fillNoise (input, random, 0.5f);
        juce::AudioBuffer<float> a (input);
        whole->processBlock (a, midi);

        juce::AudioBuffer<float> b (input);
        for (int pos = 0; pos < longBlock; pos += preparedBlock)
        {
            const int n = juce::jmin (preparedBlock, longBlock - pos);
            float* channels[] = { b.getWritePointer (0, pos), b.getWritePointer (1, pos) };
            juce::AudioBuffer<float> view (channels, 2, n);
            pieces->processBlock (view, midi);
        }
        ASSERT_TRUE (allFinite (a, longBlock));
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < longBlock; ++i)
                ASSERT_NEAR (a.getSample (ch, i), b.getSample (ch, i), 1e-5f) << "channel " << ch << " sample " << i;
    }
}

TEST_F (ProcessorFaults, EmptyBlockChangesNothingButStillHandsOverTheType)
{
    auto p = makeReady (0.0f);
    juce::AudioBuffer<float> empty (2, 0);
    p->processBlock (empty, midi);

    // Select another type with an empty block only: after a tick the loader has it, so the next
    // real block is not muted to a quarter.
    auto* type = ktotest::parameterNamed (*p, "Reverb Type");
    ASSERT_NE (type, nullptr);
    type->setValue (0.4f);
    p->processBlock (empty, midi);
    ASSERT_TRUE (p->impulseLoader.isPending());
    ASSERT_TRUE (ktotest::waitFor ("the loader's tick", [&] { return ! p->impulseLoader.isPending(); }));

    ktotest::Lcg random { 9 };
    juce::AudioBuffer<float> block (2, preparedBlock);
    ktotest::fillNoise (block, random, 0.5f);
    const juce::AudioBuffer<float> input (block);
    p->processBlock (block, midi);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < preparedBlock; ++i)
            ASSERT_EQ (block.getSample (ch, i), input.getSample (ch, i)) << "channel " << ch << " sample " << i;
}
} // namespace
