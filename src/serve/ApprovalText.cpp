// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/ApprovalText.h"

#include "resources/StringTable.h"

namespace tapeway {

namespace {

struct Pair
{
    ApprovalMessage message;
    const char* zh;
    const char* en;
};

const Pair kTexts[] = {
    {ApprovalMessage::BadName,
     "“%1”不是单纯的文件名：不能含有 '/'、'\\'、'..' 或 NUL，也不能以 '.' 开头",
     "\"%1\" is not a plain file name: no '/', '\\', '..' or NUL, and no leading '.'"},
    {ApprovalMessage::UnknownLine, "%2 中没有线路“%1”（已有：%3）",
     "%2 has no line \"%1\" (lines: %3)"},
    {ApprovalMessage::NoLibrary,
     "线路“%1”没有程序库：请在 %2 中该线路的段落里加上 Library=文件夹，才能批准程序",
     "the line \"%1\" has no library: add Library=FOLDER to its section in %2 to approve "
     "programs into it"},
    {ApprovalMessage::NotPending, "%2 中没有等待检查的 %1（等待中：%3）",
     "%1 is not waiting in %2 (waiting: %3)"},
    {ApprovalMessage::NothingWaits, "无", "none"},
    {ApprovalMessage::NotRegular, "%1 不是普通文件", "%1 is not a regular file"},
    {ApprovalMessage::InLibrary,
     "程序库中已有 %1：请先用“tapeway-cli diff %2 %3”查看差异，再加 --replace 替换它",
     "the library already holds %1: look at the difference with 'tapeway-cli diff %2 %3' "
     "first, then give --replace to replace it"},
    {ApprovalMessage::Approved, "已批准 %1，移至 %2", "approved %1, moved to %2"},
    {ApprovalMessage::Replaced, "，替换了 SHA-256 为 %1 的版本",
     ", replacing the version with SHA-256 %1"},
    {ApprovalMessage::Rejected, "已拒绝 %1，移至 %2", "rejected %1, moved to %2"},
    {ApprovalMessage::Same, "%1 与 %2 完全相同", "%1 and %2 are the same"},
    {ApprovalMessage::OnlyLineEnds, "%1 与 %2 只在行尾符上不同",
     "%1 and %2 differ only in their line ends"},
    {ApprovalMessage::Failed, "无法处理 %1：%2", "cannot move %1: %2"},
    {ApprovalMessage::NeedsName, "需要线路名和程序名：LINE NAME",
     "give the line and the program: LINE NAME"},
};

} // namespace

QString ApprovalText(int language, ApprovalMessage message)
{
    for (const Pair& pair : kTexts) {
        if (pair.message == message)
            return QString::fromUtf8(language == kChinese ? pair.zh : pair.en);
    }
    return {};
}

} // namespace tapeway
