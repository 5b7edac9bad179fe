// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SessionRig.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

const QString kReceived = QStringLiteral("All data has been received!");
const QString kDataError = QStringLiteral("Received data error!");
const QString kLinkBroken = QStringLiteral("communicate break down!");

// A stem of its own per test, so that staging files of other runs never meet ours.
QString Stem(const char* name)
{
    return QStringLiteral("tw%1_%2")
        .arg(QCoreApplication::applicationPid())
        .arg(QLatin1String(name));
}

TEST(ReceiveSession, FileArrivesWholeAtEachSpeed)
{
    for (const auto& [baud, size] :
         {std::pair{9600, 2500}, std::pair{19200, 4097}, std::pair{38400, 9000}}) {
        SessionRig rig;
        const QByteArray data = SessionRig::Pattern(size, baud);
        ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{data}, baud));
        rig.host.target = "  " + rig.Path("part.nc") + " ";
        rig.session->StartTransfer();
        EXPECT_TRUE(rig.session->IsActive());
        EXPECT_EQ(rig.host.controlStates, QList<bool>{false});
        ASSERT_TRUE(rig.WaitIdle()) << baud;
        EXPECT_EQ(rig.host.messages, QStringList{kReceived}) << baud;
        EXPECT_EQ(SessionRig::Read(rig.Path("part.nc")), data) << baud;
        EXPECT_EQ(rig.host.announcedBaud, baud);
        EXPECT_EQ(rig.host.rangeUpper, size);
        EXPECT_TRUE(rig.host.positions.contains(size));
        EXPECT_EQ(rig.host.positions.last(), 0);
        EXPECT_TRUE(rig.host.ControlsEnabled());
        EXPECT_EQ(rig.host.remembered, QStringList{rig.Path("part.nc")});
        EXPECT_EQ(rig.port.CurrentBaud(), baud); // the line stays at the agreed speed, open
        EXPECT_TRUE(rig.port.GetPortOpen());
        EXPECT_EQ(rig.modem.BytesGarbled(VirtualNullModem::AToB), 0)
            << "DC4 cut by the speed change";
        ASSERT_EQ(rig.host.reports.size(), 1);
        EXPECT_EQ(rig.host.reports[0].outcome, "received");
        EXPECT_EQ(rig.host.reports[0].bytes, size);
        EXPECT_EQ(rig.host.reports[0].sha256.size(), 32);
    }
}

TEST(ReceiveSession, ExistingFileIsReplacedOnlyByCompleteData)
{
    SessionRig rig;
    const QString stem = Stem("replace");
    const QString target = rig.Path(stem + ".nc");
    SessionRig::Write(target, "old program");
    const QByteArray data = SessionRig::Pattern(3000);
    ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{data}, 38400));
    rig.host.target = target;
    rig.session->StartTransfer();
    EXPECT_EQ(rig.host.overwriteQuestions, 1);
    EXPECT_FALSE(rig.session->StagingFileName().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(rig.session->StagingFileName()));
    // Half-way the old content is still there, whole.
    ASSERT_TRUE(WaitFor([&] { return rig.host.positions.size() >= 1; }, 20000));
    EXPECT_EQ(SessionRig::Read(target), "old program");
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.host.messages, QStringList{kReceived});
    EXPECT_EQ(SessionRig::Read(target), data);
    EXPECT_TRUE(SessionRig::StagingFiles(stem).isEmpty());
    EXPECT_EQ(QDir(rig.dir.path()).entryList(QDir::Files), QStringList{stem + ".nc"});
}

TEST(ReceiveSession, AnsweringNoChangesNothing)
{
    SessionRig rig;
    const QString target = rig.Path("keep.nc");
    SessionRig::Write(target, "keep me");
    rig.host.target = target;
    rig.host.overwriteAnswer = false;
    rig.session->StartTransfer();
    EXPECT_FALSE(rig.session->IsActive());
    EXPECT_TRUE(rig.host.controlStates.isEmpty());
    EXPECT_TRUE(rig.host.messages.isEmpty());
    EXPECT_EQ(SessionRig::Read(target), "keep me");
    EXPECT_FALSE(rig.port.GetPortOpen());
}

