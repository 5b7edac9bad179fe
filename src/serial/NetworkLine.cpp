// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/NetworkLine.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace tapeway {

namespace {

constexpr int kDefaultFixedBaud = 9600;
// What a server said before the line was agreed is kept for the reason of a
// failure ("Port already in use", say), up to this many bytes.
constexpr qsizetype kMaxPreamble = 200;

QString NameForm()
{
    return QStringLiteral("rfc2217://HOST:PORT or tcp://HOST:PORT?baud=N");
}

// The line has no language of its own: this reason reaches the operator in
// both, on the broken-line message's second line.
QString NotReadingReason(const QString& where, qint64 waiting)
{
    return QStringLiteral("%1 不读取发给它的数据（%2 KiB 未能发出）/ %1 does not read what is sent "
                          "to it (%2 KiB could not be sent)")
        .arg(where)
        .arg(waiting / 1024);
}

quint8 FlowValue(FlowControl flow)
{
    switch (flow) {
    case FlowControl::Hardware:
        return Rfc2217Codec::kHardwareFlowControl;
    case FlowControl::Software:
        return Rfc2217Codec::kXonXoffFlowControl;
    default:
        return Rfc2217Codec::kNoFlowControl;
    }
}

QString FlowName(quint32 value)
{
    switch (value) {
    case Rfc2217Codec::kHardwareFlowControl:
        return QStringLiteral("RTS/CTS");
    case Rfc2217Codec::kXonXoffFlowControl:
        return QStringLiteral("XON/XOFF");
    default:
        return QStringLiteral("none / 无");
    }
}

QString OtherFlowReason(const QString& where, quint32 asked, quint32 set)
{
    return QStringLiteral("%1 的串口流控是 %3 而不是 %2 / %1 runs the line with %3 flow control, "
                          "not %2")
        .arg(where, FlowName(asked), FlowName(set));
}

} // namespace

bool NetworkLine::IsNetworkName(const QString& name)
{
    const QString text = name.trimmed();
    return text.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

bool NetworkLine::ParseName(const QString& name, Address* address, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2 (write %3)").arg(name, why, NameForm());
        return false;
    };
    const QUrl url(name.trimmed(), QUrl::StrictMode);
    if (!url.isValid())
        return fail(QStringLiteral("not a well-formed address"));
    Address result;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("rfc2217"))
        result.kind = Kind::Rfc2217;
    else if (scheme == QLatin1String("tcp"))
        result.kind = Kind::RawTcp;
    else
        return fail(QStringLiteral("unknown kind of network port"));
    result.host = url.host();
    if (result.host.isEmpty())
        return fail(QStringLiteral("no host"));
    const int port = url.port(-1);
    if (port < 1 || port > 65535)
        return fail(QStringLiteral("no TCP port number"));
    result.port = quint16(port);
    if (!url.userInfo().isEmpty() || url.hasFragment() ||
        !(url.path().isEmpty() || url.path() == QLatin1String("/")))
        return fail(QStringLiteral("unexpected text after the port number"));

    if (result.kind == Kind::RawTcp) {
        result.fixedBaud = kDefaultFixedBaud;
        const QUrlQuery query(url);
        for (const auto& [key, value] : query.queryItems()) {
            if (key != QLatin1String("baud"))
                return fail(QStringLiteral("unknown setting \"%1\"").arg(key));
            bool ok = false;
            const int baud = value.toInt(&ok);
            if (!ok || baud <= 0)
                return fail(QStringLiteral("baud=%1 is not a speed").arg(value));
            result.fixedBaud = baud;
        }
    } else if (url.hasQuery()) {
        return fail(QStringLiteral("an RFC 2217 port takes no settings: its speed is set over "
                                   "the network"));
    }
    if (address)
        *address = result;
    return true;
}

