// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SessionRig.h"
#include "transfer/SendSource.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tapeway;

namespace {

const QString kComplete = QStringLiteral("Complete");

// Our receiving session on end B of the rig's null-modem, in place of the
// simulated controller.
struct Receiver
{
    RecordingHost host;
    SerialPort port;
    TransferSession session{port, host};

    Receiver(SessionRig& rig, const QString& target)
    {
        rig.controller.reset();
        host.link.portName = rig.modem.PortB();
        host.target = target;
        host.continuous = true;
        TransferSession::Timings timings;
        timings.headerRequestMs = 200;
        session.SetTimings(timings);
        QObject::connect(&port, &SerialPort::OnComm, &session, &TransferSession::OnComm);
    }
};

void AddRow(SessionRig& rig, const QString& path, bool checked = true)
{
    rig.host.rows.append({path, checked, QString()});
}

TEST(SendSession, OurSendToOurReceiveAtEachSpeed)
{
    for (int baud : {9600, 19200, 38400}) {
        SessionRig rig;
        const QList<QByteArray> files = {SessionRig::Pattern(1, baud),
                                         SessionRig::Pattern(1024, baud + 1),
                                         SessionRig::Pattern(1025, baud + 2)};
        for (int i = 0; i < files.size(); ++i) {
            const QString path = rig.Path(QStringLiteral("src%1.nc").arg(i));
            SessionRig::Write(path, files[i]);
            AddRow(rig, path);
        }
        Receiver receiver(rig, rig.Path("got.nc"));
        receiver.session.StartTransfer();
        rig.host.receiveMode = false;
        rig.host.baudText = QString::number(baud);
        rig.session->StartTransfer();
        ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded == 1; }, 60000)) << baud;
        ASSERT_TRUE(WaitFor([&] { return receiver.host.receiveOutcomes.size() == 3; }, 10000));
        EXPECT_EQ(SessionRig::Read(rig.Path("got.nc")), files[0]) << baud;
        EXPECT_EQ(SessionRig::Read(rig.Path("got001.nc")), files[1]) << baud;
        EXPECT_EQ(SessionRig::Read(rig.Path("got002.nc")), files[2]) << baud;
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(rig.host.rows[row].state, kComplete) << row;
            EXPECT_EQ(rig.host.rowHistory[row].first(), "Start");
        }
        EXPECT_TRUE(rig.host.rowHistory[2].contains("100%"));
        // One report per file on each side, with the digest of the exact bytes.
        ASSERT_EQ(rig.host.reports.size(), 3);
        ASSERT_TRUE(WaitFor([&] { return receiver.host.reports.size() == 3; }, 10000));
        for (int i = 0; i < 3; ++i) {
            const QByteArray digest =
                QCryptographicHash::hash(files[i], QCryptographicHash::Sha256);
            for (const FileReport& report : {rig.host.reports[i], receiver.host.reports[i]}) {
                EXPECT_EQ(report.outcome, report.receive ? "received" : "sent") << i;
                EXPECT_EQ(report.sha256, digest) << i;
                EXPECT_EQ(report.bytes, files[i].size());
                EXPECT_EQ(report.baud, baud);
                EXPECT_LE(report.started, report.ended);
            }
            EXPECT_EQ(rig.host.reports[i].path,
                      QFileInfo(rig.host.rows[i].path).absoluteFilePath());
        }
        EXPECT_EQ(receiver.host.announcedBaud, baud);
        EXPECT_TRUE(rig.host.messages.isEmpty()); // a send shows no message box
        EXPECT_EQ(rig.session->RowCursor(), 0);
        EXPECT_TRUE(rig.host.ControlsEnabled());
        receiver.session.CancelTransfer();
    }
}

TEST(SendSession, LargeFileArrivesIdentical)
{
    SessionRig rig;
    const QByteArray data = SessionRig::Pattern(100000, 7);
    SessionRig::Write(rig.Path("big.nc"), data);
    AddRow(rig, rig.Path("big.nc"));
    Receiver receiver(rig, rig.Path("big-copy.nc"));
    receiver.host.continuous = false;
    receiver.session.StartTransfer();
    rig.host.receiveMode = false;
    rig.host.baudText = "38400";
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return !receiver.host.receiveOutcomes.isEmpty(); }, 120000));
    EXPECT_EQ(SessionRig::Read(rig.Path("big-copy.nc")), data);
    EXPECT_EQ(receiver.host.messages, QStringList{"All data has been received!"});
    ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded == 1; }, 10000))
        << rig.host.rowHistory[0].join(' ').toStdString() << " active " << rig.session->IsActive();
    // The list was repainted during the data phase, and stops being repainted after it.
    EXPECT_GT(rig.host.listRepaints, 10);
    const int repaints = rig.host.listRepaints;
    RunEventLoopFor(1200);
    EXPECT_EQ(rig.host.listRepaints, repaints);
}

