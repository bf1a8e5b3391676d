// Documents of the main window over their whole life: the question before
// changed rows are thrown away, the save's encoding, loads that are
// cancelled or interrupted by other commands, the layout of several lists,
// closing, and a real sample shifted and saved in every save format.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/frmmain.h"
#include "app/modregistry.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "editor_test_util.h"
#include "engine/subtitle.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

const QString kSaveQuestion = QStringLiteral("是否保存对文件的修改？");

class Documents : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        lumeval::testing::IsolateSettings(dir);
        makeWindow();
    }
    void makeWindow() {
        ui = std::make_shared<ScriptedSystemUi>();
        frmMainOptions options;
        options.systemUi = ui;
        window = std::make_unique<frmMain>(std::move(options));
    }
    QString write(const QString& name, const QByteArray& bytes) {
        return lumeval::testing::WriteFile(dir, name, bytes);
    }
    QString srt(const QString& name, std::initializer_list<const char*> cues) {
        return lumeval::testing::WriteSrt(dir, name, cues);
    }
    // A file long enough that the engine yields to the window while reading.
    QString bigSrt(const QString& name, int cues) {
        QByteArray text;
        for (int i = 0; i < cues; ++i) {
            const QByteArray t = QByteArray::number(i);
            text += t + "\n00:00:01,000 --> 00:00:02,000\nline " + t + "\n\n";
        }
        return write(name, text);
    }
    void open(const QString& path, MsgResult answer = MsgResult::No) {
        ui->queueMessageBox(answer);
        window->OpenSubtitle(path);
    }
    int questionsAsked() const {
        int n = 0;
        for (const auto& b : ui->messageBoxes()) n += b.request.Prompt == kSaveQuestion ? 1 : 0;
        return n;
    }
    QString lastMessage() { return ui->messageBoxes().empty() ? QString() : ui->messageBoxes().back().request.Prompt; }
    ctlListView* list(int i) { return window->List(i); }
    QByteArray readAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Runs `action` once, from inside the next pending-message round of a run.
    void duringRun(std::function<void()> action) {
        QTimer::singleShot(0, window.get(), std::move(action));
    }

    QTemporaryDir dir;
    std::shared_ptr<ScriptedSystemUi> ui;
    std::unique_ptr<frmMain> window;
};

const char* kCue1 = "00:00:01,000 --> 00:00:02,000\none";
const char* kCue2 = "00:00:03,000 --> 00:00:04,000\ntwo";

}  // namespace

// ---- the changed flag and the question -----------------------------------

TEST_F(Documents, EveryRowChangeSetsTheFlagAndOpenAndSaveClearIt) {
    const QString a = srt(QStringLiteral("a.srt"), {kCue1, "00:00:03,000 --> 00:00:04,000\n{\\i1}two"});
    open(a);
    EXPECT_FALSE(window->Changed(0));

    struct Step {
        const char* what;
        std::function<void()> act;
    };
    const std::vector<Step> steps = {
        {"time offset", [&] { window->RunCommand(QStringLiteral("timeoffsetall1000")); }},
        {"header shift", [&] { ui->queueMenuItem(QStringLiteral("增加1秒")); window->ColumnClick(0, 1); }},
        {"clear styles", [&] { ui->queueMenuItem(QStringLiteral("清除样式")); window->ListClick(0, 2); }},
        {"delete", [&] { list(0)->SetItemSelected(0, true); ui->queueMenuItem(QStringLiteral("删除")); window->ListClick(0, 2); }},
        {"clear", [&] { ui->queueMenuItem(QStringLiteral("清除")); window->ListClick(0, 2); }},
    };
    for (const Step& step : steps) {
        // A fresh document for each change.
        ui->queueMenuItem(QStringLiteral("关闭全部"));
        ui->queueMessageBox(MsgResult::No);
        window->ListClick(0, 2);
        open(a);
        ASSERT_FALSE(window->Changed(0)) << step.what;
        step.act();
        EXPECT_TRUE(window->Changed(0)) << step.what;
    }

    // Commands that change nothing leave the flag alone.
    ui->queueMenuItem(QStringLiteral("关闭全部"));
    ui->queueMessageBox(MsgResult::No);
    window->ListClick(0, 2);
    open(a);
    window->RunCommand(QStringLiteral("timeoffsetall0"));
    ui->queueInput(QStringLiteral("one"));
    window->RunCommand(QStringLiteral("findall"));
    list(0)->SetItemIndex(0);
    ui->queueMenuItem(QStringLiteral("复制文本"));
    window->ListClick(0, 2);
    EXPECT_FALSE(window->Changed(0));

    // A save clears it.
    window->RunCommand(QStringLiteral("timeoffsetall1"));
    ASSERT_TRUE(window->Changed(0));
    ui->queueFileDialog(dir.filePath(QStringLiteral("saved.srt")));
    window->RunCommand(QStringLiteral("save"));
    EXPECT_FALSE(window->Changed(0));
}

