// Ctrl+S on files of other programs: after an edit, an insert or a delete
// the file differs from what it was only in those cues' lines (and SubRip
// counters), in its own encoding, mark and line ends; everything else of
// SubRip, SSA/ASS, WebVTT and LRC stays byte for byte.
#include <gtest/gtest.h>

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <string>

#include "app/frmmain.h"
#include "document/document.h"
#include "editor_test_util.h"
#include "engine/encoding/codepage.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

const char kAss[] =
    "[Script Info]\n"
    "; 由另一个程序写成\n"
    "Title: 测试\n"
    "ScriptType: v4.00+\n"
    "PlayResX: 1920\n"
    "PlayResY: 1080\n"
    "\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
    "MarginR, MarginV, Encoding\n"
    "Style: Default,Noto Sans CJK SC,48,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,2,1,2,"
    "10,10,20,1\n"
    "Style: Sign,Noto Serif CJK SC,40,&H0000FFFF,&H000000FF,&H00000000,&H80000000,1,0,0,0,100,100,0,0,1,2,0,8,"
    "10,10,20,1\n"
    "\n"
    "[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Comment: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,注释：不显示\n"
    "Dialogue: 0,0:00:01.00,0:00:02.50,Default,甲,0,0,0,,第一句\n"
    "Dialogue: 1,0:00:03.00,0:00:04.00,Sign,乙,12,34,56,Scroll up;10;20,第二句\\N两行\n"
    "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,第三句\n"
    "\n"
    "[Fonts]\n"
    "fontname: a_0.ttf\n"
    "M3\"1\n"
    "\n"
    "[Graphics]\n"
    "filename: logo.png\n"
    "M3\"2\n";

const char kSrt[] =
    "1\n00:00:01,000 --> 00:00:02,500\n第一句\n\n"
    "2\n00:00:03,000 --> 00:00:04,000\n<i>第二句</i>\n两行\n\n"
    "3\n00:00:05,000 --> 00:00:06,000\n第三句\n\n";

const char kVtt[] =
    "WEBVTT - 测试\n\n"
    "NOTE 这是注释\n跨两行\n\n"
    "STYLE\n::cue { color: yellow }\n\n"
    "REGION\nid:top width:40% lines:3\n\n"
    "one\n00:00:01.000 --> 00:00:02.500 line:0 position:10%\n第一句\n\n"
    "two\n00:00:03.000 --> 00:00:04.000 region:top\n第二句\n\n"
    "00:00:05.000 --> 00:00:06.000\n第三句\n";

const char kLrc[] =
    "[ti:歌名]\n[ar:歌手]\n[al:专辑]\n[by:someone]\n[offset:0]\n"
    "[00:01.00]第一句\n[00:03.00]第二句\n[00:05.00]第三句\n";

struct Case {
    const char* name;
    const char* ext;
    const char* text;
    std::function<void(doc::SubtitleDocument*)> edit;
    // The original text with these (from, to) replaced, in order.
    std::vector<std::pair<std::string, std::string>> changes;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"ass text", "ass", kAss, [](doc::SubtitleDocument* d) { d->SetText(1, "改过的第二句"); },
         {{"Scroll up;10;20,第二句\\N两行", "Scroll up;10;20,改过的第二句"}}},
        {"ass time", "ass", kAss, [](doc::SubtitleDocument* d) { d->SetEnd(0, 2750); },
         {{"0:00:01.00,0:00:02.50,Default,甲", "0:00:01.00,0:00:02.75,Default,甲"}}},
        {"ass delete", "ass", kAss, [](doc::SubtitleDocument* d) { d->Remove({2}, QStringLiteral("删除")); },
         {{"Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,第三句\n", ""}}},
        {"srt text", "srt", kSrt, [](doc::SubtitleDocument* d) { d->SetText(0, "改过"); }, {{"第一句", "改过"}}},
        {"srt delete renumbers", "srt", kSrt, [](doc::SubtitleDocument* d) { d->Remove({0}, QStringLiteral("删除")); },
         {{"1\n00:00:01,000 --> 00:00:02,500\n第一句\n\n2\n", "1\n"}, {"3\n00:00:05", "2\n00:00:05"}}},
        {"vtt time keeps settings", "vtt", kVtt, [](doc::SubtitleDocument* d) { d->SetStart(0, 1200); },
         {{"00:00:01.000 --> 00:00:02.500 line:0", "00:00:01.200 --> 00:00:02.500 line:0"}}},
        {"vtt text keeps id", "vtt", kVtt, [](doc::SubtitleDocument* d) { d->SetText(1, "改过"); },
         {{"region:top\n第二句", "region:top\n改过"}}},
        {"lrc text keeps tags", "lrc", kLrc, [](doc::SubtitleDocument* d) { d->SetText(1, "改过"); },
         {{"[00:03.00]第二句", "[00:03.00]改过"}}},
    };
    return cases;
}

struct Encoding {
    const char* name;
    std::function<QByteArray(const std::string&)> encode;
};

QByteArray Utf16Le(const std::string& text, bool mark) {
    QStringEncoder e(QStringEncoder::Utf16LE, mark ? QStringEncoder::Flag::WriteBom : QStringEncoder::Flag::Default);
    return e.encode(QString::fromStdString(text));
}

const std::vector<Encoding>& Encodings() {
    static const std::vector<Encoding> encodings = {
        {"UTF-8", [](const std::string& t) { return QByteArray::fromStdString(t); }},
        {"UTF-8 with mark", [](const std::string& t) { return QByteArray("\xEF\xBB\xBF") + QByteArray::fromStdString(t); }},
        {"GBK",
         [](const std::string& t) {
             std::string out;
             EXPECT_TRUE(EncodeCodePage(t, 936, out, true).ok);
             return QByteArray::fromStdString(out);
         }},
        {"UTF-16 LE with mark", [](const std::string& t) { return Utf16Le(t, true); }},
    };
    return encodings;
}

