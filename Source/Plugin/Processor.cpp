#include "Processor.h"

#include "Editor.h"

#include "XmlText.h"

#include <algorithm>
#include <thread>

namespace
{
constexpr float bypassThreshold = 0.5f;
constexpr float pendingAttenuation = 0.25f;
constexpr float gainFloorDb = -100.0f;
constexpr float mixDivisor = 100.0f;
// Twice the highest rate audio interfaces offer; above it the resampled impulse responses would
// run to gigabytes.
constexpr double maxSampleRate = 1536000.0;
// The block length only sizes the dry room, and the road cuts longer blocks into pieces that fit
// it; a host that gives no length, or one that no room could hold, gets these.
constexpr int defaultBlock = 1024;
constexpr int largestRoomBlock = 1 << 16;

// JUCE's default look may only change on the message thread: the change is sent to every window
// on the screen. The LV2 wrapper constructs plug-ins on the host's thread, so elsewhere the
// change is posted there; the message holds the look alive until it has run.
void installAsDefaultLook (const juce::SharedResourcePointer<zmk::CustomLook>& look)
{
    auto install = [look] {
        if (&juce::LookAndFeel::getDefaultLookAndFeel() != &look.getObject())
            juce::LookAndFeel::setDefaultLookAndFeel (&look.getObject());
    };
    if (juce::MessageManager::existsAndIsLockedByCurrentThread())
        install();
    else
        juce::MessageManager::callAsync (std::move (install));
}
} // namespace

Processor::Processor()
    : AudioProcessor (BusesProperties()
                          .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                          .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      abState (getParameters()),
      presetStore (getParameters(), presetsPath),
      bypassParam (new zmk::ParamStep ("bypassID", "Bypass", "", 1, 0.0f, 1.0f, 0.0f, 0.0f)),
      revTypeParam (new zmk::ParamStep ("revTypeID", "Reverb Type", "", 5, 1.0f, 6.0f, 1.0f, 0.0f)),
      mixParam (new zmk::ParamStep ("mixID", "Mix", "%", 64, 0.0f, 100.0f, 50.0f, 0.0f)),
      gainParam (new zmk::ParamStep ("gainID", "Gain", "dB", 72, -18.0f, 18.0f, 0.0f, 0.0f)),
      impulseBuffer (1, 1, 44100),
      convolver (&impulseBuffer),
      impulseLoader (&convolver, &impulseBuffer)
{
    installAsDefaultLook (customLook);

    addParameter (bypassParam);
    addParameter (revTypeParam);
    addParameter (mixParam);
    addParameter (gainParam);

    impulseLoader.loadImpulse (1);
}

// The shared look-and-feel hands the framework's default back when the last instance lets it go.
Processor::~Processor() = default;

const juce::String Processor::getName() const { return "VorrelKTOstvikReverb"; }

void Processor::prepareToPlay (double sampleRate, int samplesPerBlock)
{
    // JUCE's LV2 wrapper prepares once, right after it starts listening, and never reads the
    // parameters itself: tell it the values a fresh instance runs with.
    if (wrapperType == wrapperType_LV2)
        reportValuesToLv2Host();

    // A rate the convolver cannot use (not a number, below 1 Hz or beyond any audio rate) is
    // refused: the previous preparation, or none, stays in force.
    if (! (sampleRate >= 1.0 && sampleRate <= maxSampleRate))
        return;
    const int roomBlock = samplesPerBlock > 0 ? std::min (samplesPerBlock, largestRoomBlock) : defaultBlock;

    const std::lock_guard<std::mutex> rebuildLock (impulseLoader.getRebuildMutex());

    preparing.store (true, std::memory_order_seq_cst);
    while (audioInConvolver.load (std::memory_order_seq_cst))
        std::this_thread::yield();

    try
    {
        juce::AudioBuffer<float> room (2, 2 * roomBlock);
        convolver.prepare (sampleRate);
        dryBuffer = std::move (room);
    }
    catch (...)
    {
        // The convolver keeps its impulse response and rate when it fails; the dry room stays too.
    }

    preparing.store (false, std::memory_order_seq_cst);
}

void Processor::releaseResources() {}

int Processor::reverbTypeFromValue (float value) noexcept
{
    // Every value strictly inside (-2^31 - 1, 2^31) truncates to an int; NaN fails both tests.
    if (double (value) > -2147483649.0 && double (value) < 2147483648.0)
        return static_cast<int> (value);
    return 0;
}

void Processor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const int nIn = getTotalNumInputChannels();
    const int nOut = getTotalNumOutputChannels();
    const int numChannels = buffer.getNumChannels();
    const int numSamples = buffer.getNumSamples();

    for (int ch = nIn; ch < nOut && ch < numChannels; ++ch)
        buffer.clear (ch, 0, numSamples);

    if (nIn == 1 && nOut == 2 && numChannels >= 2 && numSamples > 0 && ! buffer.hasBeenCleared())
        buffer.copyFrom (1, 0, buffer, 0, 0, numSamples);

    const float bypass = bypassParam->get();
    impulseLoader.setImpulseType (reverbTypeFromValue (revTypeParam->get()));
    const bool pending = impulseLoader.isPending();

    if (bypass >= bypassThreshold)
        return;

    // Keep off the convolver while it is rebuilt or prepared; announce the use before checking for
    // preparation so the two sides can never both go ahead.
    audioInConvolver.store (true, std::memory_order_seq_cst);
    if (pending || preparing.load (std::memory_order_seq_cst))
    {
        audioInConvolver.store (false, std::memory_order_release);
        buffer.applyGain (pendingAttenuation);
        return;
    }

    // Without a preparation there is no dry room, and making one here would allocate on the audio
    // thread: the input passes as under bypass. Silence would sound like a broken plug-in, and the
    // input at unity is nothing the user did not already hear.
    const int room = dryBuffer.getNumSamples();
    if (room == 0)
    {
        audioInConvolver.store (false, std::memory_order_release);
        return;
    }

    const float g = juce::Decibels::decibelsToGain (gainParam->get(), gainFloorDb);
    const float m = mixParam->get() / mixDivisor;
    const float d = 1.0f - m;

    // A block longer than the dry room prepared for it goes through in pieces that fit, so the
    // audio thread never grows the room.
    const int used = juce::jmin (numChannels, 2);

    for (int start = 0; start < numSamples; start += room)
    {
        const int n = juce::jmin (room, numSamples - start);
        float* piece[2] = { nullptr, nullptr };
        for (int ch = 0; ch < used; ++ch)
        {
            dryBuffer.copyFrom (ch, 0, buffer, ch, start, n);
            piece[ch] = buffer.getWritePointer (ch, start);
        }

        convolver.process (piece, used, n);

        for (int ch = 0; ch < used; ++ch)
        {
            buffer.applyGain (ch, start, n, m);
            if (d != 0.0f)
                buffer.addFrom (ch, start, dryBuffer, ch, 0, n, d);
            buffer.applyGain (ch, start, n, g);
        }
    }

    audioInConvolver.store (false, std::memory_order_release);
}

