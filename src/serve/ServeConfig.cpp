// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/ServeConfig.h"

#include "resources/StringTable.h"
#include "serve/HttpSection.h"
#include "serve/RequestProgram.h"
#include "settings/SettingsStore.h"
#include "transfer/TapeProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <optional>

namespace tapeway {

namespace {

// The frame of a packet line; a tape line's comes from its profile.
const QStringList kPacketKeys = {QStringLiteral("DataBits"), QStringLiteral("Parity"),
                                 QStringLiteral("StopBits")};
// A tape line's settings over its profile, read as a profile file reads
// them; Baud, shared with the packet protocol, is one of them there.
const QStringList kTapeKeys = {
    QStringLiteral("Frame"),   QStringLiteral("Handshake"), QStringLiteral("Code"),
    QStringLiteral("Eob"),     QStringLiteral("StartOn"),   QStringLiteral("Leader"),
    QStringLiteral("Trailer"), QStringLiteral("DcCodes"),   QStringLiteral("End"),
    QStringLiteral("Idle"),    QStringLiteral("SavedEol"),  QStringLiteral("TvCheck")};
const QStringList kKeys =
    QStringList{
        QStringLiteral("Port"),        QStringLiteral("Mode"),    QStringLiteral("Inbox"),
        QStringLiteral("Outbox"),      QStringLiteral("Baud"),    QStringLiteral("Protocol"),
        QStringLiteral("Profile"),     QStringLiteral("Library"), QStringLiteral("RequestNumber"),
        QStringLiteral("ReplyNumber"), QStringLiteral("Approve")} +
    kPacketKeys + kTapeKeys;
// The one key of the general part, before the first section.
const QString kProfilesKey = QStringLiteral("Profiles");

// A key as it was written, and where.
struct Entry
{
    QString value;
    int line = 0;
};

struct Section
{
    QString name;
    int line = 0;
    bool http = false;             // [HTTP], the office view's web server, not a line
    QHash<QString, Entry> entries; // by the key's spelling in kKeys
};

// The text of a line without a trailing comment (" ; ..." or " # ...").
QString StripComment(const QString& text)
{
    static const QRegularExpression comment(QStringLiteral("(^|\\s)[;#].*$"));
    return text.left(text.indexOf(comment)).trimmed();
}

std::optional<QString> KnownKey(const QString& key)
{
    for (const QString& known : kKeys) {
        if (known.compare(key, Qt::CaseInsensitive) == 0)
            return known;
    }
    return std::nullopt;
}

// Line names become part of file names (LINE-YYYYMMDD-HHMMSS.nc).
bool IsGoodName(const QString& name)
{
    static const QRegularExpression allowed(QStringLiteral("^[\\w][\\w \\-]*$"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return name.size() <= 64 && allowed.match(name).hasMatch();
}

// The folder as the system finds it, through every link.
QString RealPath(const QString& folder)
{
    const QString real = QFileInfo(folder).canonicalFilePath();
    return real.isEmpty() ? folder : real;
}

// One real folder is the other or holds it.
bool Overlap(const QString& a, const QString& b)
{
    const auto inside = [](const QString& child, const QString& parent) {
        return child.startsWith(parent.endsWith(u'/') ? parent : parent + u'/');
    };
    return a == b || inside(a, b) || inside(b, a);
}

class Parser
{
public:
    Parser(const QString& path) : m_path(path), m_base(QFileInfo(path).absolutePath()) {}

    ServeConfig Run(const QByteArray& text);

private:
    void Error(int line, const QString& reason)
    {
        m_config.errors << QStringLiteral("%1:%2: %3").arg(m_path).arg(line).arg(reason);
    }
    void ReadLines(const QByteArray& text);
    void Build(const Section& section);
    bool ReadPacketKeys(const Section& section, LineConfig& line);
    bool ReadTapeKeys(const Section& section, LineConfig& line);
    std::optional<TapeProfile> TapeProfileOf(const Section& section);
    // Reads the presets and the own profiles once; errorLine is where a file
    // that cannot be read is reported.
    void LoadProfiles(int errorLine);
    QString KnownProfiles() const;
    std::optional<QString> Folder(const Section& section, const QString& key, bool needed,
                                  bool writable = true);
    bool ReadRequestKeys(const Section& section, LineConfig& line);
    void CheckShared();
    void ReadHttp(const Section& section);

    QString m_path;
    QString m_base;
    QList<Section> m_sections;
    int m_httpSection = -1; // the first [HTTP] among m_sections
    Entry m_profilesEntry;  // Profiles= of the general part
    bool m_profilesLoaded = false;
    QString m_profilesPath; // the own profile file, empty when there is none
    TapeProfileFile::Result m_profiles;
    ServeConfig m_config;
};

void Parser::ReadLines(const QByteArray& text)
{
    QString decoded = QString::fromUtf8(text);
    if (decoded.startsWith(QChar(0xFEFF)))
        decoded.remove(0, 1);
    const QStringList lines = decoded.split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        const QString line = StripComment(lines[i]);
        if (line.isEmpty())
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) {
                Error(number, QStringLiteral("a section line ends with ']'"));
                m_sections.append({QString(), number, false, {}});
                continue;
            }
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (HttpSection::IsNamed(name)) {
                if (m_httpSection >= 0)
                    Error(number,
                          QStringLiteral("a second [HTTP] section (the first is at line %1)")
                              .arg(m_sections[m_httpSection].line));
                else
                    m_httpSection = int(m_sections.size());
                m_sections.append({name, number, true, {}});
                continue;
            }
            if (!IsGoodName(name))
                Error(number, QStringLiteral("the line name \"%1\" is not usable: letters, digits, "
                                             "spaces, '-' and '_' only, at most 64")
                                  .arg(name));
            for (const Section& other : std::as_const(m_sections)) {
                if (!name.isEmpty() && !other.http &&
                    other.name.compare(name, Qt::CaseInsensitive) == 0)
                    Error(number, QStringLiteral("the line \"%1\" is already defined at line %2")
                                      .arg(name)
                                      .arg(other.line));
            }
            m_sections.append({name, number, false, {}});
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) {
            Error(number, QStringLiteral("neither a [line] section nor Key=value"));
            continue;
        }
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        const bool profilesKey = key.compare(kProfilesKey, Qt::CaseInsensitive) == 0;
        if (m_sections.isEmpty() && profilesKey) {
            if (m_profilesEntry.line > 0)
                Error(number, QStringLiteral("%1 is given twice (first at line %2)")
                                  .arg(kProfilesKey)
                                  .arg(m_profilesEntry.line));
            else
                m_profilesEntry = {value, number};
            continue;
        }
        if (m_sections.isEmpty()) {
            Error(number, QStringLiteral("\"%1\" stands before the first [line] section; only "
                                         "%2= belongs there")
                              .arg(key, kProfilesKey));
            continue;
        }
        if (profilesKey) {
            Error(number, QStringLiteral("%1= belongs before the first [line] section: it names "
                                         "the tape profiles of every line")
                              .arg(kProfilesKey));
            continue;
        }
        Section& section = m_sections.last();
        const auto known = section.http ? HttpSection::KnownKey(key) : KnownKey(key);
        if (!known) {
            Error(
                number,
                QStringLiteral("unknown key \"%1\"%2 (known: %3)")
                    .arg(key, section.http ? QStringLiteral(" in [HTTP]") : QString(),
                         (section.http ? HttpSection::Keys() : kKeys).join(QStringLiteral(", "))));
            continue;
        }
        if (const auto it = section.entries.constFind(*known); it != section.entries.cend()) {
            Error(number,
                  QStringLiteral("%1 is given twice (first at line %2)").arg(*known).arg(it->line));
            continue;
        }
        section.entries.insert(*known, {value, number});
    }
}

bool Parser::ReadPacketKeys(const Section& section, LineConfig& line)
{
    const auto value = [&](const QString& key) { return section.entries.value(key); };
    bool good = true;
    const auto bad = [&](const Entry& entry, const QString& reason) {
        Error(entry.line, reason);
        good = false;
    };
    for (const QString& key : QStringList{QStringLiteral("Profile")} + kTapeKeys) {
        if (const Entry entry = value(key); entry.line > 0)
            bad(entry, QStringLiteral("%1 is a setting of the tape protocol; the line \"%2\" "
                                      "speaks the packet protocol (Protocol=tape makes it a "
                                      "tape line)")
                           .arg(key, section.name));
    }
    if (const Entry baud = value(QStringLiteral("Baud")); baud.line > 0) {
        line.baud = baud.value.toInt();
        if (line.baud != 9600 && line.baud != 19200 && line.baud != 38400)
            bad(baud, QStringLiteral("Baud is 9600, 19200 or 38400, not \"%1\"").arg(baud.value));
    }
    if (const Entry bits = value(QStringLiteral("DataBits")); bits.line > 0) {
        line.link.dataBits = bits.value;
        if (bits.value != QStringLiteral("7") && bits.value != QStringLiteral("8"))
            bad(bits, QStringLiteral("DataBits is 7 or 8, not \"%1\"").arg(bits.value));
    }
    if (const Entry parity = value(QStringLiteral("Parity")); parity.line > 0) {
        const QString text = parity.value.toLower();
        if (text == QStringLiteral("none"))
            line.link.parity = QStringLiteral("NONE");
        else if (text == QStringLiteral("even"))
            line.link.parity = QStringLiteral("EVENT"); // the dialog's spelling of the box text
        else if (text == QStringLiteral("odd"))
            line.link.parity = QStringLiteral("ODD");
        else
            bad(parity,
                QStringLiteral("Parity is none, even or odd, not \"%1\"").arg(parity.value));
    }
    if (const Entry stop = value(QStringLiteral("StopBits")); stop.line > 0) {
        line.link.stopBits = stop.value;
        if (stop.value != QStringLiteral("1") && stop.value != QStringLiteral("1.5") &&
            stop.value != QStringLiteral("2"))
            bad(stop, QStringLiteral("StopBits is 1, 1.5 or 2, not \"%1\"").arg(stop.value));
    }
    return good;
}

bool Parser::ReadTapeKeys(const Section& section, LineConfig& line)
{
    bool good = true;
    for (const QString& key : kPacketKeys) {
        if (const Entry entry = section.entries.value(key); entry.line > 0) {
            Error(entry.line, QStringLiteral("%1 is a setting of the packet protocol; a tape "
                                             "line's frame is Frame= (such as 7E2)")
                                  .arg(key));
            good = false;
        }
    }
    if (!good)
        return false;
    line.tape = TapeProfileOf(section);
    if (!line.tape)
        return false;
    line.baud = line.tape->baud;
    return true;
}

void Parser::LoadProfiles(int errorLine)
{
    if (m_profilesLoaded)
        return;
    m_profilesLoaded = true;
    const bool given = m_profilesEntry.line > 0;
    const QString path = given ? QDir(m_base).absoluteFilePath(m_profilesEntry.value)
                               : SettingsStore::TapeProfilesFilePath();
    QByteArray own;
    if (given && m_profilesEntry.value.isEmpty()) {
        Error(m_profilesEntry.line,
              QStringLiteral("%1= needs the path of a profile file").arg(kProfilesKey));
    } else if (!path.isEmpty() && (given || QFileInfo::exists(path))) {
        // Without Profiles= an operator who made no profiles of his own has no such file.
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            own = file.readAll();
            m_profilesPath = QDir::cleanPath(path);
        } else {
            Error(given ? m_profilesEntry.line : errorLine,
                  QStringLiteral("the tape profile file %1 cannot be read: %2")
                      .arg(QDir::cleanPath(path), file.errorString()));
        }
    }
    m_profiles = TapeProfileFile::WithOwnProfiles(own);
}

