#include "DecimalText.h"
#include "ParameterSets.h"
#include "TestProcessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using ktotest::TestProcessor;

namespace
{

struct NotificationCounter : juce::AudioProcessorListener
{
    void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override { ++counts[(size_t) index]; }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    int total() const { return counts[0] + counts[1] + counts[2] + counts[3]; }
    std::array<int, 4> counts {};
};

std::vector<float> liveValues (TestProcessor& proc)
{
    std::vector<float> v;
    for (auto* p : proc.getParameters())
        v.push_back (p->getValue());
    return v;
}

// A parameter without a string id, which stored sets skip.
struct PlainParameter : juce::AudioProcessorParameter
{
    float getValue() const override { return value; }
    void setValue (float v) override { value = v; }
    float getDefaultValue() const override { return 0.0f; }
    juce::String getName (int) const override { return "Plain"; }
    juce::String getLabel() const override { return {}; }
    float getValueForText (const juce::String&) const override { return 0.0f; }
    float value = 0.25f;
};

} // namespace

TEST (DecimalText, WritesGeneralNotationWithTwentySignificantDigits)
{
    struct Case { double value; const char* text; };
    const Case cases[] = {
        { 0.0, "0" },
        { 1.0, "1" },
        { 0.5, "0.5" },
        { -0.25, "-0.25" },
        { (double) 0.2f, "0.20000000298023223877" },
        { 0.1, "0.10000000000000000555" },
        { (double) (1.0f / 3.0f), "0.3333333432674407959" },
        { 1e-5, "1.0000000000000000818e-05" },
        { 150.0, "150" },
        { 1e21, "1e+21" },
    };
    for (const auto& c : cases)
        EXPECT_EQ (zmk::decimalText (c.value), juce::String (c.text));

    // Every float comes back identical through the attribute reader.
    juce::Random rng (42);
    juce::XmlElement e ("T");
    for (int i = 0; i < 2000; ++i)
    {
        const float f = i < 1000 ? rng.nextFloat() : (rng.nextFloat() - 0.5f) * std::pow (10.0f, (float) (i % 60 - 30));
        e.setAttribute ("v", zmk::decimalText ((double) f));
        ASSERT_EQ ((float) e.getDoubleAttribute ("v"), f) << e.getStringAttribute ("v");
    }
}

TEST (ParameterSets, StoreWritesOneAttributePerIdInListOrder)
{
    TestProcessor proc;
    PlainParameter plain;
    ParameterList list;
    list.add (proc.getParameters()[0], &plain, proc.getParameters()[1], proc.getParameters()[2], proc.getParameters()[3]);

    juce::XmlElement e ("ANY");
    e.setAttribute ("stale", "x");
    e.addChildElement (new juce::XmlElement ("child"));
    proc.params[2]->setValue (0.2f);
    storeParameters (list, e);

    ASSERT_EQ (e.getNumAttributes(), 4);
    const char* names[] = { "bypassID", "revTypeID", "mixID", "gainID" };
    const char* texts[] = { "0", "0", "0.20000000298023223877", "0.5" };
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ (e.getAttributeName (i), juce::String (names[i]));
        EXPECT_EQ (e.getAttributeValue (i), juce::String (texts[i]));
    }
    EXPECT_EQ (e.getNumChildElements(), 1);
    EXPECT_EQ (e.getTagName(), "ANY");
}

