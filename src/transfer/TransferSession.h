#pragma once

#include "transfer/FileReport.h"
#include "transfer/ReceiveProtocol.h"
#include "transfer/SendProtocol.h"
#include "transfer/SendSource.h"

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
class TransferSession : public QObject
{
    Q_OBJECT
public:
    struct Timings
    {
        int headerRequestMs = 1000; // DC2 while waiting for the header
        int readyRequestMs = 100;   // DC3 after the header until data comes
        int watchdogMs = 10000;     // silence after the header that breaks the link
        int repaintMs = 500;        // file list repaint during a send
    };

    TransferSession(SerialPort& port, SessionHost& host, QObject* parent = nullptr);
    ~TransferSession() override;

    void SetTimings(const Timings& timings) { m_timings = timings; }

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
    // Reads the file of the send at the receiver's first request; false
    // when no file of the batch could be read.
    bool ReadSendFile();
    void OnReceiveChunk(const QByteArray& chunk);
    bool IsRequestForFile(const QByteArray& chunk) const;
    void AnswerWithSend(const QByteArray& request);
    void OnSendChunk(const QByteArray& chunk);
    void AcceptHeader();
    void FinishReceive();
    void CompleteSend();
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
    // The typed speed of a send is a whole number the port can be set to.
    bool CheckBaudText();
    // A port's open failure with a hint for the usual causes.
    QString PortProblem(const QString& reason) const;
    // Silence that breaks an agreed link: at least twice a full packet's wire time more.
    int WatchdogMs() const;
    void EnableControls(bool enable);
    // reason: why the line broke, when it says (a device server out of reach).
    void BreakLink(const QString& reason = {});
    void StopTimers();
    // Ends whatever runs: timers, protocol state, and the file of a receive
    // that did not save (removed when this session created it).
    void StopSession();
    void RemoveStagingFile();
    void CloseFile(bool removeCreated);
    void SendByte(char byte);
    int CurrentRow() const { return m_rowCursor - 1; }

    SerialPort& m_port;
    SessionHost& m_host;
    Timings m_timings;

    bool m_active = false;
    bool m_receiving = false;
    int m_baud = 0;
    std::optional<ReceiveProtocol> m_receive;
    std::optional<SendSource> m_source; // the file of the current send
    std::optional<SendProtocol> m_send; // once the file has been read
    bool m_switchingSpeed = false;      // DC4 is leaving the line before the speed changes
    bool m_awaitingAcknowledge = false; // the last packet left; the receiver's DC2 is due
    quint64 m_generation = 0;           // guards callbacks of a drain against a later session

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

    QTimer m_headerTimer;      // DC2 every second until the header starts
    QTimer m_readyTimer;       // DC3 every 100 ms until packet 1 starts
    QTimer m_watchdog;         // silence on an agreed link
    QTimer m_repaintTimer;     // list repaint during the data phase of a send
    QTimer m_acknowledgeTimer; // how long a send waits for the last packet's DC2
};

} // namespace tapeway
