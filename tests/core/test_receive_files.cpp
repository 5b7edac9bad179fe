// SPDX-License-Identifier: GPL-3.0-or-later
// The local file work of a receive: checks before data arrives, the atomic
// save and the recovery copy.
#include "resources/StringTable.h"
#include "transfer/ReceiveFiles.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ReceiveFiles, SaveReplacesWholeAndKeepsPermissions)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("part.nc");
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    ASSERT_TRUE(
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QString reason;
    ASSERT_TRUE(SaveAtomically(target, "new content", &reason)) << reason.toStdString();
    EXPECT_EQ(Read(target), "new content");
    // User, group and others as before (0640).
    EXPECT_EQ(QFile::permissions(target) & 0x0777,
              QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"part.nc"});
    // A folder that is gone: false with the reason, nothing left.
    EXPECT_FALSE(SaveAtomically(dir.filePath("gone/part.nc"), "x", &reason));
    EXPECT_TRUE(reason.contains("gone")) << reason.toStdString();
}

TEST(ReceiveFiles, ChecksBeforeDataArrives)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("folder.nc");
    LocalReason reason;
    EXPECT_TRUE(CheckReceiveTarget(dir.filePath("new.nc"), &reason));
    EXPECT_FALSE(CheckReceiveTarget(dir.filePath("folder.nc"), &reason));
    EXPECT_EQ(LoadString(reason.englishId).arg(reason.path),
              "Not a regular file: " + dir.filePath("folder.nc"));
    EXPECT_FALSE(CheckReceiveTarget(dir.filePath("missing/new.nc"), &reason));
    EXPECT_EQ(LoadString(reason.chineseId).arg(reason.path),
              "文件夹不存在：" + dir.filePath("missing"));
    // Room on the volume: what it has is enough, one byte more is not.
    const qint64 available = QStorageInfo(dir.path()).bytesAvailable();
    qint64 seen = 0;
    QString volume;
    EXPECT_TRUE(CheckRoomFor(dir.filePath("new.nc"), 1, &seen, &volume));
    EXPECT_FALSE(
        CheckRoomFor(dir.filePath("new.nc"), available + (qint64(1) << 30), &seen, &volume));
    EXPECT_FALSE(volume.isEmpty());
}

TEST(ReceiveFiles, RecoveryCopyTakesAnyName)
{
    for (const QString& name : {QStringLiteral("O1234.nc"), QString(250, QChar(0x7a0b))}) {
        QString reason;
        const QString kept = KeepRecoveryCopy("/no/such/folder/" + name, "verified", &reason);
        ASSERT_FALSE(kept.isEmpty()) << reason.toStdString();
        EXPECT_TRUE(kept.contains("/tapeway/recovered/")) << kept.toStdString();
        EXPECT_EQ(Read(kept), "verified");
        EXPECT_LE(QFile::encodeName(QFileInfo(kept).fileName()).size(), 255);
        QFile::remove(kept);
    }
}

} // namespace
