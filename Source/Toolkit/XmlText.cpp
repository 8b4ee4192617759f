#include "XmlText.h"

#include <cctype>
#include <cstring>
#include <limits>

namespace zmk
{
std::unique_ptr<juce::XmlElement> parseStoredXml (const void* data, size_t numBytes)
{
    if (data == nullptr || numBytes == 0 || numBytes > (size_t) std::numeric_limits<int>::max())
        return nullptr;

    auto* text = static_cast<const char*> (data);
    auto size = (int) numBytes;
    if (size >= 3 && juce::CharPointer_UTF8::isByteOrderMark (text))
    {
        text += 3;
        size -= 3;
    }
    // The parser stops at the first zero byte; nothing after it counts.
    if (auto* zero = static_cast<const char*> (std::memchr (text, 0, (size_t) size)))
        size = (int) (zero - text);
    if (! juce::CharPointer_UTF8::isValidString (text, size))
        return nullptr;

    // Every '&' must start a complete reference ("&name;", "&#digits;", "&#xhex;"): the parser
    // steps over the character after a broken numeric one, past the end when the text stops there.
    for (int i = 0; i < size; ++i)
    {
        if (text[i] != '&')
            continue;
        int j = i + 1;
        if (j < size && text[j] == '#')
        {
            ++j;
            const bool hex = j < size && (text[j] == 'x' || text[j] == 'X');
            if (hex)
                ++j;
            const int digitsFrom = j;
            while (j < size && (hex ? juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) (unsigned char) text[j]) >= 0
                                    : (text[j] >= '0' && text[j] <= '9')))
                ++j;
            if (j == digitsFrom)
                return nullptr;
        }
        else
        {
            const int nameFrom = j;
            while (j < size && (std::isalnum ((unsigned char) text[j]) || text[j] == '_' || text[j] == '-' || text[j] == '.' || text[j] == ':'))
                ++j;
            if (j == nameFrom)
                return nullptr;
        }
        if (j >= size || text[j] != ';')
            return nullptr;
        i = j;
    }

    // Only the XML declaration may be a processing instruction, and only at the start.
    int from = 0;
    while (from < size && juce::CharacterFunctions::isWhitespace ((juce::juce_wchar) (unsigned char) text[from]))
        ++from;
    if (from + 5 <= size && std::memcmp (text + from, "<?xml", 5) == 0)
        from += 5;
    for (int i = from; i + 1 < size; ++i)
        if (text[i] == '<' && text[i + 1] == '?')
            return nullptr;

    return juce::parseXML (juce::String::fromUTF8 (text, size));
}
} // namespace zmk