TEST_F(Documents, CloseAllAsksForEachChangedDocumentAndCancelStops) {
    open(srt(QStringLiteral("a.srt"), {kCue1}));
    open(srt(QStringLiteral("b.srt"), {kCue2}));
    open(srt(QStringLiteral("c.srt"), {kCue2}));  // unchanged: never asked about
    window->ListClick(0, 1);
    window->RunCommand(QStringLiteral("timeoffsetall1000"));
    window->ListClick(1, 1);
    window->RunCommand(QStringLiteral("timeoffsetall1000"));
    ui->clearRecords();

    // No for the first, Cancel for the second: nothing is closed.
    ui->queueMenuItem(QStringLiteral("关闭全部"));
    ui->queueMessageBox(MsgResult::No);
    ui->queueMessageBox(MsgResult::Cancel);
    window->ListClick(2, 2);
    EXPECT_EQ(questionsAsked(), 2);
    EXPECT_EQ(ui->messageBoxes()[0].request.Buttons, MsgButtons::YesNoCancel);
    EXPECT_EQ(ui->messageBoxes()[0].request.Title, QStringLiteral("a.srt"));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(list(i)->isHidden()) << i;

    // Yes saves that document as "save" does, then the rest closes.
    const QString saved = dir.filePath(QStringLiteral("b-saved.srt"));
    ui->clearRecords();
    ui->queueMenuItem(QStringLiteral("关闭全部"));
    ui->queueMessageBox(MsgResult::No);
    ui->queueMessageBox(MsgResult::Yes);
    ui->queueFileDialog(saved);
    window->ListClick(2, 2);
    EXPECT_EQ(questionsAsked(), 2);
    EXPECT_TRUE(readAll(saved).contains("00:00:04,000 --> 00:00:05,000"));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(list(i)->isHidden()) << i;
}

TEST_F(Documents, YesWithACancelledSaveDialogKeepsTheDocument) {
    open(srt(QStringLiteral("a.srt"), {kCue1}));
    window->RunCommand(QStringLiteral("timeoffsetall1000"));
    ui->queueMenuItem(QStringLiteral("关闭"));
    ui->queueMessageBox(MsgResult::Yes);
    ui->queueFileDialog(QString());  // the save dialog is cancelled
    window->ListClick(0, 2);
    EXPECT_FALSE(list(0)->isHidden());
    EXPECT_EQ(list(0)->Count(), 1);
    EXPECT_TRUE(window->Changed(0));
}

TEST_F(Documents, UnchangedDocumentsCloseWithoutAQuestion) {
    open(srt(QStringLiteral("a.srt"), {kCue1}));
    ui->clearRecords();
    ui->queueMenuItem(QStringLiteral("关闭"));
    window->ListClick(0, 2);
    EXPECT_TRUE(list(0)->isHidden());
    EXPECT_TRUE(ui->messageBoxes().empty());
}