std::string WithCrLf(std::string text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

class Keeping : public lumeval::testing::WindowTest {
  protected:
    // Opens a file; the texts are simplified Chinese, so the character-set
    // question comes, and No keeps them as written.
    doc::SubtitleDocument* open(const QString& path) {
        OpenFile(path);
        EXPECT_EQ(0u, ui->pendingAnswers());
        doc::SubtitleDocument* d = window->Document(window->ActiveList());
        // The file is indexed on a pool thread; the document gets it soon.
        for (int i = 0; i < 500 && !d->Kept(); ++i) {
            QCoreApplication::processEvents();
            QTest::qWait(10);
        }
        return d;
    }
    QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

};

TEST_F(Keeping, AnEditChangesOnlyItsLinesInEveryEncodingAndLineEnd) {
    int n = 0;
    for (const Case& c : Cases()) {
        for (const Encoding& e : Encodings()) {
            for (const bool crlf : {false, true}) {
                SCOPED_TRACE(std::string(c.name) + ", " + e.name + (crlf ? ", CRLF" : ", LF"));
                std::string expected = c.text;
                for (const auto& [from, to] : c.changes) {
                    const std::size_t at = expected.find(from);
                    ASSERT_NE(std::string::npos, at) << from;
                    expected.replace(at, from.size(), to);
                }
                std::string original = c.text;
                if (crlf) {
                    original = WithCrLf(original);
                    expected = WithCrLf(expected);
                }
                const QString path = lumeval::testing::WriteFile(
                    dir, QStringLiteral("f%1.%2").arg(++n).arg(QString::fromLatin1(c.ext)), e.encode(original));
                doc::SubtitleDocument* d = open(path);
                ASSERT_NE(nullptr, d->Kept());
                // Unedited, a save gives the file back byte for byte.
                d->SetText(0, "临时");
                ASSERT_TRUE(d->Undo());
                ASSERT_FALSE(d->IsChanged());
                ASSERT_TRUE(window->SaveInPlace(window->ActiveList()));
                EXPECT_EQ(e.encode(original), read(path));

                c.edit(d);
                ui->clearRecords();
                ASSERT_TRUE(window->SaveInPlace(window->ActiveList()));
                EXPECT_TRUE(ui->messageBoxes().empty());
                EXPECT_TRUE(ui->fileDialogs().empty());
                const QByteArray got = read(path);
                EXPECT_EQ(e.encode(expected), got) << got.toStdString();
                EXPECT_FALSE(d->IsChanged());
            }
        }
    }
}

TEST_F(Keeping, EditsAfterASaveAndTheirUndoKeepTheFileWhole) {
    const QString path = lumeval::testing::WriteFile(dir, QStringLiteral("a.ass"), kAss);
    doc::SubtitleDocument* d = open(path);
    d->SetText(0, "一改");
    ASSERT_TRUE(window->SaveInPlace(window->ActiveList()));
    d->Insert(3, {doc::CueValue{7000, 8000, "新的一句"}}, QStringLiteral("插入"));
    d->SetText(2, "三改");
    ASSERT_TRUE(window->SaveInPlace(window->ActiveList()));
    std::string expected = kAss;
    expected.replace(expected.find("Default,甲,0,0,0,,第一句"), std::string("Default,甲,0,0,0,,第一句").size(),
                     "Default,甲,0,0,0,,一改");
    expected.replace(expected.find(",,第三句\n"), std::string(",,第三句\n").size(),
                     ",,三改\nDialogue: 0,0:00:07.00,0:00:08.00,Default,,0,0,0,,新的一句\n");
    EXPECT_EQ(QByteArray::fromStdString(expected), read(path));
    // Undo back past the first save: the file gets the original lines again.
    d->Undo();
    d->Undo();
    d->Undo();
    ASSERT_TRUE(window->SaveInPlace(window->ActiveList()));
    EXPECT_EQ(QByteArray(kAss), read(path));
}

TEST_F(Keeping, ATextTheEncodingCannotHoldAsksBeforeAnythingIsWritten) {
    std::string gbk;
    ASSERT_TRUE(EncodeCodePage(kSrt, 936, gbk, true).ok);
    const QString path = lumeval::testing::WriteFile(dir, QStringLiteral("g.srt"), QByteArray::fromStdString(gbk));
    doc::SubtitleDocument* d = open(path);
    d->SetText(0, "표정 😀");
    ui->clearRecords();
    ui->queueMessageBox(MsgResult::No);
    EXPECT_FALSE(window->SaveInPlace(window->ActiveList()));
    ASSERT_EQ(1u, ui->messageBoxes().size());
    EXPECT_TRUE(ui->messageBoxes()[0].request.Prompt.contains(QStringLiteral("UTF-8")));
    EXPECT_EQ(QByteArray::fromStdString(gbk), read(path));
    EXPECT_TRUE(d->IsChanged());

    ui->queueMessageBox(MsgResult::Yes);
    EXPECT_TRUE(window->SaveInPlace(window->ActiveList()));
    std::string expected = kSrt;
    expected.replace(expected.find("第一句"), std::string("第一句").size(), "표정 😀");
    EXPECT_EQ(QByteArray("\xEF\xBB\xBF") + QByteArray::fromStdString(expected), read(path));
    EXPECT_EQ(1, d->Encoding());
}

}  // namespace
