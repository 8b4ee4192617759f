#include "Editor.h"

#include "Processor.h"
#include "Resources.h"

namespace
{
namespace res = kto::resources;

juce::Image backgroundPicture()
{
    const auto& entry = res::table[res::background];
    if (entry.data == nullptr || entry.size <= 0)
        return {};
    return juce::ImageCache::getFromMemory (entry.data, entry.size);
}
} // namespace

Editor::Editor (Processor& owner)
    : juce::AudioProcessorEditor (owner),
      presetBar (&owner.abState, &owner.presetStore),
      bypassButton (owner.getParameters()[0]),
      typeSlider (owner.getParameters()[1]),
      mixSlider (owner.getParameters()[2]),
      gainSlider (owner.getParameters()[3]),
      background (backgroundPicture()),
      versionLabel ("LabelID", juce::String ("v") + JucePlugin_VersionString),
      ownerProcessor (owner)
{
    addAndMakeVisible (presetBar);
    addAndMakeVisible (bypassButton);

    typeSlider.setSliderStyle (juce::Slider::LinearBar);
    typeSlider.setVelocityBasedMode (false);
    addAndMakeVisible (typeSlider);
    addAndMakeVisible (mixSlider);
    addAndMakeVisible (gainSlider);

    versionLabel.setColour (juce::Label::textColourId, juce::Colour (0xff575757));
    addAndMakeVisible (versionLabel);

    setSize (550, 500);
}

Editor::~Editor() = default;

void Editor::paint (juce::Graphics& g)
{
    // Twice the window in picture pixels: the picture is clipped to its top 1100 x 1000 pixels
    // and drawn at half size, which fills the window exactly.
    g.drawImage (background, 0, 0, 1000, 500, 0, 0, 2000, 1000, false);
    versionLabel.setBounds (213, 34, 100, 10);
}

void Editor::resized()
{
    presetBar.setBounds (0, 0, getWidth(), getHeight());
    typeSlider.setBounds (24, 134, 166, 22);
    mixSlider.setBounds (38, 172, 135, 135);
    gainSlider.setBounds (38, 308, 135, 135);
    bypassButton.setBounds (466, 9, 71, 50);
}