TEST_F(Documents, ClosingTheWindowAsksAndCancelKeepsItOpen) {
    open(srt(QStringLiteral("a.srt"), {kCue1}));
    window->RunCommand(QStringLiteral("timeoffsetall1000"));
    window->show();
    ui->queueMessageBox(MsgResult::Cancel);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(window->DirectShow(), nullptr);  // not unloaded

    ui->queueMessageBox(MsgResult::Cancel);
    window->RunCommand(QStringLiteral("exit"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(questionsAsked(), 2);

    ui->queueMessageBox(MsgResult::No);
    window->RunCommand(QStringLiteral("exit"));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->DirectShow(), nullptr);  // unloaded
}

TEST_F(Documents, InitSettingAsksAboutChangesAndCancelKeepsTheSettings) {
    modRegistry::WriteSetting(QStringLiteral("WindowWidth"), QStringLiteral("9000"));
    open(srt(QStringLiteral("a.srt"), {kCue1}));
    window->RunCommand(QStringLiteral("timeoffsetall1000"));
    ui->queueMessageBox(MsgResult::Yes);     // reset the settings?
    ui->queueMessageBox(MsgResult::Cancel);  // save the changes?
    window->RunCommand(QStringLiteral("initsetting"));
    EXPECT_TRUE(window->SaveWindowPlacement());
    EXPECT_EQ(modRegistry::ReadSetting(QStringLiteral("WindowWidth"), {}), QStringLiteral("9000"));

    window->show();
    ui->queueMessageBox(MsgResult::Yes);
    ui->queueMessageBox(MsgResult::No);
    window->RunCommand(QStringLiteral("initsetting"));
    EXPECT_EQ(questionsAsked(), 2);  // asked once each time, not again by the close
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(modRegistry::ReadSetting(QStringLiteral("WindowWidth"), {}).isEmpty());
}

// ---- the save's encoding ---------------------------------------------------

TEST_F(Documents, SaveIsAnsiWhenEveryRowFitsAndUtf8WithItsMarkOtherwise) {
    struct Case {
        const char* name;
        const char* text;
        bool ansi;
    };
    const Case cases[] = {
        {"ascii", "plain", true},
        {"chinese", "简体中文，繁體中文", true},  // both in GBK
        {"kana", "ひらがな", true},               // GBK holds kana too
        {"emoji", "smile \xF0\x9F\x98\x80", false},
        {"hangul", "\xED\x95\x9C\xEA\xB8\x80", false},
    };
    for (const Case& c : cases) {
        const QByteArray source = QByteArray("1\n00:00:01,000 --> 00:00:02,000\n") + c.text + "\n";
        const QString in = write(QString::fromLatin1(c.name) + ".srt", source);
        ui->queueMenuItem(QStringLiteral("关闭全部"));
        window->ListClick(0, 2);
        open(in);
        ASSERT_EQ(list(window->ActiveList())->Count(), 1) << c.name;
        const std::string row = list(window->ActiveList())->ItemText(0, 3).toStdString();
        const QString out = dir.filePath(QString::fromLatin1(c.name) + "-out.srt");
        ui->queueFileDialog(out);
        window->RunCommand(QStringLiteral("save"));
        const QByteArray bytes = readAll(out);
        ASSERT_FALSE(bytes.isEmpty()) << c.name << ": nothing written";
        EXPECT_EQ(bytes.startsWith("\xEF\xBB\xBF"), !c.ansi) << c.name;
        EXPECT_TRUE(lastMessage().contains(c.ansi ? QStringLiteral("ANSI（GBK）") : QStringLiteral("UTF-8（带 BOM）")))
            << c.name << ": " << lastMessage().toStdString();
        EXPECT_TRUE(lastMessage().startsWith(QStringLiteral("字幕文件已经保存：\r\n") + out)) << c.name;
        // Read back, the row is whole.
        clsSubtitle engine;
        std::string readText;
        engine.SubtitleLineLoaded = [&](double, double, const std::string& t) { readText = t; };
        ASSERT_TRUE(engine.ConvertSubtitle(out.toStdString(), ConvertSettings{})) << c.name;
        EXPECT_EQ(readText, row) << c.name;
    }
}

TEST_F(Documents, CombineToFileFallsBackToUtf8Too) {
    open(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\n\xF0\x9F\x8E\xB5 music"}));
    open(srt(QStringLiteral("b.srt"), {kCue2}));
    const QString out = dir.filePath(QStringLiteral("both.srt"));
    ui->queueFileDialog(out);
    window->RunCommand(QStringLiteral("combinesubtitle_to_file"));
    const QByteArray bytes = readAll(out);
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(bytes.contains("\xF0\x9F\x8E\xB5 music"));
}

// ---- loads: progress, cancellation, re-entry ---------------------------------

TEST_F(Documents, EscapeDuringALoadCancelsItAndShowsProgressBefore) {
    const QString big = bigSrt(QStringLiteral("big.srt"), 5000);
    QStringList progress;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { progress << window->StatusBar()->PanelText(2); });
    watch.start(0);
    duringRun([&] {
        EXPECT_TRUE(window->RunInProgress());
        QTest::keyClick(window.get(), Qt::Key_Escape);
    });
    open(big);
    watch.stop();
    EXPECT_EQ(window->StatusBar()->PanelText(1), QStringLiteral(" 已经取消"));
    EXPECT_EQ(list(0)->Count(), 0);  // nothing read so far is kept
    EXPECT_FALSE(window->RunInProgress());
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_TRUE(progress.first().startsWith(QStringLiteral(" 正在读取 ")) && progress.first().endsWith(u'%'))
        << progress.first().toStdString();

    // Escape with no run going does nothing; the next load is whole.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    open(big);
    EXPECT_EQ(list(0)->Count(), 5000);
    EXPECT_EQ(window->StatusBar()->PanelText(2), QStringLiteral(" 5000 行"));
}

TEST_F(Documents, CommandsDuringALoadAreRefusedAndRowsStayInTheirDocument) {
    const QString first = srt(QStringLiteral("first.srt"), {kCue1});
    open(first);
    const QString big = bigSrt(QStringLiteral("big.srt"), 3000);
    const QString other = srt(QStringLiteral("other.srt"), {kCue2});
    QString refusal;
    duringRun([&] {
        ui->clearRecords();
        window->ListClick(0, 1);  // the user picks the other document meanwhile
        window->OpenSubtitle(other);
        window->RunCommand(QStringLiteral("opensubtitle"));
        window->RunCommand(QStringLiteral("save"));
        window->RunCommand(QStringLiteral("combinesubtitle_to_file"));
        window->RunCommand(QStringLiteral("timeoffsetall1000"));
        refusal = window->StatusBar()->PanelText(1);
        EXPECT_TRUE(ui->fileDialogs().empty());
        EXPECT_TRUE(ui->messageBoxes().empty());
    });
    open(big);
    EXPECT_EQ(refusal, QStringLiteral(" 正在处理，请稍候"));
    ASSERT_EQ(window->ListCount(), 2);
    EXPECT_EQ(list(0)->Count(), 1);  // the first document got none of the new rows
    EXPECT_EQ(list(0)->ItemText(0, 1), QStringLiteral("00:00:01,000"));  // and was not shifted
    EXPECT_EQ(list(1)->Count(), 3000);
    EXPECT_EQ(list(1)->Tag(), big);
}

TEST_F(Documents, ClosingTheWindowDuringALoadCancelsThenCloses) {
    window->show();
    duringRun([&] { window->close(); });
    open(bigSrt(QStringLiteral("big.srt"), 3000));
    EXPECT_EQ(window->StatusBar()->PanelText(1), QStringLiteral(" 已经取消"));
    EXPECT_EQ(list(0)->Count(), 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->DirectShow(), nullptr);
}

// ---- the window --------------------------------------------------------------

TEST_F(Documents, TheTitleIsTheProductNameAlone) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Lumeval"));
    EXPECT_FALSE(window->windowTitle().contains(QChar(0)));
}

