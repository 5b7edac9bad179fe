// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/ServeText.h"

#include "resources/StringTable.h"

namespace tapeway {

namespace {

struct Pair
{
    ServeMessage message;
    const char* zh;
    const char* en;
};

const Pair kTexts[] = {
    {ServeMessage::LineStarted, "%1：%2，端口 %3", "%1: %2 on %3"},
    {ServeMessage::TapeStarted, "%1：%2，端口 %3，纸带协议，配置“%4”（%5 波特，%6）",
     "%1: %2 on %3, tape protocol with the profile \"%4\" (%5 baud, %6)"},
    {ServeMessage::PortFailed, "%1：端口 %2 不可用（%3），每 %4 秒重试",
     "%1: port %2 unusable (%3); retrying every %4 s"},
    {ServeMessage::PortBack, "%1：端口 %2 恢复", "%1: port %2 is back"},
    {ServeMessage::LocalFailed, "%1：%2", "%1: %2"},
    {ServeMessage::Receiving, "%1：正在接收 %2 字节，%3 波特", "%1: receiving %2 bytes at %3 baud"},
    {ServeMessage::TapeReceiving, "%1：正在接收穿孔输出的程序，%2 波特",
     "%1: receiving a punched program at %2 baud"},
    {ServeMessage::Received, "%1：已收到 %2（%3 字节，%4 秒）",
     "%1: received %2 (%3 bytes in %4 s)"},
    {ServeMessage::ReceiveFailed, "%1：接收失败，%2/%3 字节：%4",
     "%1: receive failed at %2 of %3 bytes: %4"},
    {ServeMessage::TapeFailed, "%1：接收失败，已收到 %2 字节：%3",
     "%1: receive failed after %2 bytes: %3"},
    {ServeMessage::Sending, "%1：正在发送 %2（%3 字节）", "%1: sending %2 (%3 bytes)"},
    {ServeMessage::Sent, "%1：已发送 %2（%3 字节，%4 秒），移至 %5",
     "%1: sent %2 (%3 bytes in %4 s), moved to %5"},
    {ServeMessage::SentChanged,
     "%1：已发送 %2（%3 字节，SHA-256 %4，%5 秒）；文件在此期间已改变，仍留在队列中",
     "%1: sent %2 (%3 bytes, SHA-256 %4, in %5 s); the file changed meanwhile and stays queued"},
    {ServeMessage::LinkSkipped, "%1：%2 是符号链接，不发送",
     "%1: %2 is a symbolic link and is not sent"},
    {ServeMessage::KeptRecovered, "%1：程序已完整收到，但无法保存（%2）；保存在 %3",
     "%1: the program arrived whole but could not be saved (%2); it is kept in %3"},
    {ServeMessage::KeptFailed, "%1：接收失败前收到的内容保存在 %2",
     "%1: what arrived before the receive failed is kept in %2"},
    {ServeMessage::SendFailed, "%1：发送 %2 失败（第 %3 次，共 %4 次）：%5",
     "%1: sending %2 failed (%3 of %4): %5"},
    {ServeMessage::MovedToFailed, "%1：%2 移至 %3", "%1: %2 moved to %3"},
    {ServeMessage::CannotSend, "%1：%2 无法发送：%3", "%1: %2 cannot be sent: %3"},
    {ServeMessage::LineStopping, "%1：当前文件结束后停止", "%1: stops after the current file"},
    {ServeMessage::AskQueued, "%1：机床请求 %2：下次读入时发送 %3",
     "%1: the machine asks for %2: %3 go(es) at its next read(s)"},
    {ServeMessage::AskNotFound, "%1：机床请求 %2，程序库 %3 中没有；回复程序 %4",
     "%1: the machine asks for %2, which the library %3 does not hold; it reads the reply %4"},
    {ServeMessage::AskRefused, "%1：机床请求 %2，该名称在程序库之外，拒绝；回复程序 %3",
     "%1: the machine asks for %2, a name outside the library: refused; it reads the reply %3"},
    {ServeMessage::AskNotUnderstood, "%1：无法理解请求“%2”；回复程序 %3",
     "%1: the request \"%2\" is not understood; the machine reads the reply %3"},
    {ServeMessage::AskNoRestart, "%1：机床请求 %2，分组协议不能从程序段开始；回复程序 %3",
     "%1: the machine asks for %2, but the packet protocol cannot start at a block; it reads "
     "the reply %3"},
    {ServeMessage::AskList, "%1：机床请求程序库清单（%2 个程序）；回复程序 %3",
     "%1: the machine asks for the library's list (%2 programs); it reads the reply %3"},
    {ServeMessage::ReplyNotWritten, "%1：无法在 %2 中写入回复程序：%3",
     "%1: cannot write the reply program in %2: %3"},
    {ServeMessage::SentAsked, "%1：已按机床请求发送 %2（%3 字节，%4 秒）",
     "%1: sent %2 as the machine asked (%3 bytes in %4 s)"},
    {ServeMessage::AskedFailed, "%1：按机床请求发送 %2 失败：%3；请在机床上重新请求",
     "%1: sending %2 as the machine asked failed: %3; ask again at the machine"},
    {ServeMessage::LineStopped, "%1：已停止", "%1: stopped"},
    {ServeMessage::ServiceStarted, "服务 %1 条线路（%2），状态文件 %3",
     "serving %1 line(s) from %2; status in %3"},
    {ServeMessage::Reloading, "重新读取 %1", "reloading %1"},
    {ServeMessage::ReloadRejected, "配置有错误，正在运行的线路继续使用旧配置",
     "the configuration has errors; the running lines go on as they were"},
    {ServeMessage::HttpAtRestart, "[HTTP] 已更改：办公室视图的网页服务器在服务下次启动时采用新设置",
     "[HTTP] changed: the office view's web server takes the new settings at the service's next "
     "start"},
    {ServeMessage::ServiceStopping, "正在停止服务", "stopping"},
    {ServeMessage::StateConnecting, "连接中", "connecting"},
    {ServeMessage::StateWaiting, "等待", "waiting"},
    {ServeMessage::StateReceiving, "接收", "receiving"},
    {ServeMessage::StateSending, "发送", "sending"},
    {ServeMessage::StateError, "错误", "error"},
    {ServeMessage::StateStopped, "已停止", "stopped"},
    {ServeMessage::BytesSoFar, "%1 字节", "%1 bytes"},
    {ServeMessage::ColumnLine, "线路", "LINE"},
    {ServeMessage::ColumnPort, "端口", "PORT"},
    {ServeMessage::ColumnMode, "方式", "MODE"},
    {ServeMessage::ColumnProtocol, "协议", "PROTOCOL"},
    {ServeMessage::ColumnState, "状态", "STATE"},
    {ServeMessage::ColumnQueue, "队列", "QUEUE"},
    {ServeMessage::ColumnLast, "上次传输", "LAST TRANSFER"},
    {ServeMessage::NotRunning, "没有状态文件 %1：服务未运行",
     "no status file %1: the service is not running"},
    {ServeMessage::FolderRefused, "%1：不能用作状态文件的文件夹：%2",
     "%1: refused as the folder of the status file: %2"},
    {ServeMessage::FolderIsLink, "它是一个符号链接", "it is a symbolic link"},
    {ServeMessage::FolderNotDir, "它不是文件夹", "it is not a folder"},
    {ServeMessage::FolderOwner, "它属于用户 %1，而不是本用户 %2",
     "it belongs to user %1, not to this user %2"},
    {ServeMessage::FolderMode, "它的权限是 %1，而不是 0700", "its mode is %1, not 0700"},
    {ServeMessage::ServiceGone, "服务未运行：进程 %1 已结束（状态文件 %2）",
     "the service is not running: process %1 has ended (status file %2)"},
    {ServeMessage::ServiceStopped, "服务未运行：已于 %1 停止（状态文件 %2）",
     "the service is not running: it stopped at %1 (status file %2)"},
};

} // namespace

QString ServeText(int language, ServeMessage message)
{
    for (const Pair& pair : kTexts) {
        if (pair.message == message)
            return QString::fromUtf8(language == kChinese ? pair.zh : pair.en);
    }
    return {};
}

} // namespace tapeway
