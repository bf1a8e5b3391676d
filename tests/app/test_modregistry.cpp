#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <random>

#include "app/modregistry.h"

namespace lumeval {
namespace {

using namespace modRegistry;

const QString kOtherKey = QStringLiteral("Software\\Varnel\\LumevalTest\\Settings");

// Every test gets its own settings folder, so nothing reaches ~/.config.
class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    }

    QString settingsFile() const {
        return QSettings(QStringLiteral("Varnel"), QStringLiteral("Lumeval")).fileName();
    }

    QTemporaryDir dir;
};

TEST_F(Registry, SettingsLiveInTheTestFolder) {
    EXPECT_TRUE(settingsFile().startsWith(dir.path())) << settingsFile().toStdString();
}

TEST_F(Registry, MissingValuesReadTheDefault) {
    EXPECT_EQ("12000", ReadSetting("WindowWidth", "12000"));
    EXPECT_EQ("", RegReadString(RegistryRoot::CurrentUser, RegistryKeyPath, "WindowWidth"));
    // Reading never creates the key.
    EXPECT_FALSE(QFileInfo::exists(settingsFile()));
}

TEST_F(Registry, WriteThenRead) {
    WriteSetting("WindowWidth", "9000");
    WriteSetting("WindowPosX", "1234.5");
    WriteSetting("Title", QStringLiteral("字幕, \"quoted\" = ;x"));
    EXPECT_EQ("9000", ReadSetting("WindowWidth", "12000"));
    EXPECT_EQ("1234.5", ReadSetting("WindowPosX", "0"));
    EXPECT_EQ(QStringLiteral("字幕, \"quoted\" = ;x"), ReadSetting("Title", ""));
    EXPECT_EQ("7500", ReadSetting("WindowHeight", "7500"));
    // Stored under group "Settings" of QSettings("Varnel", "Lumeval").
    QSettings raw(QStringLiteral("Varnel"), QStringLiteral("Lumeval"));
    EXPECT_EQ("9000", raw.value("Settings/WindowWidth").toString());
}

TEST_F(Registry, TextIsCutAtTheFirstNul) {
    ASSERT_TRUE(RegWriteString(RegistryRoot::CurrentUser, RegistryKeyPath, "V",
                               QString::fromUtf16(u"ab\0cd", 5)));
    EXPECT_EQ("ab", RegReadString(RegistryRoot::CurrentUser, RegistryKeyPath, "V", "d"));
}

TEST_F(Registry, ValuesOfAnotherTypeReadTheDefault) {
    {
        QSettings raw(QStringLiteral("Varnel"), QStringLiteral("Lumeval"));
        raw.setValue("Settings/Bytes", QByteArray("\x01\x02", 2));
        raw.setValue("Settings/List", QStringList{"a", "b"});
        raw.setValue("Settings/Sub/Deep", "x");
    }
    EXPECT_EQ("d", ReadSetting("Bytes", "d"));
    EXPECT_EQ("d", ReadSetting("List", "d"));
    EXPECT_EQ("d", ReadSetting("Sub", "d"));  // a subkey, not a value
}

TEST_F(Registry, KeyPathsAndValueNames) {
    struct Case {
        const char* keyPath;
        const char* valueName;
        bool stored;
    };
    const Case cases[] = {
        {"Software\\Varnel\\LumevalTest\\Settings", "A", true},
        {"Software/Varnel/LumevalTest/Settings", "B", true},
        {"software\\Varnel\\LumevalTest\\Deeper\\Settings", "C", true},
        {"Software\\Varnel\\LumevalTest", "D", true},
        {"Software\\Varnel", "E", false},
        {"Hardware\\Varnel\\LumevalTest", "F", false},
        {"Software\\\\LumevalTest\\Settings", "G", false},
        {"", "H", false},
        {"Software\\Varnel\\LumevalTest\\Settings", "", false},
        {"Software\\Varnel\\LumevalTest\\Settings", "a/b", false},
        {"Software\\Varnel\\LumevalTest\\Settings", "a\\b", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keyPath) + " / " + c.valueName);
        EXPECT_EQ(c.stored, RegWriteString(RegistryRoot::CurrentUser, c.keyPath, c.valueName, "v"));
        EXPECT_EQ(c.stored ? "v" : "dflt",
                  RegReadString(RegistryRoot::CurrentUser, c.keyPath, c.valueName, "dflt"));
    }
    // Another organisation's or application's key is another store.
    EXPECT_EQ("dflt", RegReadString(RegistryRoot::CurrentUser, RegistryKeyPath, "A", "dflt"));
    EXPECT_FALSE(RegWriteString(static_cast<RegistryRoot>(0), RegistryKeyPath, "A", "v"));
}

