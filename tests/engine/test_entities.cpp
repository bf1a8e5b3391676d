// Entity decoding for the tag-based readers, escaping for their writers.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>

#include "engine/entities.h"

namespace lumeval {
namespace {

struct Case {
    const char* name;
    std::string in;
    std::string out;
};

TEST(DecodeEntities, NamedNumericAndMalformed) {
    const Case cases[] = {
        {"no ampersand", "plain 你好", "plain 你好"},
        {"markup characters", "&amp; &lt; &gt; &quot;", "& < > \""},
        {"accented letter", "caf&eacute;", "café"},
        {"names are case-sensitive", "&Eacute;&eacute;", "Éé"},
        {"ellipsis", "wait&hellip;", "wait…"},
        {"non-breaking space is a plain space", "a&nbsp;b", "a b"},
        {"decimal with a leading zero", "It&#039;s", "It's"},
        {"decimal", "&#39;&#20320;", "'你"},
        {"hex, either x", "&#x27;&#X27;&#x4F60;", "''你"},
        {"beyond the BMP", "&#x1F600;&#128512;", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},
        {"highest code point", "&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
        {"encoded ampersand is not decoded twice", "&amp;lt;", "&lt;"},
        {"lone ampersand", "&", "&"},
        {"empty name", "&;", "&;"},
        {"numeric without digits", "&#;", "&#;"},
        {"hex without hex digits", "&#xZZ;", "&#xZZ;"},
        {"decimal does not take hex digits", "&#1a;", "&#1a;"},
        {"unknown name", "&unknownname;", "&unknownname;"},
        {"name without semicolon", "&amp and", "&amp and"},
        {"ampersand and semicolon apart", "a & b; c", "a & b; c"},
        {"text between ampersand and semicolon", "Tom & Jerry; fun", "Tom & Jerry; fun"},
        {"past Unicode", "&#1114112;", "&#1114112;"},
        {"huge number", "&#99999999999999999999;", "&#99999999999999999999;"},
        {"surrogate", "&#55296;", "&#55296;"},
        {"zero", "&#0;&#x0;", "&#0;&#x0;"},
        {"bad entity then good one", "&bad &amp;", "&bad &"},
        {"long name", "&" + std::string(200, 'a') + ";", "&" + std::string(200, 'a') + ";"},
        {"invalid UTF-8 around entities", "\xFF&amp;\xC3&#\xFE;\x80", "\xFF&\xC3&#\xFE;\x80"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.out, DecodeEntities(c.in)) << c.name;
}

TEST(DecodeEntities, ArbitraryBytesNeverGrow) {
    // Pieces that often form entities, broken ones and invalid UTF-8 mixed;
    // every entity is longer than its UTF-8, so the text can only shrink.
    const char* pieces[] = {"&", "#", "x", "X", "0", "9", "F", "lt", "amp", "nbsp", ";", "\xFF", "\xC3", " "};
    uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        std::string bytes;
        for (int i = 0; i < 64; ++i) {
            seed = seed * 1103515245u + 12345u;
            bytes += pieces[(seed >> 16) % std::size(pieces)];
        }
        EXPECT_LE(DecodeEntities(bytes).size(), bytes.size()) << bytes;
    }
}

TEST(StripMarkupKeepEntities, TagsGoThenEntitiesAreDecoded) {
    const Case cases[] = {
        {"tags removed", "<font color=\"red\">Hi</font> {\\an8}there", "Hi there"},
        {"escaped tag survives as text", "&lt;b&gt;bold&lt;/b&gt;", "<b>bold</b>"},
        {"entities inside removed tags go with them", "<i title=\"&amp;\">x</i>&amp;", "x&"},
        {"text between & and ; is kept", "Tom & Jerry; fun", "Tom & Jerry; fun"},
        {"nbsp alone is one space", "&nbsp;", " "},
        {"mixed", "<P Class=ENCC>It&#039;s &amp; caf&eacute;", "It's & café"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.out, StripMarkupKeepEntities(c.in)) << c.name;
}

TEST(AppendXmlEscaped, MarkupCharactersEscaped) {
    const Case cases[] = {
        {"nothing to escape", "你好 \"quoted\" 'x'", "你好 \"quoted\" 'x'"},
        {"all three", "a < b & c > d", "a &lt; b &amp; c &gt; d"},
        {"tags are text here", "<b>&amp;</b>", "&lt;b&gt;&amp;amp;&lt;/b&gt;"},
    };
    for (const auto& c : cases) {
        std::string out = "prefix:";
        AppendXmlEscaped(out, c.in);
        EXPECT_EQ("prefix:" + c.out, out) << c.name;
    }
}

TEST(AppendSamiEscaped, TagsKeptEverythingElseEscaped) {
    const Case cases[] = {
        {"tags around escaped text", "<i>a</i> & b < c > d", "<i>a</i> &amp; b &lt; c &gt; d"},
        {"tag with attributes", "<font color=\"red\">x</font>", "<font color=\"red\">x</font>"},
        {"less-than before a letter without a close", "a<b", "a&lt;b"},
        {"less-than before a digit", "<3", "&lt;3"},
        {"a second < before the close", "<a <b>", "&lt;a <b>"},
        {"slash without a letter", "</ 1>", "&lt;/ 1&gt;"},
        {"empty brackets", "<>", "&lt;&gt;"},
        {"entity text is escaped", "&amp; &nbsp;", "&amp;amp; &amp;nbsp;"},
        {"non-ASCII letter does not open a tag", "<你>", "&lt;你&gt;"},
        {"lone less-than at the end", "end <", "end &lt;"},
    };
    for (const auto& c : cases) {
        std::string out;
        AppendSamiEscaped(out, c.in);
        EXPECT_EQ(c.out, out) << c.name;
    }
}

}  // namespace
}  // namespace lumeval
