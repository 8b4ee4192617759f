#pragma once

// The host side of the host tests: loads the plug-in as a VST3 or LV2 from the build tree and
// drives it like a host (prepare, process in blocks, parameters by name, state).
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <vector>

namespace kto::host
{
enum class Format
{
    vst3,
    lv2
};

const char* formatName (Format format);

class HostedPlugin
{
public:
    enum class Layout
    {
        stereoIfOffered, // two in, two out when the plug-in accepts it
        asLoaded         // the layout the plug-in starts in
    };

    // Loads the build-tree copy of the plug-in; check isLoaded() and error() afterwards.
    HostedPlugin (Format format, double sampleRate, int maxBlock, Layout layout = Layout::stereoIfOffered);
    ~HostedPlugin();

    bool isLoaded() const { return instance != nullptr; }
    const juce::String& error() const { return loadError; }
    juce::AudioPluginInstance& plugin() { return *instance; }

    int numInputs() const { return instance->getTotalNumInputChannels(); }
    int numOutputs() const { return instance->getTotalNumOutputChannels(); }
    int numChannels() const { return juce::jmax (numInputs(), numOutputs()); }

    // Re-initialises the plug-in at another rate and largest block, as a host does.
    void prepare (double sampleRate, int maxBlock);

    // The plug-in's own parameter with this name (not the format wrapper's host bypass);
    // nullptr when there is none.
    juce::AudioProcessorParameter* parameter (const juce::String& name) const;
    // Sets a parameter by name to a normalised value; fails the running test when it is missing.
    void set (const juce::String& name, float normalised);
    float get (const juce::String& name) const;

    void processBlock (juce::AudioBuffer<float>& block);
    // Runs the whole input through the plug-in in blocks whose sizes cycle through the pattern.
    juce::AudioBuffer<float> run (const juce::AudioBuffer<float>& input, const std::vector<int>& blockSizes);
    // The same in blocks of blockSize, once the loader has the selected reverb type in: the first
    // block goes in again and again, pumping messages, while it comes back as the input x 0.25 of
    // a pending load (so that block must not be silent). An empty buffer when that lasts more than
    // a minute.
    juce::AudioBuffer<float> runOnceLoaded (const juce::AudioBuffer<float>& input, int blockSize);

    juce::MemoryBlock saveState();
    void restoreState (const juce::MemoryBlock& state);

private:
    // Samples start..length-1 of input through the plug-in, into the same place in output.
    void runRange (const juce::AudioBuffer<float>& input, const std::vector<int>& blockSizes, int start, int length,
                   juce::AudioBuffer<float>& output);

    std::unique_ptr<juce::AudioPluginInstance> instance;
    juce::String loadError;
    juce::MidiBuffer midi;
};

// Destroys the format objects before JUCE shuts down.
void shutDownFormats();

// Impulse response of reverb type 1..6 as embedded in the plug-in, decoded independently.
juce::AudioBuffer<float> decodeEmbeddedImpulse (int type);
} // namespace kto::host
