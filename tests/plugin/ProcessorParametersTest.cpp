// The real Processor's four parameters, as a host reads them through the stand-in.
#include "PluginHarness.h"
#include "TemporaryHome.h"

#include <functional>
#include <iterator>

using namespace ktotest;

TEST (PluginParameters, TheFourAsTheHostReadsThem)
{
    const struct Row
    {
        const char* id;
        const char* name;
        const char* label;
        float min, max, skew, def;
        int steps;
        const char* texts[4]; // at normalised 0, 1 / steps, 0.5 and 1
    } rows[] = {
        { "bypassID", "Bypass", "", 0.0f, 1.0f, 0.0f, 0.0f, 1, { "0", "1", "0.5", "1" } },
        { "revTypeID", "Reverb Type", "", 1.0f, 6.0f, 0.0f, 1.0f, 5, { "1", "2", "3.5", "6" } },
        { "mixID", "Mix", "%", 0.0f, 100.0f, 0.0f, 50.0f, 64, { "0", "1.5625", "50", "100" } },
        { "gainID", "Gain", "dB", -18.0f, 18.0f, 0.0f, 0.0f, 72, { "-18", "-17.5", "0", "18" } },
    };
    Host host;
    const auto& params = host.unit.getProcessor().getParameters();
    ASSERT_EQ (params.size(), (int) std::size (rows));
    for (int i = 0; i < params.size(); ++i)
    {
        const auto& row = rows[i];
        SCOPED_TRACE (row.id);
        auto* p = dynamic_cast<zmk::ParamStep*> (params[i]);
        ASSERT_NE (p, nullptr);
        EXPECT_EQ (p->paramID, row.id);
        EXPECT_EQ (p->getVersionHint(), 1);
        EXPECT_EQ (p->getName (100), row.name);
        EXPECT_EQ (p->getLabel(), row.label);
        EXPECT_EQ (p->range.min, row.min);
        EXPECT_EQ (p->range.max, row.max);
        EXPECT_EQ (p->range.skew, row.skew);
        EXPECT_EQ (p->get(), row.def);
        EXPECT_FLOAT_EQ (p->getDefaultValue(), (row.def - row.min) / (row.max - row.min));
        EXPECT_EQ (p->getValue(), p->getDefaultValue());
        EXPECT_EQ (p->getNumSteps(), row.steps);
        EXPECT_EQ (p->getCategory(), juce::AudioProcessorParameter::genericParameter);
        EXPECT_TRUE (p->isAutomatable());
        EXPECT_FALSE (p->isOrientationInverted());
        EXPECT_FALSE (p->isMetaParameter());
        const float at[] = { 0.0f, 1.0f / (float) row.steps, 0.5f, 1.0f };
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ (p->getText (at[k], 0), row.texts[k]) << "at " << at[k];
    }
    EXPECT_EQ (params[1]->getName (3), "Rev");
}

// Whatever comes in, by the host's text entry, a state or a preset, each parameter ends finite and
// inside its range, and the audio follows: dry, the output is the input times the gain held.
TEST (PluginParameters, EveryWayInEndsInsideTheRange)
{
    TemporaryHome home;
    Host host;
    host.startLoaded();
    auto& p = host.processor();
    auto* gain = p.getParameters()[3];
    const auto typed = [gain] (const char* text) { return [gain, text] { gain->setValue (gain->getValueForText (text)); }; };
    const struct
    {
        const char* what;
        std::function<void()> act;
        float gain; // normalised, after it; Mix stays 0
    } rows[] = {
        { "Gain typed as nan", typed ("nan"), 0.25f },
        { "Gain typed as inf", typed ("inf"), 0.25f },
        { "Gain typed as -inf", typed ("-inf"), 0.25f },
        { "Gain typed as 1e30", typed ("1e30"), 1.0f },
        { "Gain typed as 40", typed ("40"), 1.0f },
        { "a state holding gainID=10 mixID=-3", [&p] {
              juce::MemoryBlock block;
              p.copyXmlToBinary (*juce::parseXML ("<MYPLUGINSETTINGS gainID=\"10\" mixID=\"-3\"/>"), block);
              p.setStateInformation (block.getData(), (int) block.getSize());
          }, 1.0f },
        { "a preset holding gainID=10", [&p] {
              const auto file = p.presetStore.getPresetFile();
              ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
              ASSERT_TRUE (file.replaceWithText ("<PRESETS><preset1 gainID=\"10\" presetName=\"loud\"/></PRESETS>"));
              ASSERT_EQ (p.presetStore.getPresetNames().size(), 1);
              p.presetStore.loadPreset (1);
          }, 1.0f },
    };
    const auto in = noiseChannels (2, 256, 31);
    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.what);
        host.setParameter (2, 0.0f);
        host.setParameter (3, 0.25f);
        row.act();
        EXPECT_EQ (gain->getValue(), row.gain);
        EXPECT_EQ (p.getParameters()[2]->getValue(), 0.0f);
        const float g = juce::Decibels::decibelsToGain (p.gainParam->get());
        EXPECT_LE (g, juce::Decibels::decibelsToGain (18.0f));
        const auto out = host.render (in, 256);
        for (size_t ch = 0; ch < 2; ++ch)
            for (size_t i = 0; i < in[ch].size(); ++i)
                ASSERT_NEAR (out[ch][i], in[ch][i] * g, 1e-6f * std::abs (in[ch][i] * g)) << ch << " " << i;
    }
}
