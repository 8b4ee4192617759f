#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// Scaffolding: a pass-through processor that lets the build and the toolkit tests stand
// until the real audio road is written.
class Processor : public juce::AudioProcessor
{
public:
    Processor();
    ~Processor() override = default;

    using AudioProcessor::processBlock;

    const juce::String getName() const override { return "VorrelKTOstvikReverb"; }
    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}
};
