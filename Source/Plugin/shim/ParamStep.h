#pragma once
// TEMPORARY stand-in until the params branch lands.
#include <juce_audio_processors/juce_audio_processors.h>
#include <atomic>
struct ParamRange { float min, max, skew; };
namespace zmk
{
class ParamStep : public juce::AudioProcessorParameterWithID
{
public:
    ParamStep (const juce::String& id, const juce::String& nm, const juce::String& lb, int steps, float mn, float mx,
               float def, float skew)
        : AudioProcessorParameterWithID (id, nm, juce::AudioProcessorParameterWithIDAttributes().withLabel (lb)),
          value (def), range { mn, mx, skew }, defaultValue (def), numSteps (steps) {}
    float getValue() const override { return (value.load() - range.min) / (range.max - range.min); }
    void setValue (float v) override { value.store ((range.max - range.min) * v + range.min); }
    float getDefaultValue() const override { return (defaultValue - range.min) / (range.max - range.min); }
    int getNumSteps() const override { return numSteps; }
    juce::String getText (float v, int) const override { return juce::String ((range.max - range.min) * v + range.min); }
    float getValueForText (const juce::String& t) const override { return (t.getFloatValue() - range.min) / (range.max - range.min); }
    float getRealValue() const noexcept { return value.load (std::memory_order_relaxed); }
    std::atomic<float> value;
    ParamRange range;
    float defaultValue;
    int numSteps;
};
} // namespace zmk
