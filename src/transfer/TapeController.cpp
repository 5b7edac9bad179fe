// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeController.h"

#include "resources/StringTable.h"
#include "serial/LinkSettings.h"
#include "transfer/Frame.h"
#include "transfer/TapeLine.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTimer>
#include <algorithm>

namespace tapeway {

namespace {

// Punching: how often more characters are handed over, and the pause between
// two programs (the operator starting the next one).
constexpr int kPumpMs = 2;
constexpr int kBetweenProgramsMs = 500;
// Reading: the longest the reader goes without looking at the time (the
// receiver's silence, the buffer's consumption).
constexpr qint64 kPollMs = 50;
// Reading with start on XON: READ is pressed again for the next program once
// the line has been quiet this long after a program's end.
constexpr qint64 kReadAgainQuietUs = 500000;

const QByteArray kParityMark("\xff\x00", 2);

QString ByteText(quint8 byte)
{
    if (byte > 0x20 && byte < 0x7f)
        return QString(QChar(byte));
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

// The number a program gives itself in its first block (the first line
// that is more than the '%' at its start): O or ':' and digits.
QString ProgramNumberOf(const QByteArray& text)
{
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line == "%")
            continue;
        if (line[0] != 'O' && line[0] != ':')
            return {};
        qsizetype end = 1;
        while (end < line.size() && line[end] >= '0' && line[end] <= '9')
            ++end;
        return QString::fromLatin1(line.mid(1, end - 1));
    }
    return {};
}

QString ProgramName(const QString& number)
{
    return QStringLiteral("O%1.nc").arg(number.rightJustified(4, QLatin1Char('0')));
}

} // namespace

TapeController::TapeController(const QString& portName, QObject* parent)
    : QObject(parent), m_portName(portName), m_tick(new QTimer(this))
{
    m_tick->setTimerType(Qt::PreciseTimer);
    connect(m_tick, &QTimer::timeout, this, [this] {
        if (m_mode == Mode::Reading)
            OnReadTick();
        else if (m_mode == Mode::Punching)
            Pump();
    });
    connect(&m_port, &SerialPort::OnComm, this, &TapeController::OnComm);
    connect(&m_port, &SerialPort::LineBroken, this, &TapeController::OnLineBroken);
}

TapeController::~TapeController() = default;

bool TapeController::OpenLine()
{
    // With XON/XOFF the controller sends and heeds DC1 and DC3 itself.
    LinkSettings port;
    port.portName = m_portName;
    const LinkSettings link = TapeLinkSettings(m_profile, port);
    QString error;
    if (!OpenPort(m_port, link, &error)) {
        emit Failed(QStringLiteral("cannot open %1: %2").arg(m_portName, error));
        return false;
    }
    if (!ApplyBaudRate(m_port, m_profile.baud, link)) {
        emit Failed(QStringLiteral("the port refused %1 baud, %2")
                        .arg(m_profile.baud)
                        .arg(m_profile.FrameText()));
        return false;
    }
    m_clock.start();
    return true;
}

void TapeController::Stop()
{
    m_tick->stop();
    m_mode = Mode::Idle;
    ++m_session;
    m_sender.reset();
    m_receiver.reset();
}

void TapeController::Fail(const QString& reason)
{
    Stop();
    emit Failed(reason);
}

void TapeController::FinishAfterDrain()
{
    Stop();
    const quint64 session = m_session;
    m_port.Drain([this, session] {
        if (m_session == session) {
            Stop();
            emit Finished();
        }
    });
}

void TapeController::OnComm()
{
    if (m_port.GetCommEvent() != SerialPort::kCommEventReceive)
        return;
    const QByteArray chunk = m_port.GetInput();
    if (chunk.isEmpty())
        return;
    if (m_mode == Mode::Reading) {
        ReadInput(chunk);
    } else if (m_mode == Mode::Punching) {
        for (const char c : chunk) {
            if (c == kDC1 || c == kDC3)
                m_peerHeld = c == kDC3;
            // A DC1 between two programs is kept for the next one.
            if (c == kDC1 && !m_sender)
                m_startSeen = true;
        }
        if (m_sender)
            m_sender->OnReceived(chunk, NowUs() / 1000);
        Pump();
    }
}

void TapeController::OnLineBroken(const QString& reason)
{
    if (m_mode != Mode::Idle)
        Fail(QStringLiteral("line broken: %1").arg(reason));
}

// Reading

