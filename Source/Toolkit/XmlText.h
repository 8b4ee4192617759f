#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>

namespace zmk
{
// The deepest nesting a stored document may hold, counting the root as 1. The presets file needs
// two levels (the root and one element per preset); the rest is room for hand-made structure.
// Everything that later walks the tree (copying, writing, freeing) recurses once per level, so a
// deeper document is refused while it is read, without recursion, whatever thread reads it.
inline constexpr int maxStoredXmlDepth = 32;

enum class XmlReach
{
    wholeTree,       // every element, down to maxStoredXmlDepth
    outerElementOnly // the outer element and its attributes; nothing below it is read
};

// Reads stored XML text that may come from anywhere (the presets file, the host state) with expat,
// never with JUCE's own parser: that one reads past the end of text that stops inside a multi-byte
// UTF-8 sequence or a numeric reference, loops forever on a processing instruction followed by
// text, and recurses once per nesting level until the stack overflows.
//
// The text is read as UTF-8 whatever its declaration says (as JUCE reads it), or as UTF-16 after
// a UTF-16 byte-order mark; a zero byte ends UTF-8 text. It must be well-formed up to where it is
// read. Comments and processing instructions are skipped, text runs around them join, CDATA
// sections become text elements of their own and text that is only white space is dropped, as in
// the tree JUCE builds. A document that declares entities is refused: expat 2.5.0 expands nested
// entity references recursively.
//
// A numeric reference to a character that XML cannot hold, as JUCE writes for a control character,
// reads as U+FFFD (UTF-8 text only).
//
// Returns nullptr when the text is refused or is not well-formed.
std::unique_ptr<juce::XmlElement> parseStoredXml (const void* data, size_t numBytes,
                                                  XmlReach reach = XmlReach::wholeTree);

// The text with each character that XML 1.0 cannot hold (control characters other than tab, line
// feed and carriage return; U+FFFE and U+FFFF) replaced by a space. JUCE's writer stores such a
// character as a reference that no XML reader accepts.
juce::String withXmlCharactersOnly (const juce::String& text);

// A plug-in state in the framework's binary envelope: the magic "VC2!", the text's length, the
// element on one line with no XML declaration before it, and one zero byte.
void writeStateEnvelope (const juce::XmlElement& state, juce::MemoryBlock& destData);

// The element inside such an envelope, read through parseStoredXml, or nullptr when the bytes are
// no envelope or its text is refused. A length beyond the data reads what is there.
std::unique_ptr<juce::XmlElement> readStateEnvelope (const void* data, int sizeInBytes, XmlReach reach);
} // namespace zmk