TEST(ReceiveSession, EmptyNameOrUncreatableTargetStartsNothing)
{
    SessionRig rig;
    rig.host.target = "   ";
    rig.session->StartTransfer();
    rig.host.target = rig.Path("no/such/dir/x.nc");
    rig.session->StartTransfer();
    EXPECT_EQ(rig.host.messages,
              (QStringList{"Please input the file name for save the data from cnc!",
                           "Cannot open file."}));
    EXPECT_FALSE(rig.session->IsActive());
    EXPECT_TRUE(rig.host.controlStates.isEmpty());
}

TEST(ReceiveSession, CorruptedDataLeavesExistingFileAndNoStaging)
{
    SessionRig rig;
    const QString stem = Stem("corrupt");
    const QString target = rig.Path(stem + ".nc");
    SessionRig::Write(target, "precious");
    ControllerFaults faults;
    faults.flipByteAt = 17 + 1 + 500; // a data byte of packet 1
    rig.controller->SetFaults(faults);
    ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{SessionRig::Pattern(2000)}, 19200));
    rig.host.target = target;
    rig.session->StartTransfer();
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.host.messages, QStringList{kDataError});
    ASSERT_EQ(rig.host.reports.size(), 1);
    EXPECT_EQ(rig.host.reports[0].outcome, "data_error");
    EXPECT_TRUE(rig.host.reports[0].sha256.isEmpty()); // nothing verified
    EXPECT_EQ(SessionRig::Read(target), "precious");
    EXPECT_TRUE(SessionRig::StagingFiles(stem).isEmpty());
    EXPECT_TRUE(rig.host.ControlsEnabled());
}

TEST(ReceiveSession, FailedReceiveRemovesTheTargetItCreated)
{
    SessionRig rig;
    ControllerFaults faults;
    faults.flipByteAt = 17 + 1 + 2000 + 4; // a checksum byte of the last packet
    rig.controller->SetFaults(faults);
    ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{SessionRig::Pattern(2000)}, 9600));
    rig.host.target = rig.Path("fresh.nc");
    rig.session->StartTransfer();
    EXPECT_TRUE(QFileInfo::exists(rig.Path("fresh.nc")));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.host.messages, QStringList{kDataError});
    EXPECT_FALSE(QFileInfo::exists(rig.Path("fresh.nc")));
}

TEST(ReceiveSession, DamagedHeaderIsRefusedWithoutDC4)
{
    SessionRig rig;
    ControllerFaults faults;
    faults.wrongHeaderCheck = true;
    rig.controller->SetFaults(faults);
    ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{SessionRig::Pattern(100)}, 9600));
    rig.host.target = rig.Path("h.nc");
    rig.session->StartTransfer();
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.host.messages, QStringList{kDataError});
    EXPECT_GE(rig.sentBySession[0x12].load(), 1);
    EXPECT_EQ(rig.sentBySession[0x14].load(), 0);
    EXPECT_FALSE(QFileInfo::exists(rig.Path("h.nc")));
}

TEST(ReceiveSession, CancelInEachPhaseLeavesNothingBehind)
{
    // Phases: waiting for the header, and in the middle of the data.
    for (int phase = 0; phase < 2; ++phase) {
        SessionRig rig;
        const QString stem = Stem(phase == 0 ? "cancel0" : "cancel1");
        const QString existing = rig.Path(stem + ".nc");
        SessionRig::Write(existing, "untouched");
        const QString fresh = rig.Path("new.nc");
        for (const QString& target : {existing, fresh}) {
            if (phase == 1) {
                ASSERT_TRUE(
                    rig.controller->SendFiles(QList<QByteArray>{SessionRig::Pattern(6000)}, 9600));
            }
            rig.host.target = target;
            rig.session->StartTransfer();
            ASSERT_TRUE(rig.session->IsActive());
            if (phase == 1)
                ASSERT_TRUE(WaitFor([&] { return rig.host.positions.size() >= 2; }, 20000));
            else
                RunEventLoopFor(300);
            rig.session->CancelTransfer();
            EXPECT_FALSE(rig.session->IsActive());
            EXPECT_TRUE(rig.host.ControlsEnabled());
            EXPECT_EQ(rig.host.positions.last(), 0);
            rig.controller->Stop();
            RunEventLoopFor(200);
        }
        EXPECT_EQ(SessionRig::Read(existing), "untouched");
        EXPECT_FALSE(QFileInfo::exists(fresh)) << phase;
        EXPECT_TRUE(SessionRig::StagingFiles(stem).isEmpty());
        EXPECT_TRUE(rig.host.messages.isEmpty());
        ASSERT_EQ(rig.host.reports.size(), 2);
        for (const FileReport& report : rig.host.reports) {
            EXPECT_EQ(report.outcome, "cancelled");
            EXPECT_TRUE(report.sha256.isEmpty());
        }
    }
}

