// Encodings in the window: the status bar names the active document's
// encoding, and a misread file opens again in the encoding the user picks.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QMenu>

#include "app/editorlogic.h"
#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "document/document.h"
#include "editor_test_util.h"
#include "engine/encoding/codepage.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Encodings : public lumeval::testing::WindowTest {
  protected:
    // A SubRip file of one cue whose text is `utf8` written in `codePage`.
    QString WriteIn(const QString& name, const std::string& utf8, int32_t codePage) {
        std::string bytes;
        EXPECT_TRUE(EncodeCodePage("1\r\n00:00:01,000 --> 00:00:02,000\r\n" + utf8 + "\r\n", codePage, bytes, true).ok);
        return lumeval::testing::WriteFile(dir, name, QByteArray::fromStdString(bytes));
    }
    QString Panel() { return window->StatusBar()->PanelText(frmMain::kEncodingPanel); }
};

}  // namespace

TEST_F(Encodings, TheStatusBarNamesTheEncodingAndHowItWasFound) {
    EXPECT_EQ(Panel(), QString());  // nothing open
    OpenFile(lumeval::testing::WriteFile(dir, QStringLiteral("u.srt"),
                                         "\xEF\xBB\xBF" "1\n00:00:01,000 --> 00:00:02,000\n\xC3\xA9t\xC3\xA9\n"));
    EXPECT_EQ(Panel(), QStringLiteral(" UTF-8（带 BOM）（检测）"));
    // ASCII-free bytes that name no page: the default one, said as such.
    OpenFile(lumeval::testing::WriteFile(dir, QStringLiteral("a.srt"), "1\n00:00:01,000 --> 00:00:02,000\n\xB0\xA1\n"));
    EXPECT_EQ(Panel(), QStringLiteral(" GBK（默认）"));
    // Each document says its own, as it becomes the active one.
    window->ListClick(0, 1);
    EXPECT_EQ(window->ActiveList(), 0);
    EXPECT_EQ(Panel(), QStringLiteral(" UTF-8（带 BOM）（检测）"));
}

TEST_F(Encodings, AMisreadFileReopensInThePickedEncodingWhichItIsSavedIn) {
    const std::string japanese = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト
    const QString path = WriteIn(QStringLiteral("j.srt"), japanese, 932);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray original = file.readAll();
    file.close();
    OpenFile(path);
    doc::SubtitleDocument* d = window->Document(0);
    ASSERT_EQ(d->Count(), 1);

    // The menu offers the encodings, before the recent files.
    QStringList names;
    for (QAction* a : window->ReopenMenu()->actions()) names << a->text();
    for (const char* name : {"UTF-8", "UTF-16 LE", "GBK", "GB18030", "BIG5", "Shift-JIS", "EUC-KR", "windows-1250",
                             "windows-1258", "ISO-8859-2", "ISO-8859-15"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(name))) << name;
    const QList<QAction*> file_ = window->Menus()[0]->actions();
    EXPECT_EQ(file_.indexOf(window->ReopenMenu()->menuAction()) + 1, file_.indexOf(window->RecentMenu()->menuAction()));

    window->ReopenWithEncoding(0, 932);
    ASSERT_EQ(d->Count(), 1);
    EXPECT_EQ(d->Text(0), japanese);
    EXPECT_EQ(d->CodePage(), 932);
    EXPECT_EQ(Panel(), QStringLiteral(" Shift-JIS（指定）"));
    EXPECT_FALSE(d->IsChanged());
    EXPECT_EQ(window->ListCount(), 1);  // the same document, not a new one

    // Saved in the picked encoding: an edit, Ctrl+S, the file in Shift-JIS.
    d->SetText(0, japanese + "!");
    ASSERT_TRUE(window->SaveInPlace(0));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(original).replace("\r\n\x83\x65\x83\x58\x83\x67\r\n", "\r\n\x83\x65\x83\x58\x83\x67!\r\n"));
}

TEST_F(Encodings, ReopeningAChangedDocumentAsksFirst) {
    const QString path = WriteIn(QStringLiteral("c.srt"), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 1251);  // Привет
    OpenFile(path);
    doc::SubtitleDocument* d = window->Document(0);
    d->SetText(0, "changed");
    ui->queueMessageBox(MsgResult::No);
    window->ReopenWithEncoding(0, 1251);
    EXPECT_EQ(ui->messageBoxes().back().request.Prompt,
              QStringLiteral("文档已修改，以其他编码重新打开将放弃这些修改。是否继续？"));
    EXPECT_EQ(d->Text(0), "changed");
    ui->queueMessageBox(MsgResult::Yes);
    window->ReopenWithEncoding(0, 1251);
    EXPECT_EQ(d->Text(0), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_FALSE(d->IsChanged());
    EXPECT_FALSE(d->CanUndo());  // the old history went with the old text
    EXPECT_EQ(Panel(), QStringLiteral(" windows-1251（指定）"));

    // A file gone meanwhile: said, and the document stays.
    QFile::remove(path);
    window->ReopenWithEncoding(1, 0);
    EXPECT_EQ(d->Count(), 1);
    EXPECT_TRUE(window->StatusBar()->PanelText(1).contains(QStringLiteral("文件已不存在")));
}

TEST_F(Encodings, TheSaveDialogOffersTheEncodingAndWritesThePickedOne) {
    OpenFile(lumeval::testing::WriteFile(dir, QStringLiteral("t.srt"),
                                         "1\n00:00:01,000 --> 00:00:02,000\n\xE7\xB9\x81\xE9\xAB\x94\n"));  // 繁體
    auto indexOf = [](const QString& name) {
        const auto& all = editor::EncodingChoices();
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i].name == name) return static_cast<int>(i) + 1;  // after "automatic"
        return -1;
    };
    const QString big5 = dir.filePath(QStringLiteral("out-big5.srt"));
    ui->queueFileDialog(big5);
    ui->queueFileChoice(indexOf(QStringLiteral("BIG5")));
    ui->queueMessageBox(MsgResult::Ok);  // the saved message, if any
    window->RunCommand(QStringLiteral("save"));
    const FileDialogRequest& shown = ui->fileDialogs().back().request;
    EXPECT_EQ(shown.ChoiceLabel, QStringLiteral("编码(&E)："));
    ASSERT_FALSE(shown.Choices.isEmpty());
    EXPECT_TRUE(shown.Choices.front().startsWith(QStringLiteral("自动")));
    QFile out(big5);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    std::string expected;
    ASSERT_TRUE(EncodeCodePage("\xE7\xB9\x81\xE9\xAB\x94", 950, expected, true).ok);
    EXPECT_TRUE(out.readAll().contains(QByteArray::fromStdString(expected)));
    EXPECT_EQ(window->Document(0)->CodePage(), 950);  // Ctrl+S keeps to it

    // A text the picked encoding cannot hold: said, and nothing written.
    window->Document(0)->SetText(0, "\xF0\x9F\x98\x80");  // an emoji
    const QString latin = dir.filePath(QStringLiteral("out-latin.srt"));
    ui->queueFileDialog(latin);
    ui->queueFileChoice(indexOf(QStringLiteral("windows-1252")));
    ui->queueMessageBox(MsgResult::Ok);
    window->RunCommand(QStringLiteral("save"));
    EXPECT_FALSE(QFile::exists(latin));
    EXPECT_TRUE(ui->messageBoxes().back().request.Prompt.contains(QStringLiteral("windows-1252")));
    EXPECT_TRUE(window->Document(0)->IsChanged());
}