TEST_F(Documents, ThreeListsShareTheWidth) {
    for (const char* name : {"a.srt", "b.srt", "c.srt"}) open(srt(QString::fromLatin1(name), {kCue1}));
    window->resize(1400, 600);
    window->show();
    QCoreApplication::processEvents();
    const int width = window->Client()->width();
    ASSERT_EQ(window->ListCount(), 3);
    const double third = width / 3.0;
    int x = 0;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list(i)->x(), x);
        EXPECT_EQ(list(i)->width(), editor::RoundHalfEven(third));
        EXPECT_EQ(list(i)->y(), 0);
        EXPECT_EQ(list(i)->height(), window->Client()->height() - window->StatusBar()->height());
        // The serial column fits six digits; the text takes the rest.
        const int serial = list(i)->ColumnWidth(0);
        EXPECT_GE(serial, 40);
        EXPECT_GE(serial, window->fontMetrics().horizontalAdvance(QStringLiteral("000000")));
        EXPECT_EQ(list(i)->ColumnWidth(1), 100);
        EXPECT_EQ(list(i)->ColumnWidth(3), std::max(200, editor::RoundHalfEven(third - serial - 100 - 100 - 17)));
        x = editor::RoundHalfEven(x + third);
    }
    EXPECT_LT(list(0)->x(), list(1)->x());
    EXPECT_LT(list(1)->x(), list(2)->x());

    // Too narrow for three: the text column keeps 200 pixels and scrolls.
    window->resize(700, 600);
    QCoreApplication::processEvents();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list(i)->ColumnWidth(3), 200);
}

