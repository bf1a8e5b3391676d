// Taskbar-button progress as the desktop sees it: launcher-entry signals on a
// private session bus started for each test, caught by a second connection.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QIcon>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QVariantMap>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "taskbar/clstaskbar.h"

namespace lumeval {
namespace {

struct LauncherUpdate {
    QString path;
    QString interface;
    QString member;
    QString appUri;
    QVariantMap properties;
};

class UpdateListener : public QObject {
    Q_OBJECT
  public:
    std::vector<LauncherUpdate> updates;

  public slots:
    void OnUpdate(const QDBusMessage& message) {
        LauncherUpdate update;
        update.path = message.path();
        update.interface = message.interface();
        update.member = message.member();
        const QList<QVariant> args = message.arguments();
        if (args.size() >= 1) update.appUri = args.at(0).toString();
        if (args.size() >= 2) {
            update.properties = qdbus_cast<QVariantMap>(args.at(1).value<QDBusArgument>());
        }
        updates.push_back(update);
    }
};

class TaskBarProgress : public testing::Test {
  protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) GTEST_SKIP() << "dbus-daemon not installed (package dbus)";
        m_daemon.setProgram(daemon);
        m_daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--print-address")});
        m_daemon.start();
        ASSERT_TRUE(m_daemon.waitForStarted(10000));
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
        }
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty()) << "dbus-daemon printed no address";

        m_sender = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("taskbar-test-sender")));
        m_listenerBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("taskbar-test-listener")));
        ASSERT_TRUE(m_sender->isConnected());
        ASSERT_TRUE(m_listenerBus->isConnected());
        // Any sender and path: the test checks which path and interface came.
        ASSERT_TRUE(m_listenerBus->connect(QString(), QString(),
                                           QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                           QStringLiteral("Update"), &m_listener,
                                           SLOT(OnUpdate(QDBusMessage))));
        m_taskBar = std::make_unique<clsTaskBar>(*m_sender);
    }

    void TearDown() override {
        m_taskBar.reset();
        m_sender.reset();
        m_listenerBus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("taskbar-test-sender"));
        QDBusConnection::disconnectFromBus(QStringLiteral("taskbar-test-listener"));
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished(10000);
        }
    }

    /// Waits until `count` updates arrived (bounded; a missing one fails).
    bool WaitForUpdates(std::size_t count) {
        return QTest::qWaitFor([&]() { return m_listener.updates.size() >= count; }, 10000);
    }

    const LauncherUpdate& Last() { return m_listener.updates.back(); }

    QProcess m_daemon;
    std::unique_ptr<QDBusConnection> m_sender;
    std::unique_ptr<QDBusConnection> m_listenerBus;
    UpdateListener m_listener;
    std::unique_ptr<clsTaskBar> m_taskBar;
    QWidget m_window;
};

TEST_F(TaskBarProgress, UpdateSignalNamesOurLauncherEntry) {
    EXPECT_EQ(0, m_taskBar->SetProgressValue(&m_window, 1, 4));
    ASSERT_TRUE(WaitForUpdates(1));
    const LauncherUpdate& update = Last();
    EXPECT_TRUE(update.path.startsWith(QStringLiteral("/com/canonical/unity/launcherentry/")))
        << update.path.toStdString();
    EXPECT_EQ(QStringLiteral("com.canonical.Unity.LauncherEntry"), update.interface);
    EXPECT_EQ(QStringLiteral("Update"), update.member);
    EXPECT_EQ(QStringLiteral("application://lumeval.desktop"), update.appUri);
    EXPECT_DOUBLE_EQ(0.25, update.properties.value(QStringLiteral("progress")).toDouble());
    EXPECT_TRUE(update.properties.value(QStringLiteral("progress-visible")).toBool());
}

