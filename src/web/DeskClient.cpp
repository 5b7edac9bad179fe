// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/DeskClient.h"

#include <QMutex>
#include <QMutexLocker>

namespace tapeway {

// This object while it lives, for answers posted from the desk's thread: a
// post happens under the lock, so the object is not destroyed meanwhile
// (and Qt drops events still posted to an object that is gone).
struct DeskClient::Gate
{
    QMutex mutex;
    DeskClient* client = nullptr;
};

DeskClient::DeskClient(OfficeDesk* desk, const QJsonObject& status, QObject* parent)
    : QObject(parent), m_desk(desk), m_status(status), m_gate(std::make_shared<Gate>())
{
    m_gate->client = this;
    // The status comes with the signal, queued to this thread.
    connect(desk, &OfficeDesk::StatusChanged, this, [this](const QJsonObject& now) {
        m_status = now;
        emit StatusChanged();
    });
}

DeskClient::~DeskClient()
{
    QMutexLocker lock(&m_gate->mutex);
    m_gate->client = nullptr;
}

void DeskClient::OnDesk(std::function<void(OfficeDesk&)> work)
{
    OfficeDesk* desk = m_desk;
    QMetaObject::invokeMethod(
        desk, [desk, work = std::move(work)] { work(*desk); }, Qt::QueuedConnection);
}

template <typename... Args>
std::function<void(const Args&...)>
DeskClient::Back(std::function<void(const Args&...)> answer) const
{
    return [gate = m_gate, answer = std::move(answer)](const Args&... args) {
        QMutexLocker lock(&gate->mutex);
        if (gate->client)
            QMetaObject::invokeMethod(
                gate->client, [answer, args...] { answer(args...); }, Qt::QueuedConnection);
    };
}

void DeskClient::List(const QString& line, OfficeDesk::Folder folder, Listed listed)
{
    auto back = Back<Answer, QList<OfficeDesk::Entry>>(std::move(listed));
    OnDesk([line, folder, back](OfficeDesk& desk) {
        QList<OfficeDesk::Entry> entries;
        const Answer answer = desk.List(line, folder, &entries);
        back(answer, entries);
    });
}

void DeskClient::Locate(const QString& line, OfficeDesk::Folder folder, const QString& name,
                        Done done)
{
    auto back = Back<Answer>(std::move(done));
    OnDesk([line, folder, name, back](OfficeDesk& desk) { back(desk.Locate(line, folder, name)); });
}

void DeskClient::Queue(const QString& line, const QString& name, const QByteArray& data, Done done)
{
    auto back = Back<Answer>(std::move(done));
    OnDesk([line, name, data, back](OfficeDesk& desk) { desk.Queue(line, name, data, back); });
}

void DeskClient::Unqueue(const QString& line, const QString& name, Done done)
{
    auto back = Back<Answer>(std::move(done));
    OnDesk([line, name, back](OfficeDesk& desk) { desk.Unqueue(line, name, back); });
}

void DeskClient::Reorder(const QString& line, const QStringList& names, Done done)
{
    auto back = Back<Answer>(std::move(done));
    OnDesk([line, names, back](OfficeDesk& desk) { desk.Reorder(line, names, back); });
}

void DeskClient::Approve(const QString& line, const QString& name, bool replace,
                         const QString& user, Done done)
{
    auto back = Back<Answer>(std::move(done));
    OnDesk([line, name, replace, user, back](OfficeDesk& desk) {
        desk.Approve(line, name, replace, user, back);
    });
}

void DeskClient::Reject(const QString& line, const QString& name, const QString& user, Done done)
{
    auto back = Back<Answer>(std::move(done));
    OnDesk([line, name, user, back](OfficeDesk& desk) { desk.Reject(line, name, user, back); });
}

void DeskClient::Diff(const QString& line, const QString& name, Done done)
{
    auto back = Back<Answer>(std::move(done));
    OnDesk([line, name, back](OfficeDesk& desk) { desk.Diff(line, name, back); });
}

void DeskClient::FindRecords(const JournalQuery& query, OfficeDesk::Found found)
{
    auto back = Back<QList<TransferRecord>, QString, QString>(std::move(found));
    OnDesk([query, back](OfficeDesk& desk) { desk.FindRecords(query, back); });
}

void DeskClient::Verify(const QByteArray& data, Verified verified)
{
    auto back = Back<Answer, QList<TransferRecord>, QString>(std::move(verified));
    OnDesk([data, back](OfficeDesk& desk) { desk.Verify(data, back); });
}

} // namespace tapeway
