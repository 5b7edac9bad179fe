// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"
#include "support/WaitFor.h"
#include "transfer/SendProtocol.h"
#include "transfer/SimulatedController.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

using namespace tapeway;

namespace {

QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray Pattern(int n, int seed)
{
    QByteArray bytes(n, 0);
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 16);
    }
    return bytes;
}

// A port on the other end that keeps everything it receives.
struct Peer
{
    SerialPort port;
    LinkSettings link;
    QByteArray received;

    explicit Peer(const QString& name)
    {
        link.portName = name;
        QObject::connect(&port, &SerialPort::OnComm, [this] { received += port.GetInput(); });
    }
    bool Open() { return OpenPort(port, link); }
    void Send(char byte) { SendControlByte(port, byte); }
};

// A sender driven by the protocol machine, answering the controller's requests.
struct ScriptedSender
{
    SerialPort port;
    LinkSettings link;
    QList<QByteArray> files;
    int baud;
    int index = 0;
    int sent = 0;
    bool busy = false;
    std::optional<SendProtocol> protocol;
    QByteArray seen;

    ScriptedSender(const QString& name, QList<QByteArray> contents, int speed)
        : files(std::move(contents)), baud(speed)
    {
        link.portName = name;
        QObject::connect(&port, &SerialPort::OnComm, [this] { OnComm(); });
    }
    bool Start()
    {
        protocol.emplace(files.at(0), baud);
        return OpenPort(port, link);
    }
    void OnComm()
    {
        const QByteArray chunk = port.GetInput();
        seen += chunk;
        if (busy || !protocol)
            return;
        const SendProtocol::Step step = protocol->Feed(chunk);
        port.SetInBufferCount(0);
        if (!step.output.isEmpty())
            port.SetOutput(step.output);
        if (step.switchSpeed) {
            busy = true;
            port.Drain([this] {
                ApplyBaudRate(port, baud, link);
                busy = false;
            });
        }
        if (step.complete) {
            busy = true;
            port.Drain([this] {
                QTimer::singleShot(200, [this] {
                    ApplyBaudRate(port, 9600, link);
                    port.SetInBufferCount(0);
                    ++sent;
                    protocol.reset();
                    if (++index < files.size())
                        protocol.emplace(files.at(index), baud);
                    busy = false;
                });
            });
        }
    }
};

class SimulatedControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_modem.SetPaced(true);
        ASSERT_TRUE(m_modem.Start()) << m_modem.LastError().toStdString();
    }
    VirtualNullModem m_modem;
};

} // namespace

TEST_F(SimulatedControllerTest, SendsTheAbcFramesByteExact)
{
    SimulatedController controller(m_modem.PortA());
    QSignalSpy sent(&controller, &SimulatedController::FileSent);
    QSignalSpy finished(&controller, &SimulatedController::Finished);
    QSignalSpy failed(&controller, &SimulatedController::Failed);
    Peer peer(m_modem.PortB());
    ASSERT_TRUE(peer.Open());
    ASSERT_TRUE(controller.SendFiles(QList<QByteArray>{"abc"}, 9600));

    // Nothing comes unasked.
    RunEventLoopFor(100);
    EXPECT_TRUE(peer.received.isEmpty());

    peer.Send(kDC2);
    ASSERT_TRUE(WaitFor([&] { return peer.received.size() >= 17; }));
    EXPECT_EQ(peer.received, Hex("11 00 60 00 00 00 00 00 00 00 00 00 00 00 03 00 63"));
    peer.received.clear();

    peer.Send(kDC4);
    peer.Send(kDC3); // in the same chunk or the next: the first packet comes on a DC3
    RunEventLoopFor(100);
    if (peer.received.isEmpty())
        peer.Send(kDC3);
    ASSERT_TRUE(WaitFor([&] { return peer.received.size() >= 8; }));
    EXPECT_EQ(peer.received, Hex("11 61 62 63 00 00 01 26"));
    peer.Send(kDC2); // the receiver acknowledges the last packet too
    EXPECT_TRUE(WaitFor([&] { return finished.size() == 1; }));
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.at(0).at(0).toInt(), 0);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(controller.BytesSent(), 17 + 8);
    EXPECT_FALSE(controller.IsActive());
}

