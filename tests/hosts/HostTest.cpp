// The built VST3 and LV2, loaded and driven by a JUCE host as a digital audio workstation would.
#include "HostedPlugin.h"

#include "../support/Signals.h"
#include "../support/Waiting.h"

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

    // True while the plug-in hands a reverb type over: a short probe comes back as a quarter of
    // its input. Every probe also hands the selected type over. No block is longer than the host
    // prepared the plug-in for.
    bool handingOver()
    {
        juce::AudioBuffer<float> probe (host->numChannels(), juce::jmin (64, host->plugin().getBlockSize()));
        probe.clear();
        for (int ch = 0; ch < host->numInputs(); ++ch)
            probe.setSample (ch, 0, 1.0f);
        const juce::AudioBuffer<float> input (probe);
        host->processBlock (probe);
        for (int ch = 0; ch < host->numOutputs(); ++ch)
            for (int i = 0; i < probe.getNumSamples(); ++i)
                if (probe.getSample (ch, i) != pendingGain * expectedDry (*host, input, ch, i))
                    return false;
        return true;
    }

    // Waits until the loader has installed the selected type, then plays the probes' reverb out
    // with flushFrames of silence.
    void waitForLoader (int flushFrames)
    {
        ASSERT_TRUE (ktotest::waitFor ("the loader to install the selected reverb type", [this] { return ! handingOver(); }));
        juce::AudioBuffer<float> silence (host->numChannels(), flushFrames);
        silence.clear();
        host->run (silence, { host->plugin().getBlockSize() });
    }

    void selectType (int type, int flushFrames)
    {
        host->set ("Reverb Type", typeValue (type));
        waitForLoader (flushFrames);
    }

    std::unique_ptr<HostedPlugin> host;
};

TEST_P (HostTest, BypassPassesTheInputBitForBit)
{
    host->set ("Bypass", 1.0f);
    host->set ("Mix", 0.7f);
    host->set ("Gain", 0.9f);
    juce::AudioBuffer<float> input (host->numChannels(), 20000);
    ktotest::fillNoise (input, 1, 0.5);
    const auto output = host->run (input, { 512, 1, 1000, 4096 });
    for (int ch = 0; ch < host->numOutputs(); ++ch)
        for (int i = 0; i < input.getNumSamples(); ++i)
            ASSERT_EQ (output.getSample (ch, i), expectedDry (*host, input, ch, i)) << "channel " << ch << " sample " << i;
}

TEST_P (HostTest, DryMixGivesTheInputOnceTheFirstImpulseIsLoaded)
{
    host->set ("Mix", mixDry);
    host->set ("Gain", gainZeroDb);
    juce::AudioBuffer<float> input (host->numChannels(), 4096);
    ktotest::fillNoise (input, 2, 0.5);

    // The first block hands the reverb type to the loader, which mutes the reverb to a quarter
    // of the input until its next tick.
    auto first = host->run (input, { 4096 });
    for (int ch = 0; ch < host->numOutputs(); ++ch)
        for (int i = 0; i < input.getNumSamples(); ++i)
            ASSERT_EQ (first.getSample (ch, i), pendingGain * expectedDry (*host, input, ch, i)) << "channel " << ch << " sample " << i;

    waitForLoader (0);
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
        // The probes' reverb must be over before the impulse goes in; the largest partition
        // (16384 frames) may hold it that much longer than the response.
        selectType (type, impulse.getNumSamples() + 2 * 16384);

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

// Both formats wrap the plug-in's block in JUCE's text encoding of binary data: VST3 in an XML
// element "IComponent", LV2 in a quoted Turtle literal. The plug-in's block starts with the magic
// "VC2!" and holds our state element.
struct PluginBlock
{
    juce::String encoded;    // the text in the host's state
    juce::MemoryBlock bytes; // what it decodes to
    size_t at = 0;           // where the plug-in's block starts in those bytes
    std::unique_ptr<juce::XmlElement> settings;
};

PluginBlock findPluginBlock (const juce::MemoryBlock& hostState)
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
        PluginBlock found { candidate, {}, 0, nullptr };
        if (! found.bytes.fromBase64Encoding (candidate))
            continue;
        const auto* data = static_cast<const char*> (found.bytes.getData());
        for (found.at = 0; found.at + 8 <= found.bytes.getSize(); ++found.at)
            if (std::memcmp (data + found.at, "VC2!", 4) == 0)
                if ((found.settings = juce::AudioProcessor::getXmlFromBinary (data + found.at, (int) (found.bytes.getSize() - found.at))))
                    if (found.settings->hasTagName ("MYPLUGINSETTINGS"))
                        return found;
    }
    return {};
}