NetworkLine::NetworkLine(const Address& address, QObject* parent)
    : LineTransport(parent), m_address(address), m_connectTimer(new QTimer(this)),
      m_purgeTimer(new QTimer(this))
{
    m_clock.start();
    m_purgeTimer->setSingleShot(true);
    connect(m_purgeTimer, &QTimer::timeout, this, [this] {
        if (m_purgeAcks == PurgeAcks::Unknown)
            m_purgeAcks = PurgeAcks::NotGiven;
        m_purgesUnacknowledged = 0;
    });
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Connecting)
            Break(tr("No connection to %1 within %2 s").arg(Where()).arg(kConnectTimeoutMs / 1000));
        else if (m_state == State::Negotiating)
            Break(tr("%1 did not agree to the Com Port Control Option (RFC 2217) within %2 s")
                      .arg(Where())
                      .arg(kConnectTimeoutMs / 1000));
    });
}

NetworkLine::~NetworkLine()
{
    Close();
}

QString NetworkLine::Where() const
{
    const bool v6 = m_address.host.contains(u':');
    return QStringLiteral("%1%2%3:%4")
        .arg(v6 ? QStringLiteral("[") : QString(), m_address.host,
             v6 ? QStringLiteral("]") : QString())
        .arg(m_address.port);
}

bool NetworkLine::Open(QString* error)
{
    Q_UNUSED(error);
    if (m_state != State::Closed)
        return true;
    m_codec = Rfc2217Codec();
    m_held.clear();
    m_received.clear();
    m_preamble.clear();
    m_unwritten.clear();
    m_lineBytesUnwritten = 0;
    m_baudRequests.clear();
    m_flowRequests.clear();
    m_suspended = false;
    m_purgeInputDue = false;
    m_purgeOutputDue = false;
    m_purgeAcks = PurgeAcks::Unknown;
    m_purgesUnacknowledged = 0;
    m_formatSent = false;
    m_roundTripUs = 0;

    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::hostFound, this, [this] { m_connectStartUs = NowUs(); });
    connect(m_socket, &QTcpSocket::connected, this, &NetworkLine::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkLine::OnSocketReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &NetworkLine::OnBytesWritten);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError code) {
        if (code == QAbstractSocket::RemoteHostClosedError)
            Break(tr("%1 closed the connection").arg(Where()));
        else
            Break(QStringLiteral("%1: %2").arg(Where(), m_socket->errorString()));
    });
    connect(m_socket, &QTcpSocket::disconnected, this,
            [this] { Break(tr("%1 closed the connection").arg(Where())); });

    m_state = State::Connecting;
    m_connectStartUs = NowUs();
    m_connectTimer->start(kConnectTimeoutMs);
    m_socket->connectToHost(m_address.host, m_address.port);
    return true;
}

void NetworkLine::Close()
{
    m_state = State::Closed;
    m_connectTimer->stop();
    m_purgeTimer->stop();
    if (m_socket) {
        QTcpSocket* socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        // What Qt still holds goes to the system, which sends it before the
        // connection ends; nothing waits for that here.
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->flush();
        socket->abort();
        socket->deleteLater();
    }
    m_held.clear();
    m_received.clear();
    m_unwritten.clear();
    m_lineBytesUnwritten = 0;
    m_baudRequests.clear();
    m_flowRequests.clear();
}

void NetworkLine::OnConnected()
{
    m_roundTripUs = std::max<qint64>(NowUs() - m_connectStartUs, 0);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_address.kind == Kind::RawTcp) {
        BecomeReady();
        return;
    }
    m_state = State::Negotiating;
    SendCommand(m_codec.Opening());
}

