#include "StateComponent.h"

namespace zmk
{
namespace
{
constexpr int okResult = 0;
constexpr int cancelResult = 1;
constexpr int rowTop = 77;
constexpr int rowHeight = 22;
constexpr int margin = 20;
constexpr int buttonWidth = 55;
constexpr int gap = 5;
constexpr int boxWidth = 220;

juce::Button* findButton (juce::Component& parent, const juce::String& name)
{
    for (auto* child : parent.getChildren())
        if (auto* b = dynamic_cast<juce::Button*> (child); b != nullptr && b->getName() == name)
            return b;
    return nullptr;
}

// A message with one OK button. It owns itself, so it may outlive the editor.
void tell (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& message)
{
    auto* alert = new juce::AlertWindow (title, message, icon);
    alert->addButton ("OK", okResult, juce::KeyPress (juce::KeyPress::returnKey), juce::KeyPress (juce::KeyPress::escapeKey));
    alert->setDescription (message); // what screen readers announce
    alert->enterModalState (true, nullptr, true);
}
} // namespace

ComboBoxWithRefreshOnClick::ComboBoxWithRefreshOnClick (const juce::String& boxName, juce::ChangeListener* listener)
    : juce::ComboBox (boxName)
{
    addChangeListener (listener);
}

ComboBoxWithRefreshOnClick::~ComboBoxWithRefreshOnClick() = default;

void ComboBoxWithRefreshOnClick::showPopup()
{
    sendSynchronousChangeMessage();
    juce::ComboBox::showPopup();
}

StateComponent::StateComponent (ABState* abStateToUse, PresetStore* presetStoreToUse)
    : abState (abStateToUse), presetStore (presetStoreToUse)
{
    addAndMakeVisible (abButton);
    addAndMakeVisible (copyButton);
    abButton.addListener (this);
    copyButton.addListener (this);

    addAndMakeVisible (presetBox);
    presetBox.setTextWhenNothingSelected ("Load preset...");

    refreshPresetList();
    const int current = presetStore->getCurrentIndex();
    if (current >= 1 && current <= presetStore->getNumPresets())
        presetBox.setSelectedId (current, juce::dontSendNotification);

    // Only now, so that neither the refresh nor the selection above loads a preset.
    presetBox.addListener (this);

    addAndMakeVisible (saveButton);
    addAndMakeVisible (deleteButton);
    saveButton.addListener (this);
    deleteButton.addListener (this);
}

StateComponent::~StateComponent()
{
    // The dialog's loop runs further up this thread's stack; end it, so that it returns to a
    // caller that sees this bar gone instead of waiting for a user who closed the window.
    if (openDialog != nullptr)
        openDialog->exitModalState (cancelResult);
}

void StateComponent::paint (juce::Graphics&) {}

void StateComponent::resized()
{
    auto row = getLocalBounds();
    row.removeFromTop (juce::jmin (rowTop, row.getHeight()));
    row = row.removeFromTop (rowHeight);
    row.removeFromLeft (margin);
    row.removeFromRight (margin);

    abButton.setBounds (row.removeFromLeft (buttonWidth));
    row.removeFromLeft (gap);
    copyButton.setBounds (row.removeFromLeft (buttonWidth));

    deleteButton.setBounds (row.removeFromRight (buttonWidth));
    row.removeFromRight (gap);
    presetBox.setBounds (row.removeFromRight (boxWidth));
    row.removeFromRight (gap);
    saveButton.setBounds (row.removeFromRight (buttonWidth));
}

void StateComponent::buttonClicked (juce::Button* button)
{
    if (button == &abButton)
        abState->swap();
    if (button == &copyButton)
        storeParameters (*abState->parameters, abState->storedSet);
    if (button == &saveButton)
        askAndSavePreset();
    if (button == &deleteButton)
    {
        if (presetStore->deleteCurrentPreset())
            tellOfKeptAside();
        else
            tell (juce::MessageBoxIconType::WarningIcon, "Preset not deleted",
                  "The preset could not be deleted from\n" + presetStore->getPresetFile().getFullPathName());
        refreshPresetList();
    }
}

void StateComponent::tellOfKeptAside()
{
    const auto& keptAside = presetStore->getKeptAside();
    if (keptAside.existsAsFile())
        tell (juce::MessageBoxIconType::InfoIcon, "Presets file replaced",
              "The presets file could not be read. It was kept as\n" + keptAside.getFullPathName()
                  + "\nand a new one was written.");
}

void StateComponent::comboBoxChanged (juce::ComboBox*)
{
    presetStore->loadPreset (presetBox.getSelectedId());
}

void StateComponent::changeListenerCallback (juce::ChangeBroadcaster*)
{
    refreshPresetList();
}

void StateComponent::refreshPresetList()
{
    presetBox.clear (juce::sendNotificationAsync);

    const auto names = presetStore->getPresetNames();
    for (int i = 0; i < names.size(); ++i)
        presetBox.addItem (names[i], i + 1);

    // What is listed then is what was read before, or nothing; saving keeps the file aside.
    if (presetStore->isFileUnreadable())
        presetBox.getRootMenu()->addItem (names.size() + 1, "Presets file could not be read", false, false);
    else if (names.isEmpty())
        presetBox.getRootMenu()->addItem (1, "No presets", false, false);
}

void StateComponent::askAndSavePreset()
{
    juce::AlertWindow dialog ("Save preset...", {}, juce::MessageBoxIconType::NoIcon, nullptr);
    dialog.addTextEditor ("presetEditorID", "Enter preset name", {}, false);
    dialog.addButton ("OK", okResult, juce::KeyPress (juce::KeyPress::returnKey));
    dialog.addButton ("Cancel", cancelResult, juce::KeyPress (juce::KeyPress::escapeKey));
    // JUCE puts its buttons first in the focus order, so the first button would take the keys
    // typed as the name. The name field goes first, and selects its text when it gets the focus.
    dialog.getTextEditor ("presetEditorID")->setExplicitFocusOrder (1);
    for (auto* child : dialog.getChildren())
        if (dynamic_cast<juce::Button*> (child) != nullptr)
            child->setExplicitFocusOrder (2);

    // The loop also returns 0 when it is cut short (the application quits, or cancels every
    // modal component on its way out); only the OK button, or its key, confirms the save.
    bool confirmed = false;
    if (auto* ok = findButton (dialog, "OK"))
        ok->onClick = [&confirmed, &dialog] {
            confirmed = true;
            dialog.exitModalState (okResult);
        };

    const SafePointer<StateComponent> self (this);
    openDialog = &dialog;
    const int result = dialog.runModalLoop();

    // The host may have closed the editor, and destroyed the plug-in with its stores, while the
    // dialog was open: then nothing here may be touched.
    if (self == nullptr)
        return;
    openDialog = nullptr;

    if (result != okResult || ! confirmed)
        return;

    const auto name = dialog.getTextEditorContents ("presetEditorID");
    if (! presetStore->savePreset (name))
    {
        // Leave the list, the selection and the values as they were, and say so.
        tell (juce::MessageBoxIconType::WarningIcon, "Preset not saved",
              "The preset could not be saved to\n" + presetStore->getPresetFile().getFullPathName());
        return;
    }

    tellOfKeptAside();
    refreshPresetList();
    presetBox.setSelectedId (presetStore->getNumPresets(), juce::sendNotificationAsync);
}
} // namespace zmk