TEST_F(SimulatedControllerTest, ReceivesFilesFromAProtocolSender)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QList<QByteArray> files{Pattern(2048, 1), QByteArray("x"), Pattern(1025, 2)};
    SimulatedController controller(m_modem.PortA());
    QSignalSpy received(&controller, &SimulatedController::FileReceived);
    QSignalSpy finished(&controller, &SimulatedController::Finished);
    QSignalSpy failed(&controller, &SimulatedController::Failed);
    ScriptedSender sender(m_modem.PortB(), files, 38400);
    ASSERT_TRUE(sender.Start());
    ASSERT_TRUE(controller.ReceiveFiles(dir.path(), 3));

    EXPECT_TRUE(WaitFor([&] { return finished.size() == 1 || !failed.isEmpty(); }, 30000));
    ASSERT_TRUE(failed.isEmpty()) << failed.at(0).at(0).toString().toStdString();
    ASSERT_EQ(received.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QStringLiteral("O000%1.nc").arg(i + 1));
        EXPECT_EQ(received.at(i).at(0).toString(), path);
        EXPECT_EQ(received.at(i).at(1).toByteArray(), files.at(i));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), files.at(i));
    }
    EXPECT_TRUE(WaitFor([&] { return sender.sent == 3; }));
    // The first request of all came at 9600 baud and intact.
    EXPECT_EQ(sender.seen.left(1), QByteArray(1, kDC2));
}

TEST_F(SimulatedControllerTest, SenderAndReceiverAgreeOnANewSpeed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QList<QByteArray> files{Pattern(3000, 3), Pattern(1024, 4)};
    SimulatedController sender(m_modem.PortA());
    SimulatedController receiver(m_modem.PortB());
    QSignalSpy sent(&sender, &SimulatedController::FileSent);
    QSignalSpy received(&receiver, &SimulatedController::FileReceived);
    QSignalSpy finished(&receiver, &SimulatedController::Finished);
    QSignalSpy failed(&receiver, &SimulatedController::Failed);
    ASSERT_TRUE(sender.SendFiles(files, 57600));
    ASSERT_TRUE(receiver.ReceiveFiles(dir.path(), 2));
    EXPECT_TRUE(WaitFor([&] { return finished.size() == 1 || !failed.isEmpty(); }, 30000));
    ASSERT_TRUE(failed.isEmpty()) << failed.at(0).at(0).toString().toStdString();
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received.at(0).at(1).toByteArray(), files.at(0));
    EXPECT_EQ(received.at(1).at(1).toByteArray(), files.at(1));
    EXPECT_TRUE(WaitFor([&] { return sent.size() == 2; }));
}

TEST_F(SimulatedControllerTest, WrongHeaderCheckIsRefusedByTheReceiver)
{
    QTemporaryDir dir;
    SimulatedController sender(m_modem.PortA());
    ControllerFaults faults;
    faults.wrongHeaderCheck = true;
    sender.SetFaults(faults);
    Peer peer(m_modem.PortB());
    ASSERT_TRUE(peer.Open());
    ASSERT_TRUE(sender.SendFiles(QList<QByteArray>{"abc"}, 9600));
    peer.Send(kDC2);
    ASSERT_TRUE(WaitFor([&] { return peer.received.size() >= 17; }));
    EXPECT_EQ(peer.received, Hex("11 00 60 00 00 00 00 00 00 00 00 00 00 00 03 00 64"));
}

TEST_F(SimulatedControllerTest, FlippedDataByteFailsTheChecksum)
{
    QTemporaryDir dir;
    SimulatedController sender(m_modem.PortA());
    ControllerFaults faults;
    faults.flipByteAt = 17 + 5; // a data byte of the first packet
    sender.SetFaults(faults);
    SimulatedController receiver(m_modem.PortB());
    QSignalSpy failed(&receiver, &SimulatedController::Failed);
    QSignalSpy received(&receiver, &SimulatedController::FileReceived);
    ASSERT_TRUE(sender.SendFiles(QList<QByteArray>{Pattern(100, 5)}, 19200));
    ASSERT_TRUE(receiver.ReceiveFiles(dir.path(), 1));
    EXPECT_TRUE(WaitFor([&] { return !failed.isEmpty(); }, 30000));
    EXPECT_EQ(failed.at(0).at(0).toString(), QStringLiteral("data checksum does not match"));
    EXPECT_TRUE(received.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("O0001.nc"))));
}