TEST_F(Documents, DefaultPlacementIsCentredAndAStoredWidthIsUsed) {
    const QRect screen = window->screen()->geometry();
    const double tpp = 1440.0 / window->screen()->logicalDotsPerInch();
    // The first start fits three documents: 1280 x 720 where the screen allows.
    EXPECT_EQ(window->width(), std::max(editor::RoundHalfEven(12000 / tpp), std::min(1280, screen.width())));
    EXPECT_EQ(window->height(), std::max(editor::RoundHalfEven(7500 / tpp), std::min(720, screen.height())));
    EXPECT_NEAR(window->x(), (screen.width() - window->width()) / 2.0, 1.0);
    EXPECT_NEAR(window->y(), (screen.height() - window->height()) / 2.0, 1.0);

    window.reset();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path() + "/settings2");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path() + "/settings2");
    modRegistry::WriteSetting(QStringLiteral("WindowWidth"), QStringLiteral("9000"));
    makeWindow();
    EXPECT_EQ(window->width(), editor::RoundHalfEven(9000 / tpp));
    EXPECT_NEAR(window->x(), (screen.width() - window->width()) / 2.0, 1.0);

    // A maximised window stores nothing.
    window->showMaximized();
    QCoreApplication::processEvents();
    window.reset();
    EXPECT_EQ(modRegistry::ReadSetting(QStringLiteral("WindowWidth"), {}), QStringLiteral("9000"));
    EXPECT_TRUE(modRegistry::ReadSetting(QStringLiteral("WindowPosX"), {}).isEmpty());
}

TEST_F(Documents, ClosingTheRightmostMakesTheNextLowerActive) {
    const QString a = srt(QStringLiteral("a.srt"), {kCue1});
    const QString b = srt(QStringLiteral("b.srt"), {kCue1});
    const QString c = srt(QStringLiteral("c.srt"), {kCue1});
    open(a);
    open(b);
    open(c);
    ASSERT_EQ(window->ActiveList(), 2);
    ui->queueMenuItem(QStringLiteral("关闭"));
    window->ListClick(2, 2);
    EXPECT_EQ(window->ActiveList(), 1);
    EXPECT_EQ(window->StatusBar()->PanelText(1), QStringLiteral(" ") + b);

    // A closed list is reused only as the last element: the next open goes there.
    open(srt(QStringLiteral("d.srt"), {kCue2}));
    EXPECT_EQ(window->ListCount(), 3);
    EXPECT_EQ(window->ActiveList(), 2);

    // "清除" keeps the document open with its path.
    ui->queueMenuItem(QStringLiteral("清除"));
    ui->queueMessageBox(MsgResult::No);
    window->ListClick(0, 2);
    EXPECT_EQ(list(0)->Count(), 0);
    EXPECT_EQ(list(0)->Tag(), a);
    EXPECT_FALSE(list(0)->isHidden());
    EXPECT_EQ(window->StatusBar()->PanelText(2), QStringLiteral(" 0 行"));

    ui->queueMenuItem(QStringLiteral("关闭全部"));
    window->ListClick(1, 2);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(list(i)->isHidden()) << i;
    EXPECT_EQ(window->ActiveList(), 0);
    EXPECT_EQ(window->StatusBar()->PanelText(1), QStringLiteral(" "));
    EXPECT_EQ(window->StatusBar()->PanelText(2), QStringLiteral(" "));
}

