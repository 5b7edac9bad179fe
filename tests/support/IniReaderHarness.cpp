// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/IniReaderHarness.h"

#include "settings/IniDocument.h"
#include "settings/SettingsStore.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <utility>

using namespace tapeway;

namespace {

using Name = std::pair<QString, QString>; // section, key

// Section and key names as the file spells them, and a few of our own.
QList<Name> NamesOf(QByteArrayView input)
{
    QStringList sections = {QStringLiteral("BAUD"), QStringLiteral("COM"), QStringLiteral("PATH")};
    QStringList keys = {QStringLiteral("value"), QStringLiteral("path0")};
    for (const QByteArray& raw : input.toByteArray().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[') && sections.size() < 8)
            sections << QString::fromUtf8(line.mid(1, line.indexOf(']') - 1));
        else if (line.contains('=') && keys.size() < 8)
            keys << QString::fromUtf8(line.left(line.indexOf('=')));
    }
    QList<Name> names;
    for (const QString& section : sections) {
        for (const QString& key : keys)
            names.append({section, key});
    }
    return names;
}

// Values that read back exactly as written: no white space around them, no
// enclosing pair of quotes.
QString NewValue(QByteArrayView input, int n)
{
    QString value = QString::fromUtf8(input.first(std::min<qsizetype>(input.size(), 12 + n)))
                        .trimmed()
                        .remove(u'\n')
                        .remove(u'\r')
                        .remove(QChar(0));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value.chop(1);
    return value.trimmed() + QString::number(n);
}

bool SameName(const Name& a, const Name& b)
{
    return a.first.trimmed().compare(b.first.trimmed(), Qt::CaseInsensitive) == 0 &&
           a.second.trimmed().compare(b.second.trimmed(), Qt::CaseInsensitive) == 0;
}

QString Show(const Name& name)
{
    return QStringLiteral("[%1] %2").arg(name.first, name.second);
}

QString Show(const std::optional<QString>& value)
{
    return value ? QLatin1Char('"') + *value + QLatin1Char('"') : QStringLiteral("(none)");
}

QTemporaryDir& ScratchDir()
{
    static QTemporaryDir dir;
    return dir;
}

} // namespace

QString CheckIniInput(QByteArrayView input)
{
    const QByteArray bytes(input.data(), input.size());
    IniDocument document = IniDocument::FromBytes(bytes);
    const QList<Name> names = NamesOf(input);

    QList<std::optional<QString>> values;
    const IniDocument reread = IniDocument::FromBytes(document.ToBytes());
    for (const Name& name : names) {
        values.append(document.Value(name.first, name.second));
        const std::optional<QString> again = reread.Value(name.first, name.second);
        if (again != values.last())
            return QStringLiteral("%1 reads %2, after writing out %3")
                .arg(Show(name), Show(values.last()), Show(again));
    }

    // The store reads the same from the file.
    const QString path = QDir(ScratchDir().path()).filePath(QStringLiteral("RS232.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            return QStringLiteral("scratch file not writable");
    }
    SettingsStore store(path);
    for (qsizetype i = 0; i < names.size() && i < 12; ++i) {
        const QString fallback = QStringLiteral("<default>");
        const QString read = store.ReadSettingString(names[i].first, names[i].second, fallback);
        const QString expected =
            values[i] ? values[i]->left(SettingsStore::kMaxStringLength) : fallback;
        if (read.size() > SettingsStore::kMaxStringLength || !expected.startsWith(read.left(258)))
            return QStringLiteral("store reads %1 as \"%2\", document as %3")
                .arg(Show(names[i]), read, Show(values[i]));
        store.ReadSettingInt(names[i].first, names[i].second, 7);
    }

    // Set a few keys, through the document and through the store.
    for (int n = 0; n < 3 && n < names.size(); ++n) {
        const Name& target = names[(n * 7 + int(input.size())) % names.size()];
        const QString value = NewValue(input, n);
        const bool storable = IniDocument::IsStorable(target.first, target.second, value);
        if (document.SetValue(target.first, target.second, value) != storable)
            return QStringLiteral("SetValue %1 disagrees with IsStorable").arg(Show(target));
        if (!storable)
            continue;
        if (document.Value(target.first, target.second) != value)
            return QStringLiteral("%1 set to \"%2\" reads %3")
                .arg(Show(target), value, Show(document.Value(target.first, target.second)));
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (SameName(names[i], target))
                values[i] = value;
            else if (document.Value(names[i].first, names[i].second) != values[i])
                return QStringLiteral("setting %1 changed %2 from %3 to %4")
                    .arg(Show(target), Show(names[i]), Show(values[i]),
                         Show(document.Value(names[i].first, names[i].second)));
        }
        if (n > 0)
            continue; // each store write syncs the disk: one per input keeps the fuzzer fast
        if (!store.WriteSettingString(target.first, target.second, value))
            return QStringLiteral("store write of %1 failed").arg(Show(target));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.readAll() != document.ToBytes())
            return QStringLiteral("the store wrote other bytes than the document after %1")
                .arg(Show(target));
    }
    return {};
}
