#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"

#include <gtest/gtest.h>

using namespace tapeway;

TEST(LinkSettingsTest, ParityLetterComparesExactly)
{
    EXPECT_EQ(ParityLetter(QStringLiteral("EVENT")), QStringLiteral("E"));
    EXPECT_EQ(ParityLetter(QStringLiteral("ODD")), QStringLiteral("O"));
    EXPECT_EQ(ParityLetter(QStringLiteral("NONE")), QStringLiteral("N"));
    EXPECT_EQ(ParityLetter(QStringLiteral("odd")), QStringLiteral("N"));
    EXPECT_EQ(ParityLetter(QStringLiteral("EVEN")), QStringLiteral("N"));
    EXPECT_EQ(ParityLetter(QString()), QStringLiteral("N"));
}

TEST(LinkSettingsTest, SettingsTextTakesDataAndStopBitsVerbatim)
{
    LinkSettings link;
    link.stopBits = QStringLiteral("1.5");
    EXPECT_EQ(SettingsText(9600, link), QStringLiteral("9600,N,8,1.5"));
    link.parity = QStringLiteral("EVENT");
    link.dataBits = QStringLiteral("7");
    link.stopBits = QStringLiteral("2");
    EXPECT_EQ(SettingsText(38400, link), QStringLiteral("38400,E,7,2"));
}

TEST(LinkSettingsTest, PortNumberOfTakesTheFirstDigits)
{
    EXPECT_EQ(PortNumberOf(QStringLiteral("COM12")), 12);
    EXPECT_EQ(PortNumberOf(QStringLiteral("COM3A")), 3);
    EXPECT_EQ(PortNumberOf(QStringLiteral("USB2COM")), 2);
    EXPECT_EQ(PortNumberOf(QStringLiteral("COM")), -1);
    EXPECT_EQ(PortNumberOf(QString()), -1);
    EXPECT_EQ(PortNumberOf(QStringLiteral("ttyUSB0")), 0);
}

TEST(SerialPortTest, WireTimeIsTenBitsAByteRoundedUp)
{
    EXPECT_EQ(SerialPort::WireTimeMs(200, 9600), 209); // 208.33 ms
    EXPECT_EQ(SerialPort::WireTimeMs(960, 9600), 1000);
    EXPECT_EQ(SerialPort::WireTimeMs(1, 115200), 1);
    EXPECT_EQ(SerialPort::WireTimeMs(0, 9600), 0);
    EXPECT_EQ(SerialPort::WireTimeMs(10, 0), 0);
}

TEST(SerialPortTest, SettingsTextIsCheckedAndKeptOnAClosedPort)
{
    SerialPort port;
    EXPECT_TRUE(port.SetSettings(QStringLiteral("19200,E,7,1.5")));
    EXPECT_EQ(port.GetSettings(), QStringLiteral("19200,E,7,1.5"));
    EXPECT_EQ(port.CurrentBaud(), 19200);
    for (const char* bad : {"", "9600", "9600,N,8", "9600,X,8,1", "9600,N,9,1", "9600,N,4,1",
                            "9600,N,8,3", "0,N,8,1", "fast,N,8,1", "9600,N,8,1,1"}) {
        EXPECT_FALSE(port.SetSettings(QString::fromLatin1(bad))) << bad;
    }
    EXPECT_EQ(port.GetSettings(), QStringLiteral("19200,E,7,1.5"));
    EXPECT_EQ(port.CurrentBaud(), 19200);
}

TEST(SerialPortTest, FailedOpenGivesAReasonAndStillAppliesTheSettings)
{
    SerialPort port;
    LinkSettings link;
    link.portName = QStringLiteral("/dev/tapeway-no-such-device");
    link.stopBits = QStringLiteral("2");
    port.SetRThreshold(7);
    QString error;
    EXPECT_FALSE(OpenPort(port, link, &error));
    EXPECT_FALSE(port.GetPortOpen());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(error, port.LastError());
    EXPECT_EQ(port.GetSettings(), QStringLiteral("9600,N,8,2"));
    EXPECT_EQ(port.GetRThreshold(), 1);
    EXPECT_EQ(port.GetSThreshold(), 0);
    EXPECT_EQ(port.GetInputMode(), 1);
    EXPECT_EQ(port.GetInBufferSize(), 8192);
    EXPECT_EQ(port.GetOutBufferSize(), 512);
    // Nothing to read or write on a closed line, and no crash either.
    EXPECT_EQ(port.GetInBufferCount(), 0);
    EXPECT_TRUE(port.GetInput().isEmpty());
    port.SetOutput(QByteArray("x"));
}

TEST(SerialPortTest, PortNumberZeroDoesNotOpen)
{
    SerialPort port;
    port.SetCommPort(QStringLiteral("COM0"));
    EXPECT_FALSE(port.SetPortOpen(true));
    EXPECT_FALSE(port.LastError().isEmpty());
    port.SetCommPort(QString());
    EXPECT_FALSE(port.SetPortOpen(true));
}
