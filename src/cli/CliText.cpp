// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliText.h"

#include "resources/StringTable.h"

namespace tapeway {

QString CliText(int language, CliMessage message)
{
    const bool zh = language == kChinese;
    switch (message) {
    case CliMessage::UseOverwrite:
        return zh ? QStringLiteral("目标文件已存在；要覆盖请加 --overwrite。")
                  : QStringLiteral("The target exists; give --overwrite to replace it.");
    case CliMessage::WaitingForHeader:
        return zh ? QStringLiteral("在 %2 上等待控制器发送 %1 …")
                  : QStringLiteral("Waiting on %2 for the controller to send %1 ...");
    case CliMessage::Sending:
        return zh ? QStringLiteral("%1（%2 字节）：在 %3 上等待控制器请求 …")
                  : QStringLiteral("%1 (%2 bytes): waiting on %3 for the controller's request ...");
    case CliMessage::AnnouncedSpeed:
        return zh ? QStringLiteral("控制器约定速度 %1 波特")
                  : QStringLiteral("The controller announced %1 baud");
    case CliMessage::HeaderTimeout:
        return zh ? QStringLiteral("%1 秒内没有收到文件头。")
                  : QStringLiteral("No header arrived within %1 s.");
    case CliMessage::Cancelled:
        return zh ? QStringLiteral("已取消。") : QStringLiteral("Cancelled.");
    case CliMessage::CancelledFile:
        return zh ? QStringLiteral("已取消") : QStringLiteral("Cancelled");
    case CliMessage::NotSent:
        return zh ? QStringLiteral("未发送") : QStringLiteral("Not sent");
    case CliMessage::SeriesEnded:
        return zh ? QStringLiteral("没有更多文件，连续接收结束。")
                  : QStringLiteral("No further file came; the series ends.");
    case CliMessage::TapeReading:
        return zh ? QStringLiteral("在 %1（%2）上读入 %3 个程序 …")
                  : QStringLiteral("Reading %3 program(s) on %1 (%2) ...");
    case CliMessage::TapePunching:
        return zh ? QStringLiteral("在 %1（%2）上穿孔输出 %3 个文件 …")
                  : QStringLiteral("Punching %3 file(s) on %1 (%2) ...");
    case CliMessage::TapeProgram:
        return zh ? QStringLiteral("%1：%2 行，%3 字节") : QStringLiteral("%1: %2 lines, %3 bytes");
    case CliMessage::ReaderFigures:
        return zh ? QStringLiteral("溢出 %1 次，XOFF 之后最多收到 %2 个字符")
                  : QStringLiteral("overruns %1, most characters after XOFF %2");
    }
    return {};
}

} // namespace tapeway
