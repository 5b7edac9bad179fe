// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SessionRig.h"
#include "support/TapePeer.h"
#include "transfer/Frame.h"
#include "transfer/TapeSender.h"

#include <QCryptographicHash>
#include <QTest>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

// A host that notes how much the controller had when a file ended, where
// the feed stood, and asks for a restart when told to.
struct TapeHost : RecordingHost
{
    std::function<qint64()> delivered;
    QList<qint64> deliveredAtEnd;
    QList<FeedStatus> statuses;
    std::optional<FeedRestart> restart;
    QString feedFolder;
    void FileFinished(const FileReport& report) override
    {
        deliveredAtEnd << (delivered ? delivered() : -1);
        RecordingHost::FileFinished(report);
    }
    void ShowFeedStatus(const FeedStatus& status) override { statuses << status; }
    std::optional<FeedRestart> FeedRestartFor(const QString&) const override { return restart; }
    QString FeedFolder() const override { return feedFolder; }
    bool HeldSometime() const
    {
        return std::any_of(statuses.begin(), statuses.end(),
                           [](const FeedStatus& s) { return s.held; });
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
        host.feedFolder = Path(QStringLiteral("feeds"));
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
    // The snapshots a feed left behind.
    QStringList Snapshots() const
    {
        return QDir(host.feedFolder).entryList(QDir::Files | QDir::NoDotAndDotDot);
    }
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
    // characters); a hold of 30 s, longer than any silence limit of the
    // packet protocol, told as the machine holding the line.
    for (const Row& row :
         {Row{4800, "7E2", 400, 30}, Row{9600, "8N1", 250, 200}, Row{38400, "7E2", 300, 20},
          Row{38400, "8N1", 0, 0}, Row{9600, "7E2", 3, 2}, Row{38400, "8N1", 2000, 30000}}) {
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
        EXPECT_LE(rig.modem.MostCharactersAfterXoff(VirtualNullModem::AToB), kTestMostAfterXoff);
        EXPECT_EQ(rig.peer.holds > 0, row.xoffEvery > 0);
        EXPECT_EQ(report.sha256, QCryptographicHash::hash(file, QCryptographicHash::Sha256));
        if (row.holdMs >= 10000) {
            EXPECT_TRUE(rig.host.HeldSometime());
        }
        EXPECT_EQ(rig.Snapshots(), QStringList()) << "the snapshot stays";
    }
}

// A restart feeds '%', the preamble (the lines before the first axis word,
// or the operator's) and the file from the block or line on; a block the
// file does not hold, or holds twice, is refused with its candidates before
// the line is touched.
TEST(TapeSession, RestartFeedsThePreambleAndTheRestOrIsRefused)
{
    const TapeProfile profile = Profile(38400, "8N1");
    const QByteArray file = Program(20);
    const QByteArray twice = file + "N50 G00 Z50.\r\n";
    const qsizetype n50 = file.indexOf("N50 ");
    struct Row
    {
        FeedRestart::By by;
        qint64 number;
        std::optional<QByteArray> preamble;
        QByteArray file;
        QByteArray lead; // empty: refused
        QByteArray tail;
        const char* reason;
    };
    const QByteArray found = "%\nO1234 (TAPE TEST)\n";
    for (const Row& row : {
             Row{FeedRestart::By::Block, 50, {}, file, found, file.mid(n50), ""},
             Row{FeedRestart::By::Line, 6, QByteArray("G90 G54\r\nT2 M6\n"), file,
                 "%\nG90 G54\nT2 M6\n", file.mid(n50), ""},
             Row{FeedRestart::By::Block, 55, {}, file, {}, {}, "N55"},
             Row{FeedRestart::By::Block, 50, {}, twice, {}, {}, "23"},
         }) {
        SCOPED_TRACE(row.reason);
        Rig rig(profile, "8N1");
        const QString path = rig.Path("O1234.nc");
        faults::Write(path, row.file);
        rig.host.receiveMode = false;
        rig.host.rows.append({path, true, QString()});
        rig.host.restart = FeedRestart{row.by, row.number, row.preamble};
        rig.session->StartTransfer();
        ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded == 1; }, 60000));
        ASSERT_EQ(rig.host.reports.size(), 1);
        const FileReport& report = rig.host.reports[0];
        if (row.lead.isEmpty()) {
            EXPECT_EQ(report.outcome, QLatin1String(FileReport::kFileError));
            EXPECT_TRUE(report.detail.contains(QLatin1String(row.reason)))
                << report.detail.toStdString();
            EXPECT_EQ(rig.modem.BytesForwarded(VirtualNullModem::AToB), 0);
            continue;
        }
        EXPECT_EQ(report.outcome, QLatin1String(FileReport::kSent)) << report.detail.toStdString();
        const QByteArray fed = row.lead + row.tail;
        EXPECT_EQ(report.startLine, 6);
        EXPECT_EQ(report.startBlock,
                  row.by == FeedRestart::By::Block ? std::optional<qint64>(50) : std::nullopt);
        EXPECT_EQ(report.sha256, QCryptographicHash::hash(fed, QCryptographicHash::Sha256));
        const QByteArray wire = WireForm(profile, fed);
        ASSERT_TRUE(WaitFor([&] { return rig.peer.got.size() >= wire.size(); }, 5000));
        EXPECT_EQ(rig.peer.got, wire);
        ASSERT_FALSE(rig.host.statuses.isEmpty());
        EXPECT_EQ(rig.host.statuses.last().block, 200);
        EXPECT_EQ(rig.host.statuses.last().line, 22);
    }
}

// The programmer saves over the file, or edits it in place, while it is
// fed: the controller gets the file as it was at Start, whole.
TEST(TapeSession, AFileChangedDuringTheFeedGoesOutAsItWasAtStart)
{
    const TapeProfile profile = Profile(9600, "8N1");
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "edited in place" : "saved over");
        Rig rig(profile, "8N1");
        const QString path = rig.Path("O1234.nc");
        const QByteArray file = Program(60);
        faults::Write(path, file);
        rig.host.receiveMode = false;
        rig.host.rows.append({path, true, QString()});
        rig.session->StartTransfer();
        ASSERT_TRUE(WaitFor([&] { return rig.peer.got.size() >= 200; }, 10000));
        QByteArray edited = file;
        edited.replace("G01", "G00");
        if (inPlace) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            f.write(edited);
        } else {
            faults::Write(path + ".new", edited);
            ASSERT_TRUE(QFile::remove(path) && QFile::rename(path + ".new", path));
        }
        ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded == 1; }, 60000));
        EXPECT_EQ(rig.host.reports.value(0).outcome, QLatin1String(FileReport::kSent));
        const QByteArray wire = WireForm(profile, file);
        ASSERT_TRUE(WaitFor([&] { return rig.peer.got.size() >= wire.size(); }, 5000));
        EXPECT_EQ(rig.peer.got, wire);
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
    // The machine may still run what it holds: the operator is told so.
    EXPECT_TRUE(rig.host.messages.join(u'\n').contains(QLatin1String("FEED HOLD")))
        << rig.host.messages.join(u'\n').toStdString();
    EXPECT_EQ(rig.Snapshots(), QStringList());
}
