// The plug-in driven through the Audio Unit stand-in: identity, the audio road, the loader.

#include "EmbeddedResponses.h"
#include "PluginHarness.h"

#include "../support/Waiting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace ktotest;

namespace
{
constexpr int block = 256;

Channels times (const Channels& c, float g)
{
    Channels r = c;
    for (auto& ch : r)
        for (auto& s : ch)
            s *= g;
    return r;
}
} // namespace

TEST (PluginIdentity, WhatTheHostSeesOfAFreshInstance)
{
    Host host;
    auto& unit = host.unit;
    auto& p = unit.getProcessor();

    EXPECT_EQ (unit.getName(), "VorrelKTOstvikReverb");
    EXPECT_EQ (unit.getVersion(), 0x10001);
    EXPECT_EQ (unit.getLatencySeconds(), 0.0);
    EXPECT_EQ (unit.getTailSeconds(), 0.0);
    EXPECT_EQ (unit.getFactoryPresets(), juce::StringArray ("Untitled"));
    EXPECT_EQ (kto::host::AudioUnitStandIn::supportedChannelConfigs(),
               (std::vector<kto::host::ChannelConfig> { { 1, 1 }, { 1, 2 }, { 2, 2 } }));
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getProgramName (0), "");
    EXPECT_EQ (p.getLatencySamples(), 0);
    EXPECT_TRUE (p.hasEditor());

    // The start configuration before the host's first set-up.
    EXPECT_EQ (p.getTotalNumInputChannels(), 1);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 1);
    EXPECT_EQ (p.getSampleRate(), 44100.0);
    EXPECT_EQ (p.getBlockSize(), 1024);

    // Every offered configuration is accepted, nothing else.
    for (auto [in, out, ok] : { std::tuple { 1, 1, true }, { 1, 2, true }, { 2, 2, true }, { 2, 1, false },
                                { 0, 2, false }, { 3, 3, false } })
        EXPECT_EQ (unit.setChannels (in, out) == kto::host::noErr, ok) << in << " " << out;

    const struct { const char* id; const char* name; float value; } params[] = {
        { "bypassID", "Bypass", 0.0f }, { "revTypeID", "Reverb Type", 0.0f },
        { "mixID", "Mix", 0.5f }, { "gainID", "Gain", 0.5f } };
    ASSERT_EQ (p.getParameters().size(), 4);
    for (int i = 0; i < 4; ++i)
    {
        auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (p.getParameters()[i]);
        ASSERT_NE (withId, nullptr);
        EXPECT_EQ (withId->paramID, params[i].id);
        EXPECT_EQ (withId->getName (100), params[i].name);
        EXPECT_EQ (withId->getValue(), params[i].value);
    }

    // Impulse response 1 is installed before any audio; the loader has been asked for nothing yet.
    auto& proc = host.processor();
    EXPECT_EQ (proc.impulseBuffer.audio.getNumChannels(), 2);
    EXPECT_EQ (proc.impulseBuffer.audio.getNumSamples(), framesOfType (1));
    EXPECT_EQ (proc.impulseBuffer.sampleRate, 44100);
    EXPECT_EQ (proc.impulseLoader.getRequestedType(), -1);
    EXPECT_FALSE (proc.impulseLoader.isPending());
}

// The first blocks are the input x 0.25 until the loader's tick, then the reverb, in every
// channel configuration.
TEST (PluginRoad, HandOverUntilTheTickThenTheReverb)
{
    for (auto [inputs, outputs] : { std::pair { 1, 1 }, { 1, 2 }, { 2, 2 } })
    {
        SCOPED_TRACE (juce::String (inputs) + " in, " + juce::String (outputs) + " out");
        Host host;
        host.start (inputs, outputs);
        const auto in = noiseChannels (inputs, 4 * block, 1);

        const auto first = host.render (in, block);
        EXPECT_TRUE (host.processor().impulseLoader.isPending());
        EXPECT_EQ (host.processor().impulseLoader.getRequestedType(), 1);
        for (int ch = 0; ch < outputs; ++ch)
            EXPECT_EQ (first[size_t (ch)], times (in, 0.25f)[0 + size_t (inputs == 2 ? ch : 0)]);

        host.tick();
        EXPECT_FALSE (host.processor().impulseLoader.isPending());

        // Mix 50 %, Gain 0 dB: half the wet signal plus half the dry one.
        const auto out = host.render (in, block);
        Channels stereoIn = in;
        if (outputs == 2 && inputs == 1)
            stereoIn.push_back (in[0]);
        const auto wet = ReferenceConvolver (1).wet (stereoIn, block);
        for (int ch = 0; ch < outputs; ++ch)
            for (size_t i = 0; i < out[0].size(); ++i)
                ASSERT_NEAR (out[size_t (ch)][i], wet[size_t (ch)][i] * 0.5f + stereoIn[size_t (ch)][i] * 0.5f, 1e-6f)
                    << "channel " << ch << " frame " << i;
    }
}

