#include "DecimalText.h"

#include <charconv>

namespace zmk
{

juce::String decimalText (double value)
{
    // std::to_chars never consults the locale.
    char text[64];
    const auto result = std::to_chars (text, text + sizeof (text), value, std::chars_format::general, 20);
    jassert (result.ec == std::errc());
    return juce::String (text, (size_t) (result.ptr - text));
}

} // namespace zmk
