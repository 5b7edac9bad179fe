// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeCode.h"
#include "transfer/TapeProfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

namespace tapeway {

// The sending side of the tape protocol, without a port, a file or a timer.
//
// The file comes in blocks (AddSource, then EndOfSource); Take hands out the
// wire bytes: DC2 (with DC codes), the leader NULs, a "%" line when the file
// does not begin with one, every line of the file followed by the profile's
// end of block (a line ends with LF, CR LF or CR; blank lines at the start
// and the end of the file are left out), a "%" line when the file does not
// end with one, the trailer NULs and DC4. EIA converts every character.
//
// What arrives from the controller goes to OnReceived: with XON/XOFF
// handshake DC3 holds the sending and DC1 releases it; with start on XON the
// first DC1 starts it whatever the handshake. With handshake none or RTS/CTS
// (the line's own business) DC1 and DC3 do nothing else.
//
// The sender never decides how much goes ahead: Take gives at most what the
// caller asks for, and nothing while waiting, held, starved or done.
class TapeSender
{
public:
    enum class State
    {
        WaitingForXon, // start on XON: the controller's first DC1 has not come
        Sending,       // bytes can be taken
        Held,          // the controller said XOFF
        SourceStarved, // everything so far is taken: more of the file is needed
        Done,          // every byte, trailer included, has been taken
        Refused        // the file holds a character the code cannot carry
    };

    explicit TapeSender(const TapeProfile& profile);

    void AddSource(QByteArrayView bytes);
    void EndOfSource();

    // Bytes from the controller; nowMs (any monotonic clock) dates a change
    // of XON/XOFF, -1 when the time is not known.
    void OnReceived(QByteArrayView bytes, qint64 nowMs = -1);

    // At most maxBytes wire bytes that may go to the line now.
    QByteArray Take(qint64 maxBytes);

    State CurrentState() const;
    bool IsHeld() const { return m_held; }

    // Characters of the file (its bytes, line ends included) whose wire
    // form has been taken, and wire bytes taken in all.
    qint64 FileCharactersSent() const { return m_fileSent; }
    qint64 WireBytesTaken() const { return m_wireTaken; }
    // Bytes of the file given to AddSource so far.
    qint64 SourceBytes() const { return m_sourceTotal; }

    // Milliseconds since the last change of XON/XOFF (or the start on XON),
    // nothing before the first dated change.
    std::optional<qint64> MsSinceFlowChange(qint64 nowMs) const;

    // Where the refused character is (state Refused).
    std::optional<TextPosition> RefusedAt() const { return m_checker.Refused(); }

private:
    // Wire bytes of one stretch of output, and where the file stands once
    // they are all taken; a stretch that is one wire byte per file byte
    // (the lines' characters) counts file characters within itself too.
    struct Run
    {
        qint64 wireEnd;
        qint64 fileEnd;
        bool oneToOne;
    };

    bool Produce();
    void ProcessByte(char c);
    void Emit(const QByteArray& bytes, qint64 fileEnd, bool oneToOne);
    void EndLine();
    void Finish();
    char Wire(char c) const;

    TapeProfile m_profile;
    TapeCode m_code;
    TapeTextChecker m_checker;
    QByteArray m_eob;

    QByteArray m_source;
    qsizetype m_sourcePos = 0;
    qint64 m_sourceTotal = 0;
    qint64 m_fileConsumed = 0;
    bool m_sourceEnded = false;

    bool m_started;
    bool m_held = false;
    std::optional<qint64> m_flowChangeMs;

    bool m_preambleDone = false;
    bool m_finished = false;
    bool m_afterCr = false;
    bool m_seenContent = false;
    bool m_lineHasContent = false;
    bool m_lineIsPercent = false;
    bool m_firstLineIsPercent = false;
    bool m_lastLineIsPercent = false;
    qint64 m_contentLines = 0;
    QByteArray m_lineBlank;  // spaces and tabs (wire form) that began the current line
    QByteArray m_heldBlanks; // blank lines (wire form) waiting for a line with content

    QByteArray m_out; // produced, not yet taken
    qsizetype m_outPos = 0;
    QList<Run> m_runs;
    qint64 m_wireProduced = 0;
    qint64 m_wireTaken = 0;
    qint64 m_fileSent = 0;
};

} // namespace tapeway