QString Parser::KnownProfiles() const
{
    QStringList names;
    for (const TapeProfile& profile : m_profiles.profiles)
        names << profile.name;
    return names.join(QStringLiteral(", "));
}

std::optional<TapeProfile> Parser::TapeProfileOf(const Section& section)
{
    const Entry named = section.entries.value(QStringLiteral("Profile"));
    LoadProfiles(named.line > 0 ? named.line : section.line);
    if (named.value.isEmpty()) {
        Error(named.line > 0 ? named.line : section.line,
              QStringLiteral("the line \"%1\" speaks the tape protocol and needs Profile=NAME "
                             "(known: %2)")
                  .arg(section.name, KnownProfiles()));
        return std::nullopt;
    }
    // An own profile that did not read is left out of the list: the line
    // would otherwise take a preset of that name, or call it unknown.
    for (const TapeProfileProblem& problem : std::as_const(m_profiles.problems)) {
        if (problem.profile.compare(named.value, Qt::CaseInsensitive) == 0) {
            Error(named.line, QStringLiteral("the tape profile \"%1\" of %2:%3 is not usable: %4")
                                  .arg(problem.profile, m_profilesPath)
                                  .arg(problem.line)
                                  .arg(problem.Message(kEnglish)));
            return std::nullopt;
        }
    }
    std::optional<TapeProfile> profile = TapeProfileFile::Find(m_profiles.profiles, named.value);
    if (!profile) {
        Error(named.line, QStringLiteral("unknown tape profile \"%1\" (known: %2)")
                              .arg(named.value, KnownProfiles()));
        return std::nullopt;
    }
    bool good = true;
    for (const QString& key : QStringList{QStringLiteral("Baud")} + kTapeKeys) {
        const Entry entry = section.entries.value(key);
        TapeProfileProblem problem;
        if (entry.line > 0 && !TapeProfileFile::SetValue(*profile, key, entry.value, &problem)) {
            Error(entry.line, problem.Message(kEnglish));
            good = false;
        }
    }
    if (!good)
        return std::nullopt;
    if (const auto problem = profile->Validate()) {
        // At the key that broke it; a setting no key of the line names broke
        // through another's change, told at the profile.
        const Entry at = section.entries.value(problem->key);
        Error(at.line > 0 ? at.line : named.line,
              QStringLiteral("the tape profile \"%1\" with this line's settings cannot work: %2")
                  .arg(profile->name, problem->Message(kEnglish)));
        return std::nullopt;
    }
    return profile;
}