std::unique_ptr<juce::XmlElement> pluginSettings (const juce::MemoryBlock& hostState)
{
    return std::move (findPluginBlock (hostState).settings);
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

    // The restored Bypass is in force: the input passes unchanged. The host reads the restored
    // values: the VST3 host asks the plug-in after a restore, the LV2 plug-in tells its host with
    // the output of the block after it.
    juce::AudioBuffer<float> input (host->numChannels(), 1000);
    ktotest::fillNoise (input, 4, 0.5);
    const auto restored = [&] {
        const auto output = host->run (input, { 1000 });
        for (int ch = 0; ch < host->numOutputs(); ++ch)
            for (int i = 0; i < input.getNumSamples(); ++i)
                if (output.getSample (ch, i) != expectedDry (*host, input, ch, i))
                    return false;
        for (int i = 0; i < 4; ++i)
            if (std::abs (host->get (names[i]) - saved[i]) > 1e-6f)
                return false;
        return true;
    };
    ASSERT_TRUE (ktotest::waitFor ("the restored values in the plug-in's output and the host", restored));

    const auto second = host->saveState();
    settings = pluginSettings (second);
    ASSERT_NE (settings, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ ((float) settings->getDoubleAttribute (ids[i], -1.0), saved[i]) << ids[i];
    EXPECT_TRUE (second == first) << "second save differs:\n"
                                  << first.toString() << "\n----\n"
                                  << second.toString();
}

// What the host saved, with the plug-in's own block in it replaced by another.
juce::MemoryBlock withPluginBlock (const juce::MemoryBlock& hostState, const juce::MemoryBlock& replacement)
{
    const auto found = findPluginBlock (hostState);
    if (found.settings == nullptr)
        return {};
    const auto* data = static_cast<const char*> (found.bytes.getData());
    const size_t end = juce::jmin (found.bytes.getSize(), found.at + 9 + juce::ByteOrder::littleEndianInt (data + found.at + 4));
    juce::MemoryBlock changed (data, found.at);
    changed.append (replacement.getData(), replacement.getSize());
    changed.append (data + end, found.bytes.getSize() - end);
    const auto encoded = changed.toBase64Encoding();

    juce::MemoryBlock result;
    if (auto outer = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize()))
    {
        for (auto* child : outer->getChildIterator())
            if (child->getAllSubText().trim() == found.encoded)
            {
                child->deleteAllTextElements();
                child->addTextElement (encoded);
            }
        juce::AudioProcessor::copyXmlToBinary (*outer, result);
        return result;
    }
    const auto text = juce::String::createStringFromData (hostState.getData(), (int) hostState.getSize()).replace (found.encoded, encoded);
    result.append (text.toRawUTF8(), text.getNumBytesAsUTF8());
    return result;
}

TEST_P (HostTest, ADeeplyNestedStateChangesNothing)
{
    host->set ("Mix", 0.3f);
    host->set ("Gain", 0.7f);
    juce::AudioBuffer<float> block (host->numChannels(), 32);
    block.clear();
    host->processBlock (block);
    const auto before = host->saveState();
    const auto settingsBefore = pluginSettings (before);
    ASSERT_NE (settingsBefore, nullptr);

    // Our state element around 100,000 nested elements, in the plug-in's envelope.
    constexpr int depth = 100000;
    juce::MemoryOutputStream xml;
    xml << "<MYPLUGINSETTINGS>";
    for (int i = 0; i < depth; ++i)
        xml << "<a>";
    for (int i = 0; i < depth; ++i)
        xml << "</a>";
    xml << "</MYPLUGINSETTINGS>";
    juce::MemoryBlock deep;
    juce::MemoryOutputStream out (deep, false);
    out.writeInt (0x21324356);
    out.writeInt ((int) xml.getDataSize());
    out.write (xml.getData(), xml.getDataSize());
    out.writeByte (0);
    out.flush();

    const auto nested = withPluginBlock (before, deep);
    ASSERT_GT (nested.getSize(), (size_t) depth) << "no plug-in block found in the host's state";
    host->restoreState (nested);

    const auto settingsAfter = pluginSettings (host->saveState());
    ASSERT_NE (settingsAfter, nullptr);
    EXPECT_TRUE (settingsAfter->isEquivalentTo (settingsBefore.get(), false))
        << settingsAfter->toString().toStdString() << "\nwas\n" << settingsBefore->toString().toStdString();
}

