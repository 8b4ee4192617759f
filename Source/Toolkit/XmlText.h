#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace zmk
{
// Parses stored XML text (the host state, the presets file) that may come from anywhere.
// JUCE 7.0.5's parser reads past the end of text that stops inside a multi-byte UTF-8 sequence
// or inside a numeric character reference, and loops forever on a processing instruction
// followed by text inside an element. So text that is not well-formed UTF-8, that holds an '&'
// which does not start a complete reference, or a processing instruction anywhere but in the
// leading XML declaration, is refused before it reaches the parser. Nothing this program writes
// is refused. A leading UTF-8 byte-order mark is skipped. Returns nullptr when refused or when
// the text does not parse.
std::unique_ptr<juce::XmlElement> parseStoredXml (const void* data, size_t numBytes);
} // namespace zmk