std::optional<QString> Parser::Folder(const Section& section, const QString& key, bool needed,
                                      bool writable)
{
    const auto it = section.entries.constFind(key);
    if (it == section.entries.cend() || it->value.isEmpty()) {
        if (needed)
            Error(section.line, QStringLiteral("the line \"%1\" needs %2=FOLDER for its mode")
                                    .arg(section.name, key));
        return needed ? std::nullopt : std::optional<QString>(QString());
    }
    const QFileInfo info(QDir(m_base).absoluteFilePath(it->value));
    if (!info.exists()) {
        Error(it->line, QStringLiteral("the folder %1 does not exist").arg(info.filePath()));
        return std::nullopt;
    }
    if (!info.isDir()) {
        Error(it->line, QStringLiteral("%1 is not a folder").arg(info.filePath()));
        return std::nullopt;
    }
    if (writable && !info.isWritable()) {
        Error(it->line,
              QStringLiteral("the folder %1 is not writable for this user").arg(info.filePath()));
        return std::nullopt;
    }
    return QDir::cleanPath(info.absoluteFilePath());
}

bool Parser::ReadRequestKeys(const Section& section, LineConfig& line)
{
    bool good = true;
    for (QString* number : {&line.requestNumber, &line.replyNumber}) {
        const QString key = number == &line.requestNumber ? QStringLiteral("RequestNumber")
                                                          : QStringLiteral("ReplyNumber");
        const Entry entry = section.entries.value(key);
        if (entry.line == 0)
            continue;
        const auto parsed = RequestProgram::ParseNumber(entry.value);
        // Only requests can be turned off; a reply always needs its number.
        if (parsed || (entry.value.isEmpty() && number == &line.requestNumber)) {
            *number = parsed.value_or(QString());
            continue;
        }
        Error(entry.line,
              QStringLiteral("%1 is a program number such as O9999, not \"%2\"%3")
                  .arg(key, entry.value,
                       number == &line.requestNumber ? QStringLiteral(" (empty turns requests off)")
                                                     : QString()));
        good = false;
    }
    if (good && RequestProgram::SameNumber(line.requestNumber, line.replyNumber)) {
        Error(section.entries.value(QStringLiteral("ReplyNumber")).line > 0
                  ? section.entries.value(QStringLiteral("ReplyNumber")).line
                  : section.entries.value(QStringLiteral("RequestNumber")).line,
              QStringLiteral("RequestNumber and ReplyNumber are one program number: a reply "
                             "punched back would be a request"));
        good = false;
    }
    const auto library = Folder(section, QStringLiteral("Library"), false, false);
    line.library = library.value_or(QString());
    return library.has_value() && good;
}

