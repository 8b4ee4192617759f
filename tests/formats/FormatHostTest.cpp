// The built VST3 and LV2 as a JUCE host sees them: the channel layouts each offers and the first
// block each returns (the input x 0.25 while impulse response 1 is handed over again).

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
constexpr const char* lv2Uri = "https://vorrelaudiotools.example/plugins/KTOstvikReverb";

struct FormatHost : public ::testing::Test
{
    static void SetUpTestSuite()
    {
        // Installed copies in ~/.lv2 or ~/.vst3 would win over the build tree's.
        static const auto home = juce::File::createTempFile ("home");
        home.createDirectory();
        setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    }

    juce::ScopedJuceInitialiser_GUI gui;

    static std::unique_ptr<juce::AudioPluginInstance> create (juce::AudioPluginFormat& format, const juce::String& id)
    {
        juce::OwnedArray<juce::PluginDescription> found;
        format.findAllTypesForFile (found, id);
        if (found.isEmpty())
            return nullptr;
        juce::String error;
        return format.createInstanceFromDescription (*found[0], 44100.0, 256, error);
    }

    static juce::AudioProcessor::BusesLayout layout (int inputs, int outputs)
    {
        juce::AudioProcessor::BusesLayout l;
        l.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (inputs));
        l.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (outputs));
        return l;
    }

    // Processes one block of noise and checks every output against input channel x 0.25.
    static void expectHandOverBlock (juce::AudioPluginInstance& plugin)
    {
        const int inputs = plugin.getTotalNumInputChannels();
        const int outputs = plugin.getTotalNumOutputChannels();
        plugin.prepareToPlay (44100.0, 256);
        juce::AudioBuffer<float> block (juce::jmax (inputs, outputs), 256);
        juce::AudioBuffer<float> in (inputs, 256);
        juce::Random random (7);
        for (int ch = 0; ch < inputs; ++ch)
            for (int i = 0; i < 256; ++i)
                in.setSample (ch, i, random.nextFloat() - 0.5f);
        block.clear();
        for (int ch = 0; ch < inputs; ++ch)
            block.copyFrom (ch, 0, in, ch, 0, 256);
        juce::MidiBuffer midi;
        plugin.processBlock (block, midi);
        for (int ch = 0; ch < outputs; ++ch)
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ (block.getSample (ch, i), in.getSample (juce::jmin (ch, inputs - 1), i) * 0.25f)
                    << "output " << ch << " frame " << i;
        plugin.releaseResources();
    }
};
} // namespace

TEST_F (FormatHost, TheVst3OffersTheThreeConfigurations)
{
    juce::VST3PluginFormat format;
    const auto bundle = juce::File (KTO_VST3_FILE).getParentDirectory().getParentDirectory().getParentDirectory();
    auto plugin = create (format, bundle.getFullPathName());
    ASSERT_NE (plugin, nullptr);
    EXPECT_EQ (plugin->getName(), "VorrelKTOstvikReverb");

    for (auto [inputs, outputs, offered] : { std::tuple { 1, 1, true }, { 1, 2, true }, { 2, 2, true },
                                             { 2, 1, false } })
        EXPECT_EQ (plugin->checkBusesLayoutSupported (layout (inputs, outputs)), offered) << inputs << outputs;

    for (auto [inputs, outputs] : { std::pair { 1, 1 }, { 1, 2 }, { 2, 2 } })
    {
        SCOPED_TRACE (juce::String (inputs) + " in, " + juce::String (outputs) + " out");
        auto instance = create (format, bundle.getFullPathName());
        ASSERT_TRUE (instance->setBusesLayout (layout (inputs, outputs)));
        expectHandOverBlock (*instance);
    }
}

TEST_F (FormatHost, TheLv2HasTwoInputsAndTwoOutputs)
{
    juce::LV2PluginFormat format;
    const auto bundleParent = juce::File (KTO_LV2_DIR).getParentDirectory();
    const auto ids = format.searchPathsForPlugins (juce::FileSearchPath (bundleParent.getFullPathName()), false, false);
    ASSERT_TRUE (ids.contains (lv2Uri)) << ids.joinIntoString (", ");

    auto plugin = create (format, lv2Uri);
    ASSERT_NE (plugin, nullptr);
    plugin->enableAllBuses();
    EXPECT_EQ (plugin->getTotalNumInputChannels(), 2);
    EXPECT_EQ (plugin->getTotalNumOutputChannels(), 2);
    expectHandOverBlock (*plugin);
}