QByteArray NetworkLine::Absorb()
{
    if (!m_socket)
        return {};
    const QByteArray bytes = m_socket->readAll();
    if (m_state == State::Broken)
        return {}; // nothing more is answered on a broken line
    if (m_address.kind == Kind::RawTcp)
        return m_state == State::Ready ? bytes : QByteArray();
    const Rfc2217Codec::Decoded decoded = m_codec.Feed(bytes, NowUs() / 1000);
    if (!decoded.answer.isEmpty())
        SendCommand(decoded.answer);

    // Line data counts from the moment the line is agreed, and not between a
    // receive purge and its acknowledgement; both may fall inside the piece.
    qsizetype keepFrom = m_state == State::Ready && m_purgesUnacknowledged == 0 ? 0 : -1;
    qsizetype agreedAt = 0;
    if (m_state == State::Negotiating) {
        const qsizetype said =
            decoded.comPortSettledAt >= 0 ? decoded.comPortSettledAt : decoded.data.size();
        m_preamble += decoded.data.left(std::min(said, kMaxPreamble - m_preamble.size()));
        if (m_codec.ComPort() == Rfc2217Codec::ComPortState::Refused) {
            Break(tr("%1 refuses the Com Port Control Option (RFC 2217); a server with a fixed "
                     "speed is reached as tcp://")
                      .arg(Where()));
            return {};
        }
        if (m_codec.ComPort() != Rfc2217Codec::ComPortState::Agreed)
            return {};
        agreedAt = decoded.comPortSettledAt;
        BecomeReady(); // may purge: what follows then waits for the acknowledgement
        keepFrom = m_purgesUnacknowledged == 0 ? agreedAt : -1;
    }
    for (const Rfc2217Codec::Reply& reply : decoded.replies) {
        const bool waiting = m_purgesUnacknowledged > 0;
        OnReply(reply);
        if (waiting && m_purgesUnacknowledged == 0 && reply.dataOffset >= agreedAt)
            keepFrom = reply.dataOffset;
    }
    if (m_state != State::Ready || keepFrom < 0)
        return {};
    return decoded.data.mid(keepFrom);
}

void NetworkLine::OnSocketReadyRead()
{
    const QByteArray data = Absorb();
    if (data.isEmpty() || m_state != State::Ready)
        return;
    m_received += data;
    emit ReadyRead();
}

QByteArray NetworkLine::ReadAll()
{
    QByteArray data;
    data.swap(m_received);
    return data;
}

void NetworkLine::OnReply(const Rfc2217Codec::Reply& reply)
{
    switch (reply.command) {
    case Rfc2217Codec::kSetBaudRate: {
        if (m_baudRequests.empty())
            return;
        const auto [asked, sentAtUs] = m_baudRequests.front();
        m_baudRequests.pop_front();
        m_roundTripUs = std::max<qint64>(NowUs() - sentAtUs, 0);
        const quint32 set = Rfc2217Codec::ValueOf(reply.value);
        if (set != 0 && set != asked)
            Break(tr("%1 runs the line at %2 baud, not at %3").arg(Where()).arg(set).arg(asked));
        return;
    }
    case Rfc2217Codec::kPurgeData: {
        const quint8 which = reply.value.isEmpty() ? 0 : quint8(reply.value[0]);
        if (which != Rfc2217Codec::kPurgeReceive && which != Rfc2217Codec::kPurgeBoth)
            return;
        m_purgeAcks = PurgeAcks::Given;
        if (m_purgesUnacknowledged > 0 && --m_purgesUnacknowledged == 0)
            m_purgeTimer->stop();
        return;
    }
    case Rfc2217Codec::kSetControl: {
        // Only the answers to outbound flow control requests; DTR and RTS
        // answers change nothing.
        const quint32 set = Rfc2217Codec::ValueOf(reply.value);
        if (set < Rfc2217Codec::kNoFlowControl || set > Rfc2217Codec::kHardwareFlowControl ||
            m_flowRequests.empty())
            return;
        const quint8 asked = m_flowRequests.front();
        m_flowRequests.pop_front();
        // A line asked to run without flow control keeps running as it is.
        if (asked != Rfc2217Codec::kNoFlowControl && set != asked)
            Break(OtherFlowReason(Where(), asked, set));
        return;
    }
    case Rfc2217Codec::kFlowControlSuspend:
        m_suspended = true;
        return;
    case Rfc2217Codec::kFlowControlResume:
        m_suspended = false;
        Flush();
        return;
    default:
        // Other answers and the line and modem notifications change nothing here.
        return;
    }
}