bool TapeController::Read(const QString& dir, int count)
{
    Stop();
    if (count <= 0) {
        emit Failed(QStringLiteral("no program to read"));
        return false;
    }
    if (!m_reader.IsValid()) {
        emit Failed(QStringLiteral("the reader's buffer settings cannot work"));
        return false;
    }
    if (!QDir().mkpath(dir)) {
        emit Failed(QStringLiteral("cannot make the folder %1").arg(dir));
        return false;
    }
    if (!OpenLine())
        return false;
    TapeReaderModel::Settings reader = m_reader;
    reader.flowControl = m_profile.handshake == TapeProfile::Handshake::XonXoff;
    reader.characterUs =
        TapeReaderModel::Settings::CharacterUs(m_profile.baud, m_profile.BitsPerCharacter());
    m_model.emplace(reader);
    m_receiver.reset();
    m_names.clear();
    m_nextUnnumbered = 1;
    m_stored = 0;
    m_receivedOffset = 0;
    m_readAgain = false;
    m_dir = dir;
    m_count = count;
    m_mode = Mode::Reading;
    ++m_session;
    m_tick->setSingleShot(true);
    if (m_profile.startOn == TapeProfile::StartOn::Xon)
        SendFlow(m_model->PressRead(NowUs()));
    ArmReadTick();
    return true;
}

void TapeController::SendFlow(const QByteArray& bytes)
{
    if (!bytes.isEmpty())
        m_port.SetOutput(bytes);
}

void TapeController::ArmReadTick()
{
    if (m_mode != Mode::Reading)
        return;
    qint64 waitMs = kPollMs;
    if (const std::optional<qint64> due = m_model->NextChangeUs())
        waitMs = std::clamp<qint64>((*due - NowUs() + 999) / 1000, 0, kPollMs);
    m_tick->start(int(waitMs));
}

void TapeController::OnReadTick()
{
    const qint64 nowUs = NowUs();
    SendFlow(m_model->Advance(nowUs));
    if (m_readAgain && nowUs - m_lastInputUs >= kReadAgainQuietUs) {
        m_readAgain = false;
        SendFlow(m_model->PressRead(nowUs));
    }
    if (m_receiver) {
        m_receiver->Poll(nowUs / 1000);
        if (!AfterFeed())
            return;
    }
    ArmReadTick();
}

bool TapeController::IsBlankTape(quint8 byte) const
{
    if (byte == 0x00 || byte == 0x7f)
        return true;
    if (m_profile.code == TapeCodeKind::Iso)
        return (byte >= quint8(kDC1) && byte <= quint8(kDC4)) || byte == '\r' || byte == '\n';
    // EIA: 0x13 is the figure 3; 0x2a is backspace.
    return byte == quint8(kDC1) || byte == quint8(kDC2) || byte == quint8(kDC4) || byte == 0x2a ||
           byte == TapeCode::kEiaEndOfBlock;
}

void TapeController::ReadInput(const QByteArray& chunk)
{
    const qint64 nowUs = NowUs();
    const qint64 nowMs = nowUs / 1000;
    m_lastInputUs = nowUs;
    SendFlow(m_model->Receive(chunk.size(), nowUs));
    const qint64 start = m_receivedOffset;
    m_receivedOffset += chunk.size();
    const bool faultHere = m_parityFaultAt >= start && m_parityFaultAt < m_receivedOffset;
    qsizetype pos = 0;
    while (pos < chunk.size()) {
        const qint64 at = start + pos;
        const bool fault = at == m_parityFaultAt;
        if (!m_receiver) {
            if (!fault && IsBlankTape(quint8(chunk[pos]))) {
                ++pos;
                continue;
            }
            m_receiver.emplace(m_profile);
            m_receiver->SetParityMarks(m_port.MarksParityErrors());
        }
        if (fault) {
            // The character as a line with PARMRK presents it after a parity
            // error, whether or not this line marks them.
            m_receiver->SetParityMarks(true);
            m_receiver->Feed(kParityMark + chunk[pos], nowMs);
            m_receiver->SetParityMarks(m_port.MarksParityErrors());
            ++pos;
        } else {
            const qsizetype end = faultHere && m_parityFaultAt > at
                                      ? qsizetype(m_parityFaultAt - start)
                                      : chunk.size();
            const qint64 before = m_receiver->BytesReceived();
            m_receiver->Feed(QByteArrayView(chunk).sliced(pos, end - pos), nowMs);
            pos += qsizetype(m_receiver->BytesReceived() - before);
        }
        if (!AfterFeed())
            return;
    }
    ArmReadTick();
}

bool TapeController::AfterFeed()
{
    const TapeReceiver::State state = m_receiver->CurrentState();
    if (state == TapeReceiver::State::Failed) {
        Fail(FailureText());
        return false;
    }
    if (state != TapeReceiver::State::Complete)
        return true;
    const qint64 lines = m_receiver->LinesReceived();
    const QByteArray text = m_receiver->TakeText();
    m_receiver.reset();
    QString path;
    if (!StoreProgram(text, &path)) {
        Fail(QStringLiteral("cannot write %1").arg(path));
        return false;
    }
    ++m_stored;
    const quint64 session = m_session;
    emit ProgramStored(path, lines, text.size());
    if (m_session != session)
        return false;
    if (m_stored >= m_count) {
        // The reader is done, but the sender may still have the program's
        // last line end and its trailer to send: the line goes free.
        if (m_model->IsHoldingLine())
            SendFlow(QByteArray(1, kDC1));
        FinishAfterDrain();
        return false;
    }
    // The sender may still be sending the program's tail (its last line
    // end, the trailer): READ for the next program waits for the quiet.
    m_readAgain = m_profile.startOn == TapeProfile::StartOn::Xon;
    return true;
}

