#include "ParamControls.h"

#include <cmath>

namespace zmk
{
namespace
{
constexpr int pollHz = 30;
constexpr int nameLength = 256;
constexpr int textLength = 1024;
// The knob's pointer runs from lower left through the top to lower right.
constexpr float rotaryStart = 3.8699114f;
constexpr float rotaryEnd = 8.6964588f;
constexpr int maxGridSteps = 100;

// The editor binds every control to one of the processor's parameters, which all exist before
// any editor can.
juce::AudioProcessorParameter& bound (juce::AudioProcessorParameter* parameter)
{
    jassert (parameter != nullptr);
    return *parameter;
}
} // namespace

SliderStep::SliderStep (juce::AudioProcessorParameter* parameter)
    : juce::Slider (bound (parameter).getName (nameLength)),
      param (parameter)
{
    setTextValueSuffix (param->getLabel());
    setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    setTextBoxStyle (juce::Slider::TextBoxAbove, false, 75, 16);
    setRotaryParameters (rotaryStart, rotaryEnd, true);

    const int steps = param->getNumSteps();
    setRange (0.0, 1.0, steps > 0 && steps <= maxGridSteps ? 1.0 / steps : 0.0);

    startTimerHz (pollHz);
    pullFromParameter();
}

SliderStep::~SliderStep()
{
    stopTimer();
}

void SliderStep::startedDragging()
{
    param->beginChangeGesture();
}

void SliderStep::stoppedDragging()
{
    param->endChangeGesture();
}

void SliderStep::valueChanged()
{
    // The value box counts as the slider: a bar slider takes its drags from the box, and during
    // such a drag the component under the mouse is the box.
    const auto v = static_cast<float> (getValue());
    if (isMouseButtonDown (true))
        param->setValueNotifyingHost (v);
    else
        param->setValue (v);
}

double SliderStep::getValueFromText (const juce::String& text)
{
    return static_cast<double> (param->getValueForText (text));
}

juce::String SliderStep::getTextFromValue (double value)
{
    return param->getText (static_cast<float> (value), textLength) + " " + param->getLabel();
}

void SliderStep::timerCallback()
{
    pullFromParameter();
    updateText();
}

void SliderStep::pullFromParameter()
{
    // Compared in float, the parameter's own precision: a value that matches once narrowed is no
    // change, so an idle editor neither repaints nor writes. A value that is not a number is not
    // copied: the slider would take it, repaint and write it back on every tick.
    const float v = param->getValue();
    if (v != static_cast<float> (getValue()) && ! std::isnan (v) && ! isMouseButtonDown (true))
        setValue (static_cast<double> (v), juce::sendNotificationAsync);
}

Toggle::Toggle (juce::AudioProcessorParameter* parameter)
    : juce::ToggleButton (bound (parameter).getName (nameLength)),
      param (parameter)
{
    startTimerHz (pollHz);
    syncFromParameter();
}

Toggle::~Toggle()
{
    stopTimer();
}

void Toggle::clicked()
{
    param->setValueNotifyingHost (getToggleState() ? 1.0f : 0.0f);
}

void Toggle::timerCallback()
{
    syncFromParameter();
}

void Toggle::syncFromParameter()
{
    const bool on = param->getValue() >= 0.5f;
    if (on != getToggleState() && ! isMouseButtonDown())
        setToggleState (on, juce::dontSendNotification);
}
} // namespace zmk
