#pragma once

#include "ParamStep.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace ktotest
{

// The four parameters as the plug-in lays them out, in a processor that does nothing else,
// so the toolkit can be tested apart from the plug-in's own Processor.
struct ParamRow
{
    const char* id;
    const char* name;
    const char* label;
    int steps;
    float min, max, def;
};

inline constexpr ParamRow paramRows[] = {
    { "bypassID", "Bypass", "", 1, 0.0f, 1.0f, 0.0f },
    { "revTypeID", "Reverb Type", "", 5, 1.0f, 6.0f, 1.0f },
    { "mixID", "Mix", "%", 64, 0.0f, 100.0f, 50.0f },
    { "gainID", "Gain", "dB", 72, -18.0f, 18.0f, 0.0f },
};

class TestProcessor : public juce::AudioProcessor
{
public:
    TestProcessor()
    {
        for (const auto& s : paramRows)
        {
            auto* p = new zmk::ParamStep (s.id, s.name, s.label, s.steps, s.min, s.max, s.def, 0.0f);
            params.push_back (p);
            addParameter (p);
        }
    }

    using AudioProcessor::processBlock;

    const juce::String getName() const override { return "Test"; }
    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}

    std::vector<zmk::ParamStep*> params; // owned by the base class
};

} // namespace ktotest
