// SPDX-License-Identifier: GPL-3.0-or-later
// The tape protocol over the paced null-modem through tapeway-cli: two
// simulated controllers (one punches, the other reads through its buffer),
// tapeway-cli's send and receive against them, and a punched parity fault
// as the PC's line would present it.
#include "serial/VirtualNullModem.h"
#include "support/CliProcess.h"
#include "support/SessionRig.h"
#include "support/TapePeer.h"
#include "transfer/TapeReceiver.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

// The modem paced in both directions at the frame's bits per character.
bool StartPaced(VirtualNullModem& modem, const QString& frameText)
{
    const UartModel::Frame frame = *UartModel::Frame::Parse(frameText);
    modem.SetPaced(true);
    modem.SetFrame(VirtualNullModem::AToB, frame);
    modem.SetFrame(VirtualNullModem::BToA, frame);
    return modem.Start();
}

QByteArray Program()
{
    QByteArray text = "%\nO0042 (TAPE SIM)\n";
    for (int n = 1; n <= 40; ++n)
        text += QStringLiteral("N%1 G01 X%2.125 Y-%3.5 F200\n")
                    .arg(n * 10, 4, 10, QLatin1Char('0'))
                    .arg(n)
                    .arg(n * 3)
                    .toLatin1();
    return text + "M30\n%\n";
}

