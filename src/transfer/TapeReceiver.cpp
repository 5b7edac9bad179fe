// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeReceiver.h"

#include "transfer/Frame.h"

#include <utility>

namespace tapeway {

namespace {

constexpr quint8 kNul = 0x00;
constexpr quint8 kDel = 0x7f;
constexpr quint8 kEiaBackspace = 0x2a;
constexpr quint8 kMark = 0xff;

bool IsDeviceControl(quint8 b)
{
    return b >= quint8(kDC1) && b <= quint8(kDC4);
}

} // namespace

TapeReceiver::TapeReceiver(const TapeProfile& profile)
    : m_profile(profile), m_code(profile.code),
      m_marks(profile.parity != TapeProfile::Parity::None), m_lineEnd(profile.SavedLineEndBytes())
{
}

QByteArray TapeReceiver::TakeText()
{
    return std::exchange(m_text, QByteArray());
}

void TapeReceiver::Poll(qint64 nowMs)
{
    if (m_state != State::Leader && m_state != State::InProgram)
        return;
    if (nowMs - m_lastByteMs < qint64(m_profile.idleSeconds) * 1000)
        return;
    if (m_profile.endRule == TapeProfile::EndRule::Idle && m_state == State::InProgram) {
        if (m_programLineOpen) {
            m_text += m_lineEnd;
            m_textBytes += m_lineEnd.size();
            ++m_lines;
        }
        m_state = State::Complete;
        return;
    }
    TextPosition at = m_position;
    at.offset = m_bytes;
    Fail(Failure::Silence, at);
}

void TapeReceiver::Feed(QByteArrayView bytes, qint64 nowMs)
{
    if (bytes.isEmpty()) {
        Poll(nowMs);
        return;
    }
    // A gap before these bytes was silence all the same.
    Poll(nowMs);
    for (const char ch : bytes) {
        if (m_state == State::Complete || m_state == State::Failed)
            return;
        const auto b = quint8(ch);
        ++m_bytes;
        if (!m_marks) {
            Byte(b);
        } else if (m_markStep == 0) {
            if (b == kMark)
                m_markStep = 1;
            else
                Byte(b);
        } else if (m_markStep == 1) {
            m_markStep = b == 0x00 ? 2 : 0;
            if (b != 0x00) {
                Byte(kMark);
                if (b != kMark)
                    Byte(b);
            }
        } else {
            m_markStep = 0;
            TextPosition at = m_position;
            at.offset = m_bytes - 1;
            if (b != 0x00) {
                Fail(Failure::Parity, at);
            } else if (m_state == State::InProgram) {
                Fail(Failure::Break, at);
            }
        }
        m_lastByteMs = nowMs;
    }
    m_lastByteMs = nowMs;
}

void TapeReceiver::Fail(Failure kind, TextPosition at)
{
    m_state = State::Failed;
    m_failure = kind;
    m_failureAt = at;
}

void TapeReceiver::Byte(quint8 b)
{
    if (m_state == State::WaitingForData)
        m_state = State::Leader;
    TextPosition at = m_position;
    at.offset = m_bytes - 1;
    if (m_code.Kind() == TapeCodeKind::Iso) {
        if (b == kNul || b == kDel || IsDeviceControl(b))
            return;
        if (b == '\n' || b == '\r') {
            LineEnd(char(b));
            return;
        }
        if (!m_code.Decode(b)) {
            Fail(Failure::UnknownCode, at);
            return;
        }
        Character(char(b));
        return;
    }
    // EIA: 0x13 is the figure 3, not DC3; the other DC codes have an even
    // number of holes and are no characters.
    if (b == kNul || b == kDel || b == kEiaBackspace || (IsDeviceControl(b) && b != 0x13))
        return;
    if (!TapeCode::HasOddHoles(b)) {
        Fail(Failure::EvenHoles, at);
        return;
    }
    const std::optional<char> c = m_code.Decode(b);
    if (!c) {
        Fail(Failure::UnknownCode, at);
        return;
    }
    if (*c == '\n')
        LineEnd('\n');
    else
        Character(*c);
}

void TapeReceiver::LineEnd(char c)
{
    if (c == '\n' && m_afterCr) { // CR LF
        m_afterCr = false;
        m_afterLf = true;
        return;
    }
    if (c == '\r' && m_afterLf) // LF CR CR
        return;
    m_afterCr = c == '\r';
    m_afterLf = c == '\n';
    if (m_state != State::InProgram) {
        // Line ends of the leader, or before an idle-ended program's first character.
        if (m_profile.endRule == TapeProfile::EndRule::Percent) {
            ++m_position.line;
            m_position.column = 1;
        }
        return;
    }
    if (m_profile.tvCheck && (m_blockCharacters + 1) % 2 != 0) {
        TextPosition at = m_position;
        at.offset = m_bytes - 1;
        Fail(Failure::TvCheck, at);
        return;
    }
    m_text += m_lineEnd;
    m_textBytes += m_lineEnd.size();
    ++m_lines;
    m_blockCharacters = 0;
    m_programLineOpen = false;
    ++m_position.line;
    m_position.column = 1;
}

void TapeReceiver::Character(char c)
{
    m_afterCr = false;
    m_afterLf = false;
    const bool percentRule = m_profile.endRule == TapeProfile::EndRule::Percent;
    if (m_state != State::InProgram) {
        if (percentRule && c != '%') {
            ++m_position.column;
            return;
        }
        m_state = State::InProgram;
        m_position = TextPosition{};
        m_blockCharacters = 0;
    } else if (percentRule && c == '%') {
        m_text += '%';
        m_text += m_lineEnd;
        m_textBytes += 1 + m_lineEnd.size();
        ++m_lines;
        m_state = State::Complete;
        return;
    }
    m_text += c;
    ++m_textBytes;
    ++m_blockCharacters;
    m_programLineOpen = true;
    ++m_position.column;
}

} // namespace tapeway
