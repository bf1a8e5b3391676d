// Crash backups in the main window: written a moment after a change, gone
// once the document is saved or back at its saved state, and offered back
// by the next window when the last one went without its user's answers.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "document/document.h"
#include "document/recovery.h"
#include "editor_test_util.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Recovery : public lumeval::testing::WindowTest {
  protected:
    void open(const QString& path) { OpenFile(path); }
    QString srt(const QString& name) {
        return lumeval::testing::WriteSrt(dir, name,
                                          {"00:00:01,000 --> 00:00:02,000\n一", "00:00:03,000 --> 00:00:04,000\n二"});
    }
    // Backups on disk under the isolated state folder, of any instance.
    int backupsOnDisk() {
        window->Recovery()->Flush();
        QCoreApplication::processEvents();
        int n = 0;
        QDir root(window->Recovery()->Root());
        for (const QString& sub : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            n += QDir(root.filePath(sub)).entryList({QStringLiteral("*.backup")}, QDir::Files).size();
        return n;
    }

};

TEST_F(Recovery, ABackupFollowsAChangeAndGoesWhenTheChangeIsUndoneOrSaved) {
    open(srt(QStringLiteral("a.srt")));
    ASSERT_TRUE(window->Recovery()->IsOpen());
    window->WriteBackups();
    EXPECT_EQ(0, backupsOnDisk());  // nothing changed yet

    doc::SubtitleDocument* d = window->Document(0);
    d->SetText(0, "改");
    // Within seconds of the change, without being asked.
    QTRY_COMPARE_WITH_TIMEOUT(backupsOnDisk(), 1, 5000);
    ASSERT_TRUE(d->Undo());
    window->WriteBackups();
    EXPECT_EQ(0, backupsOnDisk());

    d->SetText(1, "又改");
    window->WriteBackups();
    EXPECT_EQ(1, backupsOnDisk());
    ui->queueFileDialog(dir.filePath(QStringLiteral("b.srt")));
    ui->queueMessageBox(MsgResult::Ok);
    window->RunCommand(QStringLiteral("save"));
    ASSERT_FALSE(window->Changed(0));
    EXPECT_EQ(0, backupsOnDisk());
}

TEST_F(Recovery, TheNextStartOffersTheWorkBackWithItsFile) {
    open(srt(QStringLiteral("a.srt")));
    doc::SubtitleDocument* d = window->Document(0);
    d->SetText(1, "崩溃前的修改");
    d->Insert(2, {doc::CueValue{5000, 6000, "新的一行"}}, QStringLiteral("插入"));
    window->WriteBackups();
    ASSERT_EQ(1, backupsOnDisk());
    // The window goes without a close (as in a crash): its backups stay.
    window.reset();

    StartWindow();
    ui->clearRecords();
    ui->queueMessageBox(MsgResult::Yes);
    window->OfferRecovery();
    ASSERT_EQ(1u, ui->messageBoxes().size());
    EXPECT_EQ(QStringLiteral("发现上次未保存的修改，是否恢复？"), ui->messageBoxes()[0].request.Prompt);
    doc::SubtitleDocument* back = window->Document(window->ActiveList());
    ASSERT_EQ(3, back->Count());
    EXPECT_EQ("崩溃前的修改", back->Text(1));
    EXPECT_EQ("新的一行", back->Text(2));
    EXPECT_EQ(dir.filePath(QStringLiteral("a.srt")), back->Path());
    EXPECT_EQ("srt", back->Format());
    EXPECT_TRUE(back->IsChanged());
    EXPECT_EQ(QStringLiteral("a.srt* - Lumeval"), window->windowTitle());
    // Its own backup replaces the one it came from.
    EXPECT_EQ(1, backupsOnDisk());

    // Another start finds it again (this window went without a close too),
    // and No lets it go for good.
    window.reset();
    StartWindow();
    ui->clearRecords();
    ui->queueMessageBox(MsgResult::No);
    window->OfferRecovery();
    EXPECT_EQ(1u, ui->messageBoxes().size());
    EXPECT_EQ(0, backupsOnDisk());
    window.reset();
    StartWindow();
    ui->clearRecords();
    window->OfferRecovery();
    EXPECT_TRUE(ui->messageBoxes().empty());
}

TEST_F(Recovery, AClosedWindowLeavesNoBackup) {
    open(srt(QStringLiteral("a.srt")));
    window->Document(0)->SetText(0, "改");
    window->WriteBackups();
    ASSERT_EQ(1, backupsOnDisk());
    ui->queueMessageBox(MsgResult::No);  // do not save
    window->close();
    EXPECT_EQ(0, backupsOnDisk());
}

// Restored work saves in place like the document it was: the rows that
// were not changed are found in the file, so only the edited lines differ.
TEST_F(Recovery, RestoredWorkSavesInPlaceChangingOnlyItsEdits) {
    const QByteArray original =
        "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,甲,1,2,3,,第一句\n"
        "Comment: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,注释\n"
        "Dialogue: 2,0:00:03.00,0:00:04.00,Sign,乙,4,5,6,Banner;5,第二句\n";
    const QString path = lumeval::testing::WriteFile(dir, QStringLiteral("a.ass"), original);
    open(path);
    window->Document(0)->SetText(1, "改过");
    window->WriteBackups();
    ASSERT_EQ(1, backupsOnDisk());
    window.reset();

    StartWindow();
    ui->queueMessageBox(MsgResult::Yes);
    window->OfferRecovery();
    const int index = window->ActiveList();
    ASSERT_TRUE(window->Document(index)->IsChanged());
    ASSERT_TRUE(window->SaveInPlace(index));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray expected = original;
    expected.replace("Banner;5,第二句", "Banner;5,改过");
    EXPECT_EQ(expected.toStdString(), f.readAll().toStdString());
    EXPECT_EQ(0, backupsOnDisk());
}

// A large document's snapshot goes into memory made on a pool thread; the
// backup follows when it is ready, and the next one fills the same memory.
TEST_F(Recovery, ALargeDocumentsBackupIsWrittenThroughRoomMadeElsewhere) {
    QByteArray text;
    for (int i = 0; i < 30000; ++i)
        text += QByteArray::number(i + 1) + "\n00:00:" + QByteArray::number(10 + i % 40) + ",000 --> 00:00:" +
                QByteArray::number(10 + i % 40) + ",500\n第" + QByteArray::number(i) + "句\n\n";
    open(lumeval::testing::WriteFile(dir, QStringLiteral("big.srt"), text));
    doc::SubtitleDocument* d = window->Document(0);
    ASSERT_GE(d->Count(), 20000);
    for (int round = 0; round < 2; ++round) {
        d->SetText(5, round == 0 ? "一" : "二");
        window->WriteBackups();
        for (int i = 0; i < 200 && backupsOnDisk() == 0; ++i) QTest::qWait(20);
        ASSERT_EQ(1, backupsOnDisk());
        QDir root(window->Recovery()->Root());
        std::optional<doc::Backup> backup;
        for (const QString& sub : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QString& f : QDir(root.filePath(sub)).entryList({QStringLiteral("*.backup")}, QDir::Files))
                backup = doc::RecoveryStore::Read(root.filePath(sub + u'/' + f));
        ASSERT_TRUE(backup.has_value());
        ASSERT_EQ(static_cast<std::size_t>(d->Count()), backup->Count());
        EXPECT_EQ(d->Text(5), backup->Text(5));
        EXPECT_EQ(d->Text(29999), backup->Text(29999));
    }
}

}  // namespace
