#pragma once
// TEMPORARY stand-in until the look branch lands.
#include <juce_gui_basics/juce_gui_basics.h>
namespace zmk { class CustomLook : public juce::LookAndFeel_V3 {}; }
