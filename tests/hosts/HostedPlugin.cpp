#include "HostedPlugin.h"

#include "Parameters.h"
#include "Resources.h"
#include "Waiting.h"

#include <gtest/gtest.h>

namespace kto::host
{
namespace
{
struct Formats
{
    juce::VST3PluginFormat vst3;
    juce::LV2PluginFormat lv2;
};

std::unique_ptr<Formats> theFormats;

Formats* formats()
{
    if (theFormats == nullptr)
        theFormats = std::make_unique<Formats>();
    return theFormats.get();
}

// Looks the plug-in up once per format: scanning again makes lilv reload the bundle.
const juce::PluginDescription* findDescription (Format format)
{
    static juce::OwnedArray<juce::PluginDescription> found[2];
    auto& list = found[format == Format::vst3 ? 0 : 1];
    if (! list.isEmpty())
        return list[0];
    if (format == Format::vst3)
    {
        formats()->vst3.findAllTypesForFile (list, KTO_VST3_BUNDLE);
        return list[0];
    }
    // LV2 hosting ignores LV2_PATH: name the build tree's LV2 folder and pick our URI out of
    // everything the world knows.
    auto& lv2 = formats()->lv2;
    const auto folder = juce::File (KTO_LV2_BUNDLE).getParentDirectory();
    for (const auto& uri : lv2.searchPathsForPlugins (juce::FileSearchPath (folder.getFullPathName()), true, false))
        if (uri == KTO_LV2_URI)
            lv2.findAllTypesForFile (list, uri);
    return list[0];
}

juce::AudioPluginFormat& formatObject (Format format)
{
    if (format == Format::vst3)
        return formats()->vst3;
    return formats()->lv2;
}
} // namespace

const char* formatName (Format format)
{
    return format == Format::vst3 ? "VST3" : "LV2";
}

HostedPlugin::HostedPlugin (Format format, double sampleRate, int maxBlock, Layout layout)
{
    const auto* description = findDescription (format);
    if (description == nullptr)
    {
        loadError = juce::String ("no ") + formatName (format) + " plug-in found in the build tree";
        return;
    }
    instance = formatObject (format).createInstanceFromDescription (*description, sampleRate, maxBlock, loadError);
    if (instance == nullptr)
        return;

    // Prefer two in and two out; a format that offers only one layout keeps it.
    juce::AudioProcessor::BusesLayout stereo;
    stereo.inputBuses.add (juce::AudioChannelSet::stereo());
    stereo.outputBuses.add (juce::AudioChannelSet::stereo());
    if (layout == Layout::stereoIfOffered && instance->checkBusesLayoutSupported (stereo))
        instance->setBusesLayout (stereo);
    instance->enableAllBuses();
    prepare (sampleRate, maxBlock);
}

HostedPlugin::~HostedPlugin()
{
    if (instance != nullptr)
        instance->releaseResources();
}

void HostedPlugin::prepare (double sampleRate, int maxBlock)
{
    instance->releaseResources();
    instance->setRateAndBufferSizeDetails (sampleRate, maxBlock);
    instance->prepareToPlay (sampleRate, maxBlock);
}

juce::AudioProcessorParameter* HostedPlugin::parameter (const juce::String& name) const
{
    // Both wrappers add a host bypass named "Bypass" next to ours, at different places in the
    // list, so the list order says nothing: match the name and skip the host's own.
    return ktotest::parameterNamed (*instance, name, instance->getBypassParameter());
}

void HostedPlugin::set (const juce::String& name, float normalised)
{
    auto* p = parameter (name);
    ASSERT_NE (p, nullptr) << "no parameter named " << name;
    p->setValue (normalised);
}

float HostedPlugin::get (const juce::String& name) const
{
    auto* p = parameter (name);
    return p != nullptr ? p->getValue() : -1.0f;
}

void HostedPlugin::processBlock (juce::AudioBuffer<float>& block)
{
    midi.clear();
    instance->processBlock (block, midi);
}

juce::AudioBuffer<float> HostedPlugin::run (const juce::AudioBuffer<float>& input, const std::vector<int>& blockSizes)
{
    juce::AudioBuffer<float> output (numChannels(), input.getNumSamples());
    runRange (input, blockSizes, 0, input.getNumSamples(), output);
    return output;
}

juce::AudioBuffer<float> HostedPlugin::runOnceLoaded (const juce::AudioBuffer<float>& input, int blockSize)
{
    const int length = input.getNumSamples();
    const int first = juce::jmin (blockSize, length);
    juce::AudioBuffer<float> output (numChannels(), length);
    auto pending = [&] {
        for (int i = 0; i < first; ++i)
            if (output.getSample (0, i) != 0.25f * input.getSample (0, i))
                return false;
        return true;
    };
    const auto loaded = ktotest::waitFor ("the loader to install the selected reverb type", [&] {
        runRange (input, { first }, 0, first, output);
        return ! pending();
    });
    if (! loaded)
        return {};
    runRange (input, { blockSize }, first, length, output);
    return output;
}

void HostedPlugin::runRange (const juce::AudioBuffer<float>& input, const std::vector<int>& blockSizes, int start, int length,
                             juce::AudioBuffer<float>& output)
{
    const int channels = numChannels();
    int largest = 0;
    for (int size : blockSizes)
        largest = juce::jmax (largest, size);

    juce::AudioBuffer<float> block (channels, largest);
    size_t next = 0;
    for (int pos = start; pos < length;)
    {
        const int n = juce::jmin (blockSizes[next], length - pos);
        next = (next + 1) % blockSizes.size();
        block.setSize (channels, n, false, false, true);
        for (int ch = 0; ch < channels; ++ch)
        {
            if (ch < input.getNumChannels())
                block.copyFrom (ch, 0, input, ch, pos, n);
            else
                block.clear (ch, 0, n);
        }
        processBlock (block);
        for (int ch = 0; ch < channels; ++ch)
            output.copyFrom (ch, pos, block, ch, 0, n);
        pos += n;
    }
}

juce::MemoryBlock HostedPlugin::saveState()
{
    juce::MemoryBlock state;
    instance->getStateInformation (state);
    return state;
}

void HostedPlugin::restoreState (const juce::MemoryBlock& state)
{
    instance->setStateInformation (state.getData(), (int) state.getSize());
}

void shutDownFormats()
{
    theFormats.reset();
}

juce::AudioBuffer<float> decodeEmbeddedImpulse (int type)
{
    const auto& entry = kto::resources::table[type - 1];
    juce::FlacAudioFormat flac;
    std::unique_ptr<juce::AudioFormatReader> reader (flac.createReaderFor (
        new juce::MemoryInputStream (entry.data, (size_t) entry.size, false), true));
    if (reader == nullptr)
        return {};
    juce::AudioBuffer<float> impulse ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&impulse, 0, impulse.getNumSamples(), 0, true, true);
    return impulse;
}
} // namespace kto::host
