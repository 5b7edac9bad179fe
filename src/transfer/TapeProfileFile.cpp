// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeProfileFile.h"

#include <QFile>
#include <QStringList>

// The presets are compiled into the core library; a static library needs
// its resources pulled in by name.
static void InitTapeProfileResources()
{
    Q_INIT_RESOURCE(tape_profiles);
}

namespace tapeway {

namespace {

struct Word
{
    const char* text;
    int value;
};

std::optional<int> FindWord(const QString& value, std::initializer_list<Word> words)
{
    const QString v = value.trimmed().toLower();
    for (const Word& w : words)
        if (v == QLatin1String(w.text))
            return w.value;
    return std::nullopt;
}

std::optional<int> Number(const QString& value)
{
    bool ok = false;
    const int n = value.trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return n;
}

std::optional<bool> Switch(const QString& value)
{
    const auto w = FindWord(value, {{"on", 1},
                                    {"off", 0},
                                    {"yes", 1},
                                    {"no", 0},
                                    {"true", 1},
                                    {"false", 0},
                                    {"1", 1},
                                    {"0", 0}});
    if (!w)
        return std::nullopt;
    return *w != 0;
}

QString Unquoted(const QString& value)
{
    const QString v = value.trimmed();
    if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) &&
        v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}

const char* HandshakeWord(TapeProfile::Handshake h)
{
    switch (h) {
    case TapeProfile::Handshake::XonXoff:
        return "xonxoff";
    case TapeProfile::Handshake::RtsCts:
        return "rtscts";
    case TapeProfile::Handshake::None:
        break;
    }
    return "none";
}

const char* EobWord(TapeProfile::EndOfBlock e)
{
    switch (e) {
    case TapeProfile::EndOfBlock::Lf:
        return "lf";
    case TapeProfile::EndOfBlock::CrLf:
        return "crlf";
    case TapeProfile::EndOfBlock::Cr:
        break;
    }
    return "cr";
}

} // namespace

bool TapeProfileFile::SetValue(TapeProfile& p, const QString& key, const QString& rawValue,
                               TapeProfileProblem* problem)
{
    const QString k = key.trimmed().toLower();
    const QString value = Unquoted(rawValue);
    auto fail = [&](const QString& en, const QString& zh) {
        if (problem)
            *problem = TapeProfileProblem{p.name, key.trimmed(), en, zh, 0};
        return false;
    };
    auto badWord = [&](const char* words) {
        return fail(QStringLiteral("'%1' is not one of %2").arg(value, QLatin1String(words)),
                    QStringLiteral("“%1”不是可选值（%2）之一").arg(value, QLatin1String(words)));
    };
    auto badNumber = [&]() {
        return fail(QStringLiteral("'%1' is not a whole number").arg(value),
                    QStringLiteral("“%1”不是整数").arg(value));
    };
    if (k == QLatin1String("baud")) {
        const auto n = Number(value);
        if (!n)
            return badNumber();
        p.baud = *n;
    } else if (k == QLatin1String("frame")) {
        if (!p.SetFrame(value))
            return fail(QStringLiteral("'%1' is no frame such as 7E2 or 8N1 (data bits 7 or 8, "
                                       "parity N, E or O, stop bits 1 or 2)")
                            .arg(value),
                        QStringLiteral("“%1”不是数据格式（如 7E2、8N1：数据位 7 或 8，校验 N、E "
                                       "或 O，停止位 1 或 2）")
                            .arg(value));
    } else if (k == QLatin1String("handshake")) {
        const auto w = FindWord(value, {{"xonxoff", int(TapeProfile::Handshake::XonXoff)},
                                        {"rtscts", int(TapeProfile::Handshake::RtsCts)},
                                        {"none", int(TapeProfile::Handshake::None)}});
        if (!w)
            return badWord("xonxoff, rtscts, none");
        p.handshake = TapeProfile::Handshake(*w);
    } else if (k == QLatin1String("code")) {
        const auto w =
            FindWord(value, {{"iso", int(TapeCodeKind::Iso)}, {"eia", int(TapeCodeKind::Eia)}});
        if (!w)
            return badWord("iso, eia");
        p.code = TapeCodeKind(*w);
    } else if (k == QLatin1String("eob")) {
        const auto w = FindWord(value, {{"lf", int(TapeProfile::EndOfBlock::Lf)},
                                        {"crlf", int(TapeProfile::EndOfBlock::CrLf)},
                                        {"cr", int(TapeProfile::EndOfBlock::Cr)}});
        if (!w)
            return badWord("lf, crlf, cr");
        p.endOfBlock = TapeProfile::EndOfBlock(*w);
    } else if (k == QLatin1String("starton")) {
        const auto w = FindWord(value, {{"now", int(TapeProfile::StartOn::Now)},
                                        {"xon", int(TapeProfile::StartOn::Xon)}});
        if (!w)
            return badWord("now, xon");
        p.startOn = TapeProfile::StartOn(*w);
    } else if (k == QLatin1String("leader") || k == QLatin1String("trailer") ||
               k == QLatin1String("idle")) {
        const auto n = Number(value);
        if (!n)
            return badNumber();
        (k == QLatin1String("leader")    ? p.leader
         : k == QLatin1String("trailer") ? p.trailer
                                         : p.idleSeconds) = *n;
    } else if (k == QLatin1String("dccodes") || k == QLatin1String("tvcheck")) {
        const auto s = Switch(value);
        if (!s)
            return badWord("on, off");
        (k == QLatin1String("dccodes") ? p.dcCodes : p.tvCheck) = *s;
    } else if (k == QLatin1String("end")) {
        const auto w = FindWord(value, {{"percent", int(TapeProfile::EndRule::Percent)},
                                        {"idle", int(TapeProfile::EndRule::Idle)}});
        if (!w)
            return badWord("percent, idle");
        p.endRule = TapeProfile::EndRule(*w);
    } else if (k == QLatin1String("savedeol")) {
        const auto w = FindWord(value, {{"lf", int(TapeProfile::SavedLineEnd::Lf)},
                                        {"crlf", int(TapeProfile::SavedLineEnd::CrLf)}});
        if (!w)
            return badWord("lf, crlf");
        p.savedLineEnd = TapeProfile::SavedLineEnd(*w);
    } else if (k == QLatin1String("source")) {
        p.source = value;
    } else {
        return fail(QStringLiteral("unknown setting"), QStringLiteral("未知的设置项"));
    }
    return true;
}

