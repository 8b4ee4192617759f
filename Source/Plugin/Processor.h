#pragma once

#include "Buffer.h"
#include "Convolver.h"
#include "CustomLook.h"
#include "ImpulseLoaderAsync.h"
#include "ParamStep.h"
#include "ParameterSets.h"
#include "PresetStore.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

// The plug-in's audio processor: four parameters, the impulse response with its convolver and
// loader, and the user-interface objects that must outlive any editor.
class Processor : public juce::AudioProcessor
{
public:
    Processor();
    ~Processor() override;

    using AudioProcessor::processBlock;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int) override;
    const juce::String getProgramName (int) override;
    void changeProgramName (int, const juce::String&) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    // Reverb Type value to the type handed to the loader: truncated toward zero; a value that no
    // int holds (NaN, infinities, huge magnitudes) selects no type, like 0.
    static int reverbTypeFromValue (float value) noexcept;

    static constexpr const char* presetsPath = "VorrelAudioTools/KTOstvikReverb/presets.xml";

    ABState abState;
    PresetStore presetStore;
    // One look-and-feel for every instance in the process: it stays the framework's default while
    // any instance lives, so closing one plug-in never leaves the others on a deleted default.
    juce::SharedResourcePointer<zmk::CustomLook> customLook;
    zmk::ParamStep* bypassParam;
    zmk::ParamStep* revTypeParam;
    zmk::ParamStep* mixParam;
    zmk::ParamStep* gainParam;
    Buffer impulseBuffer;
    Convolver convolver;
    ImpulseLoaderAsync impulseLoader;
    juce::AudioBuffer<float> dryBuffer;

private:
    void reportValuesToLv2Host();

    // Preparation raises preparing and then waits until the audio thread is out of the convolver;
    // the audio thread marks its use and backs off (hand-over gain) while preparing is up, so it
    // never waits itself.
    std::atomic<bool> preparing { false };
    std::atomic<bool> audioInConvolver { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Processor)
};
