#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace zmk
{
// A slider bound to one host parameter, in normalised units. It follows the parameter by
// polling it 30 times a second and snaps what it pulls to the parameter's step grid; changes
// made with the mouse button down on it reach the host, every other change (typed value, wheel,
// pull) is written without telling the host.
class SliderStep : public juce::Slider,
                   public juce::Timer
{
public:
    // The parameter must not be null; it is not owned and must outlive the slider.
    explicit SliderStep (juce::AudioProcessorParameter* parameter);
    ~SliderStep() override;

    void startedDragging() override;
    void stoppedDragging() override;
    void valueChanged() override;
    double getValueFromText (const juce::String& text) override;
    juce::String getTextFromValue (double value) override;

    void timerCallback() override;

private:
    void pullFromParameter();

    juce::AudioProcessorParameter* const param;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SliderStep)
};

// An on/off button bound to one host parameter (on at 0.5 or more). A click sends 1 or 0 to
// the host; host changes are followed by polling, as for SliderStep.
class Toggle : public juce::ToggleButton,
               public juce::Timer
{
public:
    explicit Toggle (juce::AudioProcessorParameter* parameter);
    ~Toggle() override;

    using juce::Button::clicked;
    void clicked() override;
    void timerCallback() override;

    // Parameter to button, never the other way round.
    void syncFromParameter();

private:
    juce::AudioProcessorParameter* const param;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Toggle)
};
} // namespace zmk
