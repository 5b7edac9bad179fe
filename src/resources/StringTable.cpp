// SPDX-License-Identifier: GPL-3.0-or-later
#include "resources/StringTable.h"

#include <QHash>

namespace tapeway {

namespace {

struct Entry
{
    int id;
    const char* text; // UTF-8
};

// Each pair is used as LocalText(Chinese id, English id).
constexpr Entry kTable[] = {
    {101, "Information of TAPEWAY(&A)..."},
    {102, "本地文件路径："},
    {103, "File path:"},
    {104, "波特率"},
    {105, "Baud rate"},
    {106, "通信设置"},
    {107, "Set communication"},
    {108, "数据位"},
    {109, "Data bit"},
    {110, "校  验"},
    {111, "Check"},
    {112, "端口号"},
    {113, "Port number"},
    {114, "停止位"},
    {115, "Stop bit"},
    {116, "通信类型"},
    {117, "Type"},
    {118, "发     送"},
    {119, "Send"},
    {120, "接     收"},
    {121, "Receive"},
    {122, "开始"},
    {123, "Start"},
    {124, "取消"},
    {125, "Cancel"},
    {126, "关于 TAPEWAY"},
    {127, "Information of TAPEWAY"},
    {130, "确定"},
    {131, "OK"},
    {132, "关闭"},
    {133, "Exit"},
    {134, "接收数据成功!"},
    {135, "All data has been received!"},
    {136, "接收数据失败!"},
    {137, "Received data error!"},
    {138, "文件已存在，是否覆盖该文件?"},
    {139, "The file has already existed. Whether replace the file?"},
    {140, "无法完整读出文件内容!"},
    {141, "Can't read whole data from the file!"},
    {142, "文件没有内容!"},
    {143, "File contains no data!"},
    {144, "无法打开文件!"},
    {145, "Cannot open file."},
    {146, "文件不存在，请输入正确文件名!"},
    {147, "The file is not exists,please input another!"},
    {148, "请输入保存接受信息的文件名!"},
    {149, "Please input the file name for save the data from cnc!"},
    {150, "请输入要传送的文件名!"},
    {151, "Please input the file name!"},
    {152, "发送数据成功!"},
    {153, "The data has been sended!"},
    {154, "发送数据失败!"},
    {155, "Error sending the package!"},
    {156, "通信中断!"},
    {157, "communicate break down!"},
    {158, "Receiving progress: %d%%"},
    {159, "接收进度：%d%%"},
    {160, "发送进度：%d%%"},
    {161, "Sending progress: %d%%"},
    {162, "Invalid port number!"},
    {163, "无法打开端口！"},
    {164, "Can't write data to the file!"},
    {165, "无法保存信息！"},
    {166, "单文件"},
    {167, "Single file"},
    {168, "Multi file"},
    {169, "多文件"},
    {170, "完成"},
    {171, "Complete"},
    {172, "继续接收"},
    {173, "Continue"},
    {174, "Failed"},
    {175, "失败"},
    {176, "Default"},
    {177, "默认"},
    // Reasons and hints shown on a message's second line.
    {180, "波特率必须是正整数。"},
    {181, "The baud rate must be a positive whole number."},
    {182, "端口无法设置为此波特率。"},
    {183, "The port cannot be set to this baud rate."},
    {184,
     "提示：Linux 上使用串口须属于 dialout 组：sudo usermod -aG dialout $USER，然后重新登录。"},
    {185, "Hint: on Linux, serial ports need membership of the dialout group: "
          "sudo usermod -aG dialout $USER, then log in again."},
    {186, "端口正被其他程序使用：请关闭该程序后再试。"},
    {187, "The port is in use by another program: close that program and try again."},
    {188, "数据已保存在：%1"},
    {189, "The data was kept in: %1"},
    {190, "数据也无法保存：%1"},
    {191, "The data could not be kept either: %1"},
    {192, "控制器约定的速度：%1 波特"},
    {193, "The controller announced %1 baud."},
    {194, "不是普通文件：%1"},
    {195, "Not a regular file: %1"},
    {196, "磁盘空间不足：需要 %1 字节，只有 %2 字节可用（%3）。"},
    {197, "Not enough room: %1 bytes needed, %2 available (%3)."},
    {198, "文件夹无法写入：%1"},
    {199, "The folder cannot be written: %1"},
    // A network port whose speed is fixed by the device server (tcp://).
    {200, "控制器约定的速度与该网络端口的固定速度（端口名中的 baud）不同，已拒绝接收！"},
    {201, "The controller announced a speed other than this network port's fixed speed "
          "(the baud in the port name): transfer refused!"},
    // The transfer journal and its History window.
    {210, "历史记录"},
    {211, "History"},
    {212, "传输记录无法写入：%1。\n本条记录已暂存在本机的 %2，之后可用 tapeway-cli journal --sync "
          "补写。"},
    {213, "The transfer journal could not be written: %1.\nThe record is kept in the local "
          "journal %2; 'tapeway-cli journal --sync' copies it later."},
    {214, "传输记录无法写入，本条记录未能保存：%1"},
    {215, "The transfer journal could not be written and the record was not kept: %1"},
    {216, "正在读取传输记录…"},
    {217, "Reading the journal..."},
    {218, "无法读取传输记录：%1"},
    {219, "The journal cannot be read: %1"},
    {220, "无法写入 %1：%2"},
    {221, "Cannot write %1: %2"},
    {222, "共 %1 条记录，显示 %2 条"},
    {223, "%1 records, %2 shown"},
    // More reasons of a message's second line: the checks before a receive
    // (with 194/195 and 198/199), a port that is no serial port.
    {224, "文件夹不存在：%1"},
    {225, "No such folder: %1"},
    {226, "文件无法写入：%1"},
    {227, "The file cannot be written: %1"},
    {228, "%1 不是串口：请选择串口设备（如 /dev/ttyUSB0）。"},
    {229, "%1 is not a serial port: choose a serial device (such as /dev/ttyUSB0)."},
    // The tape protocol: why a file was refused or a program not complete
    // (line and column of the program), and a profile that cannot work.
    {230, "第 %1 行第 %2 列的字符 %3 无法用 %4 代码发送：文件未发送。"},
    {231, "The character %3 at line %1, column %2 cannot be carried by the %4 code: the file "
          "was not sent."},
    {232, "第 %1 行第 %2 列的字符有奇偶校验错误。"},
    {233, "A character arrived with a parity error at line %1, column %2."},
    {234, "线路在第 %1 行第 %2 列处中断（break）。"},
    {235, "The line was broken off (a break) at line %1, column %2."},
    {236, "第 %1 行第 %2 列的字节不是 %3 代码的字符。"},
    {237, "The byte at line %1, column %2 is no character of the %3 code."},
    {238, "第 %1 行第 %2 列的字节孔数为偶数（EIA 要求奇数）。"},
    {239, "The byte at line %1, column %2 has an even number of holes (EIA needs an odd number)."},
    {240, "截止到第 %1 行第 %2 列的程序段字符数为奇数（TV 校验）。"},
    {241, "The block ending at line %1, column %2 has an odd number of characters (TV check)."},
    {242, "程序结束前 %3 秒无数据（第 %1 行第 %2 列）：未收到结尾的 %。"},
    {243, "Nothing arrived for %3 s before the program ended (line %1, column %2): no closing %."},
    {244, "纸带协议设置无法使用：%1"},
    {245, "The tape profile cannot be used: %1"},
    {246, "已收到 %1 行，%2 字节"},
    {247, "%1 lines, %2 bytes received"},
    // The profile window: a profile that could not be saved, and a name
    // another profile has.
    {260, "纸带配置无法保存：%1"},
    {261, "The tape profile cannot be saved: %1"},
    {262, "已有名为“%1”的纸带配置。是否替换？"},
    {263, "There is a tape profile named %1 already. Replace it?"},
    // Own profiles that are not offered: the message, then one line each.
    {264, "以下自己的纸带配置无法使用，未列入协议菜单："},
    {265, "These of your own tape profiles cannot be used and are not in the Protocol menu:"},
    {266, "第 %1 行：%2"},
    {267, "Line %1: %2"},
    // A drip feed: where it stands, how it began, and a cancel.
    {268, "程序段 N%1，第 %2 行，共 %3 行"},
    {269, "N%1, line %2 of %3"},
    {270, "第 %1 行，共 %2 行"},
    {271, "line %1 of %2"},
    {272, "距上次 XON %1"},
    {273, "%1 since XON"},
    {274, "机床保持线路（XOFF）已 %1"},
    {275, "the machine holds the line (XOFF) for %1"},
    {276, "等待机床的 XON"},
    {277, "waiting for the machine's XON"},
    {278, "送料已取消。机床可能仍在执行其缓冲区中的程序段：请先按进给保持（FEED HOLD）。"},
    {279, "The feed was cancelled. The machine may still be running the blocks it holds: press "
          "FEED HOLD first."},
    {280, "从程序段 N%1（第 %2 行）开始"},
    {281, "from block N%1 (line %2)"},
    {282, "从第 %1 行开始"},
    {283, "from line %1"},
    {284, "无法准备送料：%1"},
    {285, "The feed cannot be prepared: %1"},
    // A file's row when its content cannot be sent as it is.
    {286, "拒绝"},
    {287, "Refused"},
};

const QHash<int, QString>& Table()
{
    static const QHash<int, QString> table = [] {
        QHash<int, QString> t;
        for (const Entry& e : kTable)
            t.insert(e.id, QString::fromUtf8(e.text));
        return t;
    }();
    return table;
}

} // namespace

QString LoadString(int id)
{
    return Table().value(id);
}

QString LocalText(int language, int chineseId, int englishId)
{
    return LoadString(language == kChinese ? chineseId : englishId);
}

} // namespace tapeway
