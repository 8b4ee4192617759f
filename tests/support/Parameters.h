#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace ktotest
{
// The parameter of that name (other than except), or null: hosts and wrappers order the list
// their own way, so tests look parameters up by name.
inline juce::AudioProcessorParameter* parameterNamed (const juce::AudioProcessor& processor, const juce::String& name,
                                                      const juce::AudioProcessorParameter* except = nullptr)
{
    for (auto* param : processor.getParameters())
        if (param != except && param->getName (256) == name)
            return param;
    return nullptr;
}
} // namespace ktotest
