// The built VST3 and LV2, loaded and driven by a JUCE host as a digital audio workstation would.
#include "HostedPlugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

using kto::host::Format;
using kto::host::HostedPlugin;

namespace
{
// What a unit sample comes out as while the loader has not yet installed the selected response.
constexpr float pendingGain = 0.25f;

// Normalised values of the parameters (all four ranges are linear).
float typeValue (int type) { return (float) (type - 1) / 5.0f; }
constexpr float mixFull = 1.0f;
constexpr float mixDry = 0.0f;
constexpr float gainZeroDb = 0.5f;

juce::AudioBuffer<float> noise (int channels, int length, int seed, float level)
{
    juce::Random random (seed);
    juce::AudioBuffer<float> buffer (channels, length);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < length; ++i)
            buffer.setSample (ch, i, level * (2.0f * random.nextFloat() - 1.0f));
    return buffer;
}

// What the plug-in's input channels hold once it has fanned a mono input out to two outputs.
float expectedDry (const HostedPlugin& host, const juce::AudioBuffer<float>& input, int ch, int i)
{
    if (ch < host.numInputs())
        return input.getSample (ch, i);
    return host.numInputs() == 1 ? input.getSample (0, i) : 0.0f;
}

class HostTest : public ::testing::TestWithParam<Format>
{
protected:
    void SetUp() override
    {
        host = std::make_unique<HostedPlugin> (GetParam(), 44100.0, 4096);
        ASSERT_TRUE (host->isLoaded()) << host->error();
        ASSERT_GE (host->numOutputs(), 1);
        for (auto name : { "Bypass", "Reverb Type", "Mix", "Gain" })
            ASSERT_NE (host->parameter (name), nullptr) << "no parameter named " << name;
        RecordProperty ("channels", (juce::String (host->numInputs()) + " in, " + juce::String (host->numOutputs()) + " out").toStdString());
    }

    // Selects a reverb type and waits until the loader has installed it: until then the plug-in
    // passes its input at a quarter and leaves the convolver alone. The probe that comes through
    // whole went into the convolver, so silence as long as any response flushes it out again.
    void selectType (int type)
    {
        host->set ("Reverb Type", typeValue (type));
        waitForTheResponse();
        const int flush = 2 * kto::host::decodeEmbeddedImpulse (type).getNumSamples() + 8192;
        juce::AudioBuffer<float> silence (host->numChannels(), flush);
        silence.clear();
        host->run (silence, { 4096 });
    }

    void waitForTheResponse()
    {
        juce::AudioBuffer<float> probe (host->numChannels(), 1);
        const auto deadline = juce::Time::getMillisecondCounter() + 60000;
        do
        {
            kto::host::pumpMessages (20);
            probe.clear();
            for (int ch = 0; ch < host->numInputs(); ++ch)
                probe.setSample (ch, 0, 1.0f);
            host->processBlock (probe);
        } while (probe.getSample (0, 0) == pendingGain && juce::Time::getMillisecondCounter() < deadline);
    }

    std::unique_ptr<HostedPlugin> host;
};

TEST_P (HostTest, BypassPassesTheInputBitForBit)
{
    host->set ("Bypass", 1.0f);
    host->set ("Mix", 0.7f);
    host->set ("Gain", 0.9f);
    const auto input = noise (host->numChannels(), 20000, 1, 0.5f);
    const auto output = host->run (input, { 512, 1, 1000, 4096 });
    for (int ch = 0; ch < host->numOutputs(); ++ch)
        for (int i = 0; i < input.getNumSamples(); ++i)
            ASSERT_EQ (output.getSample (ch, i), expectedDry (*host, input, ch, i)) << "channel " << ch << " sample " << i;
}

TEST_P (HostTest, DryMixGivesTheInputOnceTheFirstImpulseIsLoaded)
{
    host->set ("Mix", mixDry);
    host->set ("Gain", gainZeroDb);
    const auto input = noise (host->numChannels(), 4096, 2, 0.5f);

    // The first block hands the reverb type to the loader, which mutes the reverb to a quarter
    // of the input until its next tick.
    auto first = host->run (input, { 4096 });
    for (int ch = 0; ch < host->numOutputs(); ++ch)
        for (int i = 0; i < input.getNumSamples(); ++i)
            ASSERT_EQ (first.getSample (ch, i), pendingGain * expectedDry (*host, input, ch, i)) << "channel " << ch << " sample " << i;

    waitForTheResponse();
    const auto later = host->run (input, { 1000 });
    for (int ch = 0; ch < host->numOutputs(); ++ch)
        for (int i = 0; i < input.getNumSamples(); ++i)
            ASSERT_EQ (later.getSample (ch, i), expectedDry (*host, input, ch, i)) << "channel " << ch << " sample " << i;
}