TEST_F(SimulatedControllerTest, DroppedAndSilencedBytesNeverLeave)
{
    SimulatedController sender(m_modem.PortA());
    ControllerFaults faults;
    faults.dropByteAt = 1;
    faults.silentAfter = 10;
    sender.SetFaults(faults);
    Peer peer(m_modem.PortB());
    ASSERT_TRUE(peer.Open());
    ASSERT_TRUE(sender.SendFiles(QList<QByteArray>{"abc"}, 9600));
    peer.Send(kDC2);
    ASSERT_TRUE(WaitFor([&] { return peer.received.size() >= 9; }));
    RunEventLoopFor(100);
    const QByteArray header = Hex("11 00 60 00 00 00 00 00 00 00 00 00 00 00 03 00 63");
    EXPECT_EQ(peer.received, header.left(1) + header.mid(2, 8));
    EXPECT_EQ(sender.BytesSent(), 17);
}

TEST_F(SimulatedControllerTest, IgnoringDC4LeavesTheSpeedsApart)
{
    QTemporaryDir dir;
    SimulatedController sender(m_modem.PortA());
    ControllerFaults faults;
    faults.ignoreDC4 = true;
    sender.SetFaults(faults);
    SimulatedController receiver(m_modem.PortB());
    QSignalSpy received(&receiver, &SimulatedController::FileReceived);
    QSignalSpy sent(&sender, &SimulatedController::FileSent);
    ASSERT_TRUE(sender.SendFiles(QList<QByteArray>{"abc"}, 38400));
    ASSERT_TRUE(receiver.ReceiveFiles(dir.path(), 1));
    // The receiver's DC3s at 38400 baud reach a sender still at 9600: garbled.
    EXPECT_TRUE(WaitFor([&] { return m_modem.BytesGarbled(VirtualNullModem::BToA) >= 3; }));
    EXPECT_EQ(m_modem.SpeedOf(VirtualNullModem::AToB), 9600);
    EXPECT_EQ(m_modem.SpeedOf(VirtualNullModem::BToA), 38400);
    EXPECT_TRUE(received.isEmpty());
    EXPECT_TRUE(sent.isEmpty());
}

TEST_F(SimulatedControllerTest, ReceiverRepeatsALostHeaderRequest)
{
    QTemporaryDir dir;
    SimulatedController controller(m_modem.PortA());
    ControllerFaults faults;
    faults.flipByteAt = 0; // the first DC2 arrives as 0xED
    controller.SetFaults(faults);
    QSignalSpy received(&controller, &SimulatedController::FileReceived);
    ScriptedSender sender(m_modem.PortB(), {QByteArray("G0 X1\n")}, 9600);
    ASSERT_TRUE(sender.Start());
    ASSERT_TRUE(controller.ReceiveFiles(dir.path(), 1));
    EXPECT_TRUE(WaitFor([&] { return received.size() == 1; }, 20000));
    ASSERT_FALSE(sender.seen.isEmpty());
    EXPECT_EQ(sender.seen.at(0), char(kDC2 ^ 0xFF));
    EXPECT_EQ(received.at(0).at(1).toByteArray(), QByteArray("G0 X1\n"));
}

TEST_F(SimulatedControllerTest, HangUpFailsTheSessionOnce)
{
    SimulatedController controller(m_modem.PortA());
    QSignalSpy failed(&controller, &SimulatedController::Failed);
    QTemporaryDir dir;
    ASSERT_TRUE(controller.ReceiveFiles(dir.path(), 1));
    m_modem.HangUp();
    ASSERT_TRUE(WaitFor([&] { return !failed.isEmpty(); }));
    RunEventLoopFor(1200); // past the next header request
    EXPECT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed.at(0).at(0).toString().startsWith(QStringLiteral("line broken")));
    EXPECT_FALSE(controller.IsActive());
}

TEST(SimulatedControllerSetupTest, RefusesWhatCannotBeSent)
{
    SimulatedController controller(QStringLiteral("/dev/tapeway-no-such-device"));
    QSignalSpy failed(&controller, &SimulatedController::Failed);
    EXPECT_FALSE(controller.SendFiles(QList<QByteArray>{QByteArray()}, 9600));
    EXPECT_FALSE(controller.SendFiles(QList<QByteArray>{}, 9600));
    EXPECT_FALSE(controller.SendFiles(QList<QByteArray>{"abc"}, 9600)); // no such port
    EXPECT_FALSE(controller.SendFiles(QStringList{QStringLiteral("/nonexistent/file.nc")}, 9600));
    EXPECT_EQ(failed.size(), 4);
    EXPECT_FALSE(controller.IsActive());
}
