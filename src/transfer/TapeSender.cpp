// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeSender.h"

#include "transfer/Frame.h"

namespace tapeway {

namespace {

// Output held before it is taken is cut back once this much has been taken.
constexpr qsizetype kCompactAfter = 64 * 1024;

} // namespace

TapeSender::TapeSender(const TapeProfile& profile)
    : m_profile(profile), m_code(profile.code), m_checker(m_code), m_eob(profile.WireEndOfBlock()),
      m_started(profile.startOn == TapeProfile::StartOn::Now)
{
}

void TapeSender::AddSource(QByteArrayView bytes)
{
    if (m_sourceEnded || !m_checker.Ok())
        return;
    if (!m_checker.Add(bytes))
        return;
    if (m_sourcePos >= m_source.size()) {
        m_source.clear();
        m_sourcePos = 0;
    } else if (m_sourcePos >= kCompactAfter) {
        m_source.remove(0, m_sourcePos);
        m_sourcePos = 0;
    }
    m_source.append(bytes);
    m_sourceTotal += bytes.size();
}

void TapeSender::EndOfSource()
{
    m_sourceEnded = true;
}

void TapeSender::OnReceived(QByteArrayView bytes, qint64 nowMs)
{
    const bool flowControl = m_profile.handshake == TapeProfile::Handshake::XonXoff;
    for (const char c : bytes) {
        bool changed = false;
        if (c == kDC1) {
            if (!m_started) {
                m_started = true;
                changed = true;
            } else if (flowControl && m_held) {
                m_held = false;
                changed = true;
            }
        } else if (c == kDC3 && flowControl && m_started && !m_held) {
            m_held = true;
            changed = true;
        }
        if (changed && nowMs >= 0)
            m_flowChangeMs = nowMs;
    }
}

std::optional<qint64> TapeSender::MsSinceFlowChange(qint64 nowMs) const
{
    if (!m_flowChangeMs)
        return std::nullopt;
    return nowMs - *m_flowChangeMs;
}

TapeSender::State TapeSender::CurrentState() const
{
    if (!m_checker.Ok())
        return State::Refused;
    if (!m_started)
        return State::WaitingForXon;
    const bool nothingPending = m_outPos >= m_out.size();
    if (m_finished && nothingPending)
        return State::Done;
    if (m_held)
        return State::Held;
    if (nothingPending && m_preambleDone && !m_finished && !m_sourceEnded &&
        m_sourcePos >= m_source.size())
        return State::SourceStarved;
    return State::Sending;
}

QByteArray TapeSender::Take(qint64 maxBytes)
{
    const State state = CurrentState();
    if (maxBytes <= 0 || state == State::WaitingForXon || state == State::Held ||
        state == State::Done || state == State::Refused)
        return {};
    while (m_out.size() - m_outPos < maxBytes && Produce()) {
    }
    const qsizetype n = qsizetype(qMin<qint64>(m_out.size() - m_outPos, maxBytes));
    const QByteArray out = m_out.mid(m_outPos, n);
    m_outPos += n;
    m_wireTaken += n;
    if (m_outPos >= m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    } else if (m_outPos >= kCompactAfter) {
        m_out.remove(0, m_outPos);
        m_outPos = 0;
    }
    while (!m_runs.isEmpty() && m_runs.front().wireEnd <= m_wireTaken) {
        m_fileSent = m_runs.front().fileEnd;
        m_runs.removeFirst();
    }
    if (!m_runs.isEmpty() && m_runs.front().oneToOne)
        m_fileSent =
            qMax(m_fileSent, m_runs.front().fileEnd - (m_runs.front().wireEnd - m_wireTaken));
    return out;
}

bool TapeSender::Produce()
{
    if (!m_preambleDone) {
        QByteArray preamble;
        if (m_profile.dcCodes)
            preamble += kDC2;
        preamble += QByteArray(m_profile.leader, '\0');
        Emit(preamble, 0, false);
        m_preambleDone = true;
        return true;
    }
    if (m_finished)
        return false;
    if (m_sourcePos < m_source.size()) {
        ProcessByte(m_source[m_sourcePos++]);
        return true;
    }
    if (m_sourceEnded) {
        Finish();
        return true;
    }
    return false;
}

char TapeSender::Wire(char c) const
{
    // Every byte has passed the checker, so the code carries it.
    return char(m_code.Encode(c).value_or(0));
}

void TapeSender::Emit(const QByteArray& bytes, qint64 fileEnd, bool oneToOne)
{
    if (bytes.isEmpty())
        return;
    m_out += bytes;
    m_wireProduced += bytes.size();
    if (oneToOne && !m_runs.isEmpty() && m_runs.back().oneToOne &&
        m_runs.back().wireEnd - m_runs.back().fileEnd == m_wireProduced - fileEnd) {
        m_runs.back().wireEnd = m_wireProduced;
        m_runs.back().fileEnd = fileEnd;
        return;
    }
    m_runs.append(Run{m_wireProduced, fileEnd, oneToOne});
}

void TapeSender::EndLine()
{
    Emit(m_eob, m_fileConsumed, false);
    m_lastLineIsPercent = m_lineIsPercent;
    ++m_contentLines;
}

void TapeSender::ProcessByte(char c)
{
    ++m_fileConsumed;
    if (c == '\n' && m_afterCr) {
        m_afterCr = false;
        return;
    }
    m_afterCr = c == '\r';
    if (c == '\r' || c == '\n') {
        if (m_lineHasContent)
            EndLine();
        else if (m_seenContent)
            m_heldBlanks += m_lineBlank + m_eob;
        m_lineBlank.clear();
        m_lineHasContent = false;
        m_lineIsPercent = false;
        return;
    }
    const char wire = Wire(c);
    if (!m_lineHasContent && (c == ' ' || c == '\t')) {
        m_lineBlank += wire;
        return;
    }
    if (!m_lineHasContent) {
        const qint64 before = m_fileConsumed - 1;
        if (!m_seenContent) {
            m_seenContent = true;
            m_firstLineIsPercent = c == '%';
            if (c != '%')
                Emit(QByteArray(1, Wire('%')) + m_eob, before, false);
        }
        Emit(m_heldBlanks + m_lineBlank, before, false);
        m_heldBlanks.clear();
        m_lineBlank.clear();
        m_lineHasContent = true;
        m_lineIsPercent = c == '%';
    }
    Emit(QByteArray(1, wire), m_fileConsumed, true);
}

void TapeSender::Finish()
{
    if (m_lineHasContent)
        EndLine();
    m_lineHasContent = false;
    if (!m_seenContent)
        Emit(QByteArray(1, Wire('%')) + m_eob, m_fileConsumed, false);
    const bool closed = m_lastLineIsPercent && (m_contentLines > 1 || !m_firstLineIsPercent);
    QByteArray tail;
    if (!closed)
        tail += QByteArray(1, Wire('%')) + m_eob;
    tail += QByteArray(m_profile.trailer, '\0');
    if (m_profile.dcCodes)
        tail += kDC4;
    Emit(tail, m_fileConsumed, false);
    // The whole file counts as sent once the last byte is taken, even when
    // the file's end (a swallowed LF, blank lines) put nothing on the wire.
    m_runs.append(Run{m_wireProduced, m_fileConsumed, false});
    m_heldBlanks.clear();
    m_finished = true;
}

} // namespace tapeway
