#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

using ParameterList = juce::Array<juce::AudioProcessorParameter*>;

// Writes the live values into element: its attributes are replaced by one attribute per
// parameter that has an id, in list order, named by the id and holding the normalised value
// as decimal text (zmk::decimalText). Child elements are left alone.
void storeParameters (const ParameterList& parameters, juce::XmlElement& element);

enum class HostNotification { notify, silent };

// Sets every parameter that has an id from the attribute of that name. A missing attribute,
// or one whose value is not a finite float, leaves the parameter at its own value (it is
// still set, so with notification the host hears of every parameter). Values are clamped to
// 0..1; attributes that name no parameter are ignored.
void applyParameters (const ParameterList& parameters, const juce::XmlElement& element,
                      HostNotification notification);

// The A/B compare slot: one stored parameter set.
class ABState
{
public:
    explicit ABState (const ParameterList& processorParameters);

    // Exchanges the live values with the stored set. The first swap stores the live set and
    // leaves the values as they are, yet every parameter is set with host notification.
    void swap();

    const ParameterList* parameters;
    juce::XmlElement storedSet { "AB" };
};
