#pragma once

#include "ParameterSets.h"
#include "PresetStore.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace zmk
{
// The preset list box: it tells its listener just before it opens, so the list can be read
// again from the presets file each time.
class ComboBoxWithRefreshOnClick : public juce::ComboBox,
                                   public juce::ChangeBroadcaster
{
public:
    ComboBoxWithRefreshOnClick (const juce::String& boxName, juce::ChangeListener* listener);
    ~ComboBoxWithRefreshOnClick() override;

    void showPopup() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ComboBoxWithRefreshOnClick)
};

// The preset bar: A/B compare, copy to the A/B slot, save, the preset list and delete. A
// transparent component over the whole editor that lays out its own row. It only points at the
// stores, which belong to the processor and so outlive every editor.
class StateComponent : public juce::Component,
                       public juce::Button::Listener,
                       public juce::ComboBox::Listener,
                       public juce::ChangeListener
{
public:
    StateComponent (ABState* abStateToUse, PresetStore* presetStoreToUse);
    ~StateComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;
    void comboBoxChanged (juce::ComboBox*) override;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;

    // Rebuilds the list from the presets file; nothing stays selected.
    void refreshPresetList();
    // Asks for a name in a modal dialog and saves the live values under it.
    void askAndSavePreset();

private:
    // After a save or delete: where an unreadable presets file was kept before it was replaced.
    void tellOfKeptAside();

    ABState* abState;
    PresetStore* presetStore;
    juce::TextButton abButton { "A-B" };
    juce::TextButton copyButton { "Copy" };
    ComboBoxWithRefreshOnClick presetBox { "PresetBoxID", this };
    juce::TextButton saveButton { "Save" };
    juce::TextButton deleteButton { "Delete" };
    // The save dialog while its modal loop runs, so that a bar going away can end it.
    juce::Component::SafePointer<juce::AlertWindow> openDialog;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (StateComponent)
};
} // namespace zmk