TEST(SendSession, LastPacketLeavesTheLineBeforeTheNextFileStarts)
{
    // The first file ends with a packet of 1029 bytes, more than a second on
    // the wire at 9600 baud; the next file's start must not cut it off.
    SessionRig rig;
    const QByteArray first = SessionRig::Pattern(2048, 3);
    const QByteArray second = SessionRig::Pattern(100, 4);
    SessionRig::Write(rig.Path("a.nc"), first);
    SessionRig::Write(rig.Path("b.nc"), second);
    AddRow(rig, rig.Path("a.nc"));
    AddRow(rig, rig.Path("b.nc"));
    QDir(rig.dir.path()).mkdir("in");
    QList<QByteArray> received;
    QObject::connect(rig.controller.get(), &SimulatedController::FileReceived,
                     [&](const QString&, const QByteArray& data) { received << data; });
    ASSERT_TRUE(rig.controller->ReceiveFiles(rig.Path("in"), 2));
    rig.host.receiveMode = false;
    rig.host.baudText = "9600";
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return received.size() == 2; }, 60000));
    EXPECT_EQ(received[0], first);
    EXPECT_EQ(received[1], second);
    EXPECT_EQ(SessionRig::Read(rig.Path("in/O0001.nc")), first);
}

TEST(SendSession, UntickedRowsAreSkippedAndBadFilesMarked)
{
    SessionRig rig;
    QDir(rig.dir.path()).mkdir("folder");
    SessionRig::Write(rig.Path("empty.nc"), "");
    SessionRig::Write(rig.Path("good.nc"), "G01 X10\n");
    SessionRig::Write(rig.Path("skipped.nc"), "not ticked");
    {
        // Larger than a header can announce; sparse, so it takes no disk.
        QFile huge(rig.Path("huge.nc"));
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
        ASSERT_TRUE(huge.resize(qint64(3) << 30));
    }
    AddRow(rig, rig.Path("missing.nc"));
    AddRow(rig, rig.Path("skipped.nc"), false);
    AddRow(rig, rig.Path("empty.nc"));
    AddRow(rig, rig.Path("folder"));
    AddRow(rig, rig.Path("huge.nc"));
    // A FIFO would block the open until a writer came.
    ASSERT_EQ(::mkfifo(QFile::encodeName(rig.Path("fifo.nc")).constData(), 0600), 0);
    AddRow(rig, rig.Path("fifo.nc"));
    AddRow(rig, rig.Path("good.nc"));
    rig.host.rows[1].state = "left from before";
    QDir(rig.dir.path()).mkdir("in");
    ASSERT_TRUE(rig.controller->ReceiveFiles(rig.Path("in"), 1));
    rig.host.receiveMode = false;
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded == 1; }, 30000));
    EXPECT_EQ(rig.host.rows[0].state, "The file is not exists,please input another!");
    EXPECT_EQ(rig.host.rows[1].state, QString()); // unticked: cleared, never touched
    EXPECT_TRUE(rig.host.rowHistory[1].isEmpty());
    EXPECT_EQ(rig.host.rows[2].state, "File contains no data!");
    EXPECT_EQ(rig.host.rows[3].state, "Cannot open file.");
    EXPECT_EQ(rig.host.rows[4].state, "Can't read whole data from the file!");
    EXPECT_EQ(rig.host.rows[5].state, "Cannot open file.");
    EXPECT_EQ(rig.host.reports[4].detail, "Not a regular file: " + rig.Path("fifo.nc"));
    EXPECT_EQ(rig.host.rows[6].state, kComplete);
    EXPECT_EQ(SessionRig::Read(rig.Path("in/O0001.nc")), "G01 X10\n");
    EXPECT_TRUE(rig.host.messages.isEmpty());
}

// A row's file is read when the controller asks for it, not at Start: what
// leaves is the file put in its place meanwhile, and the report names that
// file. A link the host follows is sent as its target. (The service's test
// has a file removed, or replaced by a link it does not follow.)
TEST(SendSession, TheFileIsReadWhenTheControllerAsks)
{
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "link" : "file");
        SessionRig rig;
        SessionRig::Write(rig.Path("a.nc"), "O1 (OLD)\n");
        SessionRig::Write(rig.Path("new.nc"), "O2 (NEW)\n");
        AddRow(rig, rig.Path("a.nc"));
        rig.host.receiveMode = false;
        rig.session->StartTransfer();
        ASSERT_EQ(rig.host.rows[0].state, "Start");
        if (link)
            ASSERT_TRUE(QFile::link(rig.Path("new.nc"), rig.Path(".a.new")));
        else
            ASSERT_TRUE(QFile::copy(rig.Path("new.nc"), rig.Path(".a.new")));
        ASSERT_EQ(
            ::rename(QFile::encodeName(rig.Path(".a.new")), QFile::encodeName(rig.Path("a.nc"))),
            0);
        QList<QByteArray> received;
        QObject::connect(rig.controller.get(), &SimulatedController::FileReceived,
                         [&](const QString&, const QByteArray& data) { received << data; });
        QDir(rig.dir.path()).mkdir("in");
        ASSERT_TRUE(rig.controller->ReceiveFiles(rig.Path("in"), 1));
        ASSERT_TRUE(WaitFor([&] { return rig.host.rows[0].state == kComplete; }, 30000));
        EXPECT_EQ(received, QList<QByteArray>{"O2 (NEW)\n"});
        ASSERT_EQ(rig.host.reports.size(), 1);
        EXPECT_EQ(rig.host.reports[0].sha256,
                  QCryptographicHash::hash("O2 (NEW)\n", QCryptographicHash::Sha256));
        EXPECT_EQ(rig.host.reports[0].identity,
                  SendSource::Identify(rig.Path(link ? "new.nc" : "a.nc")));
    }
}

