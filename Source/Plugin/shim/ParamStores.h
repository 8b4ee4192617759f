#pragma once
// TEMPORARY stand-in until the params branch lands.
#include <juce_audio_processors/juce_audio_processors.h>
inline void storeParameters (const juce::Array<juce::AudioProcessorParameter*>& ps, juce::XmlElement& e)
{
    e.removeAllAttributes();
    for (auto* p : ps)
        if (auto* w = dynamic_cast<juce::AudioProcessorParameterWithID*> (p))
            e.setAttribute (w->paramID, juce::String (double (p->getValue()), 20));
}
class ABState { public: explicit ABState (const juce::Array<juce::AudioProcessorParameter*>* p) : parameters (p) {} const juce::Array<juce::AudioProcessorParameter*>* parameters; juce::XmlElement storedSet { "AB" }; };
class PresetStore { public: PresetStore (const juce::Array<juce::AudioProcessorParameter*>* p, const juce::String&) : parameters (p) {} const juce::Array<juce::AudioProcessorParameter*>* parameters; };
