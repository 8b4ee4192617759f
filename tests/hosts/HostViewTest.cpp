// What a host shows of the built plug-in on its own: the VST3's start layout and what plays
// through it, the program's name, and the values an LV2 host reads from a fresh instance.
#include "HostedPlugin.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivstunits.h>
#pragma GCC diagnostic pop

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using kto::host::Format;
using kto::host::HostedPlugin;

namespace
{
// The program names the VST3 lists through its unit interface; JUCE's host reads them only from a
// program-change parameter, which a plug-in with one program does not have.
juce::StringArray vst3ProgramNames (HostedPlugin& hosted)
{
    using namespace Steinberg;
    juce::StringArray names;
    struct : juce::ExtensionsVisitor
    {
        void visitVST3Client (const VST3Client& client) override { component = client.getIComponentPtr(); }
        Vst::IComponent* component = nullptr;
    } visitor;
    hosted.plugin().getExtensions (visitor);
    auto* component = visitor.component;
    Vst::IUnitInfo* units = nullptr;
    if (component == nullptr || component->queryInterface (Vst::IUnitInfo_iid, (void**) &units) != kResultOk)
        return names;
    Vst::ProgramListInfo list {};
    if (units->getProgramListCount() > 0 && units->getProgramListInfo (0, list) == kResultOk)
        for (int32 i = 0; i < list.programCount; ++i)
        {
            Vst::String128 name {};
            if (units->getProgramName (list.id, i, name) == kResultOk)
                names.add (juce::String (juce::CharPointer_UTF16 (reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (name))));
        }
    units->release();
    return names;
}
} // namespace

TEST (HostView, TheVst3StartsInStereoAndPlaysBothImpulseChannels)
{
    HostedPlugin hosted (Format::vst3, 44100.0, 4096, HostedPlugin::Layout::asLoaded);
    ASSERT_TRUE (hosted.isLoaded()) << hosted.error();
    ASSERT_EQ (hosted.numInputs(), 2);
    ASSERT_EQ (hosted.numOutputs(), 2);
    hosted.set ("Mix", 1.0f);
    hosted.set ("Gain", 0.5f);

    // A unit impulse on both inputs, once reverb 1 is in.
    const auto impulse = kto::host::decodeEmbeddedImpulse (1);
    ASSERT_EQ (impulse.getNumChannels(), 2);
    juce::AudioBuffer<float> input (2, impulse.getNumSamples());
    input.clear();
    input.setSample (0, 0, 1.0f);
    input.setSample (1, 0, 1.0f);
    const auto output = hosted.runOnceLoaded (input, 4096);
    ASSERT_EQ (output.getNumSamples(), input.getNumSamples()) << "impulse response 1 never came in";

    // Worst differences as "not below", so that a NaN counts.
    auto worstOf = [&] (auto&& difference) {
        float worst = 0.0f;
        for (int i = 0; i < impulse.getNumSamples(); ++i)
            if (const float d = std::abs (difference (i)); ! (d <= worst))
                worst = d;
        return worst;
    };
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_LE (worstOf ([&] (int i) { return output.getSample (ch, i) - impulse.getSample (ch, i); }),
                   1e-5f * impulse.getMagnitude (ch, 0, impulse.getNumSamples()))
            << "channel " << ch;
    const float channelsApart = worstOf ([&] (int i) { return output.getSample (0, i) - output.getSample (1, i); });
    EXPECT_GT (channelsApart, 0.01f) << "left and right came out alike";
}

TEST (HostView, TheProgramIsNamedUntitled)
{
    for (auto format : { Format::vst3, Format::lv2 })
    {
        SCOPED_TRACE (kto::host::formatName (format));
        HostedPlugin hosted (format, 44100.0, 256);
        ASSERT_TRUE (hosted.isLoaded()) << hosted.error();
        juce::StringArray names;
        if (format == Format::vst3)
            names = vst3ProgramNames (hosted);
        else
            for (int i = 0; i < hosted.plugin().getNumPrograms(); ++i)
                names.add (hosted.plugin().getProgramName (i));
        EXPECT_EQ (names.joinIntoString ("|"), "Untitled");
    }
}

TEST (HostView, AFreshLv2TellsItsHostTheValuesItRunsWith)
{
    struct Heard : juce::AudioProcessorParameter::Listener
    {
        void parameterValueChanged (int index, float value) override { values[index] = value; }
        void parameterGestureChanged (int, bool) override {}
        std::map<int, float> values;
    } heard;

    HostedPlugin hosted (Format::lv2, 44100.0, 256);
    ASSERT_TRUE (hosted.isLoaded()) << hosted.error();
    const std::pair<const char*, float> fresh[] = { { "Bypass", 0.0f }, { "Reverb Type", 0.0f }, { "Mix", 0.5f }, { "Gain", 0.5f } };
    for (const auto& [name, value] : fresh)
        hosted.parameter (name)->addListener (&heard);

    // The plug-in sends its values with the output of the next block.
    juce::AudioBuffer<float> block (2, 64);
    block.clear();
    hosted.processBlock (block);
    for (const auto& [name, value] : fresh)
    {
        auto* p = hosted.parameter (name);
        p->removeListener (&heard);
        ASSERT_EQ (heard.values.count (p->getParameterIndex()), 1u) << name << " was not reported";
        EXPECT_EQ (heard.values[p->getParameterIndex()], value) << name;
    }
}