TEST(ReceiveSession, WatchdogEndsASilentTransfer)
{
    SessionRig rig;
    ControllerFaults faults;
    faults.silentAfter = 17 + 1500; // mid-file
    rig.controller->SetFaults(faults);
    ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{SessionRig::Pattern(5000)}, 19200));
    rig.host.target = rig.Path("silent.nc");
    rig.session->StartTransfer();
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.host.messages, QStringList{kLinkBroken});
    EXPECT_FALSE(QFileInfo::exists(rig.Path("silent.nc")));
    EXPECT_TRUE(rig.host.ControlsEnabled());
}

TEST(ReceiveSession, HangUpMidFileEndsAtOnce)
{
    SessionRig rig;
    ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{SessionRig::Pattern(8000)}, 9600));
    rig.host.target = rig.Path("unplugged.nc");
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return rig.host.positions.size() >= 1; }, 20000));
    rig.modem.HangUp();
    ASSERT_TRUE(rig.WaitIdle(5000)); // well before the watchdog
    EXPECT_EQ(rig.host.messages, QStringList{kLinkBroken});
    EXPECT_FALSE(QFileInfo::exists(rig.Path("unplugged.nc")));
}

TEST(ReceiveSession, ContinuousReceiveSavesANumberedSeries)
{
    SessionRig rig;
    const QList<QByteArray> files = {SessionRig::Pattern(700, 1), SessionRig::Pattern(1030, 2),
                                     SessionRig::Pattern(50, 3)};
    ASSERT_TRUE(rig.controller->SendFiles(files, 19200));
    rig.host.continuous = true;
    rig.host.target = rig.Path("part.nc");
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return rig.host.receiveOutcomes.size() >= 3; }, 40000));
    EXPECT_TRUE(rig.host.messages.isEmpty()); // no message box in a series
    EXPECT_EQ(SessionRig::Read(rig.Path("part.nc")), files[0]);
    EXPECT_EQ(SessionRig::Read(rig.Path("part001.nc")), files[1]);
    EXPECT_EQ(SessionRig::Read(rig.Path("part002.nc")), files[2]);
    EXPECT_EQ(rig.host.remembered,
              (QStringList{rig.Path("part.nc"), rig.Path("part001.nc"), rig.Path("part002.nc")}));
    // The series goes on waiting for a fourth file until cancelled.
    ASSERT_TRUE(WaitFor([&] { return rig.session->IsActive(); }, 5000));
    EXPECT_EQ(rig.session->ContinuousCounter(), 3);
    EXPECT_EQ(rig.host.target, rig.Path("part003.nc"));
    rig.session->CancelTransfer();
    EXPECT_EQ(rig.session->ContinuousCounter(), 0);
    EXPECT_FALSE(QFileInfo::exists(rig.Path("part003.nc")));
}

TEST(ReceiveSession, SeriesStopsWhenTheNextNameExistsAndTheAnswerIsNo)
{
    SessionRig rig;
    SessionRig::Write(rig.Path("part001.nc"), "older");
    ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{SessionRig::Pattern(300)}, 9600));
    rig.host.continuous = true;
    rig.host.overwriteAnswer = false;
    rig.host.target = rig.Path("part.nc");
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return rig.host.overwriteQuestions == 1; }, 20000));
    EXPECT_FALSE(rig.session->IsActive());
    EXPECT_TRUE(rig.host.ControlsEnabled());
    EXPECT_EQ(SessionRig::Read(rig.Path("part001.nc")), "older");
    EXPECT_EQ(rig.host.questionPaths.last(), rig.Path("part001.nc")); // the question names it
    // The series ended without saving: the next Start takes the name in the
    // box, and a name the operator edited begins anew.
    EXPECT_EQ(rig.session->ContinuousCounter(), 0);
    rig.host.continuous = false;
    rig.host.target = rig.Path("other.nc");
    rig.session->StartTransfer();
    EXPECT_EQ(rig.host.overwriteQuestions, 1);
    EXPECT_TRUE(rig.session->IsActive());
    EXPECT_EQ(rig.session->TargetName(), rig.Path("other.nc"));
    rig.session->CancelTransfer();
}

} // namespace