void NetworkLine::BecomeReady()
{
    m_state = State::Ready;
    m_connectTimer->stop();
    m_preamble.clear();
    if (m_address.kind == Kind::Rfc2217) {
        SendFormat(true);
        // As on a local line: DTR low, and RTS unless RTS/CTS drives it. A
        // server that cannot carry a request out may leave it unanswered;
        // nothing waits.
        QByteArray lines = Rfc2217Codec::SetControl(Rfc2217Codec::kDtrOff);
        if (m_format.flow != FlowControl::Hardware)
            lines += Rfc2217Codec::SetControl(Rfc2217Codec::kRtsOff);
        SendCommand(lines);
        // Bytes the server's port holds from before the connection go too,
        // when the opener asked for clean buffers.
        SendPurge(m_purgeInputDue, m_purgeOutputDue);
    }
    m_purgeInputDue = false;
    m_purgeOutputDue = false;
    Flush();
}

bool NetworkLine::SetFormat(const LineFormat& format)
{
    if (m_address.kind == Kind::RawTcp)
        return format.baud == m_address.fixedBaud; // the frame format is the server's
    m_format = format;
    if (m_state == State::Ready)
        SendFormat(false);
    return true;
}

void NetworkLine::SendFormat(bool whole)
{
    // The order RFC 2217 recommends: speed, data size, parity, stop size.
    QByteArray commands;
    if (whole || !m_formatSent || m_format.baud != m_sentFormat.baud) {
        commands += Rfc2217Codec::SetBaudRate(quint32(m_format.baud));
        m_baudRequests.emplace_back(quint32(m_format.baud), NowUs());
    }
    if (whole || !m_formatSent || m_format.dataBits != m_sentFormat.dataBits)
        commands += Rfc2217Codec::SetDataSize(m_format.dataBits);
    if (whole || !m_formatSent || m_format.parity != m_sentFormat.parity)
        commands += Rfc2217Codec::SetParity(m_format.parity);
    if (whole || !m_formatSent || m_format.stopTenths != m_sentFormat.stopTenths)
        commands += Rfc2217Codec::SetStopSize(m_format.stopTenths);
    if (whole || !m_formatSent || m_format.flow != m_sentFormat.flow) {
        const quint8 flow = FlowValue(m_format.flow);
        commands += Rfc2217Codec::SetControl(flow);
        m_flowRequests.push_back(flow);
        // RTS was the server's under RTS/CTS; without it the line holds it low.
        if (!whole && m_formatSent && m_sentFormat.flow == FlowControl::Hardware)
            commands += Rfc2217Codec::SetControl(Rfc2217Codec::kRtsOff);
    }
    m_sentFormat = m_format;
    m_formatSent = true;
    if (!commands.isEmpty())
        SendCommand(commands);
}

void NetworkLine::Write(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    switch (m_state) {
    case State::Connecting:
    case State::Negotiating:
        m_held += bytes;
        return;
    case State::Ready:
        if (m_suspended || !m_held.isEmpty())
            m_held += bytes;
        else
            SendData(bytes);
        return;
    case State::Closed:
    case State::Broken:
        return;
    }
}

void NetworkLine::SendCommand(const QByteArray& command)
{
    if (!m_socket || command.isEmpty() || m_state == State::Broken)
        return;
    m_socket->write(command);
    m_unwritten.emplace_back(command.size(), 0);
    CheckUnwritten();
}

void NetworkLine::SendData(const QByteArray& data)
{
    if (!m_socket || m_state == State::Broken)
        return;
    const QByteArray encoded = m_address.kind == Kind::Rfc2217 ? m_codec.EncodeData(data) : data;
    m_socket->write(encoded);
    m_unwritten.emplace_back(encoded.size(), data.size());
    m_lineBytesUnwritten += data.size();
    CheckUnwritten();
}

