#include "AUStandIn.h"


namespace kto::host
{
namespace
{
juce::AudioChannelSet channelSet (int channels)
{
    return juce::AudioChannelSet::canonicalChannelSet (channels);
}
} // namespace

AudioUnitStandIn::AudioUnitStandIn()
{
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_AudioUnit);
    processor.reset (createPluginFilter());
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);

    processor->setPlayConfigDetails (startInputs, startOutputs, startSampleRate, startMaxFrames);
}

AudioUnitStandIn::~AudioUnitStandIn()
{
    if (initialized)
        uninitialize();
}

std::vector<ChannelConfig> AudioUnitStandIn::supportedChannelConfigs()
{
    return { { 1, 1 }, { 1, 2 }, { 2, 2 } };
}

juce::String AudioUnitStandIn::getName() const { return processor->getName(); }

std::int32_t AudioUnitStandIn::getVersion() const
{
    return JucePlugin_VersionCode;
}

double AudioUnitStandIn::getLatencySeconds() const
{
    const double rate = processor->getSampleRate();
    return rate > 0.0 ? processor->getLatencySamples() / rate : 0.0;
}

double AudioUnitStandIn::getTailSeconds() const { return processor->getTailLengthSeconds(); }

juce::StringArray AudioUnitStandIn::getFactoryPresets() const
{
    juce::StringArray names;
    for (int i = 0; i < processor->getNumPrograms(); ++i)
    {
        auto name = processor->getProgramName (i);
        names.add (name.isEmpty() ? juce::String ("Untitled") : name);
    }
    return names;
}

Status AudioUnitStandIn::setChannels (int inputs, int outputs)
{
    for (const auto& c : supportedChannelConfigs())
        if (c.inputs == inputs && c.outputs == outputs)
        {
            requested = c;
            return noErr;
        }
    return errFormatNotSupported;
}

Status AudioUnitStandIn::setSampleRate (double rate)
{
    if (! (rate > 0.0))
        return errInvalidParameter;
    sampleRate = rate;
    return noErr;
}

Status AudioUnitStandIn::setMaxFramesPerSlice (int frames)
{
    if (frames <= 0)
        return errInvalidParameter;
    maxFrames = frames;
    return noErr;
}

Status AudioUnitStandIn::initialize()
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (channelSet (requested.inputs));
    layout.outputBuses.add (channelSet (requested.outputs));
    if (! processor->setBusesLayout (layout))
        return errFormatNotSupported;

    prepare();
    initialized = true;
    return noErr;
}

void AudioUnitStandIn::uninitialize()
{
    processor->releaseResources();
    initialized = false;
    prepared = false;
}

Status AudioUnitStandIn::reset()
{
    // Only an unprepared plug-in is prepared here; a prepared one sees the framework's reset alone,
    // so its reverb tail keeps running.
    if (! prepared)
        prepare();
    else
        processor->juce::AudioProcessor::reset();
    return noErr;
}

void AudioUnitStandIn::prepare()
{
    processor->setRateAndBufferSizeDetails (sampleRate, maxFrames);
    processor->prepareToPlay (sampleRate, maxFrames);
    scratch.setSize (juce::jmax (processor->getTotalNumInputChannels(), processor->getTotalNumOutputChannels()),
                     maxFrames);
    midi.ensureSize (2048);
    prepared = true;
}

Status AudioUnitStandIn::render (const float* const* inputs, float* const* outputs, int numFrames)
{
    if (! initialized)
        return errUninitialized;
    if (numFrames > maxFrames)
        return errTooManyFramesToProcess;
    if (numFrames < 0)
        return errInvalidParameter;

    const int nIn = processor->getTotalNumInputChannels();
    const int nOut = processor->getTotalNumOutputChannels();
    const int numChannels = juce::jmax (nIn, nOut);

    // One buffer of max(inputs, outputs) channels: the inputs first; the channels beyond them
    // start as whatever the host's output buffers hold, as they do in place.
    for (int ch = 0; ch < numChannels; ++ch)
    {
        const float* from = ch < nIn ? inputs[ch] : outputs[ch];
        scratch.copyFrom (ch, 0, from, numFrames);
    }

    juce::AudioBuffer<float> block (scratch.getArrayOfWritePointers(), numChannels, numFrames);
    midi.clear();
    {
        const juce::ScopedLock callbackLock (processor->getCallbackLock());
        if (processor->isSuspended())
            block.clear();
        else if (hostBypass)
            processor->processBlockBypassed (block, midi);
        else
            processor->processBlock (block, midi);
    }

    for (int ch = 0; ch < nOut; ++ch)
        juce::FloatVectorOperations::copy (outputs[ch], block.getReadPointer (ch), numFrames);
    return noErr;
}

juce::NamedValueSet AudioUnitStandIn::saveClassInfo() const
{
    juce::NamedValueSet info;
    info.set ("version", getVersion());
    info.set ("name", getName());
    juce::MemoryBlock state;
    processor->getCurrentProgramStateInformation (state);
    info.set (stateKey, juce::var (state));
    return info;
}

Status AudioUnitStandIn::restoreClassInfo (const juce::NamedValueSet& classInfo)
{
    const auto* state = classInfo.getVarPointer (stateKey);
    if (state == nullptr)
        return noErr;
    const auto* block = state->getBinaryData();
    if (block == nullptr)
        return errInvalidProperty;
    processor->setCurrentProgramStateInformation (block->getData(), static_cast<int> (block->getSize()));
    return noErr;
}
} // namespace kto::host

struct KtoAUInstance
{
    kto::host::AudioUnitStandIn unit;
};

extern "C" KtoAUInstance* VorrelKTOstvikReverbAUFactory (const void*)
{
    try
    {
        return new KtoAUInstance();
    }
    catch (...)
    {
        return nullptr;
    }
}

extern "C" int32_t VorrelKTOstvikReverbAUEntry (KtoAUInstance* instance, int32_t selector, void* params)
{
    using namespace kto::host;
    if (instance == nullptr)
        return errInvalidParameter;
    try
    {
        auto& unit = instance->unit;
        switch (selector)
        {
            case kKtoAUClose:
                delete instance;
                return noErr;
            case kKtoAUInitialize:
                return unit.initialize();
            case kKtoAUUninitialize:
                unit.uninitialize();
                return noErr;
            case kKtoAUReset:
                return unit.reset();
            case kKtoAURender:
            {
                const auto* args = static_cast<const KtoAURenderArgs*> (params);
                if (args == nullptr)
                    return errInvalidParameter;
                return unit.render (args->inputs, args->outputs, args->numFrames);
            }
            case kKtoAUSetFormat:
            {
                const auto* format = static_cast<const KtoAUFormat*> (params);
                if (format == nullptr)
                    return errInvalidParameter;
                if (auto s = unit.setChannels (format->inputs, format->outputs); s != noErr)
                    return s;
                if (auto s = unit.setSampleRate (format->sampleRate); s != noErr)
                    return s;
                return unit.setMaxFramesPerSlice (format->maxFramesPerSlice);
            }
            case kKtoAUSetBypass:
                if (params == nullptr)
                    return errInvalidParameter;
                unit.setHostBypass (*static_cast<const int*> (params) != 0);
                return noErr;
            case kKtoAUGetVersion:
                if (params == nullptr)
                    return errInvalidParameter;
                *static_cast<int32_t*> (params) = unit.getVersion();
                return noErr;
            default:
                return errInvalidProperty;
        }
    }
    catch (...)
    {
        return errFailedInitialization;
    }
}
