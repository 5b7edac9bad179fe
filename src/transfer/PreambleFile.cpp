// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/PreambleFile.h"

#include <QFile>
#include <QFileInfo>

namespace tapeway {

namespace {

PreambleFile Refused(const QString& en, const QString& zh)
{
    PreambleFile result;
    result.reasonEn = en;
    result.reasonZh = zh;
    return result;
}

} // namespace

PreambleFile PreambleFile::Read(const QString& path)
{
    const QFileInfo info(path);
    if (path.trimmed().isEmpty() || !info.exists())
        return Refused(QStringLiteral("the preamble file %1 does not exist").arg(path),
                       QStringLiteral("前导程序文件 %1 不存在").arg(path));
    if (!info.isFile())
        return Refused(QStringLiteral("the preamble file %1 is not a regular file").arg(path),
                       QStringLiteral("前导程序文件 %1 不是普通文件").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refused(
            QStringLiteral("the preamble file %1 cannot be read (%2)")
                .arg(path, file.errorString()),
            QStringLiteral("无法读取前导程序文件 %1（%2）").arg(path, file.errorString()));
    // One byte past the limit tells a file that is too long without reading it all.
    const QByteArray bytes = file.read(kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return Refused(
            QStringLiteral("the preamble file %1 cannot be read (%2)")
                .arg(path, file.errorString()),
            QStringLiteral("无法读取前导程序文件 %1（%2）").arg(path, file.errorString()));
    if (bytes.size() > kMaxBytes)
        return Refused(
            QStringLiteral("the preamble file %1 is larger than 1 MiB: a preamble is "
                           "the program's setup lines")
                .arg(path),
            QStringLiteral("前导程序文件 %1 大于 1 MiB：前导程序只是程序的准备段").arg(path));
    if (bytes.trimmed().isEmpty())
        return Refused(QStringLiteral("the preamble file %1 holds no lines").arg(path),
                       QStringLiteral("前导程序文件 %1 没有内容").arg(path));
    PreambleFile result;
    result.bytes = bytes;
    return result;
}

} // namespace tapeway