TapeProfileFile::Result TapeProfileFile::Read(const QByteArray& text,
                                              const QList<TapeProfile>& known)
{
    Result result;
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.front().startsWith("\xEF\xBB\xBF"))
        lines.front().remove(0, 3);

    std::optional<TapeProfile> current;
    bool currentBroken = false;
    int sectionLine = 0;
    auto finish = [&]() {
        if (!current || currentBroken)
            return;
        if (auto problem = current->Validate()) {
            problem->line = sectionLine;
            result.problems << *problem;
            return;
        }
        for (qsizetype i = 0; i < result.profiles.size(); ++i)
            if (result.profiles[i].name.compare(current->name, Qt::CaseInsensitive) == 0) {
                result.profiles[i] = *current;
                return;
            }
        result.profiles << *current;
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i + 1);
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            finish();
            const QString name = line.mid(1, line.size() - 2).trimmed();
            current = Find(known, name).value_or(TapeProfile{});
            current->name = name;
            currentBroken = false;
            sectionLine = lineNumber;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        TapeProfileProblem problem;
        if (!current || eq <= 0) {
            problem = TapeProfileProblem{
                current ? current->name : QString(), QString(),
                current ? QStringLiteral("line %1 is no Key=Value line").arg(lineNumber)
                        : QStringLiteral("line %1 is outside a [profile] section").arg(lineNumber),
                current ? QStringLiteral("第 %1 行不是“键=值”格式").arg(lineNumber)
                        : QStringLiteral("第 %1 行不在任何 [配置] 段中").arg(lineNumber),
                lineNumber};
        } else if (!SetValue(*current, line.left(eq), line.mid(eq + 1), &problem)) {
            problem.line = lineNumber;
        } else {
            continue;
        }
        result.problems << problem;
        currentBroken = current.has_value();
    }
    finish();
    return result;
}

QByteArray TapeProfileFile::Write(const QList<TapeProfile>& profiles)
{
    QString out;
    for (const TapeProfile& p : profiles) {
        if (!out.isEmpty())
            out += QLatin1Char('\n');
        const char* end = p.endRule == TapeProfile::EndRule::Idle ? "idle" : "percent";
        const char* saved = p.savedLineEnd == TapeProfile::SavedLineEnd::CrLf ? "crlf" : "lf";
        QString source = p.source;
        source.replace(QLatin1Char('\r'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (source != source.trimmed() || source.startsWith(QLatin1Char('"')) ||
            source.startsWith(QLatin1Char('\'')))
            source = QLatin1Char('"') + source + QLatin1Char('"');
        out += QStringLiteral("[%1]\n").arg(p.name);
        out += QStringLiteral("Baud=%1\nFrame=%2\nHandshake=%3\nCode=%4\nEob=%5\nStartOn=%6\n")
                   .arg(p.baud)
                   .arg(p.FrameText(), QLatin1String(HandshakeWord(p.handshake)),
                        QLatin1String(p.code == TapeCodeKind::Eia ? "eia" : "iso"),
                        QLatin1String(EobWord(p.endOfBlock)),
                        QLatin1String(p.startOn == TapeProfile::StartOn::Xon ? "xon" : "now"));
        out += QStringLiteral("Leader=%1\nTrailer=%2\nDcCodes=%3\nEnd=%4\nIdle=%5\n")
                   .arg(p.leader)
                   .arg(p.trailer)
                   .arg(QLatin1String(p.dcCodes ? "on" : "off"), QLatin1String(end))
                   .arg(p.idleSeconds);
        out += QStringLiteral("SavedEol=%1\nTvCheck=%2\nSource=%3\n")
                   .arg(QLatin1String(saved), QLatin1String(p.tvCheck ? "on" : "off"), source);
    }
    return out.toUtf8();
}

QList<TapeProfile> TapeProfileFile::Presets()
{
    InitTapeProfileResources();
    QFile file(QStringLiteral(":/tape-profiles.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Read(file.readAll()).profiles;
}

TapeProfileFile::Result TapeProfileFile::WithOwnProfiles(const QByteArray& ownText)
{
    const QList<TapeProfile> presets = Presets();
    Result own = Read(ownText, presets);
    Result result{presets, own.problems};
    for (const TapeProfile& p : own.profiles) {
        bool replaced = false;
        for (TapeProfile& q : result.profiles)
            if (q.name.compare(p.name, Qt::CaseInsensitive) == 0) {
                q = p;
                replaced = true;
                break;
            }
        if (!replaced)
            result.profiles << p;
    }
    return result;
}

std::optional<TapeProfile> TapeProfileFile::Find(const QList<TapeProfile>& profiles,
                                                 const QString& name)
{
    for (const TapeProfile& p : profiles)
        if (p.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return p;
    return std::nullopt;
}

} // namespace tapeway
