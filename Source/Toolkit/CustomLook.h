#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace zmk
{
// The plug-in's look-and-feel: dark colours, knobs drawn from two embedded pictures, flat
// button faces, value boxes placed over the sliders, and the embedded Open Sans face for all
// text. Meant to be installed as the process-wide default; it is default-constructible, so
// several plug-in instances may share one through juce::SharedResourcePointer.
class CustomLook : public juce::LookAndFeel_V3
{
public:
    // A slider's value box. It swallows wheel movements so that scrolling over the box does
    // not reach (and change) the slider underneath.
    class SliderLabelComp : public juce::Label
    {
    public:
        SliderLabelComp();
        void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    };

    CustomLook();
    ~CustomLook() override;

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font&) override;
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;
    void drawToggleButton (juce::Graphics&, juce::ToggleButton&,
                           bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
    juce::Font getPopupMenuFont() override;
    juce::Font getComboBoxFont (juce::ComboBox&) override;
    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;
    juce::Label* createSliderTextBox (juce::Slider&) override;
    juce::Slider::SliderLayout getSliderLayout (juce::Slider&) override;

private:
    const float fontHeight;
    juce::Image knobBody;
    juce::Image knobPointer;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLook)
};
} // namespace zmk
