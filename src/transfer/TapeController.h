// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/SerialPort.h"
#include "transfer/TapeProfile.h"
#include "transfer/TapeReaderModel.h"
#include "transfer/TapeReceiver.h"
#include "transfer/TapeSender.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

class QTimer;

namespace tapeway {

// Plays a CNC controller of the tape protocol on a serial port, for tests,
// benchmarks and training, with the line set as the profile says (speed,
// frame; RTS/CTS when the profile has it, otherwise no flow control of the
// driver's: DC1 and DC3 are this class's own business).
//
// Reading, the PC sends to it: a TapeReaderModel plays the controller's
// buffer and says when DC3 and DC1 go out (only with XON/XOFF handshake; with
// start on XON the DC1 of READ goes out before every program whatever the
// handshake). What arrives is decoded by a TapeReceiver and every complete
// program is stored in the folder as O1234.nc by the number of its first
// block (O or ':' and digits), else as O0001.nc, O0002.nc, ... in the order
// of such programs (a later program of a number replaces the earlier). What
// follows a program's end up to the next character that is neither blank tape
// nor a line end belongs to no program. With start on XON, READ is pressed
// again for the next program once the line has been quiet for half a second.
// A program's failure (parity, silence, ...) is the controller's alarm: it
// stops. After the last program it lets go of the line (DC1 when it held it).
//
// Punching, it sends to the PC: every file through a TapeSender, a few
// characters ahead of the wire, so that a DC3 of the PC holds it within a
// few characters; the next file follows half a second after the last one
// has left the wire.
//
// Everything runs on the event loop.
class TapeController : public QObject
{
    Q_OBJECT
public:
    explicit TapeController(const QString& portName, QObject* parent = nullptr);
    ~TapeController() override;

    void SetProfile(const TapeProfile& profile) { m_profile = profile; }
    // The reader's buffer, rate and hold; its flow control and character
    // time are taken from the profile at the start of Read.
    void SetReader(const TapeReaderModel::Settings& reader) { m_reader = reader; }
    // A parity error at a byte offset (from 0, counting every byte of the
    // session), negative for none. Reading: the byte received there counts as
    // received with a parity error. Punching: the byte sent there goes out as
    // the three bytes 0xFF 0x00 c, which is how a Linux line with PARMRK
    // presents a character received with a parity error. A pseudo-terminal
    // carries no parity at all, so on a virtual line this is how a parity
    // error is put before the PC's receiver. It arrives as a mark only where
    // the receiving end does not itself mark: an end that set PARMRK doubles
    // every 0xFF it is given (the kernel's line discipline), and the receiver
    // then reads a real 0xFF.
    void SetParityFaultAt(qint64 offset) { m_parityFaultAt = offset; }
    // The language of the tape protocol's failure texts (0 Chinese,
    // otherwise English).
    void SetLanguage(int language) { m_language = language; }

    // Opens the port and reads count programs into dir. False (and Failed)
    // when the folder cannot be made or the port does not open.
    bool Read(const QString& dir, int count);
    // Opens the port and punches the files, one after the other. The files
    // are read and checked against the code at once: false (and Failed) when
    // one cannot be read, is empty or holds a character the code cannot
    // carry, and when the port does not open.
    bool Punch(const QStringList& files);

    // Ends the session where it is; the port stays open.
    void Stop();

    bool IsActive() const { return m_mode != Mode::Idle; }
    // The reader's figures of the last Read.
    qint64 Overruns() const { return m_model ? m_model->Overruns() : 0; }
    qint64 MostCharactersAfterXoff() const
    {
        return m_model ? m_model->MostCharactersAfterXoff() : 0;
    }
    // The reader's buffer model of the last Read, nothing before one.
    const TapeReaderModel* ReaderModel() const { return m_model ? &*m_model : nullptr; }
    SerialPort& Port() { return m_port; }

signals:
    void ProgramStored(const QString& path, qint64 lines, qint64 bytes);
    void ProgramPunched(int index);
    void Failed(const QString& reason);
    void Finished();

private:
    enum class Mode
    {
        Idle,
        Reading,
        Punching
    };

    bool OpenLine();
    void Fail(const QString& reason);
    void FinishAfterDrain();
    qint64 NowUs() const { return m_clock.nsecsElapsed() / 1000; }
    void OnComm();
    void OnLineBroken(const QString& reason);

    // Reading
    void ReadInput(const QByteArray& chunk);
    void OnReadTick();
    void ArmReadTick();
    void SendFlow(const QByteArray& bytes);
    // Whether a byte between programs is blank tape or a line end: the
    // reader stops at a program's end and starts on the next character.
    bool IsBlankTape(quint8 byte) const;
    // Stores a complete program, reports a failed one; false when the
    // session ended.
    bool AfterFeed();
    bool StoreProgram(const QByteArray& text, QString* path);
    QString NameFor(const QByteArray& text);
    QString FailureText() const;

    // Punching
    void StartPunching();
    void Pump();
    void Transmit(const QByteArray& bytes);

    SerialPort m_port;
    QString m_portName;
    TapeProfile m_profile;
    TapeReaderModel::Settings m_reader;
    qint64 m_parityFaultAt = -1;
    int m_language = 1;
    Mode m_mode = Mode::Idle;
    quint64 m_session = 0; // bumped by every start and stop
    QElapsedTimer m_clock;
    QTimer* m_tick;

    // Reading
    QString m_dir;
    int m_count = 0;
    int m_stored = 0;
    qint64 m_receivedOffset = 0;
    std::optional<TapeReaderModel> m_model;
    std::optional<TapeReceiver> m_receiver;
    QSet<QString> m_names; // stored in this session
    qint64 m_lastInputUs = 0;
    bool m_readAgain = false; // READ is due for the next program
    int m_nextUnnumbered = 1;

    // Punching
    QList<QByteArray> m_files;
    int m_fileIndex = 0;
    qint64 m_sentOffset = 0;
    qint64 m_ahead = 2;       // characters handed over ahead of the wire
    bool m_peerHeld = false;  // the PC's last flow byte was DC3
    bool m_startSeen = false; // a DC1 came while no program was being punched
    std::optional<TapeSender> m_sender;
};

} // namespace tapeway
