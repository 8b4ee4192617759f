// Stored XML from outside (host state, presets file) reaches JUCE's parser only when it is safe.
#include "XmlText.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
TEST (StoredXml, RefusesWhatTheParserMishandlesAndReadsWhatWeWrite)
{
    const struct Case
    {
        const char* what;
        std::string text;
        const char* tag; // nullptr: refused or unparseable
        int attributes;
    } cases[] = {
        { "what the presets file holds", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<PRESETS>\r\n  <preset1 mixID=\"0.5\" presetName=\"Hall\"/>\r\n</PRESETS>\r\n", "PRESETS", 0 },
        { "what the host state holds", "<MYPLUGINSETTINGS bypassID=\"0\" revTypeID=\"0\" mixID=\"0.5\" gainID=\"0.5\"/>", "MYPLUGINSETTINGS", 4 },
        { "a byte-order mark and leading space", "\xEF\xBB\xBF  <?xml version=\"1.0\"?><A b=\"1\"/>", "A", 1 },
        { "multi-byte names", "<A presetName=\"\xC3\xA9\x63ho \xE2\x82\xAC\"/>", "A", 1 },
        { "text ending inside a UTF-8 sequence", "<S>\xF4", nullptr, 0 },
        { "a stray continuation byte", "<S a=\"\x80\"/>", nullptr, 0 },
        // JUCE 7.0.5 never returns from this one.
        { "a processing instruction followed by text", "<a><?p?>b</a>", nullptr, 0 },
        { "a second declaration", "<?xml version=\"1.0\"?><a/><?xml version=\"1.0\"?>", nullptr, 0 },
        { "references", "<A n=\"&amp;&lt;&#233;&#xE9;&quot;\"/>", "A", 1 },
        { "text ending inside a numeric reference", "<P>x&#x", nullptr, 0 },
        { "a broken numeric reference", "<P a=\"&#;\"/>", nullptr, 0 },
        { "a bare ampersand", "<P a=\"R&B\"/>", nullptr, 0 },
        { "not XML", "hello", nullptr, 0 },
        { "nothing", "", nullptr, 0 },
        { "text after a zero byte is ignored", std::string ("<A b=\"1\"/>\0<?p?>x", 17), "A", 1 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto xml = zmk::parseStoredXml (c.text.data(), c.text.size());
        if (c.tag == nullptr)
        {
            EXPECT_EQ (xml, nullptr);
            continue;
        }
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (xml->getTagName(), c.tag);
        EXPECT_EQ (xml->getNumAttributes(), c.attributes);
    }
}
} // namespace
