#include "ParameterSets.h"

#include "DecimalText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace
{
// The attribute's leading number as a float: 0 when the text starts with no number, nothing
// when there is no attribute or the number is not a finite float. JUCE's own reader
// (getDoubleAttribute) overflows an int on a long exponent such as "0e3103333333", and a double
// beyond the float range cannot be narrowed, so the text is read here.
std::optional<float> attributeNumber (const juce::XmlElement& element, const juce::String& name)
{
    if (! element.hasAttribute (name))
        return std::nullopt;
    const auto text = element.getStringAttribute (name).trimStart();
    const char* begin = text.toRawUTF8();
    const char* end = begin + std::strlen (begin);
    if (begin != end && *begin == '+' && (begin + 1 == end || begin[1] != '-'))
        ++begin;
    double value = 0.0;
    const auto [next, error] = std::from_chars (begin, end, value);
    if (error == std::errc::invalid_argument)
        return 0.0f;
    if (error != std::errc() || ! std::isfinite (value) || std::abs (value) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float> (value);
}
} // namespace

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
        // A hand-edited "nan", "inf" or 1e300 would poison the audio road; keep the value instead.
        // An out-of-range number is clamped here too, so the host hears the value that holds.
        const float value = juce::jlimit (0.0f, 1.0f, attributeNumber (element, withId->paramID).value_or (current));

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