// Texts typed into the host for any parameter, and a damaged state: every value the plug-in holds
// stays finite and inside its range. Dry, the output is the input times the gain held, which the
// texts and the state can raise to +18 dB and no further.
TEST_P (HostTest, TypedTextsAndAStateBeyondTheRangeKeepTheOutputWithinIt)
{
    host->set ("Mix", mixDry);
    host->set ("Gain", gainZeroDb);
    waitForLoader (0);
    juce::AudioBuffer<float> input (host->numChannels(), 512);
    ktotest::fillNoise (input, 9, 0.5);
    const auto typed = [this] (const char* name, const char* text) {
        auto* p = host->parameter (name);
        p->setValue (p->getValueForText (text));
    };
    const auto expectGain = [&] (const char* after, double db) {
        SCOPED_TRACE (after);
        const auto output = host->run (input, { 512 });
        const double g = std::pow (10.0, db / 20.0);
        for (int ch = 0; ch < host->numOutputs(); ++ch)
            for (int i = 0; i < input.getNumSamples(); ++i)
            {
                const double want = g * expectedDry (*host, input, ch, i);
                ASSERT_NEAR (output.getSample (ch, i), want, 1e-5 * std::abs (want) + 1e-7) << "channel " << ch << " sample " << i;
            }
    };

    typed ("Gain", "nan");
    expectGain ("Gain typed as nan", 0.0);
    typed ("Gain", "40");
    expectGain ("Gain typed as 40", 18.0);
    typed ("Mix", "nan");
    expectGain ("Mix typed as nan", 18.0);

    host->set ("Gain", gainZeroDb);
    expectGain ("Gain set back", 0.0);
    juce::MemoryBlock damaged;
    juce::AudioProcessor::copyXmlToBinary (*juce::parseXML ("<MYPLUGINSETTINGS bypassID=\"0\" revTypeID=\"0\" mixID=\"0\" gainID=\"10\"/>"), damaged);
    host->restoreState (withPluginBlock (host->saveState(), damaged));
    expectGain ("a state holding gainID=10", 18.0);

    // Whatever the rest select, nothing leaves the range.
    for (auto name : { "Mix", "Bypass", "Reverb Type" })
        for (auto text : { "40", "nan" })
        {
            typed (name, text);
            const auto output = host->run (input, { 512 });
            for (int ch = 0; ch < host->numOutputs(); ++ch)
                for (int i = 0; i < input.getNumSamples(); ++i)
                    ASSERT_TRUE (std::isfinite (output.getSample (ch, i))) << name << " " << text;
        }
    const auto settings = pluginSettings (host->saveState());
    ASSERT_NE (settings, nullptr);
    for (auto id : { "bypassID", "revTypeID", "mixID", "gainID" })
    {
        const double v = settings->getDoubleAttribute (id, -1.0);
        EXPECT_TRUE (v >= 0.0 && v <= 1.0) << id << " " << v;
    }
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
    selectType (type, 0);

    std::vector<double> reference;
    for (const auto& row : rateRows)
    {
        int largest = 0;
        for (int b : row.blocks)
            largest = juce::jmax (largest, b);
        SCOPED_TRACE (testing::Message() << row.rate << " Hz, blocks up to " << largest << " (" << row.blocks.size() << " sizes)");
        host->prepare (row.rate, largest);
        // JUCE's LV2 host makes a new instance at every preparation, which hands its type over
        // again. The probes' reverb (type 6, 2.15 s) is over before the level is measured.
        waitForLoader (0);

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