TEST(CliTapeController, PunchToReader)
{
    const struct
    {
        const char* name;
        QStringList readOptions;
        int readExit;
        QString readErr; // a pattern
    } rows[] = {
        // A slow reader with a small buffer and a hold: flow control keeps
        // every character.
        {"buffer, rate and hold",
         {"--buffer", "64", "--rate", "400", "--hold-after", "300", "--hold-seconds", "1"},
         0,
         "overruns 0, most characters after XOFF \\d+, buffer empty [\\d.]+ ms in \\d+ times "
         "after its first fill"},
        // Line 3, column 2: the 21st byte of the wire, after "%\n" and the
        // program number's line.
        {"parity alarm", {"--parity-fault-at", "20"}, 1, "parity error at line 3, column 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualNullModem modem;
        ASSERT_TRUE(StartPaced(modem, QStringLiteral("7E2")));
        QTemporaryDir dir;
        const QString file = QDir(dir.path()).filePath("part.nc");
        const QString stored = QDir(dir.path()).filePath("in");
        SessionRig::Write(file, Program());

        CliProcess reader({QStringList{"controller", "--protocol", "tape", "--port", modem.PortB(),
                                       "read", stored} +
                           row.readOptions});
        ASSERT_TRUE(reader.WaitForText("Reading 1 program(s)")) << reader.err.toStdString();
        CliProcess punch(
            {"controller", "--protocol", "tape", "--port", modem.PortA(), "punch", file});
        ASSERT_TRUE(reader.Wait(60000));
        ASSERT_TRUE(punch.Wait(30000)) << "the reader let go of the line";
        EXPECT_EQ(reader.ExitCode(), row.readExit) << reader.err.toStdString();
        EXPECT_TRUE(reader.err.contains(QRegularExpression(row.readErr)))
            << reader.err.toStdString();
        EXPECT_EQ(punch.ExitCode(), 0) << punch.err.toStdString();
        EXPECT_EQ(punch.OutLines(), QStringList{"Complete\t" + file});
        const QString program = QDir(stored).filePath("O0042.nc");
        if (row.readExit != 0) {
            EXPECT_TRUE(reader.out.isEmpty()) << reader.out.toStdString();
            EXPECT_FALSE(QFileInfo::exists(program));
            continue;
        }
        EXPECT_EQ(reader.OutLines(), QStringList{"All data has been received!\t" + program});
        EXPECT_EQ(SessionRig::Read(program), Program());
        // The reader held the line and let it go at least twice.
        EXPECT_GE(modem.BytesForwarded(VirtualNullModem::BToA), 4);
    }
}

// tapeway-cli's own send and receive against the simulated controller at
// each speed and frame: a reader whose buffer holds the line, and a punch.
TEST(CliTapeController, SendToTheReaderAndReceiveThePunch)
{
    const struct
    {
        const char* baud;
        const char* frame;
        const char* rate; // the reader's characters per second
    } rows[] = {{"4800", "7E2", "300"},
                {"9600", "8N1", "700"},
                {"38400", "7E2", "2500"},
                {"38400", "8N1", "3000"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.baud) + " " + row.frame);
        VirtualNullModem modem;
        ASSERT_TRUE(StartPaced(modem, QString::fromLatin1(row.frame)));
        QTemporaryDir dir;
        const QString file = QDir(dir.path()).filePath("part.nc");
        const QString stored = QDir(dir.path()).filePath("in");
        SessionRig::Write(file, Program());
        const QStringList line = {"--protocol", "tape", "--baud", row.baud, "--frame", row.frame};

        CliProcess reader(QStringList{"controller", "--port", modem.PortB()} + line +
                          QStringList{"read", stored, "--buffer", "256", "--rate", row.rate});
        ASSERT_TRUE(reader.WaitForText("Reading 1 program(s)")) << reader.err.toStdString();
        CliProcess send(QStringList{"send", "--port", modem.PortA()} + line + QStringList{file});
        ASSERT_TRUE(send.Wait(60000));
        ASSERT_TRUE(reader.Wait(30000));
        EXPECT_EQ(send.ExitCode(), 0) << send.err.toStdString();
        EXPECT_EQ(send.OutLines(), QStringList{"Complete\t" + file});
        // The progress tells the block and line going out.
        EXPECT_TRUE(send.err.contains(QRegularExpression("N\\d+, line [\\d,]+ of [\\d,]+")))
            << send.err.toStdString();
        EXPECT_EQ(reader.ExitCode(), 0) << reader.err.toStdString();
        EXPECT_EQ(SessionRig::Read(QDir(stored).filePath("O0042.nc")), Program());
        const QRegularExpressionMatch figures =
            QRegularExpression("overruns 0, most characters after XOFF (\\d+)").match(reader.err);
        ASSERT_TRUE(figures.hasMatch()) << reader.err.toStdString();
        // Counted from the moment the XOFF reached the PC's end: the reader's
        // own figure also holds the XOFF's way through the modem.
        EXPECT_LE(modem.MostCharactersAfterXoff(VirtualNullModem::AToB), kTestMostAfterXoff)
            << "the reader counted " << figures.captured(1).toStdString();

        const QString target = QDir(dir.path()).filePath("got.nc");
        CliProcess receive(QStringList{"receive", "--port", modem.PortA()} + line +
                           QStringList{target});
        ASSERT_TRUE(receive.WaitForText("waiting") || receive.process.state() == QProcess::Running);
        CliProcess punch(QStringList{"controller", "--port", modem.PortB()} + line +
                         QStringList{"punch", file});
        ASSERT_TRUE(receive.Wait(60000));
        ASSERT_TRUE(punch.Wait(30000));
        EXPECT_EQ(receive.ExitCode(), 0) << receive.err.toStdString();
        EXPECT_EQ(SessionRig::Read(target), Program());
    }
}

} // namespace

TEST(CliTapeController, PunchedParityFaultIsAMark)
{
    // The far end marks nothing itself (8N1), so the three bytes arrive as
    // written and the receiver reads them as a line with PARMRK presents them.
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start());
    SerialPort far;
    LinkSettings link;
    link.portName = modem.PortB();
    ASSERT_TRUE(OpenPort(far, link));
    QByteArray got;
    QObject::connect(&far, &SerialPort::OnComm, [&] { got += far.GetInput(); });
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath("part.nc");
    SessionRig::Write(file, Program());
    CliProcess punch({"controller", "--protocol", "tape", "--port", modem.PortA(), "--frame", "8N1",
                      "punch", "--parity-fault-at", "20", file});
    ASSERT_TRUE(punch.Wait());
    EXPECT_EQ(punch.ExitCode(), 0) << punch.err.toStdString();
    ASSERT_TRUE(WaitFor([&] { return got.size() == Program().size() + 2; })) << got.size();
    TapeReceiver receiver{TapeProfile()};
    receiver.Feed(got, 0);
    EXPECT_EQ(receiver.FailureKind(), TapeReceiver::Failure::Parity);
    EXPECT_EQ(receiver.FailurePosition().line, 3);
    EXPECT_EQ(receiver.FailurePosition().column, 2);
}
