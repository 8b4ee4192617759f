#include "XmlText.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zmk
{
namespace
{
bool isXmlCharacter (unsigned long c) noexcept
{
    return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff) || (c >= 0xe000 && c <= 0xfffd)
           || (c >= 0x10000 && c <= 0x10ffff);
}

// Builds the element tree from expat's events. Expat keeps its own stack of open elements on the
// heap, so nothing here recurses however deep the text goes.
class TreeBuilder
{
public:
    TreeBuilder (XML_Parser p, XmlReach r) : parser (p), reach (r)
    {
        XML_SetUserData (parser, this);
        XML_SetElementHandler (parser, startElement, endElement);
        XML_SetCharacterDataHandler (parser, characters);
        XML_SetCdataSectionHandler (parser, startCdata, endCdata);
        XML_SetEntityDeclHandler (parser, entityDeclared);
        XML_SetSkippedEntityHandler (parser, entitySkipped);
    }

    std::unique_ptr<juce::XmlElement> root;
    // The outer element has been read and nothing below it is wanted.
    bool outerRead = false;

private:
    static TreeBuilder& self (void* userData) { return *static_cast<TreeBuilder*> (userData); }

    // Handlers are called from C: nothing may leave them as an exception. Expat may still deliver
    // an event or two after it has been stopped; they are ignored.
    template <typename Body>
    void guarded (Body&& body) noexcept
    {
        if (stopped)
            return;
        try
        {
            body();
        }
        catch (...)
        {
            refuse();
        }
    }

    void stop() noexcept
    {
        stopped = true;
        XML_StopParser (parser, XML_FALSE);
    }

    void refuse() noexcept
    {
        open.clear();
        root.reset();
        stop();
    }

    void flushText()
    {
        if (! inCdata && ! text.empty())
        {
            const auto content = juce::String::fromUTF8 (text.data(), (int) text.size());
            if (content.containsNonWhitespaceChars() && ! open.empty())
                open.back()->addTextElement (content);
        }
        text.clear();
    }

    static void XMLCALL startElement (void* userData, const XML_Char* name, const XML_Char** attributes)
    {
        auto& b = self (userData);
        b.guarded ([&] {
            b.flushText();
            if (b.open.size() >= (size_t) maxStoredXmlDepth)
                return b.refuse();

            auto element = std::make_unique<juce::XmlElement> (juce::String::fromUTF8 (name));
            // Only what the text says: defaults that a document type declares are not applied.
            const int specified = XML_GetSpecifiedAttributeCount (b.parser);
            for (int i = 0; i + 1 < specified; i += 2)
                element->setAttribute (juce::Identifier (juce::String::fromUTF8 (attributes[i])),
                                       juce::String::fromUTF8 (attributes[i + 1]));

            auto* raw = element.get();
            if (b.root == nullptr)
                b.root = std::move (element);
            else
                b.open.back()->addChildElement (element.release());
            b.open.push_back (raw);

            if (b.reach == XmlReach::outerElementOnly)
            {
                b.outerRead = true;
                b.stop();
            }
        });
    }

    static void XMLCALL endElement (void* userData, const XML_Char*)
    {
        auto& b = self (userData);
        b.guarded ([&] {
            b.flushText();
            b.open.pop_back();
        });
    }

    static void XMLCALL characters (void* userData, const XML_Char* s, int length)
    {
        auto& b = self (userData);
        b.guarded ([&] { b.text.append (s, (size_t) length); });
    }

    static void XMLCALL startCdata (void* userData)
    {
        auto& b = self (userData);
        b.guarded ([&] {
            b.flushText();
            b.inCdata = true;
        });
    }

    static void XMLCALL endCdata (void* userData)
    {
        auto& b = self (userData);
        b.guarded ([&] {
            b.open.back()->addTextElement (juce::String::fromUTF8 (b.text.data(), (int) b.text.size()));
            b.text.clear();
            b.inCdata = false;
        });
    }

    static void XMLCALL entityDeclared (void* userData, const XML_Char*, int, const XML_Char*, int,
                                        const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*)
    {
        auto& b = self (userData);
        b.guarded ([&] { b.refuse(); });
    }

    // A reference to an entity that only an external document type could declare.
    static void XMLCALL entitySkipped (void* userData, const XML_Char*, int)
    {
        auto& b = self (userData);
        b.guarded ([&] { b.refuse(); });
    }

    XML_Parser parser;
    XmlReach reach;
    std::vector<juce::XmlElement*> open;
    std::string text;
    bool inCdata = false;
    bool stopped = false;
};

bool startsWithUtf16Mark (const unsigned char* bytes, size_t size) noexcept
{
    return size >= 2 && ((bytes[0] == 0xff && bytes[1] == 0xfe) || (bytes[0] == 0xfe && bytes[1] == 0xff));
}

// JUCE's writer stores a control character as a reference such as "&#1;", which XML 1.0, and so
// expat, refuses: one such preset name would make the whole file unreadable. Each numeric
// reference to a character that XML cannot hold becomes one to U+FFFD. Comments, CDATA sections
// and processing instructions hold no references and are passed over. Returns nothing when the
// text has no such reference.
std::optional<std::string> withLegalReferences (std::string_view text)
{
    std::string result;
    size_t copied = 0;
    size_t i = 0;
    const auto skipPast = [&] (size_t opening, std::string_view closing) {
        const auto end = text.find (closing, i + opening);
        i = end == std::string_view::npos ? text.size() : end + closing.size();
    };
    while ((i = text.find_first_of ("<&", i)) != std::string_view::npos)
    {
        const auto rest = text.substr (i);
        const auto startsWith = [&rest] (std::string_view s) { return rest.substr (0, s.size()) == s; };
        if (startsWith ("<!--"))
            skipPast (4, "-->");
        else if (startsWith ("<![CDATA["))
            skipPast (9, "]]>");
        else if (startsWith ("<?"))
            skipPast (2, "?>");
        else if (! startsWith ("&#"))
            ++i;
        else
        {
            const bool hex = rest.size() > 2 && rest[2] == 'x';
            size_t end = hex ? 3 : 2;
            unsigned long code = 0;
            for (; end < rest.size(); ++end)
            {
                const int digit = juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) (unsigned char) rest[end]);
                if (digit < 0 || (! hex && digit > 9))
                    break;
                code = std::min (code * (hex ? 16 : 10) + (unsigned long) digit, 0x110000ul);
            }
            // A malformed reference is left for expat to refuse.
            if (end > (hex ? 3u : 2u) && end < rest.size() && rest[end] == ';' && ! isXmlCharacter (code))
            {
                result.append (text.substr (copied, i - copied));
                result += "&#xFFFD;";
                copied = i + end + 1;
            }
            i += end;
        }
    }
    if (copied == 0)
        return std::nullopt;
    result.append (text.substr (copied));
    return result;
}
} // namespace

