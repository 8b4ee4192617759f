// The built VST3 and LV2 as a JUCE host sees them: the channel layouts each offers and the first
// block each returns (the input x 0.25 while impulse response 1 is handed over again).

#include "HostedPlugin.h"

#include "../support/Signals.h"

#include <gtest/gtest.h>

using namespace kto::host;

namespace
{
juce::AudioProcessor::BusesLayout layout (int inputs, int outputs)
{
    juce::AudioProcessor::BusesLayout l;
    l.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (inputs));
    l.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (outputs));
    return l;
}

// Processes one block of noise on a fresh instance and checks every output against input x 0.25.
void expectHandOverBlock (HostedPlugin& hosted)
{
    constexpr int frames = 256;
    const int inputs = hosted.numInputs();
    const int outputs = hosted.numOutputs();
    juce::AudioBuffer<float> block (hosted.numChannels(), frames);
    juce::AudioBuffer<float> in (inputs, frames);
    ktotest::fillNoise (in, 7, 0.5);
    block.clear();
    for (int ch = 0; ch < inputs; ++ch)
        block.copyFrom (ch, 0, in, ch, 0, frames);
    hosted.processBlock (block);
    for (int ch = 0; ch < outputs; ++ch)
        for (int i = 0; i < frames; ++i)
            ASSERT_EQ (block.getSample (ch, i), in.getSample (juce::jmin (ch, inputs - 1), i) * 0.25f)
                << "output " << ch << " frame " << i;
}
} // namespace

TEST (FormatHost, TheVst3OffersTheThreeConfigurations)
{
    {
        HostedPlugin hosted (Format::vst3, 44100.0, 256);
        ASSERT_TRUE (hosted.isLoaded()) << hosted.error();
        EXPECT_EQ (hosted.plugin().getName(), "VorrelKTOstvikReverb");
        hosted.plugin().releaseResources(); // layouts are asked of an inactive plug-in
        for (auto [inputs, outputs, offered] : { std::tuple { 1, 1, true }, { 1, 2, true }, { 2, 2, true },
                                                 { 2, 1, false } })
            EXPECT_EQ (hosted.plugin().checkBusesLayoutSupported (layout (inputs, outputs)), offered) << inputs << outputs;
    }

    for (auto [inputs, outputs] : { std::pair { 1, 1 }, { 1, 2 }, { 2, 2 } })
    {
        SCOPED_TRACE (juce::String (inputs) + " in, " + juce::String (outputs) + " out");
        HostedPlugin hosted (Format::vst3, 44100.0, 256);
        ASSERT_TRUE (hosted.isLoaded()) << hosted.error();
        hosted.plugin().releaseResources();
        ASSERT_TRUE (hosted.plugin().setBusesLayout (layout (inputs, outputs)));
        hosted.prepare (44100.0, 256);
        expectHandOverBlock (hosted);
    }
}

TEST (FormatHost, TheLv2HasTwoInputsAndTwoOutputs)
{
    HostedPlugin hosted (Format::lv2, 44100.0, 256);
    ASSERT_TRUE (hosted.isLoaded()) << hosted.error();
    EXPECT_EQ (hosted.numInputs(), 2);
    EXPECT_EQ (hosted.numOutputs(), 2);
    expectHandOverBlock (hosted);
}