TEST (PluginRoad, TheLoadersOwnTimerEndsTheHandOver)
{
    Host host;
    host.start (2, 2);
    const auto in = noiseChannels (2, block, 2);
    host.render (in, block);
    ASSERT_TRUE (host.processor().impulseLoader.isPending());

    ASSERT_TRUE (ktotest::waitFor ("the loader's tick", [&] { return ! host.processor().impulseLoader.isPending(); }));

    host.setParameter (2, 1.0f); // Mix 100 %
    EXPECT_EQ (host.render (in, block), ReferenceConvolver (1).wet (in, block));
}

TEST (PluginRoad, BypassThresholdIsExactlyOneHalf)
{
    for (auto [inputs, outputs] : { std::pair { 1, 1 }, { 1, 2 }, { 2, 2 } })
    {
        Host host;
        host.startLoaded (inputs, outputs);
        const auto in = noiseChannels (inputs, 2 * block, 4);

        host.setParameter (0, 0.5f);
        const auto bypassed = host.render (in, block);
        for (int ch = 0; ch < outputs; ++ch)
            EXPECT_EQ (bypassed[size_t (ch)], in[size_t (juce::jmin (ch, inputs - 1))]) << inputs << outputs << ch;

        host.setParameter (0, 0.4999f);
        EXPECT_NE (host.render (in, block)[0], in[0]);
    }
}

// Mix and Gain against the plug-in's convolver output, in single precision.
TEST (PluginRoad, MixAndGain)
{
    const struct
    {
        float mixNormalised, gainNormalised;
        bool wetOnly;
        float factor;
    } cases[] = {
        { 0.0f, 0.5f, false, 1.0f },       // Mix 0, 0 dB: the dry input exactly
        { 1.0f, 0.5f, true, 1.0f },        // Mix 100, 0 dB: the convolver's output
        { 1.0f, 0.0f, true, 0.12589253f }, // -18 dB
        { 1.0f, 1.0f, true, 7.943283f },   // +18 dB
        { 0.0f, 1.0f, false, 7.943283f },  // Mix 0, +18 dB
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.mixNormalised) + " " + juce::String (c.gainNormalised));
        Host host;
        host.startLoaded();
        host.setParameter (2, c.mixNormalised);
        host.setParameter (3, c.gainNormalised);

        const auto in = noiseChannels (2, 3 * block, 6);
        const auto out = host.render (in, block);
        const auto wet = ReferenceConvolver (1).wet (in, block);
        for (size_t ch = 0; ch < 2; ++ch)
            for (size_t i = 0; i < in[0].size(); ++i)
                ASSERT_EQ (out[ch][i], (c.wetOnly ? wet[ch][i] : in[ch][i]) * c.factor) << ch << " " << i;
    }
}

TEST (PluginRoad, SwitchingTheTypeWhilePlaying)
{
    Host host;
    host.startLoaded();
    host.setParameter (2, 1.0f);

    // Type 6: the blocks until the tick are the attenuated input, then type 6 from a fresh engine.
    host.setParameter (1, 1.0f);
    const auto in = noiseChannels (2, 2 * block, 10);
    EXPECT_EQ (host.render (in, block), times (in, 0.25f));
    EXPECT_EQ (host.processor().impulseLoader.getRequestedType(), 6);
    host.tick();
    EXPECT_EQ (host.processor().impulseBuffer.audio.getNumSamples(), framesOfType (6));
    EXPECT_EQ (host.processor().impulseBuffer.audio.getNumChannels(), 2);
    EXPECT_EQ (host.render (in, block), ReferenceConvolver (6).wet (in, block));

    // Types 3 and then 5 before a tick: the tick loads only 5.
    host.setParameter (1, 0.4f);
    host.render (in, block);
    host.setParameter (1, 0.8f);
    host.render (in, block);
    host.tick();
    EXPECT_FALSE (host.processor().impulseLoader.isPending());
    EXPECT_EQ (host.processor().impulseBuffer.audio.getNumSamples(), framesOfType (5));

    // Values between whole numbers truncate: 3.9 selects 3.
    host.setParameter (1, 2.9f / 5.0f);
    host.render (in, block);
    EXPECT_EQ (host.processor().impulseLoader.getRequestedType(), 3);
}

