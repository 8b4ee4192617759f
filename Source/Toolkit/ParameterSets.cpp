#include "ParameterSets.h"

#include "DecimalText.h"

#include <cmath>

void storeParameters (const ParameterList& parameters, juce::XmlElement& element)
{
    element.removeAllAttributes();

    for (auto* parameter : parameters)
        if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter))
            element.setAttribute (withId->paramID, zmk::decimalText (static_cast<double> (withId->getValue())));
}

void applyParameters (const ParameterList& parameters, const juce::XmlElement& element,
                      HostNotification notification)
{
    for (auto* parameter : parameters)
    {
        auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter);
        if (withId == nullptr)
            continue;

        const float current = withId->getValue();
        auto value = static_cast<float> (element.getDoubleAttribute (withId->paramID, static_cast<double> (current)));

        // A hand-edited "nan", "inf" or 1e300 would poison the audio road; keep the value instead.
        if (! std::isfinite (value))
            value = current;

        if (notification == HostNotification::notify)
            withId->setValueNotifyingHost (value);
        else
            withId->setValue (value);
    }
}

ABState::ABState (const ParameterList& processorParameters)
    : parameters (&processorParameters)
{
    storeParameters (*parameters, storedSet);
}

void ABState::swap()
{
    juce::XmlElement live ("Temp");
    storeParameters (*parameters, live);
    applyParameters (*parameters, storedSet, HostNotification::notify);

    storedSet.removeAllAttributes();
    for (int i = 0; i < live.getNumAttributes(); ++i)
        storedSet.setAttribute (live.getAttributeName (i), live.getAttributeValue (i));
}
