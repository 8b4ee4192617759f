// The parameter-bound controls in the open editor: the pull, the mouse-down rule, gestures and
// what the host is told.
#include "EditorHarness.h"
#include "ParamControls.h"
#include "plugin/TestProcessor.h"

#include <functional>
#include <limits>
#include <regex>

using namespace ktotest;

namespace
{
struct Controls : EditorFixture
{
    double shown (const juce::String& name)
    {
        if (auto* t = find<juce::ToggleButton> (*editor, name))
            return t->getToggleState() ? 1.0 : 0.0;
        return child<juce::Slider> (name).getValue();
    }
    juce::Label& valueBox (const juce::String& name) { return *find<juce::Label> (child (name), {}); }

    void typeInto (const juce::String& name, const juce::String& text)
    {
        auto& box = valueBox (name);
        ASSERT_TRUE (waitFor ([&] {
            if (box.getCurrentTextEditor() == nullptr)
                mouse.click (box);
            return box.getCurrentTextEditor() != nullptr && box.getCurrentTextEditor()->hasKeyboardFocus (false);
        }));
        Pointer::type (*editor, text);
        Pointer::key (*editor, juce::KeyPress::returnKey);
        ASSERT_TRUE (waitFor ([&] { return ! box.isBeingEdited(); }));
    }
    void drag (const juce::String& name, int up) { drag (child (name), { 0, -up }); }
    // From the centre of c, in steps of 10 pixels.
    void drag (juce::Component& c, juce::Point<int> by)
    {
        const auto p = c.getLocalBounds().getCentre();
        mouse.down (c, p);
        const int steps = std::max (std::abs (by.x), std::abs (by.y)) / 10;
        for (int k = 1; k <= steps; ++k)
            mouse.send (c, p + by * k / steps, juce::ModifierKeys::leftButtonModifier);
        mouse.up (c, p + by);
    }
};

TEST_F (Controls, PullSnapsToTheGridAndWritesBackWithoutTellingTheHost)
{
    struct Case
    {
        const char* control;
        int index;
        float host;
        double shown;
        float stored;
        const char* text;
    };
    const Case cases[] = {
        { "Mix", 2, 0.505f, 0.5, 0.505f, "50 %" }, // rounds to the position shown: left alone
        { "Mix", 2, 0.3f, 19.0 / 64.0, 0.296875f, "29.6875 %" },
        { "Reverb Type", 1, 0.45f, 0.4, 0.4f, "3 " },
        { "Gain", 3, 0.75f, 0.75, 0.75f, "9 dB" },
        { "Bypass", 0, 0.5f, 1.0, 0.5f, nullptr },
        { "Bypass", 0, 0.4999f, 0.0, 0.4999f, nullptr },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.control) + " pulled from " + juce::String (c.host));
        param (c.index).setValue (c.host);
        ASSERT_TRUE (waitFor ([&] { return shown (c.control) == c.shown; }));
        ASSERT_TRUE (waitTicks (3));
        EXPECT_EQ (param (c.index).getValue(), c.stored);
        EXPECT_TRUE (c.text == nullptr || valueBox (c.control).getText() == c.text) << valueBox (c.control).getText();
    }
    EXPECT_TRUE (log.events.empty());
}

TEST_F (Controls, NothingIsCopiedWhileTheMouseButtonIsDown)
{
    struct Case
    {
        const char* control;
        int index;
        float host;
        double afterRelease;
    };
    for (const auto& c : { Case { "Mix", 2, 0.9f, 58.0 / 64.0 }, Case { "Bypass", 0, 1.0f, 1.0 } })
    {
        SCOPED_TRACE (c.control);
        auto& target = child (c.control);
        const double before = shown (c.control);
        mouse.down (target, target.getLocalBounds().getCentre());
        param (c.index).setValue (c.host);
        ASSERT_TRUE (waitTicks (5));
        EXPECT_EQ (shown (c.control), before);
        // Released outside, so the toggle takes no click.
        mouse.send (target, { -30, -30 }, juce::ModifierKeys::leftButtonModifier);
        mouse.up (target, { -30, -30 });
        EXPECT_TRUE (waitFor ([&] { return shown (c.control) == c.afterRelease; }));
    }
}