TEST_P (HostTest, UnitImpulseGivesTheEmbeddedImpulseResponse)
{
    host->set ("Mix", mixFull);
    host->set ("Gain", gainZeroDb);
    // Two types per format keep the run short and still tell the slots apart.
    const int types[] = { 2, 6 };
    for (int type : types)
    {
        SCOPED_TRACE (testing::Message() << "type " << type);
        const auto impulse = kto::host::decodeEmbeddedImpulse (type);
        ASSERT_EQ (impulse.getNumChannels(), 2);
        selectType (type);

        const int length = impulse.getNumSamples() + 4096;
        juce::AudioBuffer<float> input (host->numChannels(), length);
        input.clear();
        for (int ch = 0; ch < host->numInputs(); ++ch)
            input.setSample (ch, 0, 1.0f);
        const auto output = host->run (input, { 4096 });

        for (int ch = 0; ch < host->numOutputs(); ++ch)
        {
            const float peak = impulse.getMagnitude (ch, 0, impulse.getNumSamples());
            // Float rounding in the FFT stages stays near 1.5e-7 of the peak; 1e-5 of the peak
            // leaves room for that and is still far below any real fault (a missing partition,
            // a shifted sample, the wrong channel or type).
            const float tolerance = 1e-5f * peak;
            float worst = 0.0f;
            int worstAt = 0;
            for (int i = 0; i < length; ++i)
            {
                const float want = i < impulse.getNumSamples() ? impulse.getSample (ch, i) : 0.0f;
                const float err = std::abs (output.getSample (ch, i) - want);
                if (! (err <= worst))
                {
                    worst = err;
                    worstAt = i;
                }
            }
            EXPECT_LE (worst, tolerance) << "channel " << ch << ", worst at sample " << worstAt;
        }
    }
}

// The plug-in's own state element inside what the host saved. Both formats wrap the plug-in's
// block in JUCE's text encoding of binary data: VST3 in an XML element "IComponent", LV2 in a
// quoted Turtle literal. The plug-in's block starts with the magic "VC2!".
std::unique_ptr<juce::XmlElement> pluginSettings (const juce::MemoryBlock& hostState)
{
    const auto text = juce::String::createStringFromData (hostState.getData(), (int) hostState.getSize());
    juce::StringArray candidates;
    if (auto outer = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize()))
        for (auto* child : outer->getChildIterator())
            candidates.add (child->getAllSubText().trim());
    for (int at = text.indexOf (":StateString> \""); at >= 0; at = text.indexOf (at + 1, ":StateString> \""))
    {
        const int from = text.indexOfChar (at, '"') + 1;
        candidates.add (text.substring (from, text.indexOfChar (from, '"')));
    }
    for (const auto& candidate : candidates)
    {
        juce::MemoryBlock bytes;
        if (! bytes.fromBase64Encoding (candidate))
            continue;
        const auto* data = static_cast<const char*> (bytes.getData());
        for (size_t i = 0; i + 8 <= bytes.getSize(); ++i)
            if (std::memcmp (data + i, "VC2!", 4) == 0)
                if (auto xml = juce::AudioProcessor::getXmlFromBinary (data + i, (int) (bytes.getSize() - i)))
                    if (xml->hasTagName ("MYPLUGINSETTINGS"))
                        return xml;
    }
    return nullptr;
}