TEST_F(Documents, TheQuestionFollowsTheClassOfTheText) {
    struct Case {
        const char* text;
        const char16_t* question;
    };
    const Case cases[] = {
        {"plain", u"这应该是一个简体字符集字幕"},
        {"這是繁體中文字幕，歡迎使用。", u"这应该是一个繁体字符集字幕"},
        {"这是简体中文字幕，欢迎使用。", u"这应该是一个 GBK 字符集字幕"},
    };
    int n = 0;
    for (const Case& c : cases) {
        ui->clearRecords();
        open(write(QStringLiteral("q%1.srt").arg(++n), QByteArray("1\n00:00:01,000 --> 00:00:02,000\n") + c.text + "\n"));
        ASSERT_FALSE(ui->messageBoxes().empty());
        EXPECT_TRUE(ui->messageBoxes()[0].request.Prompt.startsWith(QString::fromUtf16(c.question)))
            << ui->messageBoxes()[0].request.Prompt.toStdString();
        EXPECT_EQ(ui->messageBoxes()[0].request.Icon, MsgIcon::Question);
    }
    // Yes converts traditional characters on the way in.
    open(write(QStringLiteral("t.srt"), "1\n00:00:01,000 --> 00:00:02,000\n這是繁體\n"), MsgResult::Yes);
    EXPECT_EQ(list(window->ActiveList())->ItemText(0, 3), QStringLiteral("这是繁体"));
}

TEST_F(Documents, TimelineMergeDoesNotRepeatIdenticalTexts) {
    open(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:03,000\nsame", "00:00:05,000 --> 00:00:06,000\nkeep"}));
    open(srt(QStringLiteral("b.srt"), {"00:00:01,010 --> 00:00:03,049\n same ", "00:00:05,049 --> 00:00:06,000\nnew"}));
    window->ListClick(0, 1);
    ui->queueInput(QStringLiteral("50"));
    window->RunCommand(QStringLiteral("combinesubtitle_by_timeline"));
    EXPECT_EQ(list(0)->ItemText(0, 3), QStringLiteral("same"));
    EXPECT_EQ(list(0)->ItemText(1, 3), QStringLiteral("keep\\Nnew"));  // 49 ms is within
    EXPECT_EQ(list(1)->Count(), 0);
    EXPECT_TRUE(window->Changed(0));
    EXPECT_TRUE(window->Changed(1));
    // Emptied: nothing left to save, so closing it asks nothing.
    ui->clearRecords();
    ui->queueMenuItem(QStringLiteral("关闭"));
    window->ListClick(1, 2);
    EXPECT_TRUE(list(1)->isHidden());
    EXPECT_EQ(questionsAsked(), 0);
}

// ---- a real sample from file to every save format ----------------------------

TEST_F(Documents, ASampleShiftedAndSavedInEveryFormatReadsBack) {
    const QString sample = QStringLiteral(LUMEVAL_SAMPLES "/demo.srt");
    ASSERT_TRUE(QFileInfo::exists(sample));
    // The engine's own reading of the sample, shifted by one second.
    struct Row {
        double start, end;
        std::string text;
    };
    std::vector<Row> expected;
    {
        clsSubtitle engine;
        engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) { expected.push_back({s + 1000, e + 1000, t}); };
        ASSERT_TRUE(engine.ConvertSubtitle(sample.toStdString(), ConvertSettings{}));
    }
    ASSERT_GT(expected.size(), 3u);

    open(sample);
    window->RunCommand(QStringLiteral("timeoffsetall1000"));
    ASSERT_EQ(static_cast<std::size_t>(list(0)->Count()), expected.size());

    for (const char* ext : {"srt", "ssa", "ass", "lrc", "smi"}) {
        SCOPED_TRACE(ext);
        const QString out = dir.filePath(QStringLiteral("shifted.") + QString::fromLatin1(ext));
        ui->queueFileDialog(out);
        window->RunCommand(QStringLiteral("save"));
        ASSERT_TRUE(QFileInfo::exists(out));
        std::vector<Row> read;
        clsSubtitle engine;
        // A SAMI cue ends at a sync of its own, read as a row without text.
        engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
            if (!t.empty()) read.push_back({s, e, t});
        };
        ASSERT_TRUE(engine.ConvertSubtitle(out.toStdString(), ConvertSettings{}));
        ASSERT_EQ(read.size(), expected.size());
        const bool startOnly = std::string(ext) == "lrc" || std::string(ext) == "smi";
        for (std::size_t i = 0; i < read.size(); ++i) {
            SCOPED_TRACE(i);
            // LRC keeps hundredths of a second.
            EXPECT_NEAR(read[i].start, expected[i].start, std::string(ext) == "lrc" ? 10.0 : 0.0);
            if (!startOnly) {
                EXPECT_EQ(read[i].end, expected[i].end);
            }
            EXPECT_FALSE(read[i].text.empty());
        }
        // Plain words survive every format.
        bool found = false;
        for (const Row& r : read) found = found || r.text.find("demo subtitle") != std::string::npos;
        EXPECT_TRUE(found);
    }
}