double Processor::getTailLengthSeconds() const { return 0.0; }
bool Processor::acceptsMidi() const { return false; }
bool Processor::producesMidi() const { return false; }

juce::AudioProcessorEditor* Processor::createEditor()
{
    return new Editor (*this);
}

bool Processor::hasEditor() const { return true; }
int Processor::getNumPrograms() { return 1; }
int Processor::getCurrentProgram() { return 0; }
void Processor::setCurrentProgram (int) {}
const juce::String Processor::getProgramName (int)
{
    // The Audio Unit wrapper names the empty program "Untitled" itself; the LV2 and VST3 wrappers
    // show the text as it is, so they get that name from here.
    if (wrapperType == wrapperType_LV2 || wrapperType == wrapperType_VST3)
        return "Untitled";
    return {};
}
void Processor::changeProgramName (int, const juce::String&) {}

bool Processor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto in = layouts.getMainInputChannels();
    const auto out = layouts.getMainOutputChannels();
    return (in == 1 && out == 1) || (in == 1 && out == 2) || (in == 2 && out == 2);
}

void Processor::getStateInformation (juce::MemoryBlock& destData)
{
    try
    {
        juce::XmlElement state ("MYPLUGINSETTINGS");
        storeParameters (getParameters(), state);
        zmk::writeStateEnvelope (state, destData);
    }
    catch (...)
    {
        destData.reset();
    }
}

void Processor::setStateInformation (const void* data, int sizeInBytes)
{
    try
    {
        // Only the outer element's attributes count, so nothing below it is read.
        const auto state = zmk::readStateEnvelope (data, sizeInBytes, zmk::XmlReach::outerElementOnly);
        if (state == nullptr || ! state->hasTagName ("MYPLUGINSETTINGS"))
            return;

        // Silently, as the host restores its own state; a value that is not a finite float keeps
        // its parameter as it was.
        applyParameters (getParameters(), *state, HostNotification::silent);
        if (wrapperType == wrapperType_LV2)
            reportValuesToLv2Host();
    }
    catch (...)
    {
    }
}

void Processor::reportValuesToLv2Host()
{
    // JUCE's LV2 wrapper tells the host a value only when it hears of a change; an LV2 host reads
    // nothing back after a restore or at start-up. No gesture: nobody is moving a control.
    for (auto* p : getParameters())
        p->sendValueChangedMessageToListeners (p->getValue());
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Processor();
}