TEST_P (HostTest, StateRestoresEveryValueAndSavesTheSameBytes)
{
    const char* names[] = { "Bypass", "Reverb Type", "Mix", "Gain" };
    const char* ids[] = { "bypassID", "revTypeID", "mixID", "gainID" };
    const float saved[] = { 1.0f, typeValue (4), 0.203125f, 0.75f };
    const float other[] = { 0.0f, typeValue (2), 0.9f, 0.125f };
    juce::AudioBuffer<float> block (host->numChannels(), 32);
    block.clear();

    for (int i = 0; i < 4; ++i)
        host->set (names[i], saved[i]);
    host->processBlock (block);
    const auto first = host->saveState();
    auto settings = pluginSettings (first);
    ASSERT_NE (settings, nullptr) << "the plug-in's own state is not inside the host's";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ ((float) settings->getDoubleAttribute (ids[i], -1.0), saved[i]) << ids[i];

    for (int i = 0; i < 4; ++i)
        host->set (names[i], other[i]);
    host->processBlock (block);
    const auto changed = host->saveState();
    settings = pluginSettings (changed);
    ASSERT_NE (settings, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ ((float) settings->getDoubleAttribute (ids[i], -1.0), other[i]) << ids[i];

    host->restoreState (first);
    kto::host::pumpMessages (50);

    // The restored Bypass is in force: the input passes unchanged.
    const auto input = noise (host->numChannels(), 1000, 4, 0.5f);
    const auto output = host->run (input, { 1000 });
    for (int ch = 0; ch < host->numOutputs(); ++ch)
        for (int i = 0; i < input.getNumSamples(); ++i)
            ASSERT_EQ (output.getSample (ch, i), expectedDry (*host, input, ch, i)) << "channel " << ch << " sample " << i;

    // The VST3 host reads the values back from the plug-in after a restore. JUCE's LV2 host
    // learns values only from control ports, which JUCE's LV2 plug-ins do not use, and a
    // restore is silent towards the host, so its view stays where it was.
    if (GetParam() == Format::vst3)
    {
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR (host->get (names[i]), saved[i], 1e-6f) << names[i];
    }

    const auto second = host->saveState();
    settings = pluginSettings (second);
    ASSERT_NE (settings, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ ((float) settings->getDoubleAttribute (ids[i], -1.0), saved[i]) << ids[i];
    EXPECT_TRUE (second == first) << "second save differs:\n"
                                  << first.toString() << "\n----\n"
                                  << second.toString();
}

// Rates and block sizes: each row covers one rate and one way of cutting the audio into
// blocks; together they cover every rate and every block size without the full cross product.
struct RateRow
{
    double rate;
    std::vector<int> blocks;
};

const RateRow rateRows[] = {
    { 44100.0, { 4096 } }, // reference level
    { 44100.0, { 1 } },
    { 44100.0, { 32 } },
    { 48000.0, { 64 } },
    { 48000.0, { 1, 17, 512, 4096, 3, 300, 2048, 64 } },
    { 96000.0, { 256 } },
    { 96000.0, { 1024 } },
    { 192000.0, { 4096 } },
    { 192000.0, { 4096, 999, 1, 128, 2500 } },
};

// A band-limited test signal: sines spread over the audible range with fixed phases, the same
// continuous signal at every rate.
juce::AudioBuffer<float> sines (int channels, double rate, double seconds)
{
    const int length = (int) std::lround (seconds * rate);
    juce::AudioBuffer<float> buffer (channels, length);
    juce::Random random (7);
    constexpr int count = 24;
    double freq[count], phase[count];
    for (int k = 0; k < count; ++k)
    {
        freq[k] = 90.0 * std::pow (100.0, (double) k / (count - 1)); // 90 Hz .. 9 kHz
        phase[k] = random.nextDouble() * juce::MathConstants<double>::twoPi;
    }
    for (int i = 0; i < length; ++i)
    {
        const double t = (double) i / rate;
        double sum = 0.0;
        for (int k = 0; k < count; ++k)
            sum += std::sin (juce::MathConstants<double>::twoPi * freq[k] * t + phase[k]);
        for (int ch = 0; ch < channels; ++ch)
            buffer.setSample (ch, i, (float) (0.03 * sum));
    }
    return buffer;
}

TEST_P (HostTest, RatesAndBlockSizesKeepTheOutputCleanAndTheLevelSteady)
{
    // Type 6 is the shortest response (2.15 s): the wet level settles after that long.
    constexpr int type = 6;
    constexpr double signalSeconds = 3.0, measureFrom = 2.3, silenceSeconds = 0.3;
    host->set ("Mix", mixFull);
    host->set ("Gain", gainZeroDb);
    selectType (type);

    std::vector<double> reference;
    for (const auto& row : rateRows)
    {
        int largest = 0;
        for (int b : row.blocks)
            largest = juce::jmax (largest, b);
        SCOPED_TRACE (testing::Message() << row.rate << " Hz, blocks up to " << largest << " (" << row.blocks.size() << " sizes)");
        host->prepare (row.rate, largest);

        auto input = sines (host->numChannels(), row.rate, signalSeconds + silenceSeconds);
        const int signalEnd = (int) std::lround (signalSeconds * row.rate);
        input.clear (signalEnd, input.getNumSamples() - signalEnd);
        const auto output = host->run (input, row.blocks);

        int bad = 0, firstBad = -1;
        for (int ch = 0; ch < host->numOutputs(); ++ch)
            for (int i = 0; i < output.getNumSamples(); ++i)
            {
                const int cls = std::fpclassify (output.getSample (ch, i));
                if (cls == FP_NAN || cls == FP_INFINITE || cls == FP_SUBNORMAL)
                {
                    if (bad++ == 0)
                        firstBad = i;
                }
            }
        EXPECT_EQ (bad, 0) << "first at sample " << firstBad;

        const int from = (int) std::lround (measureFrom * row.rate);
        std::vector<double> levels;
        for (int ch = 0; ch < host->numOutputs(); ++ch)
            levels.push_back (juce::Decibels::gainToDecibels ((double) output.getRMSLevel (ch, from, signalEnd - from), -400.0));
        if (reference.empty())
        {
            reference = levels;
            for (double level : levels)
                ASSERT_GT (level, -60.0) << "the reverb gives (almost) no output";
        }
        for (size_t ch = 0; ch < levels.size(); ++ch)
        {
            EXPECT_NEAR (levels[ch], reference[ch], 0.5) << "channel " << ch;
            std::printf ("%s %6.0f Hz, %zu block size(s) up to %4d: channel %zu wet level %+.4f dB against 44.1 kHz\n",
                         kto::host::formatName (GetParam()), row.rate, row.blocks.size(), largest, ch, levels[ch] - reference[ch]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Formats, HostTest, ::testing::Values (Format::vst3, Format::lv2),
                          [] (const ::testing::TestParamInfo<Format>& p) { return std::string (kto::host::formatName (p.param)); });
} // namespace
