#pragma once

#include <juce_core/juce_core.h>

namespace zmk
{

// The text of a number in a stored parameter set (presets, A/B slot, host state): general
// notation, up to 20 significant digits, no trailing zeros ("0", "1", "0.5",
// "0.20000000298023223877"), always with a '.' whatever the C locale says. Twenty digits
// are more than a float or double needs, so reading the text back gives the same value.
juce::String decimalText (double value);

} // namespace zmk