TEST_F(TaskBarProgress, StatesMapToVisibilityAndUrgency) {
    struct Case {
        qint32 flags;
        bool visible;
        bool urgent;
    };
    const Case cases[] = {
        {TBPF_NORMAL, true, false},      {TBPF_ERROR, true, true},
        {TBPF_PAUSED, true, false},      {TBPF_INDETERMINATE, true, false},
        {TBPF_NOPROGRESS, false, false},
    };
    ASSERT_EQ(0, m_taskBar->SetProgressValue(&m_window, 3, 10));
    ASSERT_TRUE(WaitForUpdates(1));
    std::size_t expected = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        EXPECT_EQ(0, m_taskBar->SetProgressState(&m_window, c.flags));
        ASSERT_TRUE(WaitForUpdates(++expected));
        const QVariantMap& p = Last().properties;
        EXPECT_EQ(c.visible, p.value(QStringLiteral("progress-visible")).toBool());
        EXPECT_EQ(c.urgent, p.value(QStringLiteral("urgent")).toBool());
        // A state change keeps the fraction last set.
        EXPECT_DOUBLE_EQ(0.3, p.value(QStringLiteral("progress")).toDouble());
    }
}

TEST_F(TaskBarProgress, ValuesBecomeFractions) {
    struct Case {
        qint32 completed;
        qint32 total;
        double fraction;
    };
    const Case cases[] = {
        {50, 100, 0.5},
        {0, 0, 0.0},       // no total: nothing to divide by
        {7, 0, 0.0},
        {150, 100, 1.0},   // more than done is done
        {0, 100, 0.0},
        // Read as unsigned 32-bit: 2^31 of 2^32 - 1.
        {static_cast<qint32>(0x80000000u), -1, 2147483648.0 / 4294967295.0},
        {-1, -1, 1.0},
    };
    std::size_t expected = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.completed << "/" << c.total);
        EXPECT_EQ(0, m_taskBar->SetProgressValue(&m_window, c.completed, c.total));
        ASSERT_TRUE(WaitForUpdates(++expected));
        const QVariantMap& p = Last().properties;
        EXPECT_DOUBLE_EQ(c.fraction, p.value(QStringLiteral("progress")).toDouble());
        EXPECT_TRUE(p.value(QStringLiteral("progress-visible")).toBool());
    }
}

TEST_F(TaskBarProgress, ValueAfterHiddenShowsBarAgainAndKeepsErrorMark) {
    ASSERT_EQ(0, m_taskBar->SetProgressState(&m_window, TBPF_NOPROGRESS));
    ASSERT_EQ(0, m_taskBar->SetProgressValue(&m_window, 1, 2));
    ASSERT_TRUE(WaitForUpdates(2));
    EXPECT_TRUE(Last().properties.value(QStringLiteral("progress-visible")).toBool());

    ASSERT_EQ(0, m_taskBar->SetProgressState(&m_window, TBPF_ERROR));
    ASSERT_EQ(0, m_taskBar->SetProgressValue(&m_window, 2, 2));
    ASSERT_TRUE(WaitForUpdates(4));
    // A value update leaves urgency alone, so the error stays marked.
    EXPECT_FALSE(Last().properties.contains(QStringLiteral("urgent")));
    EXPECT_DOUBLE_EQ(1.0, Last().properties.value(QStringLiteral("progress")).toDouble());
}

TEST_F(TaskBarProgress, BadArgumentsAreRefusedAndSendNothing) {
    EXPECT_EQ(TASKBAR_E_INVALIDARG, m_taskBar->SetProgressState(nullptr, TBPF_NORMAL));
    EXPECT_EQ(TASKBAR_E_INVALIDARG, m_taskBar->SetProgressValue(nullptr, 1, 2));
    for (qint32 flags : {3, 16, -1, TBPF_ERROR | TBPF_PAUSED}) {
        EXPECT_EQ(TASKBAR_E_INVALIDARG, m_taskBar->SetProgressState(&m_window, flags)) << flags;
    }
    // One good call afterwards: it must be the only update that arrives.
    ASSERT_EQ(0, m_taskBar->SetProgressValue(&m_window, 1, 2));
    ASSERT_TRUE(WaitForUpdates(1));
    QTest::qWait(50);
    EXPECT_EQ(1u, m_listener.updates.size());
}