std::unique_ptr<juce::XmlElement> parseStoredXml (const void* data, size_t numBytes, XmlReach reach)
{
    if (data == nullptr || numBytes == 0 || numBytes > (size_t) std::numeric_limits<int>::max())
        return nullptr;

    const auto* bytes = static_cast<const unsigned char*> (data);
    const bool utf16 = startsWithUtf16Mark (bytes, numBytes);
    if (! utf16)
    {
        if (const void* zero = std::memchr (bytes, 0, numBytes))
            numBytes = (size_t) (static_cast<const unsigned char*> (zero) - bytes);
        // JUCE lets white space come before the declaration; expat would not.
        if (numBytes >= 3 && juce::CharPointer_UTF8::isByteOrderMark (bytes))
        {
            bytes += 3;
            numBytes -= 3;
        }
        while (numBytes > 0 && (*bytes == ' ' || *bytes == '\t' || *bytes == '\r' || *bytes == '\n'))
        {
            ++bytes;
            --numBytes;
        }
    }
    if (numBytes == 0)
        return nullptr;

    std::optional<std::string> mended;
    if (! utf16 && (mended = withLegalReferences ({ reinterpret_cast<const char*> (bytes), numBytes })))
    {
        bytes = reinterpret_cast<const unsigned char*> (mended->data());
        numBytes = mended->size();
        if (numBytes > (size_t) std::numeric_limits<int>::max())
            return nullptr;
    }

    const XML_Parser parser = XML_ParserCreate (utf16 ? nullptr : "UTF-8");
    if (parser == nullptr)
        return nullptr;

    std::unique_ptr<juce::XmlElement> result;
    {
        TreeBuilder builder (parser, reach);
        const auto status = XML_Parse (parser, reinterpret_cast<const char*> (bytes), (int) numBytes, XML_TRUE);
        if (status == XML_STATUS_OK || builder.outerRead)
            result = std::move (builder.root);
    }
    XML_ParserFree (parser);
    return result;
}

juce::String withXmlCharactersOnly (const juce::String& text)
{
    juce::String result;
    for (const auto c : text)
        result += juce::String::charToString (isXmlCharacter ((unsigned long) c) ? c : ' ');
    return result;
}

namespace
{
constexpr int stateMagic = 0x21324356;
}

void writeStateEnvelope (const juce::XmlElement& state, juce::MemoryBlock& destData)
{
    const auto text = state.toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
    destData.reset();
    juce::MemoryOutputStream out (destData, false);
    out.writeInt (stateMagic);
    out.writeInt (static_cast<int> (text.getNumBytesAsUTF8()));
    out.write (text.toRawUTF8(), text.getNumBytesAsUTF8());
    out.writeByte (0);
}

std::unique_ptr<juce::XmlElement> readStateEnvelope (const void* data, int sizeInBytes, XmlReach reach)
{
    if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != juce::uint32 (stateMagic))
        return nullptr;
    const auto length = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));
    if (length <= 0)
        return nullptr;
    return parseStoredXml (juce::addBytesToPointer (data, 8), (size_t) juce::jmin (sizeInBytes - 8, length), reach);
}
} // namespace zmk
