// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SessionRig.h"
#include "support/TapePeer.h"
#include "transfer/Frame.h"
#include "transfer/TapeSender.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

// A host that notes how much the controller had when a file ended.
struct TapeHost : RecordingHost
{
    std::function<qint64()> delivered;
    QList<qint64> deliveredAtEnd;
    void FileFinished(const FileReport& report) override
    {
        deliveredAtEnd << (delivered ? delivered() : -1);
        RecordingHost::FileFinished(report);
    }
};

TapeProfile Profile(int baud, const char* frame)
{
    TapeProfile profile;
    profile.name = QStringLiteral("Test %1").arg(frame);
    profile.baud = baud;
    profile.SetFrame(QString::fromLatin1(frame));
    return profile;
}

// What the wire must carry for a file.
QByteArray WireForm(const TapeProfile& profile, const QByteArray& file)
{
    TapeSender sender(profile);
    sender.AddSource(file);
    sender.EndOfSource();
    sender.OnReceived(QByteArray(1, kDC1));
    return sender.Take(1 << 30);
}

QByteArray Program(int lines)
{
    QByteArray text = "O1234 (TAPE TEST)\r\n";
    for (int i = 1; i <= lines; ++i)
        text += QByteArray("N") + QByteArray::number(i * 10) + " G01 X" + QByteArray::number(i) +
                ".125 Y-" + QByteArray::number(i % 97) + ".5 F200\r\n";
    return text + "M30\r\n";
}

struct Rig
{
    VirtualNullModem modem;
    TapeHost host;
    SerialPort port;
    std::unique_ptr<TransferSession> session;
    TapePeer peer;
    QTemporaryDir dir;

    Rig(const TapeProfile& profile, const char* frame)
    {
        const UartModel::Frame wire = *UartModel::Frame::Parse(QString::fromLatin1(frame));
        modem.SetFrame(VirtualNullModem::AToB, wire);
        modem.SetFrame(VirtualNullModem::BToA, wire);
        modem.SetPaced(true);
        if (!modem.Start())
            qFatal("null-modem: %s", qPrintable(modem.LastError()));
        host.link.portName = modem.PortA();
        host.tape = profile;
        host.delivered = [this] { return modem.BytesForwarded(VirtualNullModem::AToB); };
        session = std::make_unique<TransferSession>(port, host);
        QObject::connect(&port, &SerialPort::OnComm, session.get(), &TransferSession::OnComm);
        if (!peer.Open(modem.PortB(), profile.baud))
            qFatal("peer: %s", qPrintable(peer.port.LastError()));
    }
    ~Rig()
    {
        session.reset();
        port.SetPortOpen(false);
        peer.port.SetPortOpen(false);
        modem.Stop();
    }
    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }
};

} // namespace

// A program goes out whole at each speed and frame, held by XOFF as often
// as the controller likes, with at most 24 characters after each XOFF, and
// "complete" only once the last character has reached the controller.
TEST(TapeSession, SendsWholeHeldByXoffAndCompleteWhenOnTheWire)
{
    struct Row
    {
        int baud;
        const char* frame;
        int xoffEvery; // characters between the controller's XOFFs, 0 for none
        int holdMs;
    };
    // 4800, 9600 and 38400 baud in both frames; an XOFF storm (every few
    // characters); a hold longer than any silence limit of the packet protocol.
    for (const Row& row :
         {Row{4800, "7E2", 400, 30}, Row{9600, "8N1", 250, 200}, Row{38400, "7E2", 300, 20},
          Row{38400, "8N1", 0, 0}, Row{9600, "7E2", 3, 2}, Row{38400, "8N1", 2000, 12000}}) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(row.baud).arg(row.frame).toStdString());
        const TapeProfile profile = Profile(row.baud, row.frame);
        Rig rig(profile, row.frame);
        const QByteArray file = Program(row.baud / 200);
        const QString path = rig.Path("O1234.nc");
        faults::Write(path, file);
        rig.host.receiveMode = false;
        rig.host.rows.append({path, true, QString()});
        rig.peer.HoldEvery(row.xoffEvery, row.holdMs);
        rig.session->StartTransfer();
        ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded == 1; }, 120000));
        ASSERT_EQ(rig.host.reports.size(), 1);
        const FileReport& report = rig.host.reports[0];
        EXPECT_EQ(report.outcome, QLatin1String(FileReport::kSent)) << report.detail.toStdString();
        EXPECT_EQ(report.protocol, QLatin1String("tape"));
        EXPECT_EQ(report.profile, profile.name);
        const QByteArray wire = WireForm(profile, file);
        EXPECT_EQ(rig.host.deliveredAtEnd.value(0), wire.size()) << "complete before the wire";
        ASSERT_TRUE(WaitFor([&] { return rig.peer.got.size() >= wire.size(); }, 5000));
        EXPECT_EQ(rig.peer.got, wire);
        EXPECT_LE(rig.modem.MostCharactersAfterXoff(VirtualNullModem::AToB), 24);
        EXPECT_EQ(rig.peer.holds > 0, row.xoffEvery > 0);
    }
}

