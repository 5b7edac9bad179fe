// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingsStore.h"
#include "support/TempSettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

const QString kChinesePath = QStringLiteral("/home/操作员/程序 备份/车床 1, 第二批.nc");

} // namespace

TEST(SettingsStore, MissingFileGivesDefaultsAndReadsCreateNothing)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();
    EXPECT_EQ(store.ReadSettingInt("BAUD", "value", 0), 0);
    EXPECT_EQ(store.ReadSettingValue("BAUD", 7), 7);
    EXPECT_EQ(store.ReadSettingString("COM", "value", ""), QString());
    EXPECT_EQ(store.ReadSettingString("COM", "value", "COM9"), "COM9");
    EXPECT_FALSE(QFile::exists(settings.FilePath()));
}

TEST(SettingsStore, DefaultLocationIsPerUserConfigDirectory)
{
    const QString expected =
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
            .filePath("RS232.ini");
    EXPECT_EQ(SettingsStore::DefaultFilePath(), expected);
    EXPECT_EQ(SettingsStore().FilePath(), expected);
    EXPECT_EQ(SettingsStore("/tmp/x/RS232.ini").FilePath(), "/tmp/x/RS232.ini");
}

TEST(SettingsStore, WritesPlainIniText)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();
    EXPECT_TRUE(store.WriteSettingValue("BAUD", 2));
    EXPECT_TRUE(store.WriteSettingValue("COM", "COM3"));
    EXPECT_TRUE(store.WriteSettingString("PATH", "0", kChinesePath));
    EXPECT_TRUE(store.WriteSettingValue("BAUD", "1")); // replaces, no second key

    const QByteArray expected =
        "[BAUD]\nvalue=1\n[COM]\nvalue=COM3\n[PATH]\n0=" + kChinesePath.toUtf8() + "\n";
    EXPECT_EQ(settings.ReadFile(), expected);
    EXPECT_EQ(store.ReadSettingValue("BAUD", 0), 1);
    EXPECT_EQ(store.ReadSettingString("COM", "value"), "COM3");
    EXPECT_EQ(store.ReadSettingString("PATH", "0"), kChinesePath);
}

TEST(SettingsStore, ReadsHandWrittenWindowsFile)
{
    TempSettings settings;
    // Byte-order mark, CRLF, blanks around '=', other letter case, a comment,
    // a quoted value and a line that is not UTF-8.
    settings.WriteFile("\xEF\xBB\xBF"
                       "; written by hand\r\n"
                       "[baud]\r\n"
                       "Value = 2 \r\n"
                       "\r\n"
                       "[ Com ]\r\n"
                       "VALUE=\"COM4\"\r\n"
                       "[PATH]\r\n"
                       "index=3\r\n"
                       "\t0 =  " +
                       kChinesePath.toUtf8() +
                       "\r\n"
                       "1=C:\\\xB3\xCC\xD0\xF2\\a.nc\r\n"
                       "value=0\r\n");
    SettingsStore& store = settings.Store();
    EXPECT_EQ(store.ReadSettingValue("BAUD", 0), 2);
    EXPECT_EQ(store.ReadSettingString("COM", "value"), "COM4");
    EXPECT_EQ(store.ReadSettingString("path", "0"), kChinesePath);
    EXPECT_EQ(store.ReadSettingInt("PATH", "INDEX", 0), 3);
    // The Chinese Windows code page of the original program, read as such.
    EXPECT_EQ(store.ReadSettingString("PATH", "1"), QStringLiteral("C:\\程序\\a.nc"));

    // A write changes its own line only and keeps the file's form; the text
    // goes out as UTF-8. A line in the code page that was not changed keeps
    // its bytes, for a program that reads the file in the code page.
    EXPECT_TRUE(store.WriteSettingValue("PATH", 1));
    EXPECT_TRUE(store.WriteSettingString("COM", "extra", "x"));
    EXPECT_TRUE(store.WriteSettingString("PATH", "2", QStringLiteral("D:\\车床\\b.nc")));
    const QByteArray after = settings.ReadFile();
    EXPECT_TRUE(after.startsWith("\xEF\xBB\xBF; written by hand\r\n[baud]\r\nValue = 2 \r\n\r\n"));
    EXPECT_TRUE(after.contains("VALUE=\"COM4\"\r\nextra=x\r\n[PATH]"));
    EXPECT_TRUE(after.contains("\r\n1=C:\\\xB3\xCC\xD0\xF2\\a.nc\r\nvalue=1\r\n" +
                               QStringLiteral("2=D:\\车床\\b.nc\r\n").toUtf8()))
        << after.toStdString();
    EXPECT_EQ(store.ReadSettingString("PATH", "1"), QStringLiteral("C:\\程序\\a.nc"));
    EXPECT_EQ(after.count('\n'), after.count("\r\n"));
}

