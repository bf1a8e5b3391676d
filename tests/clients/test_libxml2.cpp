// libxml2 reads what we write: the XML lyric files with its strict XML parser
// in every encoding we save (so the declaration has to tell the truth), and
// SAMI with its HTML parser, as browsers and players treat it.
#include <gtest/gtest.h>

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/entities.h"
#include "engine/subtitle.h"
#include "tests/engine/test_util.h"

namespace lumeval {
namespace {

using Cues = std::vector<std::pair<std::string, std::string>>;  // time attribute, decoded text

std::string_view name(const xmlNode* n) { return reinterpret_cast<const char*>(n->name); }

std::string attribute(xmlNode* n, const char* attr) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(attr));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

std::string content(xmlNode* n) {
    xmlChar* v = xmlNodeGetContent(n);
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

// Every error libxml2 reports while a parse runs, warnings included.
class ErrorLog {
public:
    ErrorLog() { xmlSetStructuredErrorFunc(this, &ErrorLog::record); }
    ~ErrorLog() { xmlSetStructuredErrorFunc(nullptr, nullptr); }
    ErrorLog(const ErrorLog&) = delete;
    ErrorLog& operator=(const ErrorLog&) = delete;
    const std::vector<std::string>& messages() const { return messages_; }

private:
    static void record(void* self, xmlErrorPtr e) {
        static_cast<ErrorLog*>(self)->messages_.push_back(e && e->message ? e->message : "?");
    }
    std::vector<std::string> messages_;
};

std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& m : v) s += m;
    return s;
}

const std::vector<std::string> kXmlEntries{
    "",
    "00:00:01,000->00:00:02,000|a < b & c > d",
    "00:00:03,000|你好",                            // start only
    "00:00:04,000->00:00:05,000|   ",               // blank: no line
    "00:01:02,345->00:01:04,000|中文\\N&amp; <b>",  // written as typed
};

struct KrcCase {
    const char* name;  // a test name that is not a bare number, which CTest would replace
    int32_t encoding;
    const char* declared;
};

class XmlLyricParse : public ::testing::TestWithParam<KrcCase> {};

TEST_P(XmlLyricParse, StrictParserReadsLinesAsWritten) {
    const KrcCase& c = GetParam();
    test::TempDir dir;
    const std::string path = dir.file("out.krc");
    std::vector<std::string> entries = kXmlEntries;
    SaveSettings s;
    s.s_SubtitleEncodeFormat = c.encoding;
    clsSubtitle engine;
    ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, s));

    ErrorLog log;
    xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    ASSERT_NE(nullptr, doc) << joined(log.messages());
    EXPECT_TRUE(log.messages().empty()) << joined(log.messages());
    ASSERT_NE(nullptr, doc->encoding);
    EXPECT_EQ(c.declared, std::string(reinterpret_cast<const char*>(doc->encoding)));

    Cues got;
    xmlNode* root = xmlDocGetRootElement(doc);
    ASSERT_NE(nullptr, root);
    EXPECT_EQ("Lyric", name(root));
    for (xmlNode* lines = root->children; lines; lines = lines->next) {
        if (lines->type != XML_ELEMENT_NODE || name(lines) != "lines") continue;
        for (xmlNode* line = lines->children; line; line = line->next) {
            if (line->type == XML_ELEMENT_NODE && name(line) == "line") {
                got.emplace_back(attribute(line, "begin"), content(line));
            }
        }
    }
    xmlFreeDoc(doc);
    const Cues want{{"00:01.00", "a < b & c > d"}, {"00:03.00", "你好"}, {"01:02.34", "中文 &amp; <b>"}};
    EXPECT_EQ(want, got);
}

// Only characters of GB2312 in the entries, so the ANSI file (code page 936)
// is exactly what the declaration claims.
INSTANTIATE_TEST_SUITE_P(Encodings, XmlLyricParse,
                         ::testing::Values(KrcCase{"ansi", kEncodingAnsi, "gb2312"}, KrcCase{"utf8", kEncodingUtf8, "utf-8"},
                                           KrcCase{"utf16le", kEncodingUtf16LE, "utf-16"},
                                           KrcCase{"utf16be", kEncodingUtf16BE, "utf-16"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The text a sync shows: its content without the syncs the HTML parser nests
// inside it (SAMI never closes its elements).
void syncText(xmlNode* n, std::string& out) {
    for (xmlNode* k = n->children; k; k = k->next) {
        if (k->type == XML_TEXT_NODE && k->content) out += reinterpret_cast<const char*>(k->content);
        if (k->type == XML_ELEMENT_NODE && name(k) == "br") out += '\n';
        if (k->type == XML_ELEMENT_NODE && name(k) != "sync") syncText(k, out);
    }
}

void collectSyncs(xmlNode* n, Cues& out) {
    for (; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (name(n) == "sync") {
            std::string text;
            syncText(n, text);
            while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
                text.pop_back();
            }
            out.emplace_back(attribute(n, "start"), text);
        }
        collectSyncs(n->children, out);
    }
}

TEST(SamiParse, HtmlParserDecodesSyncTexts) {
    test::TempDir dir;
    const std::string path = dir.file("out.smi");
    std::vector<std::string> entries = kXmlEntries;
    entries.push_back("00:01:10,000|<i>italic</i> & more");
    SaveSettings s;
    s.s_SubtitleEncodeFormat = kEncodingUtf8;
    clsSubtitle engine;
    ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, s));

    // SAMI names no encoding, so the reader is told, as players are told by
    // the byte-order mark.
    xmlDoc* doc = htmlReadFile(path.c_str(), "UTF-8", HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
    ASSERT_NE(nullptr, doc);
    Cues got;
    collectSyncs(xmlDocGetRootElement(doc), got);
    xmlFreeDoc(doc);
    // A clearing sync (HTML's non-breaking space) where a cue ends before
    // the next starts and after the last; the start-only cue lasts up to the
    // next entry (the blank one), the last one five seconds.
    const Cues want{
        {"1000", "a < b & c > d"},  {"2000", "\u00A0"},
        {"3000", "你好"},            {"4000", "\u00A0"},
        {"62345", "中文\n&amp;"},   {"64000", "\u00A0"},  // "<br>" breaks the line, "<b>" stays markup
        {"70000", "italic & more"}, {"75000", "\u00A0"},
    };
    EXPECT_EQ(want, got);
}

// Our names are the ones libxml2's HTML parser knows, with the same
// characters: every one it finds by character is ours, and we hold no more.
TEST(HtmlEntities, AreLibxml2sTable) {
    std::size_t found = 0;
    for (unsigned v = 1; v < 0x110000; ++v) {
        const htmlEntityDesc* e = htmlEntityValueLookup(v);
        if (e == nullptr || e->value != v) continue;
        ++found;
        EXPECT_EQ(v, HtmlEntityValue(reinterpret_cast<const char*>(e->name))) << e->name;
    }
    EXPECT_EQ(found, HtmlEntityCount());
    EXPECT_EQ(0u, HtmlEntityValue("AMP")) << "names are case-sensitive";
    EXPECT_EQ(0u, HtmlEntityValue(""));
}

}  // namespace
}  // namespace lumeval
