#pragma once

// A stand-in for the Audio Unit wrapper on platforms without the Audio Unit SDK. It drives a
// plug-in made by createPluginFilter the way the wrapper does: start configuration, channel
// configurations, initialise, reset, render (with the host's own bypass), the class-info state
// and the identity the host reads. Tests and tools use it as a host would; it is not shipped.

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace kto::host
{
// Status codes as the Audio Unit API spells them.
enum Status : std::int32_t
{
    noErr = 0,
    errInvalidProperty = -10879,
    errInvalidParameter = -10878,
    errFailedInitialization = -10875,
    errTooManyFramesToProcess = -10874,
    errFormatNotSupported = -10868,
    errUninitialized = -10867,
};

struct ChannelConfig
{
    short inputs;
    short outputs;
    bool operator== (const ChannelConfig& o) const noexcept { return inputs == o.inputs && outputs == o.outputs; }
};

class AudioUnitStandIn
{
public:
    // Creates the plug-in through createPluginFilter and applies the start configuration:
    // 1 in, 1 out, 44100 Hz, 1024 frames.
    AudioUnitStandIn();
    ~AudioUnitStandIn();

    static constexpr int startInputs = 1;
    static constexpr int startOutputs = 1;
    static constexpr double startSampleRate = 44100.0;
    static constexpr int startMaxFrames = 1024;
    static constexpr const char* stateKey = "jucePluginState";

    // Identity.
    static std::vector<ChannelConfig> supportedChannelConfigs();
    juce::String getName() const;
    std::int32_t getVersion() const;
    double getLatencySeconds() const;
    double getTailSeconds() const;
    juce::StringArray getFactoryPresets() const;

    // Stream format and slice size; they take effect at the next initialise. A channel pair that is
    // not one of the supported configurations is refused.
    Status setChannels (int inputs, int outputs);
    Status setSampleRate (double rate);
    Status setMaxFramesPerSlice (int frames);
    ChannelConfig getChannels() const noexcept { return requested; }

    Status initialize();
    void uninitialize();
    Status reset();
    bool isInitialized() const noexcept { return initialized; }

    void setHostBypass (bool shouldBypass) noexcept { hostBypass = shouldBypass; }
    bool getHostBypass() const noexcept { return hostBypass; }

    // One render call: inputs[0..inputs) in, outputs[0..outputs) out, numFrames each.
    Status render (const float* const* inputs, float* const* outputs, int numFrames);

    // The class-info dictionary the host stores with its project.
    juce::NamedValueSet saveClassInfo() const;
    Status restoreClassInfo (const juce::NamedValueSet& classInfo);

    juce::AudioProcessor& getProcessor() noexcept { return *processor; }

private:
    std::unique_ptr<juce::AudioProcessor> processor;
    ChannelConfig requested { startInputs, startOutputs };
    double sampleRate = startSampleRate;
    int maxFrames = startMaxFrames;
    bool initialized = false;
    bool prepared = false;
    bool hostBypass = false;
    juce::AudioBuffer<float> scratch;
    juce::MidiBuffer midi;

    void prepare();
};
} // namespace kto::host

// The two exported entry points, with a plain C signature in place of the Audio Unit SDK's.
extern "C"
{
typedef struct KtoAUInstance KtoAUInstance;

enum KtoAUSelector
{
    kKtoAUClose = 0,           // params unused; destroys the instance
    kKtoAUInitialize = 1,      // params unused
    kKtoAUUninitialize = 2,    // params unused
    kKtoAUReset = 3,           // params unused
    kKtoAURender = 4,          // params: KtoAURenderArgs*
    kKtoAUSetFormat = 5,       // params: KtoAUFormat*
    kKtoAUSetBypass = 6,       // params: int* (0 or 1)
    kKtoAUGetVersion = 7,      // params: int32_t*
};

typedef struct KtoAURenderArgs
{
    const float* const* inputs;
    float* const* outputs;
    int numFrames;
} KtoAURenderArgs;

typedef struct KtoAUFormat
{
    int inputs;
    int outputs;
    double sampleRate;
    int maxFramesPerSlice;
} KtoAUFormat;

// Creates an instance; null when the plug-in cannot be created.
KtoAUInstance* VorrelKTOstvikReverbAUFactory (const void* description);

// Dispatches one selector on an instance and returns a status code. Never throws.
int32_t VorrelKTOstvikReverbAUEntry (KtoAUInstance* instance, int32_t selector, void* params);
}
