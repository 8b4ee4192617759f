#include "ParamStep.h"

#include <cmath>

ParamRange::ParamRange (float minimum, float maximum, float skewExponent) noexcept
    : min (minimum), max (maximum), skew (skewExponent)
{
}

float ParamRange::toNormalised (float real) const noexcept
{
    const float t = (real - min) / (max - min);

    if (skew == 0.0f)
        return t;

    // A NaN skew lands here too and yields NaN, as the arithmetic says.
    const float k = std::pow (10.0f, skew);
    return std::log10 (t * (k - 1.0f) + 1.0f) / std::log10 (k);
}

float ParamRange::fromNormalised (float normalised) const noexcept
{
    float t = normalised;

    if (skew != 0.0f)
    {
        const float k = std::pow (10.0f, skew);
        t = (std::pow (k, t) - 1.0f) / (k - 1.0f);
    }

    return (max - min) * t + min;
}

namespace zmk
{

ParamStep::ParamStep (const juce::String& parameterID, const juce::String& parameterName, const juce::String& parameterLabel,
                      int numberOfSteps, float minimum, float maximum, float defaultRealValue, float skew)
    : juce::AudioProcessorParameterWithID (juce::ParameterID { parameterID, 1 }, parameterName,
                                           juce::AudioProcessorParameterWithIDAttributes()
                                               .withLabel (parameterLabel)
                                               .withCategory (juce::AudioProcessorParameter::genericParameter)),
      value (defaultRealValue),
      range (minimum, maximum, skew),
      defaultValue (defaultRealValue),
      numSteps (numberOfSteps)
{
}

float ParamStep::getValue() const
{
    return range.toNormalised (value.load (std::memory_order_relaxed));
}

void ParamStep::setValue (float normalised)
{
    // Whatever a host, a state or a preset sends, the audio road only ever sees a finite value in
    // the range: NaN would spread to every plug-in after this one, and a gain beyond the range
    // is nothing the user chose. NaN keeps the value as it is.
    if (std::isnan (normalised))
        return;
    const float real = range.fromNormalised (juce::jlimit (0.0f, 1.0f, normalised));
    if (std::isfinite (real))
        value.store (juce::jlimit (range.min, range.max, real), std::memory_order_relaxed);
}

float ParamStep::getDefaultValue() const
{
    return range.toNormalised (defaultValue);
}

int ParamStep::getNumSteps() const
{
    return numSteps;
}

juce::String ParamStep::getText (float normalised, int maximumStringLength) const
{
    const juce::String text (range.fromNormalised (normalised));
    return maximumStringLength > 0 ? text.substring (0, maximumStringLength) : text;
}

float ParamStep::getValueForText (const juce::String& text) const
{
    // JUCE reads "nan" and "inf" as numbers; a text that is no finite number, in real units or
    // once normalised, keeps the current value. A text without a number still reads as 0.
    const float normalised = range.toNormalised (text.getFloatValue());
    if (! std::isfinite (normalised))
        return getValue();
    return juce::jlimit (0.0f, 1.0f, normalised);
}

} // namespace zmk