TEST_F(TaskBarProgress, OtherButtonMembersSendNothing) {
    EXPECT_FALSE(m_taskBar->IsWindows7());
    EXPECT_EQ(0, m_taskBar->SetOverlayIcon(&m_window, QIcon(), QStringLiteral("说明")));
    EXPECT_EQ(0, m_taskBar->SetThumbnailClip(&m_window, 0, 0, 10, 10));
    EXPECT_EQ(0, m_taskBar->SetThumbnailTooltip(&m_window, QStringLiteral("tip")));
    EXPECT_EQ(0, m_taskBar->ThumbBarAddButtons(&m_window, 2, {QIcon(), QIcon()}));
    ASSERT_EQ(0, m_taskBar->SetProgressState(&m_window, TBPF_PAUSED));
    ASSERT_TRUE(WaitForUpdates(1));
    QTest::qWait(50);
    ASSERT_EQ(1u, m_listener.updates.size());
    EXPECT_TRUE(Last().properties.contains(QStringLiteral("urgent")));
}

TEST_F(TaskBarProgress, EndOfObjectTakesShownBarOff) {
    ASSERT_EQ(0, m_taskBar->SetProgressState(&m_window, TBPF_ERROR));
    ASSERT_TRUE(WaitForUpdates(1));
    m_taskBar.reset();
    ASSERT_TRUE(WaitForUpdates(2));
    EXPECT_FALSE(Last().properties.value(QStringLiteral("progress-visible")).toBool());
    EXPECT_FALSE(Last().properties.value(QStringLiteral("urgent")).toBool());
}

TEST_F(TaskBarProgress, EndOfObjectWithoutBarSendsNothing) {
    m_taskBar.reset();
    clsTaskBar other(*m_sender);
    ASSERT_EQ(0, other.SetProgressValue(&m_window, 1, 1));
    ASSERT_TRUE(WaitForUpdates(1));
    QTest::qWait(50);
    EXPECT_EQ(1u, m_listener.updates.size());
}

// No bus at all: the editor still runs and every call answers 0.
TEST(TaskBarNoBus, EveryMemberAnswersZero) {
    const QString name = QStringLiteral("taskbar-test-nobus");
    {
        QDBusConnection none =
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/lumeval-bus"), name);
        ASSERT_FALSE(none.isConnected());
        QWidget window;
        clsTaskBar taskBar(none);
        EXPECT_FALSE(taskBar.IsWindows7());
        EXPECT_EQ(0, taskBar.SetProgressState(&window, TBPF_NORMAL));
        EXPECT_EQ(0, taskBar.SetProgressState(&window, 99));
        EXPECT_EQ(0, taskBar.SetProgressValue(&window, 5, 0));
        EXPECT_EQ(0, taskBar.SetProgressValue(nullptr, 5, 10));
        EXPECT_EQ(0, taskBar.SetOverlayIcon(&window, QIcon(), QString()));
        EXPECT_EQ(0, taskBar.SetThumbnailClip(&window, 1, 2, 3, 4));
        EXPECT_EQ(0, taskBar.SetThumbnailTooltip(&window, QString()));
    }
    QDBusConnection::disconnectFromBus(name);
}

TEST(TaskBarNoBus, SessionBusMissingDoesNotBlockOrFail) {
    // Points the session bus nowhere unless this process already has one.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumeval-session-bus");
    }
    QWidget window;
    clsTaskBar taskBar;
    EXPECT_EQ(0, taskBar.SetProgressState(&window, TBPF_NORMAL));
    EXPECT_EQ(0, taskBar.SetProgressValue(&window, 1, 3));
    EXPECT_EQ(0, taskBar.SetProgressState(&window, TBPF_NOPROGRESS));
}

}  // namespace
}  // namespace lumeval

#include "test_clstaskbar_progress.moc"