void NetworkLine::CheckUnwritten()
{
    // Qt keeps what the system does not take yet; a server that never reads
    // would make that grow without end.
    const qint64 waiting = m_socket->bytesToWrite();
    if (waiting > kMaxUnwrittenBytes)
        Break(NotReadingReason(Where(), waiting));
}

void NetworkLine::Flush()
{
    if (m_state != State::Ready || m_suspended || m_held.isEmpty())
        return;
    QByteArray data;
    data.swap(m_held);
    SendData(data);
}

void NetworkLine::OnBytesWritten(qint64 bytes)
{
    // The line bytes among the socket bytes the system took: a chunk taken
    // in part counts its line bytes in proportion.
    qint64 lineBytes = 0;
    while (bytes > 0 && !m_unwritten.empty()) {
        auto& [socketLeft, lineLeft] = m_unwritten.front();
        const qint64 taken = std::min(bytes, socketLeft);
        const qint64 line = taken == socketLeft ? lineLeft : lineLeft * taken / socketLeft;
        lineBytes += line;
        lineLeft -= line;
        socketLeft -= taken;
        bytes -= taken;
        if (socketLeft == 0)
            m_unwritten.pop_front();
    }
    m_lineBytesUnwritten -= lineBytes;
    if (lineBytes > 0)
        emit HandedOver(lineBytes);
}

void NetworkLine::PurgeInput()
{
    // Whatever the system already holds is read and dropped, as a local
    // line drops its driver's buffer.
    Absorb();
    m_received.clear();
    if (m_state == State::Ready)
        SendPurge(true, false);
    else
        m_purgeInputDue = true;
}

void NetworkLine::PurgeOutput()
{
    m_held.clear();
    if (m_state == State::Ready)
        SendPurge(false, true);
    else
        m_purgeOutputDue = true;
}

void NetworkLine::SendPurge(bool input, bool output)
{
    if (m_address.kind != Kind::Rfc2217 || (!input && !output))
        return;
    const quint8 which = input && output ? Rfc2217Codec::kPurgeBoth
                         : input         ? Rfc2217Codec::kPurgeReceive
                                         : Rfc2217Codec::kPurgeTransmit;
    SendCommand(Rfc2217Codec::PurgeData(which));
    if (input && m_purgeAcks != PurgeAcks::NotGiven) {
        ++m_purgesUnacknowledged;
        m_purgeTimer->start(kPurgeAckMs);
    }
}

qint64 NetworkLine::BytesQueued() const
{
    if (m_state == State::Closed || m_state == State::Broken)
        return 0;
    qint64 queued = m_held.size();
    if (m_socket) {
        queued += m_socket->bytesToWrite();
#ifdef Q_OS_LINUX
        // Sent but not yet acknowledged by the server's system.
        int unacknowledged = 0;
        const qintptr fd = m_socket->socketDescriptor();
        if (fd >= 0 && ::ioctl(int(fd), SIOCOUTQ, &unacknowledged) == 0)
            queued += unacknowledged;
#endif
    }
    return queued;
}

void NetworkLine::Break(const QString& reason)
{
    if (m_state == State::Closed || m_state == State::Broken)
        return;
    const bool early = m_state == State::Connecting || m_state == State::Negotiating;
    m_state = State::Broken;
    m_connectTimer->stop();
    QString text = reason;
    QByteArray said = m_preamble;
    for (char& c : said) {
        if (quint8(c) < 0x20 || quint8(c) > 0x7e)
            c = ' ';
    }
    said = said.simplified();
    if (early && !said.isEmpty())
        text += QStringLiteral(" (\"%1\")").arg(QString::fromLatin1(said));
    emit Broken(text);
}

qint64 NetworkLine::NowUs() const
{
    return m_clock.nsecsElapsed() / 1000;
}

} // namespace tapeway