void Parser::Build(const Section& section)
{
    LineConfig line;
    line.name = section.name;
    line.sourceLine = section.line;
    const auto value = [&](const QString& key) { return section.entries.value(key); };
    bool good = true;
    const auto bad = [&](const Entry& entry, const QString& reason) {
        Error(entry.line, reason);
        good = false;
    };

    const Entry port = value(QStringLiteral("Port"));
    if (port.value.isEmpty()) {
        Error(section.line, QStringLiteral("the line \"%1\" needs Port=").arg(section.name));
        good = false;
    }
    line.link.portName = port.value;

    const Entry mode = value(QStringLiteral("Mode"));
    const QString modeText = mode.value.toLower();
    if (mode.line == 0) {
        Error(section.line,
              QStringLiteral("the line \"%1\" needs Mode=receive, send or both").arg(section.name));
        good = false;
    } else if (modeText == QStringLiteral("receive")) {
        line.mode = LineMode::Receive;
    } else if (modeText == QStringLiteral("send")) {
        line.mode = LineMode::Send;
    } else if (modeText == QStringLiteral("both")) {
        line.mode = LineMode::Both;
    } else {
        bad(mode, QStringLiteral("Mode is receive, send or both, not \"%1\"").arg(mode.value));
    }

    const Entry protocol = value(QStringLiteral("Protocol"));
    const QString protocolText = protocol.value.toLower();
    if (protocol.line == 0 || protocolText == QStringLiteral("packet")) {
        good = ReadPacketKeys(section, line) && good;
    } else if (protocolText == QStringLiteral("tape")) {
        good = ReadTapeKeys(section, line) && good;
    } else {
        bad(protocol, QStringLiteral("Protocol is packet or tape, not \"%1\"").arg(protocol.value));
    }

    const auto inbox = Folder(section, QStringLiteral("Inbox"), line.Receives());
    const auto outbox = Folder(section, QStringLiteral("Outbox"), line.Sends());
    if (!inbox || !outbox)
        good = false;
    else if (line.Receives() && line.Sends() && RealPath(*inbox) == RealPath(*outbox))
        bad(value(QStringLiteral("Outbox")),
            QStringLiteral(
                "Inbox and Outbox are one folder: received programs would be sent back"));
    else if (line.Receives() && line.Sends() && Overlap(RealPath(*inbox), RealPath(*outbox)))
        bad(value(QStringLiteral("Outbox")),
            QStringLiteral("Inbox %1 and Outbox %2 lie one inside the other: received and "
                           "queued programs would mix")
                .arg(RealPath(*inbox), RealPath(*outbox)));
    line.inbox = line.Receives() ? inbox.value_or(QString()) : QString();
    line.outbox = line.Sends() ? outbox.value_or(QString()) : QString();
    good = ReadRequestKeys(section, line) && good;
    // Outbox files move to sent/ when they went; library files never move.
    if (!line.library.isEmpty() && !line.outbox.isEmpty() &&
        RealPath(line.library) == RealPath(line.outbox))
        bad(value(QStringLiteral("Library")),
            QStringLiteral("Library and Outbox are one folder: the office's queue would be "
                           "offered as the library, and what the machine asks for moved away"));
    if (const Entry approve = value(QStringLiteral("Approve")); approve.line > 0) {
        const QString text = approve.value.toLower();
        line.approve = text == QStringLiteral("yes");
        if (!line.approve && text != QStringLiteral("no"))
            bad(approve, QStringLiteral("Approve is yes or no, not \"%1\"").arg(approve.value));
        else if (line.approve && !line.Receives())
            bad(approve, QStringLiteral("Approve=yes holds received programs for a check; the "
                                        "line \"%1\" only sends")
                             .arg(section.name));
    }
    if (good && !section.name.isEmpty())
        m_config.lines.append(line);
}

