#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

// Maps a value in real units to the host's 0..1 and back, linearly or, with a skew,
// along a logarithmic curve. Nothing is clamped: values outside the range map outside 0..1.
struct ParamRange
{
    ParamRange (float minimum, float maximum, float skewExponent) noexcept;

    float toNormalised (float real) const noexcept;
    float fromNormalised (float normalised) const noexcept;

    float min;
    float max;
    float skew; // exactly 0 means linear
};

namespace zmk
{

// A host parameter that keeps its value in real units and reports a number of steps.
// The value is written by the host and the message thread and read by the audio thread
// without a lock, so it is a lock-free atomic float. It always lies inside the range: setValue
// clamps to 0..1 and ignores NaN, and getValueForText answers only within 0..1.
class ParamStep : public juce::AudioProcessorParameterWithID
{
public:
    ParamStep (const juce::String& parameterID, const juce::String& parameterName, const juce::String& parameterLabel,
               int numberOfSteps, float minimum, float maximum, float defaultRealValue, float skew);
    ~ParamStep() override = default;

    float getValue() const override;
    void setValue (float normalised) override;
    float getDefaultValue() const override;
    int getNumSteps() const override;
    juce::String getText (float normalised, int maximumStringLength) const override;
    float getValueForText (const juce::String& text) const override;

    // The real-unit value, for the audio thread: no virtual call, no lock.
    float get() const noexcept { return value.load (std::memory_order_relaxed); }

    std::atomic<float> value;
    const ParamRange range;
    const float defaultValue;
    const int numSteps;

    static_assert (std::atomic<float>::is_always_lock_free, "parameter values must be lock-free atomics");

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ParamStep)
};

} // namespace zmk
