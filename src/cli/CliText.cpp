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
    case CliMessage::NothingArrived:
        return zh ? QStringLiteral("%1 秒内没有收到任何数据。")
                  : QStringLiteral("Nothing arrived within %1 s.");
    case CliMessage::Cancelled:
        return zh ? QStringLiteral("已取消。") : QStringLiteral("Cancelled.");
    case CliMessage::CancelledFile:
        return zh ? QStringLiteral("已取消") : QStringLiteral("Cancelled");
    case CliMessage::NotSent:
        return zh ? QStringLiteral("未发送") : QStringLiteral("Not sent");
    case CliMessage::SeriesEnded:
        return zh ? QStringLiteral("没有更多文件，连续接收结束。")
                  : QStringLiteral("No further file came; the series ends.");
    case CliMessage::SendingTape:
        return zh ? QStringLiteral("%1（%2 字节）：在 %3 上按纸带配置“%4”发送 …")
                  : QStringLiteral("%1 (%2 bytes): sending on %3 with the tape profile \"%4\" ...");
    case CliMessage::SendingTapeXon:
        return zh ? QStringLiteral("%1（%2 字节）：在 %3 上等待控制器的 XON（纸带配置“%4”）…")
                  : QStringLiteral("%1 (%2 bytes): waiting on %3 for the controller's XON "
                                   "(tape profile \"%4\") ...");
    case CliMessage::UnknownProtocol:
        return zh ? QStringLiteral("--protocol 只能是 packet 或 tape，不能是“%1”")
                  : QStringLiteral("--protocol takes packet or tape, not \"%1\"");
    case CliMessage::TapeOnlyOption:
        return zh ? QStringLiteral("%1 只用于纸带协议（--protocol tape）")
                  : QStringLiteral("%1 belongs to the tape protocol (--protocol tape)");
    case CliMessage::ReceiveBaud:
        return zh ? QStringLiteral("分组协议的接收使用控制器约定的速度：--baud 只用于纸带协议"
                                   "（--protocol tape）")
                  : QStringLiteral("a packet receive takes the speed the controller announces: "
                                   "--baud belongs to the tape protocol (--protocol tape)");
    case CliMessage::UnknownProfile:
        return zh ? QStringLiteral("没有名为“%1”的纸带配置；已有：%2")
                  : QStringLiteral("no tape profile is named \"%1\"; known: %2");
    case CliMessage::ProfileUnusable:
        return zh ? QStringLiteral("纸带配置“%1”无法使用：%2")
                  : QStringLiteral("the tape profile \"%1\" cannot work: %2");
    case CliMessage::ProfilesFileUnread:
        return zh ? QStringLiteral("无法读取纸带配置文件 %1（%2）")
                  : QStringLiteral("cannot read the tape profile file %1 (%2)");
    case CliMessage::ProfilesFileProblem:
        return zh ? QStringLiteral("%1 第 %2 行：%3") : QStringLiteral("%1, line %2: %3");
    case CliMessage::OwnFileHeader:
        return zh ? QStringLiteral("; 自己的纸带配置：%1")
                  : QStringLiteral("; own tape profiles: %1");
    case CliMessage::OwnFileMissing:
        return zh ? QStringLiteral("; 自己的纸带配置：%1（尚无此文件）")
                  : QStringLiteral("; own tape profiles: %1 (no such file yet)");
    case CliMessage::PresetMark:
        return zh ? QStringLiteral("; 预设") : QStringLiteral("; preset");
    case CliMessage::OwnMark:
        return zh ? QStringLiteral("; 自己的配置，来自 %1")
                  : QStringLiteral("; own profile, from %1");
    case CliMessage::OwnReplacesMark:
        return zh ? QStringLiteral("; 自己的配置（取代同名预设），来自 %1")
                  : QStringLiteral("; own profile in place of the preset, from %1");
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
    case CliMessage::TwoRestarts:
        return zh ? QStringLiteral("--start-at 与 --start-at-line 只能选一个")
                  : QStringLiteral("--start-at and --start-at-line exclude each other");
    case CliMessage::PreambleWithoutRestart:
        return zh ? QStringLiteral(
                        "--preamble 只用于从中间重新开始（--start-at 或 --start-at-line）")
                  : QStringLiteral("--preamble belongs to a restart (--start-at or "
                                   "--start-at-line)");
    case CliMessage::RestartOneFile:
        return zh ? QStringLiteral("从中间重新开始只针对一个程序：只能给出一个 FILE")
                  : QStringLiteral("a restart is within one program: give exactly one FILE");
    case CliMessage::BadRestartLine:
        return zh ? QStringLiteral("--start-at-line 需要从 1 起的行号，不能是“%1”")
                  : QStringLiteral("--start-at-line takes a line number from 1, not \"%1\"");
    case CliMessage::ReaderEmpty:
        return zh ? QStringLiteral("，首次装满后缓冲区空了 %2 次，共 %1 毫秒")
                  : QStringLiteral(", buffer empty %1 ms in %2 times after its first fill");
    case CliMessage::ReaderNeverFilled:
        return zh ? QStringLiteral("，缓冲区从未装满") : QStringLiteral(", buffer never filled");
    }
    return {};
}

} // namespace tapeway
