// Stored XML from outside (host state, presets file): every well-formed document reads as JUCE's
// parser reads it, and what that parser mishandles is refused or read safely.
#include "XmlText.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
std::string nested (int depth)
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<a>";
    for (int i = 0; i < depth; ++i)
        text += "</a>";
    return text;
}

TEST (StoredXml, ReadsWellFormedTextAsJuceDoesAndRefusesTheRest)
{
    constexpr const char* asJuce = "as JUCE";
    constexpr auto whole = zmk::XmlReach::wholeTree;
    constexpr auto outer = zmk::XmlReach::outerElementOnly;
    const struct Case
    {
        const char* what;
        std::string text;
        const char* tree; // nullptr: refused; asJuce: the tree JUCE's parser builds; else that tree
        zmk::XmlReach reach = whole;
    } cases[] = {
        { "what the presets file holds", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<PRESETS>\r\n  <preset1 mixID=\"0.5\" presetName=\"Hall\"/>\r\n</PRESETS>\r\n", asJuce },
        { "what the host state holds", "<MYPLUGINSETTINGS bypassID=\"0\" revTypeID=\"0\" mixID=\"0.5\" gainID=\"0.5\"/>", asJuce, outer },
        { "a byte-order mark and leading space", "\xEF\xBB\xBF  <?xml version=\"1.0\"?><A b=\"1\"/>", "<A b=\"1\"/>" },
        { "multi-byte text", "<A presetName=\"\xC3\xA9\x63ho \xE2\x82\xAC\"/>", asJuce },
        { "references", "<A n=\"&amp;&lt;&#233;&#xE9;&quot;\"/>", asJuce },
        { "a comment holding an ampersand", "<P><!-- R&B --><p1 presetName=\"mine\"/></P>", asJuce },
        { "a comment inside text", "<P>x<!-- c -->y<q/></P>", asJuce },
        { "CDATA holding an ampersand", "<P> <![CDATA[R&B <x>]]> <p1/></P>", asJuce },
        { "a stylesheet instruction", "<?xml version=\"1.0\"?>\n<?xml-stylesheet href=\"a.xsl\"?>\n<P><p1 a=\"1\"/></P>", asJuce },
        { "a document type without entities", "<!DOCTYPE P><P><p1/></P>", asJuce },
        { "the deepest nesting kept", nested (zmk::maxStoredXmlDepth), asJuce },
        { "text after a zero byte is ignored", std::string ("<A b=\"1\"/>\0<?p?>x", 17), "<A b=\"1\"/>" },
        // JUCE 7.0.5 never returns from this one.
        { "a processing instruction followed by text", "<a><?p?>b</a>", "<a>b</a>" },
        { "UTF-16 after its byte-order mark", std::string ("\xFF\xFE<\0A\0 \0b\0=\0'\0\xE9\0'\0/\0>\0", 22), "<A b=\"&#233;\"/>" },
        { "references to characters XML cannot hold, as JUCE writes them",
          "<P a=\"x&#1;y&#x0;&#xD800;&#65534;&#99999999999;&#9;\">&#31;<!-- &#1; --><![CDATA[&#1;]]></P>",
          "<P a=\"x&#65533;y&#65533;&#65533;&#65533;&#65533;&#9;\">&#65533;&amp;#1;</P>" },
        { "only the outer element of the state", "<S mixID=\"1\"><x><unclosed>", "<S mixID=\"1\"/>", outer },
        { "one level too deep", nested (zmk::maxStoredXmlDepth + 1), nullptr },
        { "entities declared", "<!DOCTYPE P [<!ENTITY e \"&#60;q/&#62;\">]><P>&e;</P>", nullptr },
        { "an entity no one declared", "<!DOCTYPE P SYSTEM \"p.dtd\"><P>&e;</P>", nullptr },
        { "text ending inside a UTF-8 sequence", "<S>\xF4", nullptr },
        { "a stray continuation byte", "<S a=\"\x80\"/>", nullptr },
        { "a second declaration", "<?xml version=\"1.0\"?><a/><?xml version=\"1.0\"?>", nullptr },
        { "text ending inside a numeric reference", "<P>x&#x", nullptr },
        { "a broken numeric reference", "<P a=\"&#;\"/>", nullptr },
        { "a bare ampersand", "<P a=\"R&B\"/>", nullptr },
        { "a second root", "<P/><Q/>", nullptr },
        { "an unclosed element", "<P><p1/>", nullptr },
        { "an unfinished outer tag", "<S mixID=\"1\"", nullptr, outer },
        { "not XML", "hello", nullptr },
        { "nothing", "", nullptr },
    };
    const auto format = juce::XmlElement::TextFormat().singleLine().withoutHeader();
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto xml = zmk::parseStoredXml (c.text.data(), c.text.size(), c.reach);
        if (c.tree == nullptr)
        {
            EXPECT_EQ (xml, nullptr);
            continue;
        }
        ASSERT_NE (xml, nullptr);
        auto expected = juce::String::fromUTF8 (c.tree);
        if (c.tree == asJuce)
        {
            const auto juceTree = juce::parseXML (juce::String::fromUTF8 (c.text.data(), (int) c.text.size()));
            ASSERT_NE (juceTree, nullptr);
            expected = juceTree->toString (format);
        }
        EXPECT_EQ (xml->toString (format), expected);
    }
}
} // namespace