// A file the code cannot carry is refused with the place of the character
// before the line is touched; a controller that starts the reading with its
// XON gets the program only then.
TEST(TapeSession, RefusesWhatTheCodeCannotCarryAndWaitsForTheXon)
{
    TapeProfile profile = Profile(9600, "7E2");
    profile.startOn = TapeProfile::StartOn::Xon;
    Rig rig(profile, "7E2");
    const QString refused = rig.Path("O0001.nc"), fine = rig.Path("O0002.nc");
    faults::Write(refused, "O0001\nG00 X1 (\xe4\xb8\xad)\nM30\n");
    faults::Write(fine, "O0002\nM30\n");
    rig.host.receiveMode = false;
    rig.host.rows = {{refused, true, {}}, {fine, true, {}}};
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return rig.host.reports.size() == 1; }, 10000));
    EXPECT_EQ(rig.host.reports[0].outcome, QLatin1String(FileReport::kFileError));
    EXPECT_TRUE(rig.host.reports[0].detail.contains(QStringLiteral("line 2, column 9")))
        << rig.host.reports[0].detail.toStdString();
    EXPECT_TRUE(rig.host.reports[0].detail.contains(QStringLiteral("U+4E2D")));
    QTest::qWait(300);
    EXPECT_EQ(rig.modem.BytesForwarded(VirtualNullModem::AToB), 0) << "sent before the XON";
    SendControlByte(rig.peer.port, kDC1);
    ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded == 1; }, 20000));
    EXPECT_EQ(rig.host.reports.value(1).outcome, QLatin1String(FileReport::kSent));
    ASSERT_TRUE(WaitFor([&] { return rig.peer.got == WireForm(profile, "O0002\nM30\n"); }, 5000));
}

// A punched program is saved from '%' to '%' with the saved line end; one
// that fails leaves the target as it was and keeps what arrived.
TEST(TapeSession, ReceivesAPunchOrKeepsWhatArrived)
{
    struct Row
    {
        const char* name;
        QByteArray wire;
        QByteArray saved;       // empty: not complete
        const char* detailPart; // in the failure's detail
    };
    const QByteArray program = "%\r\nO0042\r\nG00 X1\r\nM30\r\n%\r\n";
    for (const Row& row : {Row{"complete", QByteArray(20, '\0') + "\x12" + program + "\x14",
                               "%\nO0042\nG00 X1\nM30\n%\n", ""},
                           // A pseudo-terminal carries no parity: a 0xFF comes doubled, as a
                           // byte no character of the code.
                           Row{"unknown",
                               QByteArray("%\nO0042\nG0") +
                                   QByteArray("\xff\x00"
                                              "0",
                                              3) +
                                   " X1\n",
                               "", "line 3, column 3 is no character of the ISO code"},
                           Row{"no closing %", "%\nO0042\nG00 X1\n", "", "line 4, column 1"}}) {
        SCOPED_TRACE(row.name);
        TapeProfile profile = Profile(9600, "7E2");
        profile.idleSeconds = 1;
        Rig rig(profile, "7E2");
        const QString target = rig.Path("got.nc");
        faults::Write(target, "old");
        rig.host.target = target;
        rig.host.receiveMode = true;
        rig.session->StartTransfer();
        ASSERT_TRUE(WaitFor([&] { return rig.port.GetPortOpen(); }, 5000));
        rig.peer.port.SetOutput(row.wire);
        ASSERT_TRUE(WaitFor([&] { return rig.host.reports.size() == 1; }, 20000));
        const FileReport& report = rig.host.reports[0];
        if (!row.saved.isEmpty()) {
            EXPECT_EQ(report.outcome, QLatin1String(FileReport::kReceived))
                << report.detail.toStdString();
            EXPECT_EQ(faults::Read(target), row.saved);
            EXPECT_EQ(rig.host.arrivedLines, 5);
            continue;
        }
        EXPECT_NE(report.outcome, QLatin1String(FileReport::kReceived));
        EXPECT_TRUE(report.detail.contains(QLatin1String(row.detailPart)))
            << report.detail.toStdString();
        EXPECT_EQ(faults::Read(target), "old");
        ASSERT_FALSE(report.recovered.isEmpty());
        EXPECT_TRUE(faults::Read(report.recovered).startsWith("%\nO0042\n"));
        QFile::remove(report.recovered);
    }
}

// Cancel while the controller holds the line ends the send at once: nothing
// more goes out, and the file is reported cancelled.
TEST(TapeSession, CancelDuringAHoldEndsAtOnce)
{
    const TapeProfile profile = Profile(9600, "7E2");
    Rig rig(profile, "7E2");
    const QString path = rig.Path("O1234.nc");
    faults::Write(path, Program(200));
    rig.host.receiveMode = false;
    rig.host.rows.append({path, true, QString()});
    bool held = false;
    rig.peer.onBytes = [&] {
        if (!held && rig.peer.got.size() >= 100) {
            held = true;
            SendControlByte(rig.peer.port, kDC3);
        }
    };
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return held; }, 10000));
    QTest::qWait(500);
    const qint64 atCancel = rig.modem.BytesForwarded(VirtualNullModem::AToB);
    rig.session->CancelTransfer();
    SendControlByte(rig.peer.port, kDC1);
    QTest::qWait(500);
    EXPECT_EQ(rig.modem.BytesForwarded(VirtualNullModem::AToB), atCancel);
    ASSERT_EQ(rig.host.reports.size(), 1);
    EXPECT_EQ(rig.host.reports[0].outcome, QLatin1String(FileReport::kCancelled));
    EXPECT_FALSE(rig.session->IsActive());
}