TEST_F(Documents, FindNextScansOnFromTheFocusWithoutWrapping) {
    QByteArray text;
    for (int i = 1; i <= 10; ++i) {
        const QByteArray body = i == 2 || i == 7 ? "needle here" : "hay";
        text += QByteArray::number(i) + "\n00:00:" + QByteArray::number(10 + i) + ",000 --> 00:00:" +
                QByteArray::number(10 + i) + ",500\n" + body + "\n\n";
    }
    open(write(QStringLiteral("ten.srt"), text));
    ASSERT_EQ(list(0)->Count(), 10);
    ui->queueInput(QStringLiteral("needle"));
    window->RunCommand(QStringLiteral("find"));  // focus on nothing: the first match, row 2
    EXPECT_EQ(list(0)->ItemIndex(), 1);
    list(0)->SetItemIndex(2);  // row 3 of 10
    ui->clearRecords();
    window->RunCommand(QStringLiteral("findnext"));
    EXPECT_EQ(list(0)->ItemIndex(), 6);  // row 7
    EXPECT_TRUE(list(0)->ItemSelected(6));
    EXPECT_FALSE(list(0)->ItemSelected(1));  // single selection while scanning
    EXPECT_TRUE(ui->messageBoxes().empty());
    window->RunCommand(QStringLiteral("findnext"));  // rows 8 to 10: no wrap to row 2
    EXPECT_EQ(lastMessage(), QStringLiteral("未找到搜索文本"));
    EXPECT_EQ(list(0)->ItemIndex(), 6);
    EXPECT_TRUE(list(0)->MultiSelect());  // back on after the scan
}

TEST_F(Documents, TheProposedNameLiesInTheDocumentsFolderUntilADialogPicksAnother) {
    QDir(dir.path()).mkpath(QStringLiteral("films/one"));
    QDir(dir.path()).mkpath(QStringLiteral("elsewhere"));
    const QString movie = srt(QStringLiteral("films/one/movie.srt"), {kCue1});
    open(movie);  // from the command line or a drop: no dialog yet
    ASSERT_EQ(list(0)->Count(), 1);
    ASSERT_TRUE(window->LastDialogFolder().isEmpty());
    ui->queueFileDialog(QString());
    window->RunCommand(QStringLiteral("save"));
    ASSERT_EQ(ui->fileDialogs().size(), 1u);
    // The source itself has the name: a free variant of it.
    EXPECT_EQ(ui->fileDialogs().back().request.DefaultFileName, dir.filePath(QStringLiteral("films/one/movie(1).srt")));

    // A save into another folder moves the proposal there.
    ui->queueFileDialog(dir.filePath(QStringLiteral("elsewhere/first.srt")));
    window->RunCommand(QStringLiteral("save"));
    ui->queueFileDialog(QString());
    window->RunCommand(QStringLiteral("save"));
    EXPECT_EQ(ui->fileDialogs().back().request.DefaultFileName, dir.filePath(QStringLiteral("elsewhere/movie.srt")));
    // A cancelled dialog picks no folder.
    EXPECT_EQ(window->LastDialogFolder(), dir.filePath(QStringLiteral("elsewhere")));
}