TEST(SettingsStore, IntegersFollowTheProfileRule)
{
    TempSettings settings;
    settings.WriteFile("[N]\na=12abc\nb=abc\nc=  -7x\nd=\ne=+40\nf=99999999999\n");
    const SettingsStore& store = settings.Store();
    EXPECT_EQ(store.ReadSettingInt("N", "a", 5), 12);
    EXPECT_EQ(store.ReadSettingInt("N", "b", 5), 0);
    EXPECT_EQ(store.ReadSettingInt("N", "c", 5), -7);
    EXPECT_EQ(store.ReadSettingInt("N", "d", 5), 5); // empty counts as missing
    EXPECT_EQ(store.ReadSettingInt("N", "e", 5), 40);
    EXPECT_EQ(store.ReadSettingInt("N", "f", 5), 2147483647);
    EXPECT_EQ(store.ReadSettingInt("N", "missing", 5), 5);
    EXPECT_EQ(store.ReadSettingInt("Other", "a", 5), 5);
    // An empty string value is a value, not the default.
    EXPECT_EQ(store.ReadSettingString("N", "d", "def"), QString());
}

TEST(SettingsStore, LongStringsComeBackCut)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();
    const QString longPath = "/" + QString(299, u'a');
    EXPECT_TRUE(store.WriteSettingString("PATH", "0", longPath));
    EXPECT_TRUE(settings.ReadFile().contains(longPath.toUtf8())); // stored whole
    EXPECT_EQ(store.ReadSettingString("PATH", "0"), longPath.left(259));
    EXPECT_EQ(store.ReadSettingString("PATH", "x", longPath), longPath.left(259));

    // A character outside the basic plane is not split in two.
    const QString wide = QString(258, u'b') + QString::fromUcs4(U"\U0001F600");
    EXPECT_TRUE(store.WriteSettingString("PATH", "1", wide));
    EXPECT_EQ(store.ReadSettingString("PATH", "1"), QString(258, u'b'));
}

TEST(SettingsStore, GarbageFileGivesDefaults)
{
    TempSettings settings;
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 7919 + 13) % 256);
    garbage += QByteArray("\0\xFF\xFE[BAUD\x80=\n=\n[\n]\n", 17);
    settings.WriteFile(garbage);
    SettingsStore& store = settings.Store();
    EXPECT_EQ(store.ReadSettingValue("BAUD", 0), 0);
    EXPECT_EQ(store.ReadSettingString("COM", "value"), QString());
    // Writing still works and leaves the rest alone.
    EXPECT_TRUE(store.WriteSettingValue("BAUD", 1));
    EXPECT_EQ(store.ReadSettingValue("BAUD", 0), 1);
    EXPECT_TRUE(settings.ReadFile().startsWith(garbage.left(4096)));
}

TEST(SettingsStore, OversizedFileIsNeitherReadNorReplaced)
{
    TempSettings settings;
    const QByteArray big = "[BAUD]\nvalue=2\n" + QByteArray(2 * 1024 * 1024, ' ');
    settings.WriteFile(big);
    EXPECT_EQ(settings.Store().ReadSettingValue("BAUD", 0), 0);
    EXPECT_FALSE(settings.Store().WriteSettingValue("BAUD", 1));
    EXPECT_EQ(settings.ReadFile().size(), big.size());
}

TEST(SettingsStore, UnwritableLocationLosesWritesQuietly)
{
    TempSettings settings;
    // The directory of the file is a regular file: nothing can be created.
    QFile blocker(QDir(settings.DirPath()).filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsStore store(QDir(blocker.fileName()).filePath("RS232.ini"));
    EXPECT_FALSE(store.WriteSettingValue("BAUD", 2));
    EXPECT_EQ(store.ReadSettingValue("BAUD", 0), 0);

    // The file's name is taken by a directory.
    ASSERT_TRUE(QDir(settings.DirPath()).mkdir("RS232.ini"));
    EXPECT_FALSE(settings.Store().WriteSettingValue("BAUD", 2));
    EXPECT_EQ(settings.Store().ReadSettingValue("BAUD", 0), 0);

    // No location at all.
    SettingsStore nowhere{QString("/proc/nonexistent-dir/RS232.ini")};
    EXPECT_FALSE(nowhere.WriteSettingValue("BAUD", 2));
}

TEST(SettingsStore, RefusesTextThatWouldBreakTheFile)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();
    EXPECT_TRUE(store.WriteSettingValue("COM", "COM1"));
    EXPECT_FALSE(store.WriteSettingValue("COM", "COM2\n[BAUD]\nvalue=2"));
    EXPECT_FALSE(store.WriteSettingString("PATH", "0", "/tmp/a\rb"));
    EXPECT_FALSE(store.WriteSettingString("PATH", "a=b", "x"));
    EXPECT_FALSE(store.WriteSettingString("PA]TH", "0", "x"));
    EXPECT_FALSE(store.WriteSettingStrings("PATH", {{"0", "fine"}, {"index", "bad\n"}}));
    EXPECT_EQ(store.ReadSettingString("COM", "value"), "COM1");
    EXPECT_EQ(store.ReadSettingValue("BAUD", 0), 0);
    EXPECT_EQ(store.ReadSettingString("PATH", "0"), QString()); // all or nothing
}

