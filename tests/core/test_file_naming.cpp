// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FileNaming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tapeway;

TEST(FileNaming, ContinuousNames)
{
    struct Row
    {
        const char* base;
        int n;
        const char* expected;
    } rows[] = {
        {"/cnc/part.nc", 1, "/cnc/part001.nc"},
        {"/cnc/part.nc", 9, "/cnc/part009.nc"},
        {"/cnc/part.nc", 10, "/cnc/part010.nc"},
        {"/cnc/part.nc", 12, "/cnc/part012.nc"},
        {"/cnc/part.nc", 100, "/cnc/part100.nc"},
        {"/cnc/part.nc", 1000, "/cnc/part1000.nc"},
        {"/cnc/o1234.prg.txt", 3, "/cnc/o1234003.prg.txt"},
        {"prog.nc", 1, "prog001.nc"},
        // A dot in a directory name is not the extension's.
        {"D:/cnc.old/part.nc", 1, "D:/cnc.old/part001.nc"},
        // CNC programs are often named without an extension.
        {"/cnc/O1234", 1, "/cnc/O1234001"},
        {"/cnc.d/O1234", 2, "/cnc.d/O1234002"},
        {"/程序/零件 1.nc", 5, "/程序/零件 1005.nc"},
        {"", 1, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ContinuousName(QString::fromUtf8(row.base), row.n),
                  QString::fromUtf8(row.expected))
            << row.base << " " << row.n;
}

TEST(FileNaming, StagingNameTakesTheFirstFreeCandidate)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString dir = temp.path();
    EXPECT_EQ(StagingName("/cnc/part.nc", dir), QDir(dir).filePath("part.bak0"));
    QFile(QDir(dir).filePath("part.bak0")).open(QIODevice::WriteOnly);
    QDir(dir).mkdir("part.bak1"); // a directory counts as taken too
    EXPECT_EQ(StagingName("/other/part.txt", dir), QDir(dir).filePath("part.bak2"));
    EXPECT_EQ(StagingName("/cnc/O1234", dir), QDir(dir).filePath("O1234.bak0"));
    EXPECT_EQ(StagingName("", dir), QString());
}

TEST(FileNaming, StagingNameRefusesWhenEveryCandidateIsTaken)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    for (int i = 0; i < 999; ++i)
        QFile(QDir(temp.path()).filePath(QStringLiteral("x.bak%1").arg(i)))
            .open(QIODevice::WriteOnly);
    EXPECT_EQ(StagingName("/cnc/x.nc", temp.path()), QString());
    QFile::remove(QDir(temp.path()).filePath("x.bak500"));
    EXPECT_EQ(StagingName("/cnc/x.nc", temp.path()), QDir(temp.path()).filePath("x.bak500"));
}
