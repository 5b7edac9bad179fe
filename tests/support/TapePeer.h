// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "transfer/Frame.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <functional>

// The most characters a test lets reach the controller after its XOFF got
// to the PC. The sender hands the line at most 20 characters not yet on
// the wire, and the figure a controller sees on a quiet machine, at most 24,
// is the benchmark's (tapeway-bench tape and feed). Here the sender, the
// paced null-modem's thread and other tests share two busy cores, and the
// rig's own scheduling delay counts too: a millisecond is 3.5 characters at
// 38400 baud. The bound still fails a sender that overruns its allowance or
// misses an XOFF, which sends hundreds.
constexpr int kTestMostAfterXoff = 32;

// The controller's end of the line as bytes: what arrived, and a rule that
// may answer them (an XOFF after so many characters, say).
struct TapePeer
{
    tapeway::SerialPort port;
    QByteArray got;
    std::function<void()> onBytes;

    bool Open(const QString& name, int baud)
    {
        port.SetCommPort(name);
        if (!port.SetPortOpen(true) || !port.SetSettings(QStringLiteral("%1,N,8,1").arg(baud)))
            return false;
        QObject::connect(&port, &tapeway::SerialPort::OnComm, [this] {
            got += port.GetInput();
            if (onBytes)
                onBytes();
        });
        return true;
    }

    // Holds the line: XOFF once every characters have come since the last
    // XON (none when every is 0), XON holdMs later.
    int holds = 0;
    void HoldEvery(qint64 every, int holdMs)
    {
        if (every <= 0)
            return;
        m_nextXoff = every;
        onBytes = [this, every, holdMs] {
            if (m_holding || got.size() < m_nextXoff)
                return;
            m_holding = true;
            ++holds;
            tapeway::SendControlByte(port, tapeway::kDC3);
            QTimer::singleShot(holdMs, &port, [this, every] {
                tapeway::SendControlByte(port, tapeway::kDC1);
                m_holding = false;
                m_nextXoff = got.size() + every;
            });
        };
    }

private:
    bool m_holding = false;
    qint64 m_nextXoff = 0;
};
