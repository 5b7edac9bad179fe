// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/SessionRig.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>

// A session rig whose session reaches its null-modem end through a real
// device server: ser2net serves end A on a free localhost port, as RFC 2217
// (rfc2217://) or as a raw socket at a fixed speed (tcp://), and the session's
// port name is that network port. The simulated controller stays on end B.
struct Ser2NetRig : SessionRig
{
    QProcess server;
    QTemporaryDir configDir; // apart from the rig's directory, which the checks list
    quint16 tcpPort = 0;
    QString why; // why ser2net could not be started

    static QString Program()
    {
        return QStandardPaths::findExecutable(
            QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    }

    // rawBaud 0: RFC 2217; else a raw TCP port whose line runs at that speed.
    explicit Ser2NetRig(int rawBaud = 0) : m_rawBaud(rawBaud)
    {
        if (Program().isEmpty()) {
            why = QStringLiteral("ser2net is not installed (Debian package ser2net)");
            return;
        }
        if (Start()) {
            host.link.portName =
                m_rawBaud > 0
                    ? QStringLiteral("tcp://127.0.0.1:%1?baud=%2").arg(tcpPort).arg(m_rawBaud)
                    : QStringLiteral("rfc2217://127.0.0.1:%1").arg(tcpPort);
        }
    }

    ~Ser2NetRig() { Kill(); }

    bool Ready() const { return why.isEmpty(); }

    // Starts ser2net (again, on the same TCP port once it has one).
    bool Start()
    {
        const QString config = QDir(configDir.path()).filePath(QStringLiteral("ser2net.yaml"));
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (tcpPort == 0 || attempt > 0) {
                QTcpServer probe;
                probe.listen(QHostAddress::LocalHost);
                tcpPort = probe.serverPort();
            }
            const QString accepter =
                m_rawBaud > 0 ? QStringLiteral("tcp") : QStringLiteral("telnet(rfc2217),tcp");
            SessionRig::Write(config, QStringLiteral("%YAML 1.1\n---\n"
                                                     "connection: &line\n"
                                                     "  accepter: %1,127.0.0.1,%2\n"
                                                     "  connector: serialdev,%3,%4n81,local\n"
                                                     "  options:\n"
                                                     "    kickolduser: true\n")
                                          .arg(accepter)
                                          .arg(tcpPort)
                                          .arg(modem.PortA())
                                          .arg(m_rawBaud > 0 ? m_rawBaud : 9600)
                                          .toUtf8());
            // -n: in the foreground, -u: no lock files, -d: log to stdout.
            server.setProcessChannelMode(QProcess::MergedChannels);
            server.start(Program(), {QStringLiteral("-n"), QStringLiteral("-u"),
                                     QStringLiteral("-d"), QStringLiteral("-c"), config});
            if (WaitFor([&] { return Listening() || server.state() == QProcess::NotRunning; },
                        10000) &&
                Listening()) {
                why.clear();
                return true;
            }
            why = QStringLiteral("ser2net did not start: ") +
                  QString::fromLocal8Bit(server.readAll());
            Kill();
        }
        return false;
    }

    void Kill()
    {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(5000);
        }
    }

private:
    // Whether something listens on the TCP port (from the kernel's table, so
    // that no probe connection disturbs the server).
    bool Listening() const
    {
        const QByteArray local =
            QStringLiteral(":%1").arg(tcpPort, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            QFile file(QString::fromLatin1(table));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& line : file.readAll().split('\n')) {
                const QList<QByteArray> fields = line.simplified().split(' ');
                if (fields.size() > 3 && fields[1].endsWith(local) && fields[3] == "0A")
                    return true;
            }
        }
        return false;
    }

    int m_rawBaud;
};