TEST_F(Registry, DeleteRemovesTheKeyOnly) {
    WriteSetting("WindowWidth", "9000");
    ASSERT_TRUE(
        RegWriteString(RegistryRoot::CurrentUser, "Software\\Varnel\\Lumeval\\Other", "X", "1"));
    EXPECT_TRUE(RegDeleteSettings(RegistryRoot::CurrentUser, RegistryKeyPath));
    EXPECT_EQ("12000", ReadSetting("WindowWidth", "12000"));
    EXPECT_EQ("1",
              RegReadString(RegistryRoot::CurrentUser, "Software\\Varnel\\Lumeval\\Other", "X"));
    // Gone already.
    EXPECT_FALSE(RegDeleteSettings(RegistryRoot::CurrentUser, RegistryKeyPath));
    // Written again after the deletion.
    WriteSetting("WindowWidth", "8000");
    EXPECT_EQ("8000", ReadSetting("WindowWidth", "12000"));
}

TEST_F(Registry, DeleteRefusesAKeyWithSubkeys) {
    ASSERT_TRUE(RegWriteString(RegistryRoot::CurrentUser, kOtherKey, "A", "1"));
    ASSERT_TRUE(RegWriteString(RegistryRoot::CurrentUser, kOtherKey + "\\Sub", "B", "2"));
    EXPECT_FALSE(RegDeleteSettings(RegistryRoot::CurrentUser, kOtherKey));
    EXPECT_EQ("1", RegReadString(RegistryRoot::CurrentUser, kOtherKey, "A"));
    EXPECT_TRUE(RegDeleteSettings(RegistryRoot::CurrentUser, kOtherKey + "\\Sub"));
    EXPECT_TRUE(RegDeleteSettings(RegistryRoot::CurrentUser, kOtherKey));
    EXPECT_EQ("", RegReadString(RegistryRoot::CurrentUser, kOtherKey, "A"));
}

TEST_F(Registry, UnwritableStoreFailsSilently) {
    const QString file = settingsFile();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
    // A folder where the file should be: nothing can be written or read.
    ASSERT_TRUE(QDir().mkpath(file));
    WriteSetting("WindowWidth", "9000");
    EXPECT_FALSE(RegWriteString(RegistryRoot::CurrentUser, RegistryKeyPath, "WindowWidth", "9000"));
    EXPECT_EQ("12000", ReadSetting("WindowWidth", "12000"));
    EXPECT_FALSE(RegDeleteSettings(RegistryRoot::CurrentUser, RegistryKeyPath));
}

TEST_F(Registry, DamagedStoreIsReadAndRewritten) {
    const QString file = settingsFile();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        QByteArray junk;
        const int size = static_cast<int>(rng() % 2048);
        for (int i = 0; i < size; ++i) junk.append(static_cast<char>(rng()));
        if (round % 2 == 0) junk.prepend("[Settings]\nWindowWidth=");
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(junk);
        f.close();
        const QString width = ReadSetting("WindowWidth", "12000");
        EXPECT_FALSE(width.contains(QChar(0)));
        // A damaged store does not stop the placement from being kept.
        EXPECT_TRUE(
            RegWriteString(RegistryRoot::CurrentUser, RegistryKeyPath, "WindowHeight", "7500"));
        EXPECT_EQ("7500", ReadSetting("WindowHeight", "0"));
    }
}

}  // namespace
}  // namespace lumeval
