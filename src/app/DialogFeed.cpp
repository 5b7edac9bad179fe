// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DialogFeed.h"

#include "transfer/PreambleFile.h"
#include "transfer/SessionMessages.h"

#include <QFileInfo>

using namespace tapeway;

namespace {

constexpr const char* kNextStart[2] = {"下次开始：%1", "Next Start: %1"};
constexpr const char* kFromBlock[2] = {"从程序段 N%1 开始", "from block N%1"};
constexpr const char* kWithPreamble[2] = {"%1，前导程序取自 %2", "%1, preamble from %2"};

} // namespace

void DialogFeed::SetPending(const std::optional<FeedStartChoice>& choice)
{
    m_pending = choice;
}

bool DialogFeed::Arm(const QString& firstPath, int language, QString* reason)
{
    m_armed.reset();
    m_armedPath.clear();
    m_handedOut = false;
    if (!m_pending || firstPath.isEmpty())
        return true;
    FeedRestart restart;
    restart.by = m_pending->by;
    restart.number = m_pending->number;
    if (!m_pending->preambleFile.isEmpty()) {
        // Read at Start, so that what goes out is the file as it is now.
        const PreambleFile file = PreambleFile::Read(m_pending->preambleFile);
        if (!file.bytes) {
            if (reason)
                *reason = file.Message(language);
            return false;
        }
        restart.preamble = file.bytes;
    }
    m_armed = restart;
    m_armedPath = firstPath;
    return true;
}

std::optional<FeedRestart> DialogFeed::RestartFor(const QString& path) const
{
    if (!m_armed || path != m_armedPath)
        return std::nullopt;
    m_handedOut = true;
    return m_armed;
}

void DialogFeed::FileEnded()
{
    if (m_handedOut)
        Spend();
}

void DialogFeed::SessionEnded()
{
    if (m_handedOut)
        Spend();
    m_armed.reset();
    m_armedPath.clear();
}

void DialogFeed::Spend()
{
    m_pending.reset();
    m_armed.reset();
    m_armedPath.clear();
    m_handedOut = false;
}

QString DialogFeed::PendingText(const LocalTextFn& text, int language) const
{
    if (!m_pending)
        return {};
    const int lang = language == 0 ? 0 : 1;
    QString where = m_pending->by == FeedRestart::By::Block
                        ? QString::fromUtf8(kFromBlock[lang]).arg(m_pending->number)
                        : text(messages::kRestartLineZh, messages::kRestartLineEn)
                              .arg(GroupedNumber(m_pending->number));
    if (!m_pending->preambleFile.isEmpty())
        where = QString::fromUtf8(kWithPreamble[lang])
                    .arg(where, QFileInfo(m_pending->preambleFile).fileName());
    return QString::fromUtf8(kNextStart[lang]).arg(where);
}