TEST_F (Controls, GesturesFrameDragsTypedValuesAndWheelMovesAndOnlyTheMouseNotifies)
{
    struct Case
    {
        const char* what;
        std::function<void()> act;
        int index;
        const char* heard; // what the host hears for that parameter, as a pattern
        float value;
    };
    const Case cases[] = {
        { "drag Mix up 30 px", [&] { drag ("Mix", 30); }, 2, "bv+e", 0.625f },
        { "drag Reverb Type from its number box", [&] { drag (valueBox ("Reverb Type"), { 60, 0 }); }, 1, "bv+e", 0.6f },
        { "type 75 into Mix", [&] { typeInto ("Mix", "75"); }, 2, "be", 0.75f },
        { "type 150 into Mix", [&] { typeInto ("Mix", "150"); }, 2, "be", 1.0f },
        { "type 100 into Mix", [&] { typeInto ("Mix", "100"); }, 2, "", 1.0f },
        { "type nan into Mix", [&] { typeInto ("Mix", "nan"); }, 2, "", 1.0f },
        { "wheel over Gain", [&] { mouse.wheel (child ("Gain"), 0.1f); }, 3, "be", 37.0f / 72.0f },
        { "click Bypass", [&] { mouse.click (child ("Bypass")); }, 0, "v", 1.0f },
        { "click Bypass again", [&] { mouse.click (child ("Bypass")); }, 0, "v", 0.0f },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        log.events.clear();
        c.act();
        EXPECT_TRUE (std::regex_match (log.kinds (c.index), std::regex (c.heard))) << log.kinds (c.index);
        EXPECT_EQ (param (c.index).getValue(), c.value);
        for (const auto& e : log.events)
            EXPECT_EQ (e.index, c.index);
        // The host heard the value the parameter ended at.
        const auto lastHeard = std::find_if (log.events.rbegin(), log.events.rend(), [] (auto& e) { return e.kind == 'v'; });
        EXPECT_TRUE (lastHeard == log.events.rend() || lastHeard->value == c.value);
    }
}

// Counts paints of whatever lies under it.
struct PaintCounter : juce::Component
{
    PaintCounter() { setInterceptsMouseClicks (false, false); }
    void paint (juce::Graphics&) override { ++paints; }
    int paints = 0;
};

struct CountingParam : zmk::ParamStep
{
    using zmk::ParamStep::ParamStep;
    void setValue (float v) override
    {
        ++writes;
        zmk::ParamStep::setValue (v);
    }
    int writes = 0;
};

TEST_F (Controls, AnIdleEditorNeitherRepaintsNorWritesParameters)
{
    // The controls on parameters that count their writes, one of them off its grid.
    std::vector<std::unique_ptr<CountingParam>> params;
    juce::OwnedArray<juce::Component> controls;
    for (const auto& r : paramRows)
    {
        params.push_back (std::make_unique<CountingParam> (r.id, r.name, r.label, r.steps, r.min, r.max, r.def, 0.0f));
        controls.add (r.steps == 1 ? static_cast<juce::Component*> (new zmk::Toggle (params.back().get()))
                                   : new zmk::SliderStep (params.back().get()));
        controls.getLast()->setBounds (40 + 140 * controls.size(), 172, 135, 135);
        editor->addAndMakeVisible (controls.getLast());
    }
    params[2]->zmk::ParamStep::setValue (0.505f);
    param (2).setValue (0.505f);
    // Not a number (a host's bad value) is not copied: a slider holding NaN spins the message thread.
    params[1]->zmk::ParamStep::setValue (std::numeric_limits<float>::quiet_NaN());

    PaintCounter counter;
    counter.setBounds (editor->getLocalBounds());
    editor->addAndMakeVisible (counter);
    ASSERT_TRUE (waitFor ([&] { return counter.paints > 0; }));
    ASSERT_TRUE (waitTicks (5));

    counter.paints = 0;
    for (auto& p : params)
        p->writes = 0;
    ASSERT_TRUE (waitTicks (30));
    EXPECT_EQ (counter.paints, 0);
    for (auto& p : params)
        EXPECT_EQ (p->writes, 0) << p->getName (20);
    EXPECT_TRUE (log.events.empty());
}
} // namespace