TEST (ParameterSets, ApplyReadsEachAttributeAndKeepsMissingOrNonFiniteValues)
{
    // Start values (normalised): bypass 1, type 0.6, mix 0.25, gain 0.75.
    const float start[] = { 1.0f, 0.6f, 0.25f, 0.75f };
    struct Case { const char* name; std::vector<std::pair<const char*, const char*>> attributes; std::array<float, 4> expected; };
    const Case cases[] = {
        { "all present", { { "bypassID", "0" }, { "revTypeID", "0.2" }, { "mixID", "0.5" }, { "gainID", "1" } }, { 0.0f, 0.2f, 0.5f, 1.0f } },
        { "JUCE's own form", { { "bypassID", "0.0" }, { "revTypeID", "1.0" }, { "mixID", "0.0" }, { "gainID", "1.0" } }, { 0.0f, 1.0f, 0.0f, 1.0f } },
        { "missing ones kept", { { "gainID", "0.5" } }, { 1.0f, 0.6f, 0.25f, 0.5f } },
        { "unknown ignored", { { "MIXID", "0.9" }, { "other", "0.1" } }, { 1.0f, 0.6f, 0.25f, 0.75f } },
        { "no number reads 0", { { "mixID", "abc" }, { "gainID", "0.5dB" } }, { 1.0f, 0.6f, 0.0f, 0.5f } },
        { "clamped", { { "mixID", "1.5" }, { "gainID", "-0.5" } }, { 1.0f, 0.6f, 1.0f, 0.0f } },
        { "non-finite kept", { { "bypassID", "nan" }, { "revTypeID", "inf" }, { "mixID", "-inf" }, { "gainID", "1e300" } }, { 1.0f, 0.6f, 0.25f, 0.75f } },
        { "long exponents and signs", { { "bypassID", "0e3103333333" }, { "revTypeID", "+0.4" }, { "mixID", "+-1" }, { "gainID", "1e-3000" } }, { 0.0f, 0.4f, 0.0f, 0.75f } },
        { "space before the number", { { "mixID", " 0.5" }, { "gainID", "\t1" } }, { 1.0f, 0.6f, 0.5f, 1.0f } },
    };

    for (auto notification : { HostNotification::notify, HostNotification::silent })
    {
        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.name);
            TestProcessor proc;
            for (size_t i = 0; i < 4; ++i)
                proc.params[i]->setValue (start[i]);

            juce::XmlElement e ("SET");
            for (const auto& [name, text] : c.attributes)
                e.setAttribute (name, text);

            NotificationCounter counter;
            proc.addListener (&counter);
            applyParameters (proc.getParameters(), e, notification);
            proc.removeListener (&counter);

            for (size_t i = 0; i < 4; ++i)
            {
                EXPECT_NEAR (proc.params[i]->getValue(), c.expected[i], 1e-6) << i;
                EXPECT_TRUE (std::isfinite (proc.params[i]->get()));
                EXPECT_EQ (counter.counts[i], notification == HostNotification::notify ? 1 : 0) << i;
            }
        }
    }
}

TEST (ABState, SwapsLiveValuesWithTheSlotAndNotifiesEveryParameter)
{
    TestProcessor proc;
    ABState ab (proc.getParameters());
    EXPECT_EQ (ab.storedSet.getTagName(), "AB");

    NotificationCounter counter;
    proc.addListener (&counter);

    // First press: nothing changes, the host hears of all four, the slot holds the live set.
    const auto first = liveValues (proc);
    ab.swap();
    EXPECT_EQ (liveValues (proc), first);
    EXPECT_EQ (counter.counts, (std::array<int, 4> { 1, 1, 1, 1 }));
    EXPECT_EQ (ab.storedSet.getStringAttribute ("mixID"), "0.5");
    EXPECT_EQ (ab.storedSet.getNumAttributes(), 4);

    // Change values, press again: the first set returns and the slot holds the changed one.
    proc.params[2]->setValue (0.25f);
    proc.params[0]->setValue (1.0f);
    const auto changed = liveValues (proc);
    ab.swap();
    EXPECT_EQ (liveValues (proc), first);
    EXPECT_EQ (counter.total(), 8);
    ab.swap();
    EXPECT_EQ (liveValues (proc), changed);
    EXPECT_EQ (counter.total(), 12);

    // Copy, then A-B: nothing changes, and the host still hears of each parameter.
    storeParameters (*ab.parameters, ab.storedSet);
    ab.swap();
    EXPECT_EQ (liveValues (proc), changed);
    EXPECT_EQ (counter.counts, (std::array<int, 4> { 4, 4, 4, 4 }));
    EXPECT_EQ (ab.storedSet.getTagName(), "AB");

    proc.removeListener (&counter);
}
