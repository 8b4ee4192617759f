// The editor window: its children, their places and stacking, the controls' set-up and the
// background picture.
#include "Editor.h"
#include "EditorHarness.h"
#include "Resources.h"

#include <atomic>
#include <cstring>
#include <thread>

using namespace ktotest;

namespace
{
using Editor_ = EditorFixture;

juce::uint32 bits (float f)
{
    juce::uint32 b;
    std::memcpy (&b, &f, sizeof b);
    return b;
}

TEST_F (Editor_, ChildrenSitWhereTheirRegionsArePaintedInTheirStackingOrder)
{
    struct Place
    {
        const char* name;
        juce::Rectangle<int> bounds;
    };
    const Place window[] = { { "", { 0, 0, 550, 500 } },          { "Bypass", { 466, 9, 71, 50 } },
                             { "Reverb Type", { 24, 134, 166, 22 } }, { "Mix", { 38, 172, 135, 135 } },
                             { "Gain", { 38, 308, 135, 135 } },       { "LabelID", { 213, 34, 100, 10 } } };
    const Place bar[] = { { "A-B", { 20, 77, 55, 22 } },
                          { "Copy", { 80, 77, 55, 22 } },
                          { "PresetBoxID", { 250, 77, 220, 22 } },
                          { "Save", { 190, 77, 55, 22 } },
                          { "Delete", { 475, 77, 55, 22 } } };
    const Place valueBoxes[] = { { "Reverb Type", { 132, 136, 55, 18 } },
                                 { "Mix", { 109, 174, 55, 18 } },
                                 { "Gain", { 109, 310, 55, 18 } } };

    EXPECT_EQ (editor->getBounds().withZeroOrigin(), juce::Rectangle<int> (550, 500));
    ASSERT_TRUE (waitFor ([&] { return ! child ("LabelID").getBounds().isEmpty(); }));
    ASSERT_EQ (editor->getNumChildComponents(), 6);
    for (int i = 0; i < 6; ++i)
    {
        EXPECT_EQ (editor->getChildComponent (i)->getName(), window[i].name);
        EXPECT_EQ (editor->getChildComponent (i)->getBounds(), window[i].bounds) << window[i].name;
    }
    auto* presetBar = editor->getChildComponent (0);
    ASSERT_EQ (presetBar->getNumChildComponents(), 5);
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_EQ (presetBar->getChildComponent (i)->getName(), bar[i].name);
        EXPECT_EQ (presetBar->getChildComponent (i)->getBounds(), bar[i].bounds) << bar[i].name;
    }
    for (const auto& b : valueBoxes)
    {
        auto* box = find<juce::Label> (child (b.name), {});
        EXPECT_EQ (editor->getLocalArea (box, box->getLocalBounds()), b.bounds) << b.name;
    }

    auto& label = child<juce::Label> ("LabelID");
    EXPECT_EQ (label.getText(), "v1.0.1");
    EXPECT_EQ (label.findColour (juce::Label::textColourId), juce::Colour (0xff575757));
    EXPECT_EQ (child<juce::Button> ("Bypass").getButtonText(), "Bypass");
    EXPECT_EQ (child<juce::ComboBox> ("PresetBoxID").getTextWhenNothingSelected(), "Load preset...");
}

TEST_F (Editor_, SlidersTurnThroughTheSameAnglesOnTheParametersGrids)
{
    struct Grid
    {
        const char* name;
        double interval;
        juce::Slider::SliderStyle style;
    };
    for (const auto& g : { Grid { "Reverb Type", 0.2, juce::Slider::LinearBar },
                           Grid { "Mix", 1.0 / 64, juce::Slider::RotaryHorizontalVerticalDrag },
                           Grid { "Gain", 1.0 / 72, juce::Slider::RotaryHorizontalVerticalDrag } })
    {
        auto& s = child<juce::Slider> (g.name);
        EXPECT_EQ (s.getInterval(), g.interval) << g.name;
        EXPECT_EQ (s.getSliderStyle(), g.style) << g.name;
        EXPECT_EQ (bits (s.getRotaryParameters().startAngleRadians), 0x4077aca1u);
        EXPECT_EQ (bits (s.getRotaryParameters().endAngleRadians), 0x410b24b2u);
        EXPECT_TRUE (s.getRotaryParameters().stopAtEnd);
        EXPECT_EQ (s.getTextBoxPosition(), juce::Slider::TextBoxAbove);
        EXPECT_TRUE (s.isTextBoxEditable());
    }
}

TEST_F (Editor_, LabelGetsItsPlaceAtTheFirstPaintAndThePictureFillsTheWindowAtHalfSize)
{
    Editor fresh (*processor);
    EXPECT_TRUE (find (fresh, "LabelID")->getBounds().isEmpty());
    for (auto* c : fresh.getChildren())
        c->setVisible (false);
    const auto shot = fresh.createComponentSnapshot (fresh.getLocalBounds());
    EXPECT_EQ (find (fresh, "LabelID")->getBounds(), juce::Rectangle<int> (213, 34, 100, 10));

    // Each window pixel is the mean of a 2 x 2 block of the picture's top 1100 x 1000 pixels.
    const auto& entry = kto::resources::table[kto::resources::background];
    const auto picture = juce::ImageFileFormat::loadFrom (entry.data, static_cast<size_t> (entry.size));
    ASSERT_EQ (picture.getBounds(), juce::Rectangle<int> (1100, 1003));
    ASSERT_EQ (shot.getBounds(), juce::Rectangle<int> (550, 500));
    int worst = 0;
    for (int y = 0; y < 500; ++y)
        for (int x = 0; x < 550; ++x)
        {
            const auto p = shot.getPixelAt (x, y);
            for (auto channel : { &juce::Colour::getRed, &juce::Colour::getGreen, &juce::Colour::getBlue })
            {
                int sum = 0;
                for (int k = 0; k < 4; ++k)
                    sum += (picture.getPixelAt (2 * x + (k & 1), 2 * y + (k >> 1)).*channel)();
                worst = std::max (worst, std::abs (4 * (p.*channel)() - sum));
            }
        }
    EXPECT_LE (worst, 4 * 3);
}

// JUCE's LV2 wrapper constructs the plug-in on the host's thread while the message thread paints:
// the default look, whose change reaches every window, changes on the message thread only.
TEST (DefaultLook, AnInstanceMadeOnAHostThreadInstallsItOnTheMessageThread)
{
    struct Window : juce::Component
    {
        void lookAndFeelChanged() override
        {
            ++changes;
            if (! juce::MessageManager::getInstance()->isThisTheMessageThread())
                ++elsewhere;
        }
        std::atomic<int> changes { 0 }, elsewhere { 0 };
    } window;
    juce::LookAndFeel_V4 other;
    juce::LookAndFeel::setDefaultLookAndFeel (&other);
    window.addToDesktop (0);

    std::unique_ptr<juce::AudioProcessor> processor;
    std::thread ([&] { processor.reset (createPluginFilter()); }).join();
    auto* look = &dynamic_cast<Processor&> (*processor).customLook.getObject();
    EXPECT_TRUE (waitFor ([&] { return &juce::LookAndFeel::getDefaultLookAndFeel() == look; }));
    EXPECT_GT (window.changes, 0);
    EXPECT_EQ (window.elsewhere, 0);

    processor.reset();
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    window.removeFromDesktop();
}
} // namespace
