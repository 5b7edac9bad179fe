// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/FeedSnapshot.h"
#include "transfer/FileReport.h"
#include "transfer/PacketReceiveDriver.h"
#include "transfer/PacketSendDriver.h"
#include "transfer/ReceiveProtocol.h"
#include "transfer/SendProtocol.h"
#include "transfer/SendSource.h"
#include "transfer/TapeReceiveDriver.h"
#include "transfer/TapeSendDriver.h"
#include "transfer/WireListener.h"

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

namespace tapeway {

class SerialPort;
class SessionHost;

// "37%": the share of count in total, rounded half up.
QString PercentText(qint64 count, qint64 total);

// One file moved over the serial line in one direction, and the chain of them
// that makes a batch: Start, the protocol driven from OnComm and the timers,
// and the three ways out (complete, failed, cancelled).
//
// Receive: the target is created at Start (or, when it exists and the
// operator agrees, a staging file in the temporary directory), the file is
// collected in memory, verified, and only then put under its name in one
// atomic replace. A failed or cancelled receive leaves nothing behind that
// was not there before.
//
// The session is the operator's side of a transfer: Start, the batch cursor
// and its rows, the early checks (speed, port, target, room), staging and
// the atomic replace, recovery, the file reports, Cancel and the host calls.
// What happens on the wire for one file belongs to a driver the session
// owns: a ReceiveDriver or a SendDriver (today the packet protocol's,
// PacketReceiveDriver and PacketSendDriver over ReceiveProtocol and
// SendProtocol). The session opens the line, feeds the driver what arrives,
// reads the file of a send when the driver asks for it, and hears back
// through WireListener: progress, the announced speed, the verified data,
// "sent", or a failure with its outcome and message pair. Nothing above the
// session learns which protocol runs.
class TransferSession : public QObject, private WireListener
{
    Q_OBJECT
public:
    // The first three are the packet protocol's and go to its drivers.
    struct Timings
    {
        int headerRequestMs = 1000; // DC2 while waiting for the header
        int readyRequestMs = 100;   // DC3 after the header until data comes
        int watchdogMs = 10000;     // silence after the header that breaks the link
        int repaintMs = 500;        // file list repaint during a send
    };

    TransferSession(SerialPort& port, SessionHost& host, QObject* parent = nullptr);
    ~TransferSession() override;

    void SetTimings(const Timings& timings);

    // Start: the receive preparation, or the next ticked file of a send batch.
    void StartTransfer();
    // Cancel: ends any session, removes what it created.
    void CancelTransfer();
    // Exit and the close box: the file part of Cancel.
    void CloseDownTransfer();
    // Event handler of the serial line: the owner routes SerialPort::OnComm here.
    void OnComm();

    bool IsActive() const { return m_active; }
    int RowCursor() const { return m_rowCursor; }
    void SetRowCursor(int cursor) { m_rowCursor = cursor; }
    int ContinuousCounter() const { return m_continuousCounter; }
    QString StagingFileName() const { return m_stagingName; }
    QString TargetName() const { return m_targetName; }
    int Baud() const { return m_baud; }

private:
    void StartReceive();
    bool CreateStagingFile(const QString& target, QFile& file);
    void StartNextSend();
    // Marks the row of a file that cannot be sent and reports it.
    void SkipSendFile(int row, const SendSource& source, SendSource::Problem problem);
    // Reads the file of the send at the receiver's request and hands it to
    // the driver with that request. One that went or became something else
    // since Start is not sent; the same request goes to the next file.
    void ReadSendFile(const QByteArray& request);
    void OnReceiveChunk(const QByteArray& chunk);
    // The receive ends as Cancel ends it and a send answers the request.
    void AnswerWithSend(const QByteArray& request);
    void OnSendChunk(const QByteArray& chunk);

