// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeLine.h"

#include "serial/SerialPort.h"

namespace tapeway {

LinkSettings TapeLinkSettings(const TapeProfile& profile, const LinkSettings& port)
{
    LinkSettings link = port;
    link.dataBits = QString::number(profile.dataBits);
    switch (profile.parity) {
    case TapeProfile::Parity::None:
        link.parity = QStringLiteral("NONE");
        break;
    case TapeProfile::Parity::Even:
        link.parity = QStringLiteral("EVENT");
        break;
    case TapeProfile::Parity::Odd:
        link.parity = QStringLiteral("ODD");
        break;
    }
    link.stopBits = QString::number(profile.stopBits);
    link.handshaking = profile.handshake == TapeProfile::Handshake::RtsCts
                           ? SerialPort::kHandshakeRtsCts
                           : SerialPort::kHandshakeNone;
    return link;
}

QString RefusedCharacterText(const QByteArray& text, const TapeTextChecker& checker)
{
    const qint64 offset = checker.Refused() ? checker.Refused()->offset : 0;
    const QList<uint> characters = QString::fromUtf8(text.mid(offset, 4)).toUcs4();
    const char32_t code = characters.isEmpty() ? 0xFFFD : char32_t(characters.front());
    if (code == 0xFFFD)
        return QStringLiteral("0x%1").arg(uint(checker.RefusedByte()), 2, 16, QLatin1Char('0'));
    return QStringLiteral("\"%1\" (U+%2)")
        .arg(QString::fromUcs4(&code, 1),
             QStringLiteral("%1").arg(uint(code), 4, 16, QLatin1Char('0')).toUpper());
}

QString CodeName(TapeCodeKind code)
{
    return code == TapeCodeKind::Eia ? QStringLiteral("EIA") : QStringLiteral("ISO");
}

} // namespace tapeway
