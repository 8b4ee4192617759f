// The plug-in's state as hosts keep it: through the Audio Unit class info, against blocks that are
// not its state, and what each wrapper hears of a restore.

#include "PluginHarness.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using namespace ktotest;

TEST (PluginState, ItTravelsThroughTheHostsClassInfo)
{
    Host host;
    auto& p = host.unit.getProcessor();
    const auto fresh = host.unit.saveClassInfo();
    const auto* block = fresh[kto::host::AudioUnitStandIn::stateKey].getBinaryData();
    ASSERT_NE (block, nullptr);

    const juce::String xml ("<MYPLUGINSETTINGS bypassID=\"0\" revTypeID=\"0\" mixID=\"0.5\" gainID=\"0.5\"/>");
    const auto* bytes = static_cast<const unsigned char*> (block->getData());
    ASSERT_EQ (block->getSize(), size_t (xml.getNumBytesAsUTF8() + 9));
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (bytes), 0x21324356u);
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (bytes + 4), juce::uint32 (xml.getNumBytesAsUTF8()));
    EXPECT_EQ (juce::String::fromUTF8 (reinterpret_cast<const char*> (bytes + 8), int (xml.getNumBytesAsUTF8())), xml);
    EXPECT_EQ (bytes[block->getSize() - 1], 0);
    EXPECT_EQ (fresh["version"], juce::var (0x10001));

    // The float nearest 0.2 goes out with 20 digits and comes back the same.
    p.getParameters()[2]->setValue (0.2f);
    const auto saved = host.unit.saveClassInfo();
    const auto* savedBlock = saved[kto::host::AudioUnitStandIn::stateKey].getBinaryData();
    EXPECT_TRUE (juce::String::fromUTF8 (static_cast<const char*> (savedBlock->getData()) + 8, int (savedBlock->getSize()) - 9)
                      .contains ("mixID=\"0.20000000298023223877\""));
    for (auto* param : p.getParameters())
        param->setValue (0.9f);
    EXPECT_EQ (host.unit.restoreClassInfo (saved), kto::host::noErr);
    const float expected[] = { 0.0f, 0.0f, 0.2f, 0.5f };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ (p.getParameters()[i]->getValue(), expected[i]) << i;
}

TEST (PluginState, BlocksThatAreNotOurStateChangeNothing)
{
    Host host;
    auto& p = host.unit.getProcessor();
    auto envelope = [&] (const juce::String& xml) {
        juce::MemoryBlock m;
        juce::AudioProcessor::copyXmlToBinary (*juce::parseXML (xml), m);
        return m;
    };
    p.getParameters()[2]->setValue (0.75f);

    const unsigned char shortBlock[8] = { 0x56, 0x43, 0x32, 0x21, 1, 0, 0, 0 };
    const unsigned char wrongMagic[12] = { 0x56, 0x43, 0x32, 0x22, 3, 0, 0, 0, '<', 'a', '/', '>' };
    const unsigned char notXml[13] = { 0x56, 0x43, 0x32, 0x21, 4, 0, 0, 0, 'x', 'y', 'z', '!', 0 };
    const auto otherTag = envelope ("<OTHER mixID=\"0.1\"/>");
    const struct { const void* data; int size; } blocks[] = {
        { nullptr, 0 }, { shortBlock, 8 }, { wrongMagic, 12 }, { notXml, 13 },
        { otherTag.getData(), int (otherTag.getSize()) }, { shortBlock, -5 } };
    for (const auto& b : blocks)
    {
        EXPECT_NO_THROW (p.setStateInformation (b.data, b.size));
        EXPECT_EQ (p.getParameters()[2]->getValue(), 0.75f);
    }

    // Any letter case of the tag is ours; attribute names must match exactly; no number reads as 0.
    const auto lower = envelope ("<mypluginsettings gainID=\"1\" MIXID=\"0.1\" revTypeID=\"abc\"/>");
    p.setStateInformation (lower.getData(), int (lower.getSize()));
    EXPECT_EQ (p.getParameters()[3]->getValue(), 1.0f);
    EXPECT_EQ (p.getParameters()[2]->getValue(), 0.75f);
    EXPECT_EQ (p.getParameters()[1]->getValue(), 0.0f);
}

TEST (PluginState, OnlyTheLv2BuildReportsItsValuesAndOnlyLinuxFormatsNameTheProgram)
{
    struct Heard : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override { values[(size_t) index].push_back (value); }
        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int) override { ++gestures; }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
        std::array<std::vector<float>, 4> values;
        int gestures = 0;
    };
    using P = juce::AudioProcessor;
    const struct { P::WrapperType type; bool reports; const char* programName; } rows[] = {
        { P::wrapperType_AudioUnit, false, "" }, { P::wrapperType_Standalone, false, "" },
        { P::wrapperType_VST3, false, "Untitled" }, { P::wrapperType_LV2, true, "Untitled" } };
    const std::array<float, 4> restored { 1.0f, 0.6f, 0.203125f, 0.75f };
    juce::ScopedJuceInitialiser_GUI gui;
    for (const auto& row : rows)
    {
        SCOPED_TRACE (P::getWrapperTypeDescription (row.type));
        P::setTypeOfNextNewPlugin (row.type);
        Processor p;
        P::setTypeOfNextNewPlugin (P::wrapperType_Undefined);
        EXPECT_EQ (p.getProgramName (0), row.programName);
        for (size_t i = 0; i < 4; ++i)
            p.getParameters()[(int) i]->setValue (restored[i]);
        juce::MemoryBlock state;
        p.getStateInformation (state);
        for (auto* param : p.getParameters())
            param->setValue (param->getDefaultValue());

        // The wrapper starts listening, prepares once, and later restores a state.
        Heard heard;
        p.addListener (&heard);
        p.prepareToPlay (44100.0, 256);
        p.setStateInformation (state.getData(), (int) state.getSize());
        p.removeListener (&heard);
        for (size_t i = 0; i < 4; ++i)
        {
            const auto fresh = p.getParameters()[(int) i]->getDefaultValue();
            EXPECT_EQ (heard.values[i], row.reports ? std::vector<float> ({ fresh, restored[i] }) : std::vector<float>()) << i;
        }
        EXPECT_EQ (heard.gestures, 0);
    }
}