void Parser::CheckShared()
{
    QHash<QString, const LineConfig*> ports;
    QHash<QString, const LineConfig*> outboxes; // by the real folder
    for (const LineConfig& line : std::as_const(m_config.lines)) {
        // A program one line receives must not be offered on another.
        for (const LineConfig& other : std::as_const(m_config.lines)) {
            if (other.sourceLine >= line.sourceLine)
                break;
            for (const auto& [in, out] : {std::pair{&line, &other}, std::pair{&other, &line}}) {
                if (!in->inbox.isEmpty() && !out->outbox.isEmpty() &&
                    Overlap(RealPath(in->inbox), RealPath(out->outbox)))
                    Error(line.sourceLine,
                          QStringLiteral("the Inbox of the line \"%1\" and the Outbox of the line "
                                         "\"%2\" are one folder or one inside the other: "
                                         "programs received on \"%1\" would be sent on \"%2\"")
                              .arg(in->name, out->name));
            }
        }
        const QString key = PortKey(line.link.portName);
        if (const LineConfig* other = ports.value(key)) {
            Error(line.sourceLine, QStringLiteral("the line \"%1\" uses the port %2 of the line "
                                                  "\"%3\" (line %4)")
                                       .arg(line.name, line.link.portName, other->name)
                                       .arg(other->sourceLine));
        }
        ports.insert(key, &line);
        if (line.outbox.isEmpty())
            continue;
        if (const LineConfig* other = outboxes.value(RealPath(line.outbox))) {
            Error(line.sourceLine,
                  QStringLiteral("the line \"%1\" takes its programs from the Outbox of the line "
                                 "\"%2\" (line %3)")
                      .arg(line.name, other->name)
                      .arg(other->sourceLine));
        }
        outboxes.insert(RealPath(line.outbox), &line);
    }
}

