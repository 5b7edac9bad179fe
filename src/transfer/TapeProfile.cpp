// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeProfile.h"

#include <array>

namespace tapeway {

namespace {

constexpr std::array<int, 12> kStandardBauds{110,  150,  300,   600,   1200,  2400,
                                             4800, 9600, 19200, 38400, 57600, 115200};

TapeProfileProblem Problem(const TapeProfile& profile, const char* key, const QString& en,
                           const QString& zh)
{
    return TapeProfileProblem{profile.name, QString::fromLatin1(key), en, zh, 0};
}

} // namespace

QString TapeProfileProblem::Message(int language) const
{
    const QString reason = language == 0 ? reasonZh : reasonEn;
    if (key.isEmpty())
        return reason;
    return key + QStringLiteral(": ") + reason;
}

bool TapeProfile::IsStandardBaud(int value)
{
    for (const int b : kStandardBauds)
        if (b == value)
            return true;
    return false;
}

std::optional<TapeProfileProblem> TapeProfile::Validate() const
{
    if (name.trimmed().isEmpty() || name.contains(QLatin1Char(']')) ||
        name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r')))
        return Problem(*this, "Name",
                       QStringLiteral("a profile needs a name without ']' or line breaks"),
                       QStringLiteral("配置名不能为空，也不能含 ']' 或换行"));
    if (!IsStandardBaud(baud))
        return Problem(
            *this, "Baud",
            QStringLiteral("%1 is not one of the speeds 110, 150, 300, 600, 1200, 2400, 4800, "
                           "9600, 19200, 38400, 57600, 115200")
                .arg(baud),
            QStringLiteral("%1 不是可用的波特率（110、150、300、600、1200、2400、4800、9600、"
                           "19200、38400、57600、115200）")
                .arg(baud));
    if (dataBits != 7 && dataBits != 8)
        return Problem(*this, "Frame",
                       QStringLiteral("data bits must be 7 or 8, not %1").arg(dataBits),
                       QStringLiteral("数据位只能是 7 或 8，不能是 %1").arg(dataBits));
    if (stopBits != 1 && stopBits != 2)
        return Problem(*this, "Frame",
                       QStringLiteral("stop bits must be 1 or 2, not %1").arg(stopBits),
                       QStringLiteral("停止位只能是 1 或 2，不能是 %1").arg(stopBits));
    if (code == TapeCodeKind::Eia && (dataBits != 8 || parity != Parity::None))
        return Problem(
            *this, "Frame",
            QStringLiteral("EIA carries its own parity hole in 8 data bits: the frame must be "
                           "8N1 or 8N2"),
            QStringLiteral("EIA 码在 8 位数据中自带校验孔：数据格式必须是 8N1 或 8N2"));
    if (code == TapeCodeKind::Eia && endOfBlock != EndOfBlock::Cr)
        return Problem(*this, "Eob",
                       QStringLiteral("EIA has one end-of-block code: Eob must be cr"),
                       QStringLiteral("EIA 码只有一个程序段结束码：Eob 必须是 cr"));
    if (leader < 0 || leader > kMaxNuls)
        return Problem(*this, "Leader",
                       QStringLiteral("the leader must be 0 to %1 NULs").arg(kMaxNuls),
                       QStringLiteral("引导 NUL 个数必须在 0 到 %1 之间").arg(kMaxNuls));
    if (trailer < 0 || trailer > kMaxNuls)
        return Problem(*this, "Trailer",
                       QStringLiteral("the trailer must be 0 to %1 NULs").arg(kMaxNuls),
                       QStringLiteral("结尾 NUL 个数必须在 0 到 %1 之间").arg(kMaxNuls));
    if (idleSeconds < 1 || idleSeconds > kMaxIdleSeconds)
        return Problem(*this, "Idle",
                       QStringLiteral("the idle time must be 1 to %1 seconds").arg(kMaxIdleSeconds),
                       QStringLiteral("空闲时间必须在 1 到 %1 秒之间").arg(kMaxIdleSeconds));
    return std::nullopt;
}

QString TapeProfile::FrameText() const
{
    const char p = parity == Parity::None ? 'N' : parity == Parity::Even ? 'E' : 'O';
    return QStringLiteral("%1%2%3").arg(dataBits).arg(QLatin1Char(p)).arg(stopBits);
}

bool TapeProfile::SetFrame(const QString& text)
{
    const QString t = text.trimmed().toUpper();
    if (t.size() != 3 || (t[0] != QLatin1Char('7') && t[0] != QLatin1Char('8')) ||
        (t[2] != QLatin1Char('1') && t[2] != QLatin1Char('2')))
        return false;
    Parity p;
    if (t[1] == QLatin1Char('N'))
        p = Parity::None;
    else if (t[1] == QLatin1Char('E'))
        p = Parity::Even;
    else if (t[1] == QLatin1Char('O'))
        p = Parity::Odd;
    else
        return false;
    dataBits = t[0].digitValue();
    parity = p;
    stopBits = t[2].digitValue();
    return true;
}

int TapeProfile::BitsPerCharacter() const
{
    return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits;
}

QByteArray TapeProfile::WireEndOfBlock() const
{
    if (code == TapeCodeKind::Eia)
        return QByteArray(1, char(TapeCode::kEiaEndOfBlock));
    switch (endOfBlock) {
    case EndOfBlock::Lf:
        return QByteArrayLiteral("\n");
    case EndOfBlock::CrLf:
        return QByteArrayLiteral("\r\n");
    case EndOfBlock::Cr:
        break;
    }
    return QByteArrayLiteral("\r");
}

QByteArray TapeProfile::SavedLineEndBytes() const
{
    return savedLineEnd == SavedLineEnd::CrLf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

} // namespace tapeway