QString TapeController::NameFor(const QByteArray& text)
{
    const QString number = ProgramNumberOf(text);
    if (!number.isEmpty())
        return ProgramName(number);
    QString name;
    do
        name = ProgramName(QString::number(m_nextUnnumbered++));
    while (m_names.contains(name));
    return name;
}

bool TapeController::StoreProgram(const QByteArray& text, QString* path)
{
    const QString name = NameFor(text);
    m_names.insert(name);
    *path = QDir(m_dir).filePath(name);
    QSaveFile file(*path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush() &&
           file.commit();
}

QString TapeController::FailureText() const
{
    const TextPosition at = m_receiver->FailurePosition();
    const QString line = QString::number(at.line);
    const QString column = QString::number(at.column);
    const QString code = CodeName(m_profile.code);
    switch (m_receiver->FailureKind()) {
    case TapeReceiver::Failure::Parity:
        return LocalText(m_language, 232, 233).arg(line, column);
    case TapeReceiver::Failure::Break:
        return LocalText(m_language, 234, 235).arg(line, column);
    case TapeReceiver::Failure::UnknownCode:
        return LocalText(m_language, 236, 237).arg(line, column, code);
    case TapeReceiver::Failure::EvenHoles:
        return LocalText(m_language, 238, 239).arg(line, column);
    case TapeReceiver::Failure::TvCheck:
        return LocalText(m_language, 240, 241).arg(line, column);
    case TapeReceiver::Failure::Silence:
        return LocalText(m_language, 242, 243)
            .arg(line, column, QString::number(m_profile.idleSeconds));
    case TapeReceiver::Failure::None:
        break;
    }
    return {};
}

// Punching

bool TapeController::Punch(const QStringList& files)
{
    Stop();
    if (files.isEmpty()) {
        emit Failed(QStringLiteral("no file to punch"));
        return false;
    }
    QList<QByteArray> contents;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            emit Failed(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return false;
        }
        const QByteArray data = file.readAll();
        if (data.isEmpty()) {
            emit Failed(QStringLiteral("%1: an empty file cannot be punched").arg(path));
            return false;
        }
        TapeSender check(m_profile);
        check.AddSource(data);
        if (const std::optional<TextPosition> at = check.RefusedAt()) {
            emit Failed(QStringLiteral("%1: %2").arg(
                path, LocalText(m_language, 230, 231)
                          .arg(QString::number(at->line), QString::number(at->column),
                               ByteText(quint8(data.at(at->offset))), CodeName(m_profile.code))));
            return false;
        }
        contents.append(data);
    }
    if (!OpenLine())
        return false;
    m_files = contents;
    m_fileIndex = 0;
    m_sentOffset = 0;
    m_peerHeld = false;
    m_startSeen = false;
    // Enough for two rounds of the pump, so that the wire never waits.
    const qint64 perRound =
        (qint64(m_profile.baud) * 2 * kPumpMs + 1000LL * m_profile.BitsPerCharacter() - 1) /
        (1000LL * m_profile.BitsPerCharacter());
    m_ahead = std::max<qint64>(2, perRound);
    m_mode = Mode::Punching;
    ++m_session;
    StartPunching();
    return true;
}

void TapeController::StartPunching()
{
    m_sender.emplace(m_profile);
    m_sender->AddSource(m_files.at(m_fileIndex));
    m_sender->EndOfSource();
    if (m_startSeen)
        m_sender->OnReceived(QByteArray(1, kDC1), NowUs() / 1000);
    m_startSeen = false;
    if (m_peerHeld)
        m_sender->OnReceived(QByteArray(1, kDC3), NowUs() / 1000);
    m_tick->setSingleShot(false);
    m_tick->start(kPumpMs);
    Pump();
}

void TapeController::Pump()
{
    if (m_mode != Mode::Punching || !m_sender)
        return;
    const qint64 room = m_ahead - m_port.BytesNotOnWire();
    if (room > 0) {
        const QByteArray out = m_sender->Take(room);
        if (!out.isEmpty())
            Transmit(out);
    }
    if (m_sender->CurrentState() != TapeSender::State::Done)
        return;
    m_tick->stop();
    m_sender.reset();
    const quint64 session = m_session;
    m_port.Drain([this, session] {
        if (m_session != session)
            return;
        const int punched = m_fileIndex++;
        emit ProgramPunched(punched);
        if (m_session != session)
            return;
        if (m_fileIndex >= m_files.size()) {
            Stop();
            emit Finished();
            return;
        }
        QTimer::singleShot(kBetweenProgramsMs, this, [this, session] {
            if (m_session == session)
                StartPunching();
        });
    });
}

void TapeController::Transmit(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + kParityMark.size());
    for (const char byte : bytes) {
        if (m_sentOffset++ == m_parityFaultAt)
            out += kParityMark;
        out += byte;
    }
    m_port.SetOutput(out);
}

} // namespace tapeway