void Parser::ReadHttp(const Section& section)
{
    QHash<QString, HttpSection::Value> values;
    for (auto it = section.entries.cbegin(); it != section.entries.cend(); ++it)
        values.insert(it.key(), {it->value, it->line});
    m_config.http =
        HttpSection::Read(section.line, values, m_base,
                          [this](int line, const QString& reason) { Error(line, reason); });
}

ServeConfig Parser::Run(const QByteArray& text)
{
    m_config.path = m_path;
    ReadLines(text);
    if (m_profilesEntry.line > 0)
        LoadProfiles(m_profilesEntry.line); // a file named there must be there
    for (const Section& section : std::as_const(m_sections)) {
        if (!section.http)
            Build(section);
    }
    if (m_httpSection >= 0)
        ReadHttp(m_sections[m_httpSection]);
    CheckShared();
    const bool noLine = std::all_of(m_sections.cbegin(), m_sections.cend(),
                                    [](const Section& section) { return section.http; });
    if (noLine && m_config.errors.isEmpty())
        m_config.errors << QStringLiteral("%1: no line is configured; add a [NAME] section with "
                                          "Port=, Mode= and its folders")
                               .arg(m_path);
    if (!m_config.errors.isEmpty()) {
        m_config.lines.clear();
        m_config.http.reset();
    }
    return m_config;
}

} // namespace

QString PortKey(const QString& port)
{
    if (port.contains(QStringLiteral("://")))
        return port.toLower();
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    QString path = port;
    if (const auto match = com.match(port); match.hasMatch())
        path = QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1);
    else if (!port.contains(u'/'))
        path = QStringLiteral("/dev/") + port;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QString ModeName(LineMode mode)
{
    switch (mode) {
    case LineMode::Receive:
        return QStringLiteral("receive");
    case LineMode::Send:
        return QStringLiteral("send");
    case LineMode::Both:
        return QStringLiteral("both");
    }
    return {};
}

bool LineConfig::SameSetup(const LineConfig& other) const
{
    return name == other.name && mode == other.mode && link.portName == other.link.portName &&
           link.dataBits == other.link.dataBits && link.parity == other.link.parity &&
           link.stopBits == other.link.stopBits && inbox == other.inbox && outbox == other.outbox &&
           baud == other.baud && tape == other.tape && requestNumber == other.requestNumber &&
           replyNumber == other.replyNumber && library == other.library && approve == other.approve;
}

QString LineConfig::ProtocolName() const
{
    return tape ? QStringLiteral("tape") : QStringLiteral("packet");
}

ServeConfig ServeConfig::Load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ServeConfig config;
        config.path = path;
        config.errors << QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString());
        return config;
    }
    return Parse(file.readAll(), path);
}

ServeConfig ServeConfig::Parse(const QByteArray& text, const QString& path)
{
    return Parser(path).Run(text);
}

} // namespace tapeway
