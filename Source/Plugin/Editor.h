#pragma once

#include "ParamControls.h"
#include "StateComponent.h"

#include <juce_audio_processors/juce_audio_processors.h>

class Processor;

// The plug-in's 550 x 500 window: the background picture at half scale, the preset bar, the
// bypass toggle, the reverb-type bar, the mix and gain knobs and the version label. Everything
// it shows lives in the processor; the window keeps nothing of its own.
class Editor : public juce::AudioProcessorEditor
{
public:
    explicit Editor (Processor& owner);
    ~Editor() override;

    void paint (juce::Graphics&) override;
    void resized() override;

private:
    zmk::StateComponent presetBar;
    zmk::Toggle bypassButton;
    zmk::SliderStep typeSlider;
    zmk::SliderStep mixSlider;
    zmk::SliderStep gainSlider;
    juce::Image background;
    juce::Label versionLabel;
    Processor& ownerProcessor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Editor)
};