TEST_F(Documents, ClicksDuringATimelineMergeDoNotChangeWhatItMerges) {
    open(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:03,000\nactive"}));
    open(srt(QStringLiteral("b.srt"), {"00:00:01,020 --> 00:00:03,010\nother", "00:00:09,000 --> 00:00:10,000\nlate"}));
    window->ListClick(0, 1);
    ui->queueInput(QStringLiteral("50"));
    bool ran = false;
    duringRun([&] {
        ran = true;
        EXPECT_TRUE(window->RunInProgress());
        window->ListClick(1, 1);  // the user picks the other document meanwhile
        window->RunCommand(QStringLiteral("timeoffsetall1000"));  // refused while merging
    });
    window->RunCommand(QStringLiteral("combinesubtitle_by_timeline"));
    EXPECT_TRUE(ran);
    EXPECT_EQ(list(0)->ItemText(0, 3), QStringLiteral("active\\Nother"));
    ASSERT_EQ(list(1)->Count(), 1);
    EXPECT_EQ(list(1)->ItemText(0, 1), QStringLiteral("00:00:09,000"));  // not shifted
    EXPECT_TRUE(window->Changed(0));
    EXPECT_TRUE(window->Changed(1));
    EXPECT_FALSE(window->RunInProgress());
}

TEST_F(Documents, EscapeDuringASaveWritesNothingAndKeepsTheChanges) {
    open(bigSrt(QStringLiteral("big.srt"), 5000));
    window->RunCommand(QStringLiteral("timeoffsetall1000"));
    const QString out = dir.filePath(QStringLiteral("out.srt"));
    ui->queueFileDialog(out);
    bool ran = false;
    duringRun([&] {
        ran = true;
        QTest::keyClick(window.get(), Qt::Key_Escape);
    });
    window->RunCommand(QStringLiteral("save"));
    EXPECT_TRUE(ran);
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_EQ(window->StatusBar()->PanelText(1), QStringLiteral(" 已经取消"));
    EXPECT_TRUE(window->Changed(0));
    EXPECT_EQ(list(0)->Count(), 5000);  // a cancelled save leaves the rows alone
    // No temporary file is left behind either.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{QStringLiteral("big.srt")}));
}

TEST_F(Documents, ABarInACueStaysInItsRowAndInTheSavedFile) {
    open(srt(QStringLiteral("bar.srt"), {"00:00:01,000 --> 00:00:02,000\nleft | right",
                                         "00:00:03,000 --> 00:00:04,000\n{\\k3}振|ふ{\\k3}り"}));
    ASSERT_EQ(2, list(0)->Count());
    EXPECT_EQ(QStringLiteral("left | right"), list(0)->ItemText(0, 3));
    EXPECT_EQ(QStringLiteral("{\\k3}振|ふ{\\k3}り"), list(0)->ItemText(1, 3));

    const QString out = dir.filePath(QStringLiteral("saved.srt"));
    ui->queueFileDialog(out);
    window->RunCommand(QStringLiteral("save"));
    std::vector<std::string> texts;
    clsSubtitle engine;
    engine.SubtitleLineLoaded = [&](double, double, const std::string& t) { texts.push_back(t); };
    ASSERT_TRUE(engine.ConvertSubtitle(out.toStdString(), ConvertSettings{}));
    EXPECT_EQ((std::vector<std::string>{"left | right", "{\\k3}振|ふ{\\k3}り"}), texts);
}