TEST (PluginRoad, TypeValuesThatFitNoIntSelectNoType)
{
    EXPECT_EQ (Processor::reverbTypeFromValue (6.9f), 6);
    EXPECT_EQ (Processor::reverbTypeFromValue (0.99f), 0);
    EXPECT_EQ (Processor::reverbTypeFromValue (-3.5f), -3);
    for (float v : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                     -std::numeric_limits<float>::infinity(), 3.0e9f, -3.0e9f, 2147483648.0f })
        EXPECT_EQ (Processor::reverbTypeFromValue (v), 0) << v;
    EXPECT_EQ (Processor::reverbTypeFromValue (-2147483648.0f), std::numeric_limits<int>::min());

    Host host;
    host.startLoaded();
    host.processor().revTypeParam->value.store (std::numeric_limits<float>::quiet_NaN());
    const auto in = noiseChannels (2, block, 12);
    EXPECT_EQ (host.render (in, block), times (in, 0.25f));
    EXPECT_EQ (host.processor().impulseLoader.getRequestedType(), 0);
    host.tick();
    // Type 0 re-installs the response that was there.
    EXPECT_EQ (host.processor().impulseBuffer.audio.getNumSamples(), framesOfType (1));
    EXPECT_FALSE (host.processor().impulseLoader.isPending());
}

TEST (PluginRoad, AHostResetAfterPreparationKeepsTheTail)
{
    Host a, b;
    a.startLoaded();
    b.startLoaded();
    const auto in = noiseChannels (2, block, 14);
    const Channels silence (2, std::vector<float> (size_t (8 * block), 0.0f));
    a.render (in, block);
    b.render (in, block);
    ASSERT_EQ (b.unit.reset(), kto::host::noErr);
    const auto tailA = a.render (silence, block);
    const auto tailB = b.render (silence, block);
    EXPECT_EQ (tailA, tailB);
    const auto range = juce::FloatVectorOperations::findMinAndMax (tailB[0].data(), 8 * block);
    EXPECT_GT (range.getLength(), 0.0f);

    // A reset of a plug-in that was never prepared prepares it: two channels of twice the block.
    Host c;
    c.unit.setMaxFramesPerSlice (300);
    EXPECT_EQ (c.processor().dryBuffer.getNumSamples(), 0);
    c.unit.reset();
    EXPECT_EQ (c.processor().dryBuffer.getNumChannels(), 2);
    EXPECT_EQ (c.processor().dryBuffer.getNumSamples(), 600);
}

TEST (PluginRoad, HostBypassPassesTheInputsAndSilencesTheRest)
{
    Host host;
    host.start (1, 2);
    host.unit.setHostBypass (true);
    const auto in = noiseChannels (1, 2 * block, 15);
    const auto out = host.render (in, block);
    EXPECT_EQ (out[0], in[0]);
    EXPECT_EQ (out[1], std::vector<float> (in[0].size(), 0.0f));
    // No type is requested while the host bypasses.
    EXPECT_EQ (host.processor().impulseLoader.getRequestedType(), -1);
}

TEST (PluginEntryPoints, FactoryAndEntryDriveAnInstance)
{
    juce::ScopedJuceInitialiser_GUI gui;
    auto* instance = VorrelKTOstvikReverbAUFactory (nullptr);
    ASSERT_NE (instance, nullptr);

    KtoAUFormat format { 1, 2, 44100.0, 64 };
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, kKtoAUSetFormat, &format), kto::host::noErr);
    KtoAUFormat unsupported { 2, 1, 44100.0, 64 };
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, kKtoAUSetFormat, &unsupported), kto::host::errFormatNotSupported);
    std::int32_t version = 0;
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, kKtoAUGetVersion, &version), kto::host::noErr);
    EXPECT_EQ (version, 0x10001);

    float in[64], left[64], right[64];
    std::fill (std::begin (in), std::end (in), 0.5f);
    const float* inputs[] = { in };
    float* outputs[] = { left, right };
    KtoAURenderArgs args { inputs, outputs, 64 };
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, kKtoAURender, &args), kto::host::errUninitialized);
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, kKtoAUInitialize, nullptr), kto::host::noErr);
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, kKtoAURender, &args), kto::host::noErr);
    EXPECT_EQ (left[63], 0.125f);
    EXPECT_EQ (right[63], 0.125f);
    args.numFrames = 65;
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, kKtoAURender, &args), kto::host::errTooManyFramesToProcess);
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, 99, nullptr), kto::host::errInvalidProperty);
    EXPECT_EQ (VorrelKTOstvikReverbAUEntry (instance, kKtoAUClose, nullptr), kto::host::noErr);
}