TEST(SendSession, CancelMidFileEmptiesTheRowAndKeepsTheSource)
{
    SessionRig rig;
    const QByteArray data = SessionRig::Pattern(8000, 9);
    SessionRig::Write(rig.Path("src.nc"), data);
    AddRow(rig, rig.Path("src.nc"));
    QDir(rig.dir.path()).mkdir("in");
    ASSERT_TRUE(rig.controller->ReceiveFiles(rig.Path("in"), 1));
    rig.host.receiveMode = false;
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return rig.host.rows[0].state.endsWith('%'); }, 20000));
    rig.session->CancelTransfer();
    EXPECT_EQ(rig.host.rows[0].state, QString());
    EXPECT_EQ(rig.session->RowCursor(), 0);
    EXPECT_TRUE(rig.host.ControlsEnabled());
    EXPECT_EQ(SessionRig::Read(rig.Path("src.nc")), data);
    const int repaints = rig.host.listRepaints;
    RunEventLoopFor(1200); // no repaint goes on after Cancel
    EXPECT_EQ(rig.host.listRepaints, repaints);
}

TEST(SendSession, WatchdogMarksTheRowFailed)
{
    SessionRig rig;
    SessionRig::Write(rig.Path("small.nc"), SessionRig::Pattern(100, 4));
    SessionRig::Write(rig.Path("src.nc"), SessionRig::Pattern(6000, 5));
    AddRow(rig, rig.Path("small.nc"));
    AddRow(rig, rig.Path("src.nc"));
    AddRow(rig, rig.Path("src.nc"));
    ControllerFaults faults;
    // The controller takes the one-packet file whole, asks for the second
    // file's header and a packet or two, then says nothing.
    faults.silentAfter = 9;
    rig.controller->SetFaults(faults);
    QDir(rig.dir.path()).mkdir("in");
    ASSERT_TRUE(rig.controller->ReceiveFiles(rig.Path("in"), 2));
    rig.host.receiveMode = false;
    rig.session->StartTransfer();
    ASSERT_TRUE(
        WaitFor([&] { return !rig.session->IsActive() && !rig.host.messages.isEmpty(); }, 30000));
    EXPECT_EQ(rig.host.messages, QStringList{"communicate break down!"});
    EXPECT_EQ(rig.host.rows[0].state, "Complete");
    EXPECT_EQ(rig.host.rows[1].state, "Failed");
    EXPECT_EQ(rig.host.rows[2].state, QString()); // the batch stopped there
    EXPECT_EQ(rig.session->RowCursor(), 1);       // and resumes there, not from the top
    EXPECT_TRUE(rig.host.ControlsEnabled());
    rig.session->StartTransfer();
    EXPECT_EQ(rig.host.rows[0].state, "Complete");
    EXPECT_EQ(rig.host.rows[1].state, "Start");
    rig.session->CancelTransfer();
}

TEST(SendSession, PortThatCannotOpenStopsTheBatchAtItsRow)
{
    // A port that does not exist, and one another program holds.
    for (bool held : {false, true}) {
        SessionRig rig;
        SessionRig::Write(rig.Path("src.nc"), "x");
        AddRow(rig, rig.Path("src.nc"));
        AddRow(rig, rig.Path("src.nc"));
        SerialPort holder;
        if (held) {
            holder.SetCommPort(rig.modem.PortA());
            ASSERT_TRUE(holder.SetPortOpen(true));
        } else {
            rig.host.link.portName = rig.Path("no-such-port");
        }
        rig.host.receiveMode = false;
        rig.session->StartTransfer();
        EXPECT_FALSE(rig.session->IsActive());
        EXPECT_EQ(rig.host.messages,
                  (QStringList{"Invalid port number!", "Error sending the package!"}));
        const QString detail = rig.host.messageDetails.value(0);
        EXPECT_FALSE(detail.isEmpty()); // the system's reason comes along
        EXPECT_EQ(detail.contains("in use by another program"), held) << detail.toStdString();
        EXPECT_FALSE(detail.contains("dialout")) << detail.toStdString();
        // The row says why, and the next Start begins with it.
        EXPECT_EQ(rig.host.rows[0].state, "Invalid port number!");
        EXPECT_EQ(rig.session->RowCursor(), 0);
        EXPECT_TRUE(rig.host.ControlsEnabled());
    }
}

} // namespace
