#pragma once

// The X server's screen as a user sees it, and a real pointer on it: a screenshot of an area and
// a left click at a point, through the server's input-faking extension (what xdotool uses). The
// host tests need both for the plug-ins' editors, whose windows belong to the plug-ins' own
// copies of JUCE.
#include <juce_graphics/juce_graphics.h>

namespace kto::host
{
juce::Image grabScreen (juce::Rectangle<int> area);
void clickScreen (juce::Point<int> position);
} // namespace kto::host
