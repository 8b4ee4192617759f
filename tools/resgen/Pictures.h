#pragma once

#include <juce_graphics/juce_graphics.h>

namespace resgen
{
// The knob's two layers: the body drawn as it stands, the pointer turned about the centre.
juce::Image paintKnobBody();
juce::Image paintKnobPointer();

// The editor's 1100 x 1003 backdrop, in picture pixels (twice the window's coordinates).
juce::Image paintBackground (const juce::Typeface::Ptr& face);
} // namespace resgen
