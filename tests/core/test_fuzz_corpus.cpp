// SPDX-License-Identifier: GPL-3.0-or-later
// Replays every saved fuzzer input (tests/corpus/<target>/) through the same
// checks the fuzzers run, so a fault they once found stays mended.
#include "support/IniReaderHarness.h"
#include "support/ReceiveProtocolHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

namespace {

QDir CorpusDir(const QString& target)
{
    // The corpus sits beside the tests' source folder (a compiler cache may
    // make __FILE__ relative, so the build names the folder).
    return QDir(QStringLiteral(TAPEWAY_TESTS_DIR) + QStringLiteral("/corpus/") +
                target);
}

void Replay(const QString& target, const std::function<QString(QByteArrayView)>& check)
{
    const QDir dir = CorpusDir(target);
    ASSERT_TRUE(dir.exists()) << dir.path().toStdString();
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty()) << "no inputs in " << dir.path().toStdString();
    for (const QString& name : files) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray input = file.readAll();
        EXPECT_EQ(check(input).toStdString(), "")
            << target.toStdString() << "/" << name.toStdString();
    }
}

TEST(FuzzCorpus, ReceiveProtocolInputs)
{
    Replay(QStringLiteral("fuzz_receive_protocol"), CheckReceiveStream);
}

TEST(FuzzCorpus, IniReaderInputs)
{
    Replay(QStringLiteral("fuzz_ini_reader"), CheckIniInput);
}

} // namespace