TEST(SettingsStore, WriteGivesUpWhileAnotherWriterHoldsTheLock)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();
    ASSERT_TRUE(store.WriteSettingValue("BAUD", 1));

    QLockFile other(settings.FilePath() + ".lock");
    ASSERT_TRUE(other.tryLock(0));
    EXPECT_FALSE(store.WriteSettingValue("BAUD", 2));
    EXPECT_EQ(store.ReadSettingValue("BAUD", 0), 1); // reads do not wait
    other.unlock();

    EXPECT_TRUE(store.WriteSettingValue("BAUD", 2));
    EXPECT_EQ(store.ReadSettingValue("BAUD", 0), 2);
}

namespace {

class KeyWriter : public QThread
{
public:
    KeyWriter(const QString& filePath, const QString& prefix) : m_store(filePath), m_prefix(prefix)
    {
    }
    int failures = 0;

protected:
    // A write may give up when the other writer keeps the lock for long on a
    // busy machine; it is then tried again. What is written must never be lost.
    void run() override
    {
        QDeadlineTimer deadline(60000);
        for (int i = 0; i < 200; ++i) {
            // One section shared by both writers, one section each.
            const QString section = i % 2 ? QStringLiteral("SHARED") : m_prefix;
            while (!m_store.WriteSettingString(section, m_prefix + QString::number(i),
                                               QString::number(i))) {
                if (deadline.hasExpired()) {
                    ++failures;
                    break;
                }
            }
        }
    }

private:
    SettingsStore m_store;
    QString m_prefix;
};

void ExpectAllKeys(const SettingsStore& store, const QString& prefix, int count)
{
    for (int i = 0; i < count; ++i) {
        const QString section = i % 2 ? QStringLiteral("SHARED") : prefix;
        EXPECT_EQ(store.ReadSettingInt(section, prefix + QString::number(i), -1), i)
            << qPrintable(prefix) << i;
    }
}

const char kChildFileVariable[] = "TAPEWAY_SETTINGS_CHILD_FILE";
const char kChildPrefixVariable[] = "TAPEWAY_SETTINGS_CHILD_PREFIX";

} // namespace

TEST(SettingsStoreConcurrency, TwoThreadsLoseNothing)
{
    TempSettings settings;
    KeyWriter a(settings.FilePath(), "a");
    KeyWriter b(settings.FilePath(), "b");
    a.start();
    b.start();
    ASSERT_TRUE(a.wait(QDeadlineTimer(120000)));
    ASSERT_TRUE(b.wait(QDeadlineTimer(120000)));
    EXPECT_EQ(a.failures, 0);
    EXPECT_EQ(b.failures, 0);
    ExpectAllKeys(settings.Store(), "a", 200);
    ExpectAllKeys(settings.Store(), "b", 200);
}

// Runs as a separate process, started by the test below.
TEST(SettingsStoreConcurrency, ChildWriter)
{
    const QString file = qEnvironmentVariable(kChildFileVariable);
    if (file.isEmpty())
        GTEST_SKIP() << "only run as a child process";
    KeyWriter writer(file, qEnvironmentVariable(kChildPrefixVariable));
    writer.start();
    ASSERT_TRUE(writer.wait(QDeadlineTimer(120000)));
    EXPECT_EQ(writer.failures, 0);
}

TEST(SettingsStoreConcurrency, TwoProcessesLoseNothing)
{
    TempSettings settings;
    QProcess children[2];
    const QString prefixes[2] = {"p", "q"};
    for (int i = 0; i < 2; ++i) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kChildFileVariable, settings.FilePath());
        environment.insert(kChildPrefixVariable, prefixes[i]);
        children[i].setProcessEnvironment(environment);
        children[i].start(QCoreApplication::applicationFilePath(),
                          {"--gtest_filter=SettingsStoreConcurrency.ChildWriter"});
    }
    for (QProcess& child : children) {
        ASSERT_TRUE(child.waitForFinished(120000));
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
    }
    ExpectAllKeys(settings.Store(), "p", 200);
    ExpectAllKeys(settings.Store(), "q", 200);
}
