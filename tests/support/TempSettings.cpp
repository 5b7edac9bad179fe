// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempSettings.h"

#include <QFile>

namespace tapeway {

TempSettings::TempSettings() : m_store(m_dir.filePath(QStringLiteral("RS232.ini"))) {}

void TempSettings::WriteFile(const QByteArray& bytes) const
{
    QFile file(FilePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray TempSettings::ReadFile() const
{
    QFile file(FilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace tapeway
