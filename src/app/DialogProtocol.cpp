// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DialogProtocol.h"

#include "app/CTransferDlg.h"
#include "settings/OwnTapeProfiles.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

using namespace tapeway;

namespace {

const QString kSection = QStringLiteral("PROTOCOL");
const QString kTape = QStringLiteral("tape");
const QString kPacket = QStringLiteral("packet");

// Chinese-first for the Chinese menu, English-first for the English one.
constexpr const char* kTitle[2] = {"协议(Protocol)", "Protocol(协议)"};
constexpr const char* kPacketItem[2] = {"数据包协议(Packet protocol)",
                                        "Packet protocol(数据包协议)"};
constexpr const char* kTapeSection[2] = {"纸带协议(Tape protocol)", "Tape protocol(纸带协议)"};
constexpr const char* kWindowItem[2] = {"纸带配置...(Tape profile...)",
                                        "Tape profile...(纸带配置...)"};
constexpr const char* kFeedStartItem[2] = {"从...开始(Start at...)", "Start at...(从...开始)"};

} // namespace

DialogProtocol::DialogProtocol(SettingsStore& settings, QObject* parent)
    : QObject(parent), m_settings(settings)
{
    Load();
}

void DialogProtocol::Load()
{
    const TapeProfileFile::Result result = OwnTapeProfiles().Profiles();
    m_problems = result.problems;
    // An own section that does not read is not replaced by the preset of its
    // name: that profile is not offered at all.
    m_profiles.clear();
    for (const TapeProfile& profile : result.profiles) {
        bool broken = false;
        for (const TapeProfileProblem& problem : m_problems)
            broken = broken || problem.profile.compare(profile.name, Qt::CaseInsensitive) == 0;
        if (!broken)
            m_profiles << profile;
    }
}

void DialogProtocol::AddMenu(QMenuBar* bar, int language)
{
    const int lang = language == 0 ? 0 : 1;
    QMenu* menu = bar->addMenu(QString::fromUtf8(kTitle[lang]));
    m_menus[lang] = menu;
    m_groups[lang] = new QActionGroup(menu);
    QAction* packet = menu->addAction(QString::fromUtf8(kPacketItem[lang]));
    packet->setCheckable(true);
    packet->setActionGroup(m_groups[lang]);
    connect(packet, &QAction::triggered, this, [this] { Choose(QString()); });
    m_commands[lang].insert(CTransferDlg::kCmdPacket, packet);
    menu->addSection(QString::fromUtf8(kTapeSection[lang]));
    m_windowSeparators[lang] = menu->addSeparator();
    QAction* window = menu->addAction(QString::fromUtf8(kWindowItem[lang]));
    connect(window, &QAction::triggered, this, &DialogProtocol::WindowRequested);
    m_commands[lang].insert(CTransferDlg::kCmdTapeWindow, window);
    QAction* feedStart = menu->addAction(QString::fromUtf8(kFeedStartItem[lang]));
    connect(feedStart, &QAction::triggered, this, &DialogProtocol::FeedStartRequested);
    m_commands[lang].insert(CTransferDlg::kCmdFeedStart, feedStart);
    FillProfileItems(lang);
    ShowChoice();
}

void DialogProtocol::FillProfileItems(int lang)
{
    QMenu* menu = m_menus[lang];
    if (!menu)
        return;
    for (QAction* item : std::as_const(m_profileItems[lang])) {
        m_commands[lang].remove(item->data().toInt());
        delete item;
    }
    m_profileItems[lang].clear();
    for (qsizetype i = 0; i < m_profiles.size(); ++i) {
        // A profile's name is shown as it is, in both languages.
        auto* item =
            new QAction(QString(m_profiles[i].name).replace(u'&', QStringLiteral("&&")), menu);
        item->setCheckable(true);
        item->setActionGroup(m_groups[lang]);
        const int id = CTransferDlg::kCmdTapeProfile + int(i);
        item->setData(id);
        const QString name = m_profiles[i].name;
        connect(item, &QAction::triggered, this, [this, name] { Choose(name); });
        menu->insertAction(m_windowSeparators[lang], item);
        m_commands[lang].insert(id, item);
        m_profileItems[lang] << item;
    }
}

void DialogProtocol::Restore()
{
    m_chosen.reset();
    if (m_settings.ReadSettingString(kSection, QStringLiteral("value")) == kTape)
        m_chosen = TapeProfileFile::Find(
            m_profiles, m_settings.ReadSettingString(kSection, QStringLiteral("profile")));
    ShowChoice();
}

void DialogProtocol::Choose(const QString& profileName)
{
    m_chosen = profileName.trimmed().isEmpty() ? std::nullopt
                                               : TapeProfileFile::Find(m_profiles, profileName);
    if (m_chosen)
        m_settings.WriteSettingStrings(kSection,
                                       {{QStringLiteral("value"), kTape},
                                        {QStringLiteral("profile"), m_chosen->name},
                                        {QStringLiteral("baud"), QString::number(m_chosen->baud)},
                                        {QStringLiteral("frame"), m_chosen->FrameText()}});
    else
        m_settings.WriteSettingString(kSection, QStringLiteral("value"), kPacket);
    ShowChoice();
    emit Changed();
}

void DialogProtocol::Reload()
{
    Load();
    for (int lang = 0; lang < 2; ++lang)
        FillProfileItems(lang);
    ShowChoice();
}

void DialogProtocol::ShowChoice()
{
    for (int lang = 0; lang < 2; ++lang) {
        if (!m_menus[lang])
            continue;
        m_commands[lang][CTransferDlg::kCmdPacket]->setChecked(!m_chosen);
        for (qsizetype i = 0; i < m_profileItems[lang].size(); ++i)
            if (m_chosen && m_profiles[i].name.compare(m_chosen->name, Qt::CaseInsensitive) == 0)
                m_profileItems[lang][i]->setChecked(true);
        // The window edits the chosen profile: there is none for packets.
        m_commands[lang][CTransferDlg::kCmdTapeWindow]->setEnabled(m_chosen.has_value());
        // Where a feed starts is a tape send's.
        m_commands[lang][CTransferDlg::kCmdFeedStart]->setEnabled(m_chosen.has_value() &&
                                                                  m_sending);
    }
}

QString DialogProtocol::StoredBaud() const
{
    return m_settings.ReadSettingString(kSection, QStringLiteral("baud"));
}

QString DialogProtocol::StoredFrame() const
{
    return m_settings.ReadSettingString(kSection, QStringLiteral("frame"));
}

void DialogProtocol::StoreLine(const QString& baud, const QString& frame)
{
    m_settings.WriteSettingStrings(
        kSection, {{QStringLiteral("baud"), baud}, {QStringLiteral("frame"), frame}});
}

QAction* DialogProtocol::Command(int language, int id) const
{
    return m_commands[language == 0 ? 0 : 1].value(id, nullptr);
}

void DialogProtocol::SetSending(bool sending)
{
    m_sending = sending;
    ShowChoice();
}

void DialogProtocol::SetEnabled(bool enable)
{
    for (QMenu* menu : m_menus)
        if (menu)
            menu->menuAction()->setEnabled(enable);
}