    // What the driver of the current file says (WireListener).
    QString WireText(int chineseId, int englishId) const override;
    LinkSettings WireLink() const override;
    void WireProgress(qint64 done, qint64 total) override;
    void WireArrived(qint64 lines, qint64 bytes) override;
    std::optional<Failure> CheckRoom(qint64 length) override;
    void WireAnnounced(int baud, qint64 length) override;
    // Saves the verified data under the target, or keeps it for recovery.
    void WireReceived(const QByteArray& verified) override;
    void WireSent() override;
    void WireFailed(const Failure& failure) override;
    // Ends the file with the outcome's message pair (shown when show) and
    // reports it, unless outcome is null (the caller reported it).
    void EndTransfer(const char* outcome, int chineseId, int englishId, bool show,
                     const QString& detail = {});
    // Tells the host how the current file ended; verified is the exact data
    // moved when it was verified (a complete send, a received file).
    void ReportFile(const char* outcome, int chineseId, int englishId,
                    const QByteArray* verified = nullptr, const QString& detail = {},
                    const QString& recovered = {});
    // A receive that cannot begin because of the local file.
    void RefuseReceive(int chineseId, int englishId, const QString& detail);
    // The line's protocol for this Start: the tape profile when the host
    // names one (false, with the operator told, when it cannot work).
    bool ChooseProtocol();
    // The speed the line starts at: the typed one, or the tape profile's.
    int StartBaud() const;
    // The line as opened: the operator's choices, or for the tape protocol
    // the port with the profile's frame and flow control.
    LinkSettings LineLink() const;
    // Opens the line for the current file; for the tape protocol at its speed.
    bool OpenLine(QString* reason);
    // Opens the line for the send of row; false, with the row marked,
    // reported and the operator told, when it cannot be opened.
    bool OpenSendLine(int row);
    // A send of the tape protocol begins with its feed's snapshot, made
    // apart from this thread; the line is opened when it is ready.
    void PrepareFeed(int row);
    void FeedReady(const FeedSnapshotResult& feed);
    void FeedFailed(const FeedProblem& problem);
    // Lets the current feed's snapshot go (it is removed).
    void DropFeed();
    // Sets the progress range for a file of total bytes, scaled to fit.
    void SetProgressTotal(qint64 total);
    void WireFeedStatus(const FeedStatus& status) override;
    // A receive that ends without completing keeps what arrived, where the
    // protocol kept it: the recovery copy's path (empty when none), and
    // what the message adds about it.
    QString KeepArrived(const QByteArray& arrived, QString* detail);
    void EnableControls(bool enable);
    // reason: why the line broke, when it says (a device server out of reach).
    void BreakLink(const QString& reason = {});
    // Stops the repaint and the drivers' timers, and the drivers with them.
    void StopTimers();
    // Ends whatever runs: timers, protocol state, and the file of a receive
    // that did not save (removed when this session created it).
    void StopSession();
    void RemoveStagingFile();
    void CloseFile(bool removeCreated);
    int CurrentRow() const { return m_rowCursor - 1; }

    SerialPort& m_port;
    SessionHost& m_host;
    Timings m_timings;

    bool m_active = false;
    bool m_receiving = false;
    int m_baud = 0;
    PacketReceiveDriver m_packetReceive;
    PacketSendDriver m_packetSend;
    TapeReceiveDriver m_tapeReceive;
    TapeSendDriver m_tapeSend;
    std::optional<TapeProfile> m_tape;            // the tape protocol's profile, when it runs
    ReceiveDriver* m_receiver = &m_packetReceive; // the wire part of a receive
    SendDriver* m_sender = &m_packetSend;         // the wire part of a send
    std::optional<SendSource> m_source;           // the file of the current send
    bool m_fileRead = false;      // the file of the current send was read and handed over
    bool m_progressShown = false; // the current send reported progress before
    int m_progressShift = 0;      // progress positions are bytes >> this
    std::unique_ptr<FeedSnapshot> m_feedSnapshot; // the current feed's, while it lives
    std::optional<FeedRestart> m_feedRestart;     // where the current feed starts
    bool m_preparing = false;                     // the snapshot is being made
    QByteArray m_pendingRequest;                  // what arrived while it was
    quint64 m_generation = 0; // guards callbacks of a drain against a later session

    std::unique_ptr<QFile> m_file; // the created target or the staging file
    bool m_createdNew = false;
    QString m_targetName;
    QString m_stagingName;
    QString m_sendPath;      // the file of the current send row
    QDateTime m_fileStarted; // when the current file began (UTC)
    int m_dataBaud = 0;      // speed of the data phase, once agreed
    int m_rowCursor = 0;
    int m_continuousCounter = 0;
    QString m_continuousBase;

    QTimer m_repaintTimer; // list repaint during the data phase of a send
};

} // namespace tapeway
